#pragma once
// Stands between generation and output: keeps the attached devices, collects the pages they
// want, serves them from its cache of finished pages or asks its owner to generate them, and
// passes every page it receives to the devices still waiting.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "report/base/communicator.h"
#include "report/output/page_request.h"

namespace parvel::report {

class TppDevice;
class TppPage;

class TppPublisher : public TppCommunicator {
 public:
  using TppGeneratePagesEvent = std::function<void(TppPublisher& sender, TppPageRequest& request)>;

  explicit TppPublisher(TComponent* owner = nullptr);
  ~TppPublisher() override;

  std::string ClassName() const override { return "TppPublisher"; }
  void LinkNotify(TppCommunicator* sender, TppOperationType operation) override;

  // Called by a device when its publisher is set.
  void AddDevice(TppDevice* device);
  void RemoveDevice(TppDevice* device);
  int DeviceCount() const { return static_cast<int>(devices_.size()); }
  TppDevice* Devices(int index) const;

  void StartJob();
  void RequestPages();
  void EndJob();
  void CancelJob();
  void ResetDevices();
  // Called twice for every page: at its start (a calculation page without commands) and at
  // its end, with its commands and final flags.
  void ReceivePage(TppPage& page);
  // Merges a device's request into Request.
  void MergeDeviceRequest(TppDevice& device);

  // Forget progress, the last page and the cache; Reset also forgets the merged request.
  void Reset();
  void InvalidatePages();

  bool CachePages() const { return cache_pages_; }
  // Turning the cache off frees the copies it holds.
  void SetCachePages(bool value);
  int CachedPageCount() const { return static_cast<int>(page_cache_.size()); }
  // In key order; nullptr outside the range.
  const TppPage* CachedPages(int index) const;
  const TppPage* CachedPage(int32_t absolutePageNo) const;

  // The first non-empty status text among the devices.
  std::string StatusText() const;
  void SetStatus(const std::string& text);

  int32_t LastPageNo() const { return last_page_no_; }
  bool LastPageKnown() const { return last_page_known_; }
  bool FreshRequest() const { return fresh_request_; }
  TppPageRequest& Request() { return request_; }
  const TppPageRequest& Request() const { return request_; }
  bool Satisfied() const { return satisfied_; }
  bool Replaying() const { return replaying_; }
  bool Collecting() const { return collecting_; }
  bool JobRequested() const { return job_requested_; }

  TppGeneratePagesEvent OnGeneratePages;

 private:
  struct DeviceStack {
    std::string key;
    std::vector<TppDevice*> devices;  // the top is the last
  };

  // The enabled devices, as they stand when a dispatch starts; each is checked again before
  // its turn, since a device may leave in the middle.
  std::vector<TppDevice*> Participants() const;
  bool Attached(const TppDevice* device) const;
  void Detach(TppDevice* device);
  void ProcessRequest();
  bool ServeFromCache();
  bool Serve(int32_t absolutePageNo);
  void CachePage(const TppPage& page);
  TppPage* FindCached(int32_t absolutePageNo) const;
  void ForgetProgress();

  int32_t last_page_no_ = 0;
  bool cache_pages_ = false;
  std::vector<TppDevice*> devices_;  // linked, not owned
  bool fresh_request_ = false;
  std::vector<DeviceStack> device_stacks_;
  std::vector<std::unique_ptr<TppPage>> page_cache_;  // sorted by AbsolutePageNo
  TppPageRequest request_;
  bool satisfied_ = false;
  bool replaying_ = false;
  bool last_page_known_ = false;
  bool collecting_ = false;
  bool job_requested_ = false;
};

}  // namespace parvel::report
