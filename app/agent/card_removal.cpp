#include "app/agent/card_removal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdio>

#include <cerrno>
#include <cstring>

namespace parvel::agent {
namespace {

namespace fs = std::filesystem;

std::string UserName(uid_t uid) {
  if (const passwd* entry = getpwuid(uid)) return entry->pw_name;
  return "uid " + std::to_string(uid);
}

bool SameFile(const struct stat& st, const TFileStamp& stamp) {
  return TFileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim} == stamp;
}

// Puts `from` back under `name`, or under the first free "<stem> (n).car" when a newer card
// took the name meanwhile; never over another file.
void PutBack(const fs::path& folder, const fs::path& from, const std::string& name) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, (folder / name).c_str(), RENAME_NOREPLACE) == 0) return;
  const std::string stem = name.substr(0, name.size() - 4);
  const std::string extension = name.substr(name.size() - 4);
  for (int n = 2; n < 1000; ++n) {
    std::string numbered = stem;
    numbered += " (" + std::to_string(n) + ")";
    numbered += extension;
    const fs::path other = folder / numbered;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, other.c_str(), RENAME_NOREPLACE) == 0) return;
    if (errno != EEXIST) return;
  }
}

}  // namespace

std::optional<std::string> WhyNotDeletable(const fs::path& folder, const std::string& name, uid_t me) {
  const fs::path path = folder / name;
  struct stat dir {};
  struct stat file {};
  if (stat(folder.c_str(), &dir) != 0 || lstat(path.c_str(), &file) != 0) return std::nullopt;
  const std::string user = UserName(me);
  if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    const std::string reason = std::strerror(errno);
    return "The card \"" + path.string() + "\" is not printed: " + user +
           " could not delete it afterwards (the folder \"" + folder.string() + "\": " + reason + "). Give " +
           user + " write permission on the folder";
  }
  // In a sticky folder only a file's owner, the folder's owner or root may delete a file.
  if ((dir.st_mode & S_ISVTX) != 0 && me != 0 && file.st_uid != me && dir.st_uid != me) {
    return "The card \"" + path.string() + "\" is not printed: it belongs to " + UserName(file.st_uid) +
           ", and in the sticky folder \"" + folder.string() + "\" only its owner may delete it, not " +
           user + ". Have the producer write the card as " + user +
           ", or run the agent as the folder's owner";
  }
  return std::nullopt;
}

TRemoval RemovePrinted(const fs::path& folder, const std::string& name, const TFileStamp& stamp) {
  const fs::path path = folder / name;
  const fs::path removing = folder / kRemovingName;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT ? TRemoval::kGone : TRemoval::kFailed;
  if (!SameFile(st, stamp)) return TRemoval::kReplaced;
  unlink(removing.c_str());
  if (rename(path.c_str(), removing.c_str()) != 0)
    return errno == ENOENT ? TRemoval::kGone : TRemoval::kFailed;
  // What was moved is what stood under the name at that moment.
  if (lstat(removing.c_str(), &st) != 0) return TRemoval::kGone;
  if (!SameFile(st, stamp)) {
    PutBack(folder, removing, name);
    return TRemoval::kReplaced;
  }
  if (unlink(removing.c_str()) != 0) {
    const int error = errno;
    PutBack(folder, removing, name);
    errno = error;
    return TRemoval::kFailed;
  }
  return TRemoval::kRemoved;
}

void RemoveLeftover(const fs::path& folder, const TFileStamp& stamp) {
  const fs::path removing = folder / kRemovingName;
  struct stat st {};
  if (lstat(removing.c_str(), &st) == 0 && SameFile(st, stamp)) unlink(removing.c_str());
}

}  // namespace parvel::agent
