#pragma once
// What the agent must remember across a crash or a power loss, kept durably in the spool folder
// it serves: the card in print with its printer and job, and the cards that are not to print
// again while their files stay as they are (printed but not deletable, or whose job ended
// without printing). Every change is written to a new file, synced and renamed into place, so
// the journal is always the old one or the new one, whole. A folder with nothing to remember
// keeps no journal.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/agent/spool.h"

namespace parvel::agent {

// One card file as it was: its name in the spool folder and its stamp.
struct TCardIdentity {
  std::string name;
  TFileStamp stamp;
  bool operator==(const TCardIdentity&) const = default;
};

// The card whose job is under way.
struct TCardInPrint {
  TCardIdentity card;
  std::string printer;
  int64_t since = 0;  // seconds since the epoch, a little before its job was asked for
  int job_id = 0;     // 0 until the spooler hands the id out
  bool operator==(const TCardInPrint&) const = default;
};

// The journal's file name in the spool folder; hidden, so never a card.
inline constexpr char kJournalName[] = ".parvel-journal";

class TCardJournal {
 public:
  // Reads the journal of `folder`; none there yet is an empty one. Throws ECardFileError when the
  // journal cannot be read or is damaged: printing on without it could print a card twice.
  void Open(const std::filesystem::path& folder);
  // Whether a journal is open, and for which folder.
  bool IsOpen() const { return open_; }
  const std::filesystem::path& Folder() const { return folder_; }

  const std::optional<TCardInPrint>& InPrint() const { return in_print_; }
  // Each of these is on disk when it returns; throws ECardFileError when it cannot be written.
  void Begin(const TCardInPrint& card);
  void SetJob(int job_id, const std::string& printer);
  // No card in print any more; `hold` also keeps that card from printing again.
  void End(bool hold = false);
  void Hold(const TCardIdentity& card);

  // Whether `name` is held with the stamp it has now in the folder (a file changed or replaced
  // under the same name is a new card).
  bool Held(const std::string& name) const;
  const std::vector<TCardIdentity>& HeldCards() const { return held_; }

 private:
  // Writes what is to be remembered, replacing the file whole; nothing to remember removes the
  // file. `durable`: synced with its folder, so that it outlives a power loss.
  void Save(bool durable = true);
  void SyncFolder() const;
  // Forgets held cards whose file is gone or has changed.
  void Prune();

  bool open_ = false;
  std::filesystem::path folder_;
  std::optional<TCardInPrint> in_print_;
  std::vector<TCardIdentity> held_;
};

// The stamp of `name` in `folder` as it is now (a symbolic link is not followed); nothing when
// there is no such entry.
std::optional<TFileStamp> StampOf(const std::filesystem::path& folder, const std::string& name);

}  // namespace parvel::agent
