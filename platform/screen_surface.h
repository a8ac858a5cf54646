#pragma once
// The screen as a measuring surface: what the "Screen" pseudo printer measures text with.
#include <memory>

#include "platform/drawing_surface.h"

namespace parvel::platform {

class ScreenSurfaceFactory {
 public:
  virtual ~ScreenSurfaceFactory() = default;
  // A surface at the screen's resolution that measures only: it never prints, and its
  // document and page brackets do nothing.
  virtual std::unique_ptr<DrawingSurface> CreateScreenContext() = 0;
};

}  // namespace parvel::platform
