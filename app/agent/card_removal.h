#pragma once
// Taking a printed card out of the spool folder: whether this agent may, before anything is
// printed, and then removing exactly the file that was printed, never one put in its place.
#include <sys/types.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "app/agent/spool.h"

namespace parvel::agent {

// Why this agent could not delete the card file `name` of `folder` afterwards, as a sentence
// naming the card, who may delete it and what to change; nothing when it can. A card it cannot
// delete would print again at every look.
std::optional<std::string> WhyNotDeletable(const std::filesystem::path& folder, const std::string& name,
                                           uid_t user = geteuid());

enum class TRemoval {
  kRemoved,   // the printed file is gone from the folder
  kGone,      // it had gone already
  kReplaced,  // another file, or the same one written anew, stands under the name: it stays
  kFailed,    // the printed file is still there; see errno
};

// The hidden name a printed card passes through on its way out.
inline constexpr char kRemovingName[] = ".parvel-removing";

// Removes the card `name` of `folder` if it is still the file with `stamp`. The file is first
// moved to a hidden name, and only then compared and deleted, so that a card renamed over the
// name at the last moment is never the one deleted; that one is put back.
TRemoval RemovePrinted(const std::filesystem::path& folder, const std::string& name, const TFileStamp& stamp);

// After a crash between the move and the delete: a hidden leftover with `stamp` is deleted.
void RemoveLeftover(const std::filesystem::path& folder, const TFileStamp& stamp);

}  // namespace parvel::agent
