#pragma once
// The spool folder and its card files: which file is next, when a file is safe to take, and how
// its lines are read. Nothing here prints or deletes.
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace parvel::agent {

// A card file that could not be read; the message names the file.
class ECardFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether `name` (no folder) is a card file's name: it ends in ".car" in any ASCII case and is
// not hidden (does not start with ".").
bool IsCardName(std::string_view name);

// The order of a sorted list: the user's locale, without regard to case. Names that compare
// equal that way keep a fixed order by their bytes.
class TNameOrder {
 public:
  TNameOrder();  // the system locale
  ~TNameOrder();
  TNameOrder(const TNameOrder&) = delete;
  TNameOrder& operator=(const TNameOrder&) = delete;
  // Whether `a` comes before `b`.
  bool Before(std::string_view a, std::string_view b) const;

 private:
  friend std::optional<std::string> FirstCard(const std::filesystem::path&, const TNameOrder&);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The name of the first card file of `folder` in `order`: regular files only (symbolic links,
// folders, FIFOs, sockets and devices are never card files), found in one pass over the folder
// without sorting it. Nothing when the folder holds none or cannot be listed.
std::optional<std::string> FirstCard(const std::filesystem::path& folder, const TNameOrder& order);

// What identifies one state of a file: which file, its size and when it was last written.
struct TFileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec mtime{};
  bool operator==(const TFileStamp& other) const;
};

// A card file opened for reading without following a symbolic link and without waiting on a
// FIFO; only a regular file stays open.
class TCardFile {
 public:
  enum class Status {
    Opened,    // a regular file, open
    NotAFile,  // gone, or not a regular file: never a card
    Failed,    // exists but cannot be opened; see Error()
  };
  explicit TCardFile(const std::filesystem::path& path);
  ~TCardFile();
  TCardFile(const TCardFile&) = delete;
  TCardFile& operator=(const TCardFile&) = delete;

  Status Result() const { return status_; }
  // errno of the failed open.
  int Error() const { return error_; }
  const TFileStamp& Stamp() const { return stamp_; }
  // Whether another process holds a lock (fcntl or flock) on the file.
  bool LockedByOther() const;
  // Reads from the start up to `max_lines` lines (see ReadCardLines).
  std::vector<std::string> ReadLines(size_t max_lines, size_t byte_limit) const;

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  Status status_ = Status::NotAFile;
  int error_ = 0;
  TFileStamp stamp_;
};

// The lines of card content read from `fd`: a line ends at CR, LF or CR LF (LF CR is two
// breaks); a break at the very end adds no empty line; a zero byte ends the content. Reading
// stops after `max_lines` lines, so only what they need is read. Throws ECardFileError when
// more than `byte_limit` bytes pass before `max_lines` lines are complete. `name` is the file's
// path, for the message. The lines keep their bytes (see DecodeLines).
std::vector<std::string> ReadCardLines(int fd, size_t max_lines, size_t byte_limit, const std::string& name);

// The lines as UTF-8: as they stand when together they are valid UTF-8, else from Windows-1252.
void DecodeLines(std::vector<std::string>& lines);

// A file is taken only once it has stopped changing: its stamp equals the one seen at the
// previous look, or its last write is at least a second old. Remembers only the last file looked
// at, so memory does not grow with the folder.
class TSettleRule {
 public:
  bool Settled(const std::string& name, const TFileStamp& stamp, const timespec& now);

 private:
  std::string last_name_;
  std::optional<TFileStamp> last_stamp_;
};

// One agent per spool folder: two agents polling the same folder (a service and a desktop
// session, say) would print every card twice. The holder keeps an flock on the folder itself
// while it polls it; a second agent is refused until the first lets go.
class TSpoolLock {
 public:
  TSpoolLock() = default;
  ~TSpoolLock() { Release(); }
  TSpoolLock(const TSpoolLock&) = delete;
  TSpoolLock& operator=(const TSpoolLock&) = delete;

  // Holds `folder` (letting go of another folder held before); false while another process, or
  // another holder in this one, holds it.
  bool Hold(const std::filesystem::path& folder);
  void Release();

 private:
  std::filesystem::path folder_;
  int fd_ = -1;
};

}  // namespace parvel::agent
