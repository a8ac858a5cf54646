#pragma once
// The spool folder and its card files: which file is next, when a file is safe to take, and how
// its lines are read. Nothing here prints or deletes.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct dirent;  // a folder listing's entry

namespace parvel::agent {

// A card file that could not be read; the message names the file.
class ECardFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether `name` (no folder) is a card file's name: it ends in ".car" in any ASCII case and is
// not hidden (does not start with ".").
bool IsCardName(std::string_view name);

// Whether the listed entry `entry` of the folder open as `dir_fd` is a card file: a card's name
// on a regular file itself (symbolic links, folders, FIFOs, sockets and devices never are).
bool IsCardEntry(int dir_fd, const ::dirent& entry);

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

  // A name with the text the order compares made once, for a sorted container that compares it
  // again and again.
  class TKey {
   public:
    explicit TKey(std::string name);
    const std::string& Name() const { return name_; }

   private:
    friend class TNameOrder;
    std::string name_;
    std::u16string text_;  // the name in UTF-16, as the collator reads it
  };
  // Whether `a` comes before `b`: the same answer as Before on their names.
  bool Before(const TKey& a, const TKey& b) const;

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
  // Whether some process, of any user, this one included, has the file open for writing (or
  // mapped for writing). Told by a read lease, which the kernel refuses while the file is open
  // for writing anywhere; the lease is let go of at once. False when that cannot be told: the
  // agent does not own the file and lacks CAP_LEASE, or the file system has no leases (NFS, SMB,
  // FUSE, ...), or leases are off (fs.leases-enable); the settle time alone then holds.
  bool OpenForWriting() const;
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

// A file is taken only once it has stopped changing: its writer closed it, or its last write is
// at least a second old. Where the wall clock and the file system's disagree (an mtime in the
// future, a file server whose clock runs behind), a file whose stamp stays the same for a second
// on the steady clock is taken too. Remembers only a few recent files, so memory does not grow
// with the folder.
class TSettleRule {
 public:
  // `closed`: the kernel told that the file's writer closed it, or that it was moved in, and
  // `stamp` is still what the file was then.
  bool Settled(const std::string& name, const TFileStamp& stamp, const timespec& wall_now,
               std::chrono::steady_clock::time_point now, bool closed);

  // How many files the rule remembers at most.
  static constexpr size_t kRemembered = 16;

 private:
  struct Seen {
    std::string name;
    TFileStamp stamp;
    std::chrono::steady_clock::time_point since;   // when this stamp was first seen
    std::chrono::steady_clock::time_point looked;  // the last look
  };
  std::vector<Seen> seen_;
};

// What TSpoolLock::Hold did.
struct THoldResult {
  bool held = false;
  int error = 0;  // errno of the failed open, or EWOULDBLOCK when another holder has the folder
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

  // Holds `folder` (letting go of another folder held before); not held while another process,
  // or another holder in this one, holds it, or when the folder cannot be opened.
  THoldResult Hold(const std::filesystem::path& folder);
  void Release();

 private:
  std::filesystem::path folder_;
  int fd_ = -1;
};

}  // namespace parvel::agent
