#pragma once
// The page cache: every cacheable object saves a fixed-size record of its state at each page
// break so that any page can be generated again from the state before it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "report/base/communicator.h"
#include "report/base/relative.h"

namespace parvel::report {

// Events of the page cache.
inline constexpr int kCacheWriteFailedEvent = 48;
inline constexpr int kCacheRetryFailedEvent = 49;

// The records of every cacheable of one record size: in memory, or in a temporary file once
// memory failed.
class TppCacheStream {
 public:
  explicit TppCacheStream(size_t memory_capacity = std::numeric_limits<size_t>::max());
  ~TppCacheStream();
  TppCacheStream(const TppCacheStream&) = delete;
  TppCacheStream& operator=(const TppCacheStream&) = delete;

  bool IsFile() const { return file_ != nullptr; }
  void SetMemoryCapacity(size_t bytes) { memory_capacity_ = bytes; }
  const std::filesystem::path& FileName() const { return file_name_; }
  int64_t Size() const;

  // Stores `size` bytes at `offset`; a gap before it is filled with zeros. False when the bytes
  // could not be stored, and then the stream is as it was.
  bool Write(int64_t offset, const void* data, size_t size);
  // False when the stream holds no such bytes.
  bool Read(int64_t offset, void* data, size_t size);

  // Copies the memory content into a new file at `path`; nullptr when that fails. The stream
  // itself is unchanged until it adopts the file.
  std::unique_ptr<std::fstream> CopyToFile(const std::filesystem::path& path) const;
  void AdoptFile(std::unique_ptr<std::fstream> file, const std::filesystem::path& path);

 private:
  size_t memory_capacity_;
  std::vector<uint8_t> memory_;
  std::unique_ptr<std::fstream> file_;
  std::filesystem::path file_name_;
  int64_t file_size_ = 0;
};

class TppCacheManager;

class TppCacheable : public TppRelative {
 public:
  explicit TppCacheable(TComponent* owner = nullptr);
  ~TppCacheable() override;

  std::string ClassName() const override { return "TppCacheable"; }

  // Records per page in this object's stream, and this object's place among them.
  int32_t CacheCount() const { return cache_count_; }
  int32_t CachePosition() const { return cache_position_; }
  // One past the highest page this object saved.
  int32_t CachePageCount() const { return cache_page_count_; }
  // Bytes per record; 0 means the object keeps nothing per page.
  int32_t CacheRecordSize() const { return cache_record_size_; }
  // Owned by the cache manager; null while the object is not registered.
  TppCacheStream* CacheStream() const { return cache_stream_; }

  // Checkpoint operations; the base keeps nothing.
  virtual void SaveToCache(int32_t page);
  virtual void RestoreFromCache(int32_t page);
  // The records from `page` on are dropped: let go whatever they referred to.
  virtual void ReleaseCache(int32_t page);

 protected:
  // Set before registration with a manager.
  void SetCacheRecordSize(int32_t size) { cache_record_size_ = size; }
  // Writes this object's record of `page` (CacheRecordSize bytes). A failed write sends event 48
  // and is retried once (the manager has moved the cache to a file meanwhile); a failed retry
  // sends event 49 and throws EPrintError.
  void WriteCacheRecord(int32_t page, const void* record);
  // False (and `record` untouched) when the page was never saved.
  bool ReadCacheRecord(int32_t page, void* record) const;

 private:
  friend class TppCacheManager;
  int64_t RecordOffset(int32_t page) const;

  int32_t cache_count_ = 0;
  int32_t cache_page_count_ = 0;
  int32_t cache_position_ = 0;
  int32_t cache_record_size_ = 0;
  TppCacheStream* cache_stream_ = nullptr;
};

enum TppCacheType : uint8_t { cyMemory, cyFile };

class TppCacheManager : public TppCommunicator {
 public:
  explicit TppCacheManager(TComponent* owner = nullptr);
  ~TppCacheManager() override;

  std::string ClassName() const override { return "TppCacheManager"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;
  void EventNotify(TppCommunicator* sender, int eventId, TraParamList* params) override;

  // Registering a cacheable while records are held drops them: their offsets no longer hold.
  void RegisterCacheable(TppCacheable* cacheable);
  void UnregisterCacheable(TppCacheable* cacheable);
  int CacheableCount() const { return static_cast<int>(cacheables_.size()); }
  TppCacheable* Cacheables(int index) const;

  // Every registered object saves (restores) its record of `page`. Saving raises the cached
  // page count to `page` when it was lower.
  void SaveToCache(int32_t page);
  void RestoreFromCache(int32_t page);
  int32_t CachePageCount() const { return cache_page_count_; }
  void SetCachePageCount(int32_t count) { cache_page_count_ = count; }
  // Drops every record and temporary file; the cache starts again in memory, page count -1.
  void ClearCache();

  TppCacheType CacheType() const { return cache_type_; }
  const std::vector<std::filesystem::path>& TempFileNames() const { return temp_file_names_; }
  int StreamCount() const { return static_cast<int>(streams_.size()); }
  // The distinct record sizes, one stream each, in the order of first registration.
  const std::vector<int32_t>& RecordSizes() const { return record_sizes_; }

  // Whether ClearCache tells the cacheables that their records went.
  bool NotifyCacheables() const { return notify_cacheables_; }
  void SetNotifyCacheables(bool notify) { notify_cacheables_ = notify; }

  // Bytes each memory stream may hold; beyond it a write fails as an allocation would.
  size_t MemoryCapacity() const { return memory_capacity_; }
  void SetMemoryCapacity(size_t bytes);

  // Called before the cache's failure is raised; the report stops its engine when printing.
  std::function<void()> StopEngine;

 private:
  struct Registration {
    TppCacheable* cacheable;
    TppCommunicator* communicator;  // the same object, for links that outlive the subclass
  };

  void Layout();
  void DetachCacheables();
  void DeleteTempFiles();
  // Moves every memory stream into a temporary file; all or none.
  void MoveToFiles();
  [[noreturn]] void Fail();

  std::vector<Registration> cacheables_;
  std::vector<std::unique_ptr<TppCacheStream>> streams_;
  std::vector<int32_t> record_sizes_;
  TppCacheType cache_type_ = cyMemory;
  int32_t cache_page_count_ = -1;
  std::vector<std::filesystem::path> temp_file_names_;
  bool notify_cacheables_ = true;
  size_t memory_capacity_ = std::numeric_limits<size_t>::max();
};

}  // namespace parvel::report
