#pragma once
// A screen context for tests: the screen's resolution, a fixed advance per character.
#include <memory>
#include <string>
#include <vector>

#include "platform/screen_surface.h"

namespace parvel::platform::doubles {

class FixedScreenSurface : public DrawingSurface {
 public:
  FixedScreenSurface(int dpi, int advance) : dpi_(dpi), advance_(advance) {}
  bool IsPrinting() const override { return false; }
  SurfaceMetrics Metrics() const override;
  void SetFont(const SurfaceFont& font) override { font_ = font; }
  SurfaceTextMetrics TextMetrics() override;
  int TextExtent(std::string_view text) override;
  uint32_t TabbedTextExtent(std::string_view text, const std::vector<int>& tab_stops) override;
  void TextOut(int, int, const SurfaceRect&, std::string_view) override {}
  void TabbedTextOut(int, int, std::string_view, const std::vector<int>&, int) override {}
  void FillRect(const SurfaceRect&, uint32_t) override {}
  void SetTextJustification(int, int) override {}
  void StartDoc(const std::string&) override {}
  void StartPage() override {}
  void EndPage() override {}
  int EndDoc() override { return 0; }
  void AbortDoc() override {}
  void Reset(const DeviceSettings&) override {}

  const SurfaceFont& Font() const { return font_; }

 private:
  int dpi_;
  int advance_;
  SurfaceFont font_;
};

// Answers FixedScreenSurface at the installed Screen's resolution (96 without one).
class FixedScreenSurfaceFactory : public ScreenSurfaceFactory {
 public:
  explicit FixedScreenSurfaceFactory(int advance = 7) : advance(advance) {}
  std::unique_ptr<DrawingSurface> CreateScreenContext() override;
  int advance;
  int created = 0;
};

}  // namespace parvel::platform::doubles
