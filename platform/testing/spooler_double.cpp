#include "platform/testing/spooler_double.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace parvel::platform::doubles {
namespace {

// 25 pixels at 300 dpi, in thousandths of a millimetre.
constexpr int32_t k25At300 = 2117;

class DoubleHandle : public PrinterHandle {
 public:
  explicit DoubleHandle(std::string device) : device_(std::move(device)) {}
  const std::string& Device() const override { return device_; }

 private:
  std::string device_;
};

class RecordingSurface : public DrawingSurface {
 public:
  RecordingSurface(std::shared_ptr<SurfaceLog> log, std::string device, PrinterCapabilities caps,
                   DeviceSettings settings, bool printing, int advance, int external_leading)
      : log_(std::move(log)),
        device_(std::move(device)),
        caps_(std::move(caps)),
        settings_(std::move(settings)),
        printing_(printing),
        advance_(advance),
        external_leading_(external_leading) {}

  bool IsPrinting() const override { return printing_; }
  SurfaceMetrics Metrics() const override { return MetricsOf(caps_, settings_); }

  void SetFont(const SurfaceFont& f) override {
    font_ = f;
    Log("SetFont " + f.face + " " + std::to_string(f.height) + " w" + std::to_string(f.weight) +
        (f.italic ? " i" : "") + (f.underline ? " u" : "") + (f.strike_out ? " s" : "") + " c" +
        std::to_string(f.color));
  }
  SurfaceTextMetrics TextMetrics() override {
    int h = std::abs(font_.height);
    return SurfaceTextMetrics{h, h * 4 / 5, external_leading_};
  }
  int TextExtent(std::string_view text) override { return Width(text); }
  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tabs) override {
    int end = Expand(text, tabs, 0);
    return (static_cast<uint32_t>(TextMetrics().height) << 16) | (static_cast<uint32_t>(end) & 0xFFFFu);
  }
  void TextOut(int x, int y, const SurfaceRect& c, std::string_view text) override {
    Log("TextOut " + std::to_string(x) + "," + std::to_string(y) + " clip " + Rect(c) + " \"" +
        std::string(text) + "\"" + Justified());
  }
  void TabbedTextOut(int x, int y, std::string_view text, const std::vector<int>& tabs, int origin) override {
    std::string stops;
    for (int t : tabs) stops += " " + std::to_string(t);
    Log("TabbedTextOut " + std::to_string(x) + "," + std::to_string(y) + " tabs" + stops + " origin " +
        std::to_string(origin) + " \"" + std::string(text) + "\"" + Justified());
  }
  void FillRect(const SurfaceRect& r, uint32_t color) override {
    Log("FillRect " + Rect(r) + " c" + std::to_string(color));
  }
  void SetTextJustification(int extra, int breaks) override {
    extra_ = extra;
    breaks_ = breaks;
    Log("SetTextJustification " + std::to_string(extra) + " " + std::to_string(breaks));
  }
  void StartDoc(const std::string& title) override {
    title_ = title;
    Log("StartDoc " + title);
  }
  void StartPage() override { Log("StartPage"); }
  void EndPage() override { Log("EndPage"); }
  int EndDoc() override {
    Log("EndDoc");
    if (log_->printer_gone) {
      throw SpoolerError("The printer \"" + device_ + "\" is not installed",
                         SpoolerError::Kind::kNoSuchPrinter);
    }
    if (log_->refuse_jobs) {
      throw SpoolerError("client-error-not-possible: queue is not accepting jobs");
    }
    log_->jobs.push_back(title_);
    return log_->next_job_id++;
  }
  void AbortDoc() override { Log("AbortDoc"); }
  void Reset(const DeviceSettings& settings) override {
    settings_ = settings;
    Log("Reset orientation " + std::to_string(settings.orientation));
  }

