#include "app/agent/spool_watch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>
#include <vector>

namespace parvel::agent {

namespace {

// What is watched on the folder. IN_EXCL_UNLINK: a file deleted while still open says nothing
// more; IN_ONLYDIR: the path must be a folder when the watch is made.
constexpr uint32_t kWatched = IN_CREATE | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE |
                              IN_ATTRIB | IN_MODIFY | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                              IN_EXCL_UNLINK;

// The stamp of `path` when it is a regular file itself, not through a symbolic link.
std::optional<TFileStamp> RegularFileStamp(const std::filesystem::path& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return TFileStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
}

}  // namespace

bool IsRemoteFileSystem(unsigned long f_type) {
  switch (f_type & 0xFFFFFFFFul) {
    case 0x6969:      // NFS
    case 0x517B:      // SMB
    case 0xFF534D42:  // CIFS
    case 0xFE534D42:  // SMB2 (the smb3 client)
    case 0x65735546:  // FUSE: sshfs, rclone, virtiofs, s3fs, ...
    case 0x01021997:  // 9p (v9fs)
    case 0x00C36400:  // Ceph
    case 0x5346414F:  // AFS (OpenAFS)
    case 0x6B414653:  // kAFS
    case 0x73757245:  // Coda
    case 0x564C:      // NCP
    case 0x0BD00BD0:  // Lustre
    case 0x47504653:  // GPFS
    case 0x7461636F:  // OCFS2: shared by the nodes of a cluster
    case 0x01161970:  // GFS2: the same
    case 0x20030528:  // OrangeFS
    case 0x786F4256:  // vboxsf: a VirtualBox host's shared folder
    case 0x7C7C6673:  // prl_fs: a Parallels host's shared folder
      return true;
    default:
      return false;
  }
}

TSpoolWatch::TSpoolWatch(const TNameOrder& order) : order_(order), cards_(Less{&order}) {}

TSpoolWatch::TSpoolWatch(const TNameOrder& order, TListAlways)
    : order_(order), list_always_(true), cards_(Less{&order}) {}

TSpoolWatch::~TSpoolWatch() { CloseEvents(); }

std::optional<std::string> TSpoolWatch::First(const std::filesystem::path& folder,
                                              const std::function<bool(const std::string&)>& skip) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    Reset();
    return std::nullopt;
  }
  const bool same = !folder_.empty() && folder == folder_ && st.st_dev == device_ && st.st_ino == inode_;
  if (!same || (events_fd_ >= 0 && !ReadEvents())) {
    if (!Attach(folder, st.st_dev, st.st_ino)) {
      Reset();
      return std::nullopt;
    }
  }
  if (events_fd_ < 0) {
    // No events: the folder is listed at every look.
    std::optional<std::string> first = FirstListed(skip);
    if (!first && listing_failed_) Reset();
    return first;
  }
  for (const auto& [key, card] : cards_) {
    if (!skip || !skip(key.Name())) return key.Name();
  }
  return std::nullopt;
}

bool TSpoolWatch::Closed(const std::string& name, const TFileStamp& stamp) const {
  if (events_fd_ < 0) return false;
  const auto found = cards_.find(TNameOrder::TKey(name));
  return found != cards_.end() && found->second.closed && *found->second.closed == stamp;
}

bool TSpoolWatch::KernelEvents() const { return events_fd_ >= 0; }

void TSpoolWatch::Reset() {
  CloseEvents();
  cards_.clear();
  folder_.clear();
  device_ = 0;
  inode_ = 0;
}

bool TSpoolWatch::Attach(const std::filesystem::path& folder, dev_t device, ino_t inode) {
  // A fresh instance: nothing queued for the folder watched before can be mistaken for news.
  CloseEvents();
  cards_.clear();
  folder_ = folder;
  device_ = device;
  inode_ = inode;
  struct statfs fs {};
  // A file system that cannot be told is taken for a remote one: listing is always right.
  const bool remote = list_always_ || statfs(folder.c_str(), &fs) != 0 ||
                      IsRemoteFileSystem(static_cast<unsigned long>(fs.f_type));
  if (!remote) {
    events_fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    // No instance (EMFILE: fs.inotify.max_user_instances) or no watch (ENOSPC:
    // fs.inotify.max_user_watches; EACCES): the folder is listed at every look.
    if (events_fd_ >= 0) watch_ = inotify_add_watch(events_fd_, folder.c_str(), kWatched);
    if (watch_ < 0) CloseEvents();
  }
  // Listed at every look anyway.
  if (events_fd_ < 0) return true;
  // The watch is made before the listing, so that nothing that changes after the listing goes
  // unreported; what changes during it is reported and looked at again. Should the path have
  // been replaced in between, the next look sees another inode, or the watch reports the folder
  // it watches removed or moved, and the folder is attached anew.
  return List();
}

