#pragma once

namespace parvel::platform {

// The display as the report engine sees it.
class Screen {
 public:
  virtual ~Screen() = default;
  // The display's vertical logical resolution in pixels per inch, read once at start.
  virtual int LogicalPixelsPerInchY() const = 0;
};

}  // namespace parvel::platform
