#pragma once
// The spool folder's card files as the kernel reports their changes: after one listing of the
// folder, a tick reads only the kernel's events, so what it costs grows with what changed and
// not with the files of the folder that are not cards.
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/agent/spool.h"

namespace parvel::agent {

// Whether a file system of this statfs f_type may change without the local kernel seeing it
// (NFS, SMB/CIFS, SMB2, FUSE, 9p, Ceph, AFS, ...): inotify tells nothing of what other machines do
// there, so such a folder is listed whole at every look.
bool IsRemoteFileSystem(unsigned long f_type);

class TSpoolWatch {
 public:
  explicit TSpoolWatch(const TNameOrder& order);  // `order` outlives the watch
  // Without kernel events, as on a network file system: the folder is listed at every call.
  struct TListAlways {};
  TSpoolWatch(const TNameOrder& order, TListAlways);
  ~TSpoolWatch();
  TSpoolWatch(const TSpoolWatch&) = delete;
  TSpoolWatch& operator=(const TSpoolWatch&) = delete;

  // The first card file of `folder` in the order for which `skip(name)` is false (regular
  // files only, as FirstCard). The first call for a folder, a different folder, the same path
  // made anew (other device/inode), or a kernel event queue overflow lists the folder whole;
  // after that, where inotify works on a local file system, only the kernel's events are read
  // (non-blocking) and a sorted set of card names is kept, so the cost does not grow with the
  // files that are not cards. On a network file system (statfs f_type NFS, SMB/CIFS, SMB2,
  // FUSE, 9p, Ceph, AFS, ...) or where inotify cannot be had, it lists the folder at every call.
  // Nothing when the folder holds no such card or cannot be listed.
  std::optional<std::string> First(const std::filesystem::path& folder,
                                   const std::function<bool(const std::string&)>& skip);
  // Whether the kernel reported that `name`'s writer closed it (IN_CLOSE_WRITE) or that it was
  // moved in (IN_MOVED_TO), and the file's stamp is still the one it had when that event was read.
  // A write since (IN_MODIFY) undoes it. A writer that has opened the file again but not yet
  // written is not seen here (opens are not watched: every read would report one too); ask
  // TCardFile::OpenForWriting. Always false without kernel events.
  bool Closed(const std::string& name, const TFileStamp& stamp) const;
  // Whether kernel events are in use for the current folder.
  bool KernelEvents() const;
  // Forgets the folder: the next First lists it whole.
  void Reset();

 private:
  struct Less {
    const TNameOrder* order;
    bool operator()(const TNameOrder::TKey& a, const TNameOrder::TKey& b) const {
      return order->Before(a, b);
    }
  };
  struct Card {
    std::optional<TFileStamp> closed;  // the stamp the file had when its close or move-in was read
  };
  using Cards = std::map<TNameOrder::TKey, Card, Less>;

  // Starts on `folder` as it is now (`device`, `inode`): a watch and a listing where a watch can
  // be had. False when the folder cannot be listed.
  bool Attach(const std::filesystem::path& folder, dev_t device, ino_t inode);
  // Adds the names of the folder's card files to `cards`, unsorted; false when it cannot be listed.
  bool ListCards(std::vector<TNameOrder::TKey>& cards) const;
  // The set of card files made from a listing; false when the folder cannot be listed.
  bool List();
  // Without events: the first card not skipped, from a listing made now.
  std::optional<std::string> FirstListed(const std::function<bool(const std::string&)>& skip);
  // Reads what the kernel has queued; false when the folder must be attached anew (it was
  // removed or moved, or the watch ended), and relists on a queue overflow.
  bool ReadEvents();
  // What an event on card file `name` did to it, by how the file is now.
  void Update(const std::string& name, uint32_t mask);
  void CloseEvents();

  const TNameOrder& order_;
  const bool list_always_ = false;
  std::filesystem::path folder_;  // empty: no folder yet
  dev_t device_ = 0;
  ino_t inode_ = 0;
  int events_fd_ = -1;  // the inotify instance, with one watch on folder_; -1 when listing
  int watch_ = -1;
  Cards cards_;  // with events only
  bool listing_failed_ = false;
};

}  // namespace parvel::agent
