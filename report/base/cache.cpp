#include "report/base/cache.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <new>
#include <system_error>

#include "platform/services.h"
#include "platform/temp_files.h"
#include "report/base/errors.h"
#include "report/base/language.h"

namespace parvel::report {

namespace {
constexpr int kCacheFailureString = 284;
}  // namespace

// ---- stream

TppCacheStream::TppCacheStream(size_t memory_capacity) : memory_capacity_(memory_capacity) {}

TppCacheStream::~TppCacheStream() = default;

int64_t TppCacheStream::Size() const { return file_ ? file_size_ : static_cast<int64_t>(memory_.size()); }

bool TppCacheStream::Write(int64_t offset, const void* data, size_t size) {
  if (offset < 0) return false;
  const auto start = static_cast<uint64_t>(offset);
  if (!file_) {
    if (start > memory_capacity_ || size > memory_capacity_ - start) return false;
    const size_t end = static_cast<size_t>(start) + size;
    try {
      if (end > memory_.size()) memory_.resize(end);
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (size > 0) std::memcpy(memory_.data() + start, data, size);
    return true;
  }
  if (offset > file_size_) {
    // Zeros up to the record, so that every record stands at its own offset.
    const std::vector<char> zeros(static_cast<size_t>(offset - file_size_), 0);
    file_->seekp(file_size_);
    file_->write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
  } else {
    file_->seekp(offset);
  }
  file_->write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  file_->flush();
  if (!file_->good()) {
    file_->clear();
    return false;
  }
  file_size_ = std::max<int64_t>(file_size_, offset + static_cast<int64_t>(size));
  return true;
}

bool TppCacheStream::Read(int64_t offset, void* data, size_t size) {
  if (offset < 0 || offset + static_cast<int64_t>(size) > Size()) return false;
  if (!file_) {
    if (size > 0) std::memcpy(data, memory_.data() + offset, size);
    return true;
  }
  file_->seekg(offset);
  file_->read(static_cast<char*>(data), static_cast<std::streamsize>(size));
  const bool ok = file_->good() && file_->gcount() == static_cast<std::streamsize>(size);
  if (!ok) file_->clear();
  return ok;
}

std::unique_ptr<std::fstream> TppCacheStream::CopyToFile(const std::filesystem::path& path) const {
  auto file =
      std::make_unique<std::fstream>(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file->is_open()) return nullptr;
  file->write(reinterpret_cast<const char*>(memory_.data()), static_cast<std::streamsize>(memory_.size()));
  file->flush();
  if (!file->good()) return nullptr;
  return file;
}

void TppCacheStream::AdoptFile(std::unique_ptr<std::fstream> file, const std::filesystem::path& path) {
  file_size_ = static_cast<int64_t>(memory_.size());
  file_ = std::move(file);
  file_name_ = path;
  std::vector<uint8_t>().swap(memory_);
}

// ---- cacheable

TppCacheable::TppCacheable(TComponent* owner) : TppRelative(owner) {}

TppCacheable::~TppCacheable() = default;

void TppCacheable::SaveToCache(int32_t /*page*/) {}
void TppCacheable::RestoreFromCache(int32_t /*page*/) {}
void TppCacheable::ReleaseCache(int32_t /*page*/) {}

int64_t TppCacheable::RecordOffset(int32_t page) const {
  return (static_cast<int64_t>(page) * cache_count_ + cache_position_) * cache_record_size_;
}

void TppCacheable::WriteCacheRecord(int32_t page, const void* record) {
  if (cache_stream_ == nullptr || cache_record_size_ <= 0 || page < 0) return;
  const auto size = static_cast<size_t>(cache_record_size_);
  if (!cache_stream_->Write(RecordOffset(page), record, size)) {
    SendEvent(this, kCacheWriteFailedEvent);
    // The manager may have moved the cache (or dropped it) while the event ran.
    if (cache_stream_ == nullptr) return;
    if (!cache_stream_->Write(RecordOffset(page), record, size)) {
      SendEvent(this, kCacheRetryFailedEvent);
      // No manager took it up: a lost checkpoint must not pass for a saved one.
      throw EPrintError(LoadLanguageString(kCacheFailureString));
    }
  }
  cache_page_count_ = std::max(cache_page_count_, page + 1);
}

bool TppCacheable::ReadCacheRecord(int32_t page, void* record) const {
  if (cache_stream_ == nullptr || cache_record_size_ <= 0 || page < 0 || page >= cache_page_count_) {
    return false;
  }
  return cache_stream_->Read(RecordOffset(page), record, static_cast<size_t>(cache_record_size_));
}

// ---- manager

TppCacheManager::TppCacheManager(TComponent* owner) : TppCommunicator(owner) {
  SetEventMask({kCacheWriteFailedEvent, kCacheRetryFailedEvent});
}

TppCacheManager::~TppCacheManager() {
  DetachCacheables();
  streams_.clear();
  DeleteTempFiles();
}

TppCacheable* TppCacheManager::Cacheables(int index) const {
  if (index < 0 || index >= CacheableCount()) return nullptr;
  return cacheables_[static_cast<size_t>(index)].cacheable;
}

void TppCacheManager::RegisterCacheable(TppCacheable* cacheable) {
  if (cacheable == nullptr) return;
  for (const auto& registration : cacheables_) {
    if (registration.cacheable == cacheable) return;
  }
  cacheables_.push_back({cacheable, cacheable});
  cacheable->AddEventListener(this);
  const bool holds_records =
      cache_page_count_ >= 0 || cache_type_ == cyFile ||
      std::any_of(streams_.begin(), streams_.end(), [](const auto& s) { return s->Size() > 0; });
  if (holds_records) {
    ClearCache();
  } else {
    DetachCacheables();
    Layout();
  }
}

void TppCacheManager::UnregisterCacheable(TppCacheable* cacheable) {
  const auto it = std::find_if(cacheables_.begin(), cacheables_.end(),
                               [cacheable](const Registration& r) { return r.cacheable == cacheable; });
  if (it == cacheables_.end()) return;
  cacheables_.erase(it);
  // The others keep their places: their records stay valid.
  cacheable->cache_stream_ = nullptr;
  cacheable->cache_count_ = 0;
  cacheable->cache_position_ = 0;
  cacheable->cache_page_count_ = 0;
  cacheable->RemoveEventListener(this);
}

void TppCacheManager::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  TppCommunicator::LinkNotify(sender, operation);
  if (operation != ppopRemove) return;
  // The sender is being freed: only its address is compared, the object is not touched.
  cacheables_.erase(std::remove_if(cacheables_.begin(), cacheables_.end(),
                                   [sender](const Registration& r) { return r.communicator == sender; }),
                    cacheables_.end());
}

void TppCacheManager::EventNotify(TppCommunicator* sender, int eventId, TraParamList* params) {
  TppCommunicator::EventNotify(sender, eventId, params);
  if (eventId == kCacheWriteFailedEvent) {
    if (cache_type_ == cyFile) Fail();
    MoveToFiles();
  } else if (eventId == kCacheRetryFailedEvent) {
    Fail();
  }
}

void TppCacheManager::SaveToCache(int32_t page) {
  for (size_t i = 0; i < cacheables_.size(); ++i) cacheables_[i].cacheable->SaveToCache(page);
  if (page > cache_page_count_) cache_page_count_ = page;
}

void TppCacheManager::RestoreFromCache(int32_t page) {
  for (size_t i = 0; i < cacheables_.size(); ++i) cacheables_[i].cacheable->RestoreFromCache(page);
}

void TppCacheManager::ClearCache() {
  if (notify_cacheables_) {
    for (size_t i = 0; i < cacheables_.size(); ++i) cacheables_[i].cacheable->ReleaseCache(0);
  }
  DetachCacheables();
  streams_.clear();
  DeleteTempFiles();
  cache_type_ = cyMemory;
  cache_page_count_ = -1;
  Layout();
}

void TppCacheManager::SetMemoryCapacity(size_t bytes) {
  memory_capacity_ = bytes;
  for (auto& stream : streams_) stream->SetMemoryCapacity(bytes);
}

void TppCacheManager::Layout() {
  streams_.clear();
  record_sizes_.clear();
  std::vector<int32_t> counts;
  for (auto& registration : cacheables_) {
    TppCacheable& c = *registration.cacheable;
    if (c.cache_record_size_ <= 0) continue;
    auto found = std::find(record_sizes_.begin(), record_sizes_.end(), c.cache_record_size_);
    size_t index = static_cast<size_t>(found - record_sizes_.begin());
    if (found == record_sizes_.end()) {
      record_sizes_.push_back(c.cache_record_size_);
      streams_.push_back(std::make_unique<TppCacheStream>(memory_capacity_));
      counts.push_back(0);
    }
    c.cache_stream_ = streams_[index].get();
    c.cache_position_ = counts[index]++;
  }
  for (auto& registration : cacheables_) {
    TppCacheable& c = *registration.cacheable;
    if (c.cache_stream_ == nullptr) continue;
    const auto index = static_cast<size_t>(
        std::find(record_sizes_.begin(), record_sizes_.end(), c.cache_record_size_) - record_sizes_.begin());
    c.cache_count_ = counts[index];
  }
}

void TppCacheManager::DetachCacheables() {
  for (auto& registration : cacheables_) {
    TppCacheable& c = *registration.cacheable;
    c.cache_stream_ = nullptr;
    c.cache_count_ = 0;
    c.cache_position_ = 0;
    c.cache_page_count_ = 0;
  }
}

void TppCacheManager::DeleteTempFiles() {
  for (const auto& path : temp_file_names_) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
  temp_file_names_.clear();
}

void TppCacheManager::MoveToFiles() {
  platform::TempFiles* temp = platform::Find<platform::TempFiles>();
  if (temp == nullptr) return;
  std::vector<std::filesystem::path> paths;
  std::vector<std::unique_ptr<std::fstream>> files;
  bool ok = true;
  try {
    const std::filesystem::path folder = temp->TempFolder();
    for (const auto& stream : streams_) {
      paths.push_back(temp->CreateTempFile(folder, "cch"));
      files.push_back(stream->CopyToFile(paths.back()));
      if (!files.back()) {
        ok = false;
        break;
      }
    }
  } catch (const std::exception&) {
    ok = false;
  }
  if (!ok) {
    // Nothing moves: the records stay in memory and the retried write fails there.
    files.clear();
    for (const auto& path : paths) {
      std::error_code ignored;
      std::filesystem::remove(path, ignored);
    }
    return;
  }
  for (size_t i = 0; i < streams_.size(); ++i) streams_[i]->AdoptFile(std::move(files[i]), paths[i]);
  temp_file_names_.insert(temp_file_names_.end(), paths.begin(), paths.end());
  cache_type_ = cyFile;
}

void TppCacheManager::Fail() {
  if (StopEngine) StopEngine();
  throw EPrintError(LoadLanguageString(kCacheFailureString));
}

}  // namespace parvel::report
