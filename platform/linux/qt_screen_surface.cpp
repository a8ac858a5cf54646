#include "platform/linux/qt_screen_surface.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include "platform/linux/qt_text.h"
#include "platform/screen.h"
#include "platform/services.h"

namespace parvel::platform::linux_os {
namespace {

// Measures at the screen's resolution; the screen context draws nothing.
class QtScreenSurface : public DrawingSurface {
 public:
  explicit QtScreenSurface(int dpi) : text_(dpi, dpi) {
    metrics_.dpi_x = dpi;
    metrics_.dpi_y = dpi;
    if (QGuiApplication::instance() != nullptr) {
      if (QScreen* screen = QGuiApplication::primaryScreen()) {
        metrics_.physical_width = screen->size().width();
        metrics_.physical_height = screen->size().height();
      }
    }
    metrics_.printable_width = metrics_.physical_width;
    metrics_.printable_height = metrics_.physical_height;
  }

  bool IsPrinting() const override { return false; }
  SurfaceMetrics Metrics() const override { return metrics_; }
  void SetFont(const SurfaceFont& f) override { text_.SetFont(f); }
  SurfaceTextMetrics TextMetrics() override { return text_.TextMetrics(); }
  int TextExtent(std::string_view text) override {
    return static_cast<int>(std::lround(text_.Width(FromUtf8(text))));
  }
  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tabs) override {
    return text_.TabbedExtent(FromUtf8(text), tabs);
  }
  void TextOut(int, int, const SurfaceRect&, std::string_view) override {}
  void TabbedTextOut(int, int, std::string_view, const std::vector<int>&, int) override {}
  void FillRect(const SurfaceRect&, uint32_t) override {}
  void SetTextJustification(int extra, int breaks) override { text_.SetJustification(extra, breaks); }
  void StartDoc(const std::string&) override {}
  void StartPage() override {}
  void EndPage() override {}
  int EndDoc() override { return 0; }
  void AbortDoc() override {}
  void Reset(const DeviceSettings&) override {}

 private:
  QtTextMeasure text_;
  SurfaceMetrics metrics_;
};

}  // namespace

std::unique_ptr<DrawingSurface> QtScreenSurfaceFactory::CreateScreenContext() {
  const Screen* screen = Find<Screen>();
  const int dpi =
      screen != nullptr && screen->LogicalPixelsPerInchY() > 0 ? screen->LogicalPixelsPerInchY() : 96;
  return std::make_unique<QtScreenSurface>(dpi);
}

}  // namespace parvel::platform::linux_os
