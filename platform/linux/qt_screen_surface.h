#pragma once
// The screen's measuring surface on Linux: Qt fonts measured on an image at the screen's
// resolution.
#include <memory>

#include "platform/screen_surface.h"

namespace parvel::platform::linux_os {

class QtScreenSurfaceFactory : public ScreenSurfaceFactory {
 public:
  // The resolution comes from the installed Screen service (96 without one).
  std::unique_ptr<DrawingSurface> CreateScreenContext() override;
};

}  // namespace parvel::platform::linux_os
