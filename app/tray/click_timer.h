#pragma once
// Tells a double click from two clicks by the time between presses, as the desktop would: the
// second press of one button within the double-click interval of the first makes a double
// click, and the press after a double click starts afresh.
#include <cstdint>

namespace parvel::tray {

class TClickTimer {
 public:
  // `button` is any number that tells buttons apart, `time` the press's time in milliseconds.
  // Answers true when this press is the second press of a double click.
  bool Press(int button, uint64_t time, int interval_ms) {
    const bool is_double =
        pending_ && button == button_ && time >= time_ && time - time_ <= uint64_t(interval_ms);
    pending_ = !is_double;
    button_ = button;
    time_ = time;
    return is_double;
  }

 private:
  bool pending_ = false;  // the last press may be the first of a double click
  int button_ = 0;
  uint64_t time_ = 0;
};

}  // namespace parvel::tray