bool TSpoolWatch::ListCards(std::vector<TNameOrder::TKey>& cards) const {
  DIR* dir = opendir(folder_.c_str());
  if (dir == nullptr) return false;
  const int dir_fd = dirfd(dir);
  while (const dirent* entry = readdir(dir)) {
    if (IsCardEntry(dir_fd, *entry)) cards.emplace_back(std::string(entry->d_name));
  }
  closedir(dir);
  return true;
}

bool TSpoolWatch::List() {
  std::vector<TNameOrder::TKey> names;
  if (!ListCards(names)) {
    cards_.clear();
    return false;
  }
  Cards listed(Less{&order_});
  for (TNameOrder::TKey& name : names) {
    // What the kernel told of the files still there stays: a stamp that changed since says so.
    const auto before = cards_.find(name);
    Card card;
    if (before != cards_.end()) card.closed = before->second.closed;
    listed.emplace(std::move(name), card);
  }
  cards_ = std::move(listed);
  return true;
}

std::optional<std::string> TSpoolWatch::FirstListed(const std::function<bool(const std::string&)>& skip) {
  std::vector<TNameOrder::TKey> names;
  listing_failed_ = !ListCards(names);
  // The least name, then the least of those left while the first ones are skipped: one pass
  // over the cards for each card skipped, without sorting them all at every look.
  while (!names.empty()) {
    auto least = names.begin();
    for (auto it = names.begin() + 1; it != names.end(); ++it) {
      if (order_.Before(*it, *least)) least = it;
    }
    if (!skip || !skip(least->Name())) return least->Name();
    std::swap(*least, names.back());
    names.pop_back();
  }
  return std::nullopt;
}

bool TSpoolWatch::ReadEvents() {
  alignas(inotify_event) char buffer[16 * 1024];
  bool overflow = false;
  for (;;) {
    const ssize_t got = read(events_fd_, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) break;
      return false;  // the instance is broken: start over
    }
    if (got == 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & IN_Q_OVERFLOW) != 0) {
        overflow = true;
        continue;
      }
      if (event->wd != watch_) continue;
      // The folder itself removed, moved away or unmounted: the watch ends (IN_IGNORED follows).
      if ((event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) != 0) return false;
      if (event->len == 0 || overflow) continue;
      // The name is padded with zero bytes up to `len`.
      const std::string_view name(event->name);
      if (!IsCardName(name)) continue;
      Update(std::string(name), event->mask);
    }
  }
  // Events were lost: only a listing tells what the folder holds.
  if (overflow) return List();
  return true;
}

void TSpoolWatch::Update(const std::string& name, uint32_t mask) {
  TNameOrder::TKey key(name);
  auto found = cards_.find(key);
  // The file as it is now decides, not as the event found it: every later change has an event
  // of its own further on in the queue.
  const std::optional<TFileStamp> stamp =
      (mask & (IN_DELETE | IN_MOVED_FROM)) != 0 ? std::nullopt : RegularFileStamp(folder_ / name);
  if (!stamp) {
    // Gone, or not a regular file (a FIFO, a folder, a symbolic link put in its place).
    if (found != cards_.end()) cards_.erase(found);
    return;
  }
  if (found == cards_.end()) found = cards_.emplace(std::move(key), Card{}).first;
  if ((mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0) {
    found->second.closed = stamp;
  } else if ((mask & (IN_CREATE | IN_MODIFY)) != 0) {
    // Written again (a writer opened it anew), or a new file.
    found->second.closed.reset();
  }
  // IN_ATTRIB leaves the contents as they were; a changed mtime shows in the stamp.
}

void TSpoolWatch::CloseEvents() {
  if (events_fd_ >= 0) close(events_fd_);
  events_fd_ = -1;
  watch_ = -1;
}

}  // namespace parvel::agent
