#pragma once
// The application's error report: a failure that escaped an event handler, shown in a modal box
// captioned with the application title, through the platform's message boxes (which also write
// it as one line on standard error).
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace parvel::agent {

// The text the report shows: `message`, with "." appended when its last character sorts
// after ".".
std::string ErrorReportText(const std::string& message);

// Shows the report and returns once it is closed (at once without a display).
void ShowErrorReport(const std::string& message);

// A box as it was shown.
struct TShownBox {
  platform::MessageKind kind = platform::MessageKind::None;
  std::string caption;
  std::string text;
  bool operator==(const TShownBox&) const = default;
};

// Passes boxes on to `next` (none: nothing is shown) and remembers them, but holds back the ones
// listed in `quiet`, answering their default button: a warning that a print gave already is not
// shown again while nothing has changed.
class TRepeatFilter : public platform::MessageBoxes {
 public:
  TRepeatFilter(platform::MessageBoxes* next, const std::vector<TShownBox>& quiet)
      : next_(next), quiet_(quiet) {}

  platform::MessageButton Show(platform::MessageKind kind, const std::string& caption,
                               const std::string& text, platform::MessageButtons buttons) override;
  std::string ApplicationTitle() const override { return next_ != nullptr ? next_->ApplicationTitle() : ""; }

  // Every box asked for, held back or not.
  const std::vector<TShownBox>& Shown() const { return shown_; }

 private:
  platform::MessageBoxes* next_;
  const std::vector<TShownBox>& quiet_;
  std::vector<TShownBox> shown_;
};

}  // namespace parvel::agent