 private:
  void Log(std::string line) { log_->calls.push_back(std::move(line)); }
  static std::string Rect(const SurfaceRect& r) {
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
  }
  std::string Justified() const {
    return breaks_ > 0 ? " justify " + std::to_string(extra_) + "/" + std::to_string(breaks_) : "";
  }
  int Width(std::string_view text) const {
    int w = static_cast<int>(text.size()) * advance_;
    if (breaks_ > 0 && text.find(' ') != std::string_view::npos) w += extra_;
    return w;
  }
  // Where a tabbed text ends, tab stops counted from `origin`.
  int Expand(std::string_view text, const std::vector<int>& tabs, int origin) const {
    int spacing = tabs.size() == 1 && tabs[0] > 0 ? tabs[0] : 8 * advance_;
    int at = origin;
    size_t start = 0;
    while (true) {
      size_t tab = text.find('\t', start);
      at += Width(text.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
      if (tab == std::string_view::npos) return at;
      int next = -1;
      if (tabs.size() > 1) {
        for (int t : tabs) {
          if (t > at) {
            next = t;
            break;
          }
        }
      }
      at = next >= 0 ? next : (at / spacing + 1) * spacing;
      start = tab + 1;
    }
  }

  std::shared_ptr<SurfaceLog> log_;
  std::string device_;
  PrinterCapabilities caps_;
  DeviceSettings settings_;
  bool printing_;
  int advance_;
  int external_leading_;
  SurfaceFont font_;
  int extra_ = 0;
  int breaks_ = 0;
  std::string title_;
};

// A driver's default settings record: the fields it sets, its paper and its bin.
DeviceSettings Defaults(uint32_t fields, int16_t paper, int16_t source) {
  DeviceSettings d;
  d.fields = fields;
  d.paper_size = paper;
  d.default_source = source;
  return d;
}

}  // namespace

DoublePrinter CardPrinter(const std::string& name) {
  DoublePrinter p;
  p.entry = PrinterEntry{name, name, "file:/dev/null", true};
  PrinterCapabilities& c = p.capabilities;
  c.papers = {PaperRecord{"CR80 2.13 x 3.38 in", "cr80", 257, PaperSize{540, 857},
                          PaperArea{53975, 85725, k25At300, k25At300, k25At300, k25At300}}};
  c.bins = {BinRecord{"Card Hopper", "auto", 7}, BinRecord{"Manual Card Feed", "manual", 4}};
  c.copies_max = 1;
  c.color = true;
  c.dpi_x = c.dpi_y = 300;
  p.defaults =
      Defaults(DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize | DeviceSettings::fmCopies |
                   DeviceSettings::fmDuplex | DeviceSettings::fmDefaultSource,
               257, 7);
  return p;
}

DoublePrinter WidePrinter(const std::string& name) {
  DoublePrinter p;
  p.entry = PrinterEntry{name, name, "ipp://office.example/ipp/print", false};
  PrinterCapabilities& c = p.capabilities;
  const int32_t m = 2 * k25At300;  // 50 pixels at 600 dpi across, 25 at 300 down
  c.papers = {PaperRecord{"US Letter", "na_letter_8.5x11in", 1, PaperSize{2159, 2794},
                          PaperArea{215900, 279400, m / 2, m / 2, m / 2, m / 2}},
              PaperRecord{"A4", "iso_a4_210x297mm", 9, PaperSize{2100, 2970},
                          PaperArea{210000, 297000, m / 2, m / 2, m / 2, m / 2}}};
  c.bins = {BinRecord{"Tray 1", "tray-1", 1}, BinRecord{"Tray 2", "tray-2", 2},
            BinRecord{"Tray 3", "tray-3", 257}};
  c.copies_max = 999;
  c.color = false;
  c.dpi_x = 600;
  c.dpi_y = 300;
  p.defaults =
      Defaults(DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize | DeviceSettings::fmCopies |
                   DeviceSettings::fmDuplex | DeviceSettings::fmDefaultSource,
               9, 1);
  return p;
}

DoublePrinter MonoCardPrinter(const std::string& name) {
  DoublePrinter p;
  p.entry = PrinterEntry{name, name, "usb://Card/1", true};
  PrinterCapabilities& c = p.capabilities;
  // The sheet it measures lies across, 85.7 by 54 mm upright.
  c.papers = {PaperRecord{"CR80 2.13 x 3.38 in", "CR80", 120, PaperSize{540, 856},
                          PaperArea{85700, 54000, k25At300, k25At300, k25At300, k25At300}},
              PaperRecord{"Custom", "", 256, PaperSize{}, std::nullopt}};
  c.bins = {BinRecord{"Front", "Front", 1}, BinRecord{"Rear", "Rear", 4}};
  c.color = false;
  c.dpi_x = c.dpi_y = 300;
  p.defaults = Defaults(
      DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize | DeviceSettings::fmDefaultSource, 120, 15);
  return p;
}

