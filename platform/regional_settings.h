#pragma once

namespace parvel::platform {

// The user's regional settings, as read when the program started.
class RegionalSettings {
 public:
  virtual ~RegionalSettings() = default;
  virtual char DecimalSeparator() const = 0;
};

}  // namespace parvel::platform
