#include "app/agent/error_report.h"

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

}  // namespace parvel::agent