DoublePrinter OfficePrinter(const std::string& name) {
  DoublePrinter p;
  p.entry = PrinterEntry{name, name, "ipp://office.example/ipp/print", true};
  PrinterCapabilities& c = p.capabilities;
  const int32_t x = 2117;  // 50 pixels at 600 dpi
  const int32_t y = 2540;  // 60 pixels
  c.papers = {
      PaperRecord{"Letter 8 1/2 x 11 in", "Letter", 1, PaperSize{2159, 2794},
                  PaperArea{215900, 279400, x, y, x, y}},
      PaperRecord{"A4 210 x 297 mm", "A4", 9, PaperSize{2100, 2970}, PaperArea{210000, 297000, x, y, x, y}},
      PaperRecord{"Envelope #10 4 18 x 9 1/2", "Env10", 20, PaperSize{1048, 2413},
                  PaperArea{104775, 241300, x, y, x, y}},
      PaperRecord{"Custom", "", 256, PaperSize{}, std::nullopt}};
  c.bins = {BinRecord{"Default", "Default", 7}, BinRecord{"Tray 1", "Tray1", 1}};
  c.color = true;
  c.dpi_x = c.dpi_y = 600;
  p.defaults = Defaults(DeviceSettings::fmOrientation | DeviceSettings::fmPaperSize, 1, 7);
  return p;
}

DoublePrinter SilentPrinter(const std::string& name) {
  DoublePrinter p;
  p.entry = PrinterEntry{name, name, "", true};
  return p;
}

std::vector<PrinterEntry> SpoolerDouble::Printers() {
  if (unreachable) throw SpoolerError("No CUPS server answers");
  std::vector<PrinterEntry> out;
  for (const DoublePrinter& p : printers) out.push_back(p.entry);
  return out;
}

const DoublePrinter* SpoolerDouble::Find(const std::string& device) const {
  for (const DoublePrinter& p : printers) {
    if (p.entry.device == device) return &p;
  }
  return nullptr;
}

DoublePrinter* SpoolerDouble::Find(const std::string& device) {
  return const_cast<DoublePrinter*>(std::as_const(*this).Find(device));
}

PrinterCapabilities SpoolerDouble::Capabilities(const std::string& device) {
  ++capability_queries;
  const DoublePrinter* p = Find(device);
  if (p == nullptr) {
    throw SpoolerError("The printer \"" + device + "\" is not installed", SpoolerError::Kind::kNoSuchPrinter);
  }
  if (p->fail_capabilities) throw SpoolerError("The printer \"" + device + "\" does not answer");
  return p->capabilities;
}

std::unique_ptr<PrinterHandle> SpoolerDouble::OpenPrinter(const std::string& device) {
  if (Find(device) == nullptr) return nullptr;
  return std::make_unique<DoubleHandle>(device);
}

std::optional<DeviceSettings> SpoolerDouble::DefaultSettings(const PrinterHandle& printer) {
  const DoublePrinter* p = Find(printer.Device());
  return p ? p->defaults : std::nullopt;
}

SurfaceMetrics MetricsOf(const PrinterCapabilities& c, const DeviceSettings& s) {
  PaperArea a{215900, 279400, 0, 0, 0, 0};
  if (s.HasOwnSize()) {
    a = PaperArea{s.paper_width * 100, s.paper_length * 100, 0, 0, 0, 0};
  } else {
    const int at = c.PaperAt(static_cast<uint16_t>(s.paper_size));
    const size_t i = at >= 0 ? static_cast<size_t>(at) : 0;
    if (i < c.papers.size() && c.papers[i].area) a = *c.papers[i].area;
  }
  return PaperMetrics(OrientedPaper(a, s), c.dpi_x, c.dpi_y);
}

std::vector<std::string> SurfaceLog::CallsOf(const std::string& kind) const {
  std::vector<std::string> out;
  for (const std::string& c : calls) {
    if (c == kind || c.rfind(kind + " ", 0) == 0) out.push_back(c);
  }
  return out;
}

void SurfaceLog::Clear() {
  calls.clear();
  jobs.clear();
}

std::unique_ptr<DrawingSurface> SurfaceFactoryDouble::Create(const std::string& device,
                                                             const DeviceSettings* settings, bool printing) {
  const DoublePrinter* p = spooler_.Find(device);
  if (p == nullptr || p->fail_surfaces) return nullptr;
  ++created;
  DeviceSettings s = settings ? *settings : p->defaults.value_or(DeviceSettings{});
  log->calls.push_back(std::string(printing ? "CreatePrintingContext " : "CreateInformationContext ") +
                       device);
  return std::make_unique<RecordingSurface>(log, device, p->capabilities, s, printing, advance,
                                            external_leading);
}

std::unique_ptr<DrawingSurface> SurfaceFactoryDouble::CreateInformationContext(
    const std::string& device, const DeviceSettings* settings) {
  return Create(device, settings, false);
}

std::unique_ptr<DrawingSurface> SurfaceFactoryDouble::CreatePrintingContext(const std::string& device,
                                                                            const DeviceSettings* settings) {
  return Create(device, settings, true);
}

}  // namespace parvel::platform::doubles
