#pragma once
// Printers described in code for the printer setup and wrapper tests: a 300 dpi monochrome
// card printer with 25-pixel offsets, a 600 dpi colour office printer (the default), and a
// printer whose driver reports nothing. The surfaces measure 10 pixels per character and
// record every call.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/drawing_surface.h"
#include "platform/screen_surface.h"
#include "platform/services.h"
#include "platform/spooler.h"
#include "platform/testing/screen_surface_double.h"

namespace parvel::doubles {

struct FakePrinter {
  platform::PrinterCapabilities caps;
  platform::DeviceSettings defaults;
  platform::SurfaceMetrics metrics;
};

inline std::map<std::string, FakePrinter> FakePrinters() {
  std::map<std::string, FakePrinter> p;
  FakePrinter& card = p["card"];
  card.caps.paper_names = {"CR80 2.13 x 3.38 in", "Custom"};
  card.caps.papers = {120, 256};
  card.caps.paper_sizes = {{540, 856}, {0, 0}};
  card.caps.bin_names = {"Front", "Rear"};
  card.caps.bins = {1, 4};
  card.caps.color = false;
  card.defaults.fields = platform::DeviceSettings::fmOrientation | platform::DeviceSettings::fmPaperSize |
                         platform::DeviceSettings::fmDefaultSource;
  card.defaults.paper_size = 120;
  card.defaults.default_source = 15;
  card.metrics = {300, 300, 1012, 638, 962, 588, 25, 25};
  FakePrinter& office = p["office"];
  office.caps.paper_names = {"Letter 8 1/2 x 11 in", "A4 210 x 297 mm", "Envelope #10 4 18 x 9 1/2",
                             "Custom"};
  office.caps.papers = {1, 9, 20, 256};
  office.caps.paper_sizes = {{2159, 2794}, {2100, 2970}, {1048, 2413}, {0, 0}};
  office.caps.bin_names = {"Default", "Tray 1"};
  office.caps.bins = {7, 1};
  office.caps.color = true;
  office.defaults.fields = platform::DeviceSettings::fmOrientation | platform::DeviceSettings::fmPaperSize;
  office.defaults.paper_size = 1;
  office.defaults.default_source = 7;
  office.metrics = {600, 600, 5100, 6600, 5000, 6480, 50, 60};
  FakePrinter& empty = p["empty"];
  empty.metrics = {300, 300, 2550, 3300, 2550, 3300, 0, 0};
  return p;
}

class FakeHandle : public platform::PrinterHandle {
 public:
  explicit FakeHandle(std::string device) : device_(std::move(device)) {}
  const std::string& Device() const override { return device_; }

