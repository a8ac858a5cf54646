#pragma once
// The application's error report: a failure that escaped an event handler, shown in a modal box
// captioned with the application title, through the platform's message boxes (which also write
// it as one line on standard error).
#include <string>

namespace parvel::agent {

// The text the report shows: `message`, with "." appended when its last character sorts
// after ".".
std::string ErrorReportText(const std::string& message);

// Shows the report and returns once it is closed (at once without a display).
void ShowErrorReport(const std::string& message);

}  // namespace parvel::agent
