#include "report/output/printer_list.h"

#include <algorithm>
#include <atomic>
#include <cctype>

#include "platform/services.h"
#include "platform/text.h"

namespace parvel::report {
namespace {

std::function<void()>& Releaser() {
  static std::function<void()> releaser;
  return releaser;
}

void Release() {
  if (Releaser()) Releaser()();
}

// The list PrinterList answers: the one it built, or a scoped one standing in for it.
std::atomic<TppPrinterList*>& SharedList() {
  static std::atomic<TppPrinterList*> shared{nullptr};
  return shared;
}

}  // namespace

TppPrinterList::TppPrinterList() { Build(); }

TppPrinterList::TppPrinterList(platform::Spooler* spooler) : spooler_(spooler), spooler_given_(true) {
  Build();
}

platform::Spooler* TppPrinterList::Spooler() const {
  return spooler_given_ ? spooler_ : platform::Find<platform::Spooler>();
}

TppPrinterList::~TppPrinterList() = default;

void TppPrinterList::Build() {
  entries_.clear();
  names_.clear();
  names_ = {"Default", "Screen"};
  entries_.push_back(
      std::make_unique<TppPrinterInfo>("Default", true, std::nullopt, std::nullopt, std::nullopt));
  entries_.push_back(std::make_unique<TppScreenPrinterInfo>());
  answered_ = false;
  ReadDefaultPrinter();
}

void TppPrinterList::AddSpoolerPrinters() const {
  if (answered_) return;
  platform::Spooler* spooler = Spooler();
  if (spooler == nullptr) return;
  std::vector<platform::PrinterEntry> printers;
  try {
    printers = spooler->Printers();
  } catch (const std::exception&) {
    return;  // an unreachable spooler leaves the two pseudo entries, and is asked again
  }
  answered_ = true;
  for (const platform::PrinterEntry& p : printers) {
    if (Find(p.name) != nullptr) continue;
    names_.push_back(p.name);
    entries_.push_back(std::make_unique<TppPrinterInfo>(p.name, p.is_local, p.port, p.device, std::nullopt));
  }
}

TppPrinterInfo* TppPrinterList::Entry(int index) const {
  if (index < 0 || index >= Count()) return nullptr;
  return entries_[static_cast<size_t>(index)].get();
}

TppPrinterInfo* TppPrinterList::Find(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i) {
    if (text::SameText(names_[i], name)) return entries_[i].get();
  }
  return nullptr;
}

std::string TppPrinterList::ReadDefaultPrinter() {
  AddSpoolerPrinters();
  // The spooler names the default queue directly; no "device,driver,port" text to cut.
  std::string device;
  if (platform::Spooler* spooler = Spooler()) {
    try {
      device = spooler->DefaultPrinterDevice();
    } catch (const std::exception&) {
      device.clear();
    }
  }
  if (device.empty()) device = "Screen";
  default_printer_name_ = PrinterNameForDevice(device);
  return default_printer_name_;
}

std::string TppPrinterList::PrinterNameForDevice(const std::string& device) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    const auto& d = entries_[i]->Device();
    if (d && *d == device) return names_[i];
  }
  return {};
}

TppPrinterInfo* TppPrinterList::GetPrinterInfo(const std::string& name) const {
  const std::string& wanted = name == "Default" ? default_printer_name_ : name;
  TppPrinterInfo* found = Find(wanted);
  if (found == nullptr && !answered_) {
    AddSpoolerPrinters();
    found = Find(wanted);
  }
  // A printer named by its address is never listed: it joins the list when first asked for,
  // rather than printing on the default printer.
  if (found == nullptr && Spooler() != nullptr) {
    if (std::optional<platform::PrinterEntry> p = Spooler()->PrinterByAddress(wanted)) {
      names_.push_back(p->name);
      entries_.push_back(
          std::make_unique<TppPrinterInfo>(p->name, p->is_local, p->port, p->device, std::nullopt));
      return entries_.back().get();
    }
  }
  if (found == nullptr) {
    if (size_t on = name.find(" on"); on != std::string::npos) {
      std::string printer = PrinterNameForDevice(name.substr(0, on));
      if (!printer.empty()) found = Find(printer);
    }
  }
  if (found == nullptr) found = Find(default_printer_name_);
  return found;
}

std::recursive_mutex& PrinterListLock() {
  static std::recursive_mutex lock;
  return lock;
}

void SetDefaultPrinterReleaser(std::function<void()> releaser) {
  std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
  Releaser() = std::move(releaser);
}

TppPrinterList& PrinterList() {
  static std::unique_ptr<TppPrinterList> owner;
  std::atomic<TppPrinterList*>& shared = SharedList();
  if (TppPrinterList* list = shared.load(std::memory_order_acquire)) return *list;
  std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
  if (TppPrinterList* list = shared.load(std::memory_order_relaxed)) return *list;
  Release();
  owner = std::make_unique<TppPrinterList>();
  shared.store(owner.get(), std::memory_order_release);
  return *owner;
}

ScopedPrinterList::ScopedPrinterList() {
  std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
  Release();
  list_ = std::make_unique<TppPrinterList>();
  previous_ = SharedList().exchange(list_.get(), std::memory_order_acq_rel);
}

ScopedPrinterList::~ScopedPrinterList() {
  std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
  Release();
  SharedList().store(previous_, std::memory_order_release);
}

TppPrinterInfo& NoPrinterInstalledInfo() {
  static std::atomic<TppPrinterInfo*> shared{nullptr};
  static std::unique_ptr<TppPrinterInfo> owner;
  if (TppPrinterInfo* info = shared.load(std::memory_order_acquire)) return *info;
  std::lock_guard<std::recursive_mutex> guard(PrinterListLock());
  if (TppPrinterInfo* info = shared.load(std::memory_order_relaxed)) return *info;
  owner = std::make_unique<TppPrinterInfo>("No Printer Installed", true, std::string(), std::string("None"),
                                           std::string("None"));
  shared.store(owner.get(), std::memory_order_release);
  return *owner;
}

}  // namespace parvel::report
