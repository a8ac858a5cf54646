#include "platform/testing/screen_surface_double.h"

#include <cstdlib>

#include "platform/screen.h"
#include "platform/services.h"

namespace parvel::platform::doubles {

SurfaceMetrics FixedScreenSurface::Metrics() const {
  SurfaceMetrics m;
  m.dpi_x = dpi_;
  m.dpi_y = dpi_;
  m.physical_width = m.printable_width = 1920;
  m.physical_height = m.printable_height = 1080;
  return m;
}

SurfaceTextMetrics FixedScreenSurface::TextMetrics() {
  const int h = std::abs(font_.height);
  return SurfaceTextMetrics{h, h * 4 / 5, 0};
}

int FixedScreenSurface::TextExtent(std::string_view text) { return static_cast<int>(text.size()) * advance_; }

uint32_t FixedScreenSurface::TabbedTextExtent(std::string_view text, const std::vector<int>&) {
  const auto w = static_cast<uint32_t>(TextExtent(text)) & 0xFFFFu;
  return (static_cast<uint32_t>(TextMetrics().height) << 16) | w;
}

std::unique_ptr<DrawingSurface> FixedScreenSurfaceFactory::CreateScreenContext() {
  ++created;
  const Screen* screen = Find<Screen>();
  return std::make_unique<FixedScreenSurface>(screen != nullptr ? screen->LogicalPixelsPerInchY() : 96,
                                              advance);
}

}  // namespace parvel::platform::doubles
