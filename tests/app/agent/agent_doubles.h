#pragma once
// What the agent's tests share: a timer that records its arming, a print double that runs the
// report's BeforePrint as the print operation does, and card files in a scratch folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/agent/card_print.h"
#include "app/agent/card_report.h"
#include "app/agent/timer.h"
#include "platform/print_jobs.h"
#include "platform/services.h"
#include "platform/spooler.h"
#include "report/base/errors.h"

namespace parvel::agent::testing {

class TimerDouble : public TTimer {
 public:
  using TTimer::Fire;
  int arms = 0;
  uint32_t armed_interval = 0;

 protected:
  void Arm(uint32_t interval) override {
    ++arms;
    armed_interval = interval;
  }
  void Disarm() override {}
};

// One print as the double saw it: each label's printed text and stored position.
struct PrintedCard {
  std::vector<std::string> texts;
  std::vector<int32_t> lefts;
  std::vector<int32_t> tops;
};

// The spooler's jobs as a test scripts them: each job answers the states queued for it, one per
// look, and keeps the last; a job nobody scripted has completed with its document.
class JobsDouble : public platform::PrintJobs {
 public:
  platform::JobStatus Status(const std::string& device, int job_id) override {
    looks.push_back({device, job_id});
    if (!unreachable.empty()) throw platform::SpoolerError(unreachable);
    std::deque<platform::JobStatus>& queued = states[job_id];
    if (queued.empty()) return Completed();
    platform::JobStatus status = queued.front();
    if (queued.size() > 1) queued.pop_front();
    return status;
  }
  void Cancel(const std::string& /*device*/, int job_id) override {
    if (!unreachable.empty()) throw platform::SpoolerError(unreachable);
    cancelled.push_back(job_id);
  }
  std::vector<int> EmptyJobsSince(const std::string& /*device*/, int64_t /*since*/) override {
    if (!unreachable.empty()) throw platform::SpoolerError(unreachable);
    return empty_jobs;
  }
  static platform::JobStatus Completed() { return With(platform::JobStatus::State::kCompleted); }
  static platform::JobStatus With(platform::JobStatus::State state, int documents = 1) {
    platform::JobStatus status;
    status.state = state;
    status.documents = documents;
    return status;
  }

  std::map<int, std::deque<platform::JobStatus>> states;
  std::vector<std::pair<std::string, int>> looks;
  std::vector<int> cancelled;
  std::vector<int> empty_jobs;  // what EmptyJobsSince answers
  std::string unreachable;      // every call fails with this message
};

class PrintDouble : public TCardPrint {
 public:
  TPrintOutcome Print(report::TppReport& card) override {
    if (during) during();
    card.DoBeforePrint();
    if (!failure.empty()) throw report::EPrintError(failure);
    if (outcome == TPrintOutcome::Refused) return outcome;
    // As the spooler does: the job exists, and its watcher knows, before its document goes out.
    const int job_id = ++last_job;
    if (platform::JobWatch* watch = platform::Find<platform::JobWatch>()) watch->JobCreated(printer, job_id);
    if (!failure_after_job.empty()) throw report::EPrintError(failure_after_job);
    PrintedCard printed;
    for (int n = 1; n <= kCardLines; ++n) {
      printed.texts.push_back(CardLabel(card, n).Text());
      printed.lefts.push_back(CardLabel(card, n).mmLeft());
      printed.tops.push_back(CardLabel(card, n).mmTop());
    }
    cards.push_back(printed);
    return outcome;
  }
  std::vector<PrintedCard> cards;
  std::string failure;            // the print operation fails with this message, before any job
  std::string failure_after_job;  // ... or after its job was made
  std::string printer = "Card";
  int last_job = 0;
  TPrintOutcome outcome = TPrintOutcome::Printed;
  std::function<void()> during;  // runs while the print operation holds the loop
};

// The bytes of a literal, zero bytes included, without its terminator.
template <size_t N>
std::string Bytes(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// Sets the file's last write time `seconds` before now.
inline void Age(const std::filesystem::path& path, int seconds) {
  std::filesystem::last_write_time(
      path, std::filesystem::file_time_type::clock::now() - std::chrono::seconds(seconds));
}

// Eight lines "<prefix>1".."<prefix>8", CR LF after each.
inline std::string EightLines(const std::string& prefix) {
  std::string text;
  for (int n = 1; n <= 8; ++n) text += prefix + std::to_string(n) + "\r\n";
  return text;
}

}  // namespace parvel::agent::testing
