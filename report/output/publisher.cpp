#include "report/output/publisher.h"

#include <algorithm>

#include "report/output/device.h"
#include "report/output/page.h"

namespace parvel::report {

namespace {

// Clears a re-entry guard however the guarded work ends.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

}  // namespace

TppPublisher::TppPublisher(TComponent* owner) : TppCommunicator(owner) {}

TppPublisher::~TppPublisher() { BeginDestruction(); }

TppDevice* TppPublisher::Devices(int index) const {
  if (index < 0 || index >= DeviceCount()) return nullptr;
  return devices_[static_cast<size_t>(index)];
}

bool TppPublisher::Attached(const TppDevice* device) const {
  return std::find(devices_.begin(), devices_.end(), device) != devices_.end();
}

std::vector<TppDevice*> TppPublisher::Participants() const {
  std::vector<TppDevice*> result;
  for (TppDevice* device : devices_) {
    if (device->Enabled()) result.push_back(device);
  }
  return result;
}

void TppPublisher::LinkNotify(TppCommunicator* sender, TppOperationType operation) {
  if (operation == ppopRemove) {
    // Compared as communicators: the sender is already on its way out.
    TppDevice* leaving = nullptr;
    for (TppDevice* device : devices_) {
      if (static_cast<TppCommunicator*>(device) == sender) leaving = device;
    }
    for (const DeviceStack& stack : device_stacks_) {
      for (TppDevice* device : stack.devices) {
        if (static_cast<TppCommunicator*>(device) == sender) leaving = device;
      }
    }
    if (leaving != nullptr) Detach(leaving);
  }
  TppCommunicator::LinkNotify(sender, operation);
}

void TppPublisher::AddDevice(TppDevice* device) {
  if (device == nullptr) return;
  if (device->Stacked()) {
    for (const DeviceStack& stack : device_stacks_) {
      if (std::find(stack.devices.begin(), stack.devices.end(), device) != stack.devices.end()) return;
    }
    auto it = std::find_if(device_stacks_.begin(), device_stacks_.end(),
                           [&](const DeviceStack& s) { return s.key == device->StackKey(); });
    if (it == device_stacks_.end()) {
      device_stacks_.push_back(DeviceStack{device->StackKey(), {}});
      it = device_stacks_.end() - 1;
    }
    // Of the stacked devices with one key only the most recent receives pages.
    if (!it->devices.empty()) std::erase(devices_, it->devices.back());
    it->devices.push_back(device);
  }
  if (!Attached(device)) devices_.push_back(device);
  Link(device);
}

void TppPublisher::Detach(TppDevice* device) {
  std::erase(devices_, device);
  for (auto it = device_stacks_.begin(); it != device_stacks_.end(); ++it) {
    auto pos = std::find(it->devices.begin(), it->devices.end(), device);
    if (pos == it->devices.end()) continue;
    const bool on_top = pos == it->devices.end() - 1;
    it->devices.erase(pos);
    if (on_top && !it->devices.empty() && !Attached(it->devices.back()))
      devices_.push_back(it->devices.back());
    if (it->devices.empty()) device_stacks_.erase(it);
    break;
  }
}

void TppPublisher::RemoveDevice(TppDevice* device) {
  if (device == nullptr) return;
  Detach(device);
  Unlink(device);
}

void TppPublisher::StartJob() {
  for (TppDevice* device : Participants()) {
    if (Attached(device)) device->StartJob();
  }
}

void TppPublisher::EndJob() {
  job_requested_ = false;
  // A device that fails to end its job must not leave this job's request behind for the next.
  try {
    for (TppDevice* device : Participants()) {
      if (Attached(device)) device->EndJob();
    }
  } catch (...) {
    request_.Reset();
    fresh_request_ = true;
    throw;
  }
  request_.Reset();
  fresh_request_ = true;
}

void TppPublisher::CancelJob() {
  for (TppDevice* device : Participants()) {
    if (Attached(device) && device->AwaitingPages()) device->CancelJob();
  }
}

void TppPublisher::ResetDevices() {
  for (TppDevice* device : Participants()) {
    if (Attached(device)) device->Reset();
  }
}

void TppPublisher::MergeDeviceRequest(TppDevice& device) {
  if (!collecting_ && !job_requested_) fresh_request_ = true;
  if (fresh_request_) {
    request_.Assign(device.DeviceRequest());
    fresh_request_ = false;
  } else if (request_.PageSetting() != psAll) {
    request_.Merge(device.DeviceRequest());
  }
  satisfied_ = false;
}

void TppPublisher::RequestPages() {
  {
    FlagScope collecting(collecting_);
    fresh_request_ = true;
    for (TppDevice* device : Participants()) {
      if (!Attached(device) || !device->AwaitingPages()) continue;
      if (device->OnRequestPages) device->OnRequestPages(*device);
      MergeDeviceRequest(*device);
    }
  }
  job_requested_ = true;
  ProcessRequest();
}

void TppPublisher::ProcessRequest() {
  if (collecting_ || satisfied_) return;
  satisfied_ = ServeFromCache();
  if (!satisfied_ && OnGeneratePages) OnGeneratePages(*this, request_);
}

void TppPublisher::ReceivePage(TppPage& page) {
  CachePage(page);
  for (TppDevice* device : Participants()) {
    if (Attached(device) && device->AwaitingPages()) device->ReceivePage(page);
  }
  satisfied_ = request_.IsSatisfiedBy(page);
  if (!last_page_known_ && page.LastPage()) {
    last_page_known_ = true;
    last_page_no_ = page.AbsolutePageNo();
  }
}

// ---- cache

TppPage* TppPublisher::FindCached(int32_t absolutePageNo) const {
  auto it = std::lower_bound(
      page_cache_.begin(), page_cache_.end(), absolutePageNo,
      [](const std::unique_ptr<TppPage>& p, int32_t no) { return p->AbsolutePageNo() < no; });
  if (it == page_cache_.end() || (*it)->AbsolutePageNo() != absolutePageNo) return nullptr;
  return it->get();
}

const TppPage* TppPublisher::CachedPage(int32_t absolutePageNo) const { return FindCached(absolutePageNo); }

const TppPage* TppPublisher::CachedPages(int index) const {
  if (index < 0 || index >= CachedPageCount()) return nullptr;
  return page_cache_[static_cast<size_t>(index)].get();
}

void TppPublisher::CachePage(const TppPage& page) {
  if (!cache_pages_ || replaying_ || !page.Final() || page.Calculation()) return;
  auto copy = std::make_unique<TppPage>();
  copy->Assign(page);
  copy->SetCalculation(false);
  const TppPage& added = *copy;
  auto it = std::lower_bound(
      page_cache_.begin(), page_cache_.end(), page.AbsolutePageNo(),
      [](const std::unique_ptr<TppPage>& p, int32_t no) { return p->AbsolutePageNo() < no; });
  if (it != page_cache_.end() && (*it)->AbsolutePageNo() == page.AbsolutePageNo()) {
    *it = std::move(copy);
  } else {
    page_cache_.insert(it, std::move(copy));
  }
  if (page_cache_.size() < 2) return;
  // Counts known only now reach the pages cached before.
  for (const std::unique_ptr<TppPage>& cached : page_cache_) {
    bool changed = false;
    if (cached->AbsolutePageCount() < added.AbsolutePageCount()) {
      cached->SetAbsolutePageCount(added.AbsolutePageCount());
      changed = true;
    }
    if (cached->ControlGroupBreakNo() == added.ControlGroupBreakNo() &&
        cached->PageCount() < added.PageCount()) {
      cached->SetPageCount(added.PageCount());
      changed = true;
    }
    if (changed && cached->UpdateableCommands() != nullptr) cached->UpdateCommands();
  }
}

bool TppPublisher::Serve(int32_t absolutePageNo) {
  TppPage* page = FindCached(absolutePageNo);
  if (page == nullptr) return false;
  ReceivePage(*page);
  return true;
}

bool TppPublisher::ServeFromCache() {
  if (!cache_pages_) return false;
  FlagScope replaying(replaying_);
  switch (request_.PageSetting()) {
    case psAll: {
      if (!last_page_known_ || page_cache_.empty()) return false;
      const TppPage* first = FindCached(1);
      if (first == nullptr) return false;
      const int32_t count = first->AbsolutePageCount();
      if (count != CachedPageCount()) return false;
      for (int32_t no = 1; no <= count; ++no) {
        if (FindCached(no) == nullptr) return false;
      }
      for (int32_t no = 1; no <= count; ++no) Serve(no);
      return true;
    }
    case psPageList: {
      bool all = true;
      const std::vector<std::string> listed = request_.PageList();
      for (const std::string& entry : listed) {
        int32_t no = 0;
        try {
          no = std::stoi(entry);
        } catch (const std::exception&) {
          all = false;
          continue;
        }
        if (!Serve(no)) all = false;
      }
      return all;
    }
    case psSinglePage:
      return Serve(request_.PageRequested());
    case psFirstPage:
      return Serve(1);
    case psLastPage:
      return last_page_known_ && Serve(last_page_no_);
    case psPageRange:
      return false;
  }
  return false;
}

void TppPublisher::SetCachePages(bool value) {
  cache_pages_ = value;
  if (!value && !replaying_) page_cache_.clear();
}

void TppPublisher::ForgetProgress() {
  satisfied_ = false;
  job_requested_ = false;
  last_page_known_ = false;
  last_page_no_ = 0;
  // Pages being replayed stay until the replay is over.
  if (!replaying_) page_cache_.clear();
}

void TppPublisher::Reset() {
  ForgetProgress();
  request_.Reset();
}

void TppPublisher::InvalidatePages() { ForgetProgress(); }

std::string TppPublisher::StatusText() const {
  for (TppDevice* device : devices_) {
    if (device->Enabled() && !device->StatusText().empty()) return device->StatusText();
  }
  return "";
}

void TppPublisher::SetStatus(const std::string& text) {
  for (TppDevice* device : Participants()) {
    if (Attached(device)) device->SetStatus(text);
  }
}

}  // namespace parvel::report
