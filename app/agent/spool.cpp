#include "app/agent/spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCollator>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "app/agent/text_decoding.h"
#include "platform/text.h"

namespace parvel::agent {

bool IsCardName(std::string_view name) {
  if (name.size() < 4 || name.front() == '.') return false;
  return text::SameText(name.substr(name.size() - 4), ".car");
}

struct TNameOrder::Impl {
  QCollator collator{QLocale::system()};
  Impl() { collator.setCaseSensitivity(Qt::CaseInsensitive); }
  // `a` and `b` are the same names as `a_text` and `b_text`.
  bool Before(QStringView a, std::string_view a_text, QStringView b, std::string_view b_text) const {
    const int order = collator.compare(a, b);
    return order != 0 ? order < 0 : a_text < b_text;
  }
};

namespace {

QString FromName(std::string_view name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}

}  // namespace

TNameOrder::TNameOrder() : impl_(std::make_unique<Impl>()) {}
TNameOrder::~TNameOrder() = default;

bool TNameOrder::Before(std::string_view a, std::string_view b) const {
  return impl_->Before(FromName(a), a, FromName(b), b);
}

TNameOrder::TKey::TKey(std::string name) : name_(std::move(name)) {
  const QString text = FromName(name_);
  text_.assign(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

bool TNameOrder::Before(const TKey& a, const TKey& b) const {
  return impl_->Before(QStringView(a.text_.data(), static_cast<qsizetype>(a.text_.size())), a.name_,
                       QStringView(b.text_.data(), static_cast<qsizetype>(b.text_.size())), b.name_);
}

bool IsCardEntry(int dir_fd, const dirent& entry) {
  if (!IsCardName(entry.d_name)) return false;
  if (entry.d_type == DT_REG) return true;
  if (entry.d_type != DT_UNKNOWN) return false;
  // A file system that does not say the kind in its listing is asked, without following a link.
  struct stat st {};
  return fstatat(dir_fd, entry.d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> FirstCard(const std::filesystem::path& folder, const TNameOrder& order) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return std::nullopt;
  const int dir_fd = dirfd(dir);
  std::optional<std::string> best;
  QString best_key;
  while (const dirent* entry = readdir(dir)) {
    if (!IsCardEntry(dir_fd, *entry)) continue;
    const std::string_view name = entry->d_name;
    QString key = FromName(name);
    if (!best || order.impl_->Before(key, name, best_key, *best)) {
      best = std::string(name);
      best_key = std::move(key);
    }
  }
  closedir(dir);
  return best;
}

bool TFileStamp::operator==(const TFileStamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         mtime.tv_sec == other.mtime.tv_sec && mtime.tv_nsec == other.mtime.tv_nsec;
}

TCardFile::TCardFile(const std::filesystem::path& path) : path_(path) {
  // O_NONBLOCK: a FIFO put in a card file's place must not hold the agent until a writer comes.
  fd_ = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd_ < 0) {
    error_ = errno;
    // ELOOP: the name is a symbolic link, which is never a card file.
    status_ = error_ == ENOENT || error_ == ENOTDIR || error_ == ELOOP ? Status::NotAFile : Status::Failed;
    return;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd_);
    fd_ = -1;
    status_ = Status::NotAFile;
    return;
  }
  // Reads from here on may wait for the disk as ordinary reads do.
  const int flags = fcntl(fd_, F_GETFL);
  if (flags >= 0) fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
  stamp_ = {st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  status_ = Status::Opened;
}

TCardFile::~TCardFile() {
  if (fd_ >= 0) close(fd_);
}

bool TCardFile::LockedByOther() const {
  if (fd_ < 0) return false;
  // Any lock of another process, shared or exclusive, would conflict with a write lock.
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  if (fcntl(fd_, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
  probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  if (fcntl(fd_, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK) return true;
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return errno == EWOULDBLOCK;
  flock(fd_, LOCK_UN);
  return false;
}

bool TCardFile::OpenForWriting() const {
  if (fd_ < 0) return false;
  // The kernel refuses a read lease with EAGAIN while any process has the file open for writing
  // (it counts the writers of the inode, so every user and this process too); this descriptor is
  // read-only, so it is not one of them.
  //
  // A lease is broken when another process opens the file for writing (or truncates it) while
  // the lease is held: the opener waits until the holder lets go, and the kernel signals the
  // holder. Setting a lease makes this process the descriptor's owner for that signal (the
  // kernel does it without F_SETOWN), and the signal is SIGIO unless F_SETSIG names another:
  // SIGIO's default action ends the process. So the signal is made SIGURG first, whose default
  // action is to ignore it and which the agent never handles, and the lease is let go of at once:
  // a producer that opens the card in between waits those few microseconds (with O_NONBLOCK it
  // is told EWOULDBLOCK), and no signal that arrives can do anything. The descriptor is the
  // agent's own and is never O_ASYNC, so the F_SETSIG has no other effect.
  if (fcntl(fd_, F_SETSIG, SIGURG) != 0) return false;
  if (fcntl(fd_, F_SETLEASE, F_RDLCK) == 0) {
    fcntl(fd_, F_SETLEASE, F_UNLCK);
    return false;
  }
  // EACCES: not the file's owner and no CAP_LEASE; EINVAL: no leases on this file system, or
  // leases are off. Neither tells anything about writers.
  return errno == EAGAIN;
}

std::vector<std::string> TCardFile::ReadLines(size_t max_lines, size_t byte_limit) const {
  return ReadCardLines(fd_, max_lines, byte_limit, path_.string());
}

std::vector<std::string> ReadCardLines(int fd, size_t max_lines, size_t byte_limit, const std::string& name) {
  std::vector<std::string> lines;
  if (max_lines == 0) return lines;
  std::string line;
  bool after_cr = false;
  size_t consumed = 0;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ECardFileError("Cannot read file \"" + name + "\". " + std::strerror(errno));
    }
    if (got == 0) break;
    for (ssize_t i = 0; i < got; ++i) {
      if (++consumed > byte_limit) {
        constexpr size_t kMiB = size_t{1024} * 1024;
        std::string message = "The first " + std::to_string(max_lines) + " lines of file \"" + name;
        message += "\" do not fit in ";
        message += byte_limit % kMiB == 0 ? std::to_string(byte_limit / kMiB) + " MiB"
                                          : std::to_string(byte_limit) + " bytes";
        message += "; the file is kept";
        throw ECardFileError(message);
      }
      const char c = buffer[i];
      if (c == '\0') {
        if (!line.empty()) lines.push_back(std::move(line));
        return lines;
      }
      if (after_cr) {
        after_cr = false;
        if (c == '\n') continue;
      }
      if (c == '\r' || c == '\n') {
        after_cr = c == '\r';
        lines.push_back(std::move(line));
        line.clear();
        if (lines.size() == max_lines) return lines;
      } else {
        line.push_back(c);
      }
    }
  }
  if (!line.empty()) lines.push_back(std::move(line));
  return lines;
}

void DecodeLines(std::vector<std::string>& lines) {
  bool multi_byte = false;
  bool valid = true;
  for (const std::string& line : lines) {
    for (char c : line) multi_byte = multi_byte || static_cast<unsigned char>(c) >= 0x80;
    valid = valid && IsValidUtf8(line);
  }
  if (!multi_byte || valid) return;
  for (std::string& line : lines) line = FromWindows1252(line);
}

bool TSettleRule::Settled(const std::string& name, const TFileStamp& stamp, const timespec& wall_now,
                          std::chrono::steady_clock::time_point now, bool closed) {
  auto seen = std::find_if(seen_.begin(), seen_.end(), [&](const Seen& s) { return s.name == name; });
  // mtime + 1 s <= wall_now, without a sum that could overflow for a file dated at the far end.
  const time_t second_ago = wall_now.tv_sec - 1;
  const bool old = stamp.mtime.tv_sec < second_ago ||
                   (stamp.mtime.tv_sec == second_ago && stamp.mtime.tv_nsec <= wall_now.tv_nsec);
  if (closed || old) {
    // Nothing to remember: the answer does not depend on an earlier look.
    if (seen != seen_.end()) seen_.erase(seen);
    return true;
  }
  // Written under a second ago by the wall clock, or in the future: the steady clock tells how
  // long it has stayed as it is.
  if (seen == seen_.end()) {
    if (seen_.size() >= kRemembered) {
      seen = std::min_element(seen_.begin(), seen_.end(),
                              [](const Seen& a, const Seen& b) { return a.looked < b.looked; });
      seen->name = name;
    } else {
      seen = seen_.insert(seen_.end(), Seen{name, stamp, now, now});
    }
    seen->stamp = stamp;
    seen->since = now;
  } else if (!(seen->stamp == stamp)) {
    seen->stamp = stamp;
    seen->since = now;
  }
  seen->looked = now;
  return now - seen->since >= std::chrono::seconds(1);
}

THoldResult TSpoolLock::Hold(const std::filesystem::path& folder) {
  if (fd_ >= 0 && folder == folder_) {
    // Still the same folder, not one made anew under the same name.
    struct stat held {};
    struct stat now {};
    if (fstat(fd_, &held) == 0 && stat(folder.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
        held.st_ino == now.st_ino) {
      return {true, 0};
    }
  }
  Release();
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return {false, errno};
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    // EWOULDBLOCK: another holder; anything else (ENOLCK) is told as it is.
    const int error = errno;
    close(fd);
    return {false, error};
  }
  fd_ = fd;
  folder_ = folder;
  return {true, 0};
}

void TSpoolLock::Release() {
  if (fd_ < 0) return;
  close(fd_);  // lets go of the lock
  fd_ = -1;
  folder_.clear();
}

}  // namespace parvel::agent
