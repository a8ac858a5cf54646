#include "app/agent/error_report.h"

#include <algorithm>
#include <utility>

#include "platform/message_box.h"

namespace parvel::agent {

std::string ErrorReportText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.')) {
    return message + ".";
  }
  return message;
}

void ShowErrorReport(const std::string& message) {
  platform::ShowMessageBox(platform::MessageKind::Error, platform::ApplicationTitle(),
                           ErrorReportText(message), platform::mbOK);
}

platform::MessageButton TRepeatFilter::Show(platform::MessageKind kind, const std::string& caption,
                                            const std::string& text, platform::MessageButtons buttons) {
  TShownBox box{kind, caption, text};
  const bool quiet = std::find(quiet_.begin(), quiet_.end(), box) != quiet_.end();
  shown_.push_back(std::move(box));
  if (quiet || next_ == nullptr) return platform::DefaultButton(buttons);
  return next_->Show(kind, caption, text, buttons);
}

}  // namespace parvel::agent