 private:
  std::string device_;
};

class FakeSpooler : public platform::Spooler {
 public:
  std::vector<platform::PrinterEntry> Printers() override {
    return {
        {"Card", "card", "usb:1", true}, {"Office", "office", "ipp:2", true}, {"Empty", "empty", "", true}};
  }
  std::string DefaultPrinterDevice() override { return "office"; }
  platform::PrinterCapabilities Capabilities(const std::string& device) override {
    auto it = printers.find(device);
    if (it == printers.end()) throw platform::SpoolerError("no printer " + device);
    return it->second.caps;
  }
  std::unique_ptr<platform::PrinterHandle> OpenPrinter(const std::string& device) override {
    if (!printers.count(device)) return nullptr;
    return std::make_unique<FakeHandle>(device);
  }
  std::optional<platform::DeviceSettings> DefaultSettings(const platform::PrinterHandle& printer) override {
    auto it = printers.find(printer.Device());
    if (it == printers.end()) return std::nullopt;
    return it->second.defaults;
  }
  std::map<std::string, FakePrinter> printers = FakePrinters();
};

// Every call as one line of text, shared by all surfaces a factory made.
class FakeSurface : public platform::DrawingSurface {
 public:
  FakeSurface(platform::SurfaceMetrics metrics, bool printing, std::vector<std::string>& log, bool& refuse)
      : metrics_(metrics), printing_(printing), log_(log), refuse_(refuse) {}
  bool IsPrinting() const override { return printing_; }
  platform::SurfaceMetrics Metrics() const override { return metrics_; }
  void SetFont(const platform::SurfaceFont& f) override {
    font = f;
    log_.push_back("SetFont " + f.face + " " + std::to_string(f.height) + " " + std::to_string(f.color));
  }
  platform::SurfaceTextMetrics TextMetrics() override { return {-font.height, -font.height * 4 / 5, 1}; }
  int TextExtent(std::string_view text) override { return static_cast<int>(text.size()) * 10; }
  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>&) override {
    return (static_cast<uint32_t>(-font.height) << 16) | static_cast<uint32_t>(TextExtent(text));
  }
  void TextOut(int x, int y, const platform::SurfaceRect& c, std::string_view text) override {
    log_.push_back("TextOut " + std::to_string(x) + "," + std::to_string(y) + " clip " +
                   std::to_string(c.left) + "," + std::to_string(c.top) + "," + std::to_string(c.right) +
                   "," + std::to_string(c.bottom) + " " + std::string(text));
  }
  void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>&, int origin) override {
    log_.push_back("TabbedTextOut " + std::to_string(x) + "," + std::to_string(y) + " " + std::string(text) +
                   " origin " + std::to_string(origin));
  }
  void FillRect(const platform::SurfaceRect&, uint32_t color) override {
    log_.push_back("FillRect " + std::to_string(color));
  }
  void SetTextJustification(int extra, int breaks) override {
    log_.push_back("Justify " + std::to_string(extra) + " " + std::to_string(breaks));
  }
  void StartDoc(const std::string& title) override { log_.push_back("StartDoc " + title); }
  void StartPage() override { log_.push_back("StartPage"); }
  void EndPage() override { log_.push_back("EndPage"); }
  int EndDoc() override {
    log_.push_back("EndDoc");
    if (refuse_) throw platform::SpoolerError("client-error-not-possible: queue is not accepting jobs");
    return 42;
  }
  void AbortDoc() override { log_.push_back("AbortDoc"); }
  void Reset(const platform::DeviceSettings& s) override {
    log_.push_back("Reset orientation " + std::to_string(s.orientation));
    if (s.orientation == 2) std::swap(metrics_.physical_width, metrics_.physical_height);
  }
  platform::SurfaceFont font;

 private:
  platform::SurfaceMetrics metrics_;
  bool printing_;
  std::vector<std::string>& log_;
  bool& refuse_;
};

class FakeSurfaceFactory : public platform::SurfaceFactory {
 public:
  explicit FakeSurfaceFactory(FakeSpooler& spooler) : spooler_(spooler) {}
  std::unique_ptr<platform::DrawingSurface> CreateInformationContext(
      const std::string& device, const platform::DeviceSettings* s) override {
    return Make(device, s, false);
  }
  std::unique_ptr<platform::DrawingSurface> CreatePrintingContext(
      const std::string& device, const platform::DeviceSettings* s) override {
    return Make(device, s, true);
  }
  std::vector<std::string> log;
  bool refuse = false;
  std::vector<std::string> failing;  // devices whose contexts cannot be made
  std::vector<platform::DeviceSettings> settings_seen;

 private:
  std::unique_ptr<platform::DrawingSurface> Make(const std::string& device, const platform::DeviceSettings* s,
                                                 bool printing) {
    auto it = spooler_.printers.find(device);
    if (it == spooler_.printers.end()) return nullptr;
    for (const std::string& f : failing) {
      if (f == device) return nullptr;
    }
    if (s != nullptr) settings_seen.push_back(*s);
    log.push_back(std::string(printing ? "DC " : "IC ") + device);
    return std::make_unique<FakeSurface>(it->second.metrics, printing, log, refuse);
  }
  FakeSpooler& spooler_;
};

// Installed before the first test, so the shared printer list is built from the fake spooler.
class FakePrintersEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    platform::Install<platform::Spooler>(&spooler);
    platform::Install<platform::SurfaceFactory>(&factory);
    platform::Install<platform::ScreenSurfaceFactory>(&screen);
  }
  void TearDown() override {
    platform::Install<platform::Spooler>(nullptr);
    platform::Install<platform::SurfaceFactory>(nullptr);
    platform::Install<platform::ScreenSurfaceFactory>(nullptr);
  }
  static FakePrintersEnvironment& Get() {
    static auto* env = static_cast<FakePrintersEnvironment*>(
        ::testing::AddGlobalTestEnvironment(new FakePrintersEnvironment));
    return *env;
  }
  FakeSpooler spooler;
  FakeSurfaceFactory factory{spooler};
  platform::doubles::FixedScreenSurfaceFactory screen;
};

}  // namespace parvel::doubles
