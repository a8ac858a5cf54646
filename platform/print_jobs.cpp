#include "platform/print_jobs.h"

namespace parvel::platform {

const char* StateWord(JobStatus::State state) {
  switch (state) {
    case JobStatus::State::kPending:
      return "pending";
    case JobStatus::State::kHeld:
      return "held";
    case JobStatus::State::kProcessing:
      return "processing";
    case JobStatus::State::kStopped:
      return "stopped";
    case JobStatus::State::kCanceled:
      return "canceled";
    case JobStatus::State::kAborted:
      return "aborted";
    case JobStatus::State::kCompleted:
      return "completed";
    case JobStatus::State::kUnknown:
      break;
  }
  return "unknown";
}

namespace {

std::string Joined(const std::vector<std::string>& reasons, const std::string& message) {
  std::string text;
  for (const std::string& reason : reasons) text += (text.empty() ? "" : ", ") + reason;
  if (!message.empty()) text += (text.empty() ? "" : ", ") + message;
  return text;
}

}  // namespace

std::string Details(const JobStatus& status) {
  const std::string job = Joined(status.job_reasons, status.job_message);
  std::vector<std::string> printer_reasons = status.printer_reasons;
  if (status.printer_stopped) printer_reasons.insert(printer_reasons.begin(), "stopped");
  if (!status.printer_accepting) printer_reasons.push_back("not accepting jobs");
  const std::string printer = Joined(printer_reasons, status.printer_message);
  std::string text;
  if (!job.empty()) text = "job: " + job;
  if (!printer.empty()) text += (text.empty() ? "" : "; ") + std::string("printer: ") + printer;
  return text;
}

}  // namespace parvel::platform
