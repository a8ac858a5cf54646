#pragma once
// A print job after the spooler took it: who is told its id the moment it exists, and what the
// spooler says of it afterwards, until it ends.
#include <cstdint>
#include <string>
#include <vector>

namespace parvel::platform {

// One look at a job and at the printer it waits for, in the spooler's own words.
struct JobStatus {
  enum class State {
    kPending,     // waiting for the printer
    kHeld,        // held (by an operator, or until a time)
    kProcessing,  // being printed
    kStopped,     // the printer stopped while printing it; the job waits for it
    kCanceled,    // ended without printing: cancelled, or refused by the printer
    kAborted,     // ended by a failure
    kCompleted,   // ended: all its data went to the printer
    kUnknown,     // the spooler does not know the job (any more)
  };
  State state = State::kUnknown;
  int documents = 0;                         // documents the job holds
  std::vector<std::string> job_reasons;      // job-state-reasons, "none" left out
  std::string job_message;                   // job-printer-state-message
  bool printer_stopped = false;              // the queue is stopped (paused, or by an error)
  bool printer_accepting = true;             // the queue accepts jobs
  std::vector<std::string> printer_reasons;  // printer-state-reasons, "none" left out
  std::string printer_message;               // printer-state-message

  bool Ended() const {
    return state == State::kCanceled || state == State::kAborted || state == State::kCompleted ||
           state == State::kUnknown;
  }
};

// The word a report uses for a job state: "pending", "held", "processing", "stopped",
// "canceled", "aborted", "completed", "unknown".
const char* StateWord(JobStatus::State state);

// What a status says beyond its state, joined for a report: the job's reasons and message, then
// the printer's ("job: printer-stopped; printer: media-empty-error, Out of cards"). Empty when
// the spooler says nothing more.
std::string Details(const JobStatus& status);

class PrintJobs {
 public:
  virtual ~PrintJobs() = default;
  // The job `job_id` on printer `device`, with the printer's state where the job waits or has
  // ended without completing. Throws SpoolerError when the spooler cannot be asked.
  virtual JobStatus Status(const std::string& device, int job_id) = 0;
  // Cancels the job; a job that has already ended stays as it is. Throws SpoolerError when the
  // spooler cannot be asked or refuses.
  virtual void Cancel(const std::string& device, int job_id) = 0;
  // The jobs on `device` of this program's user that have not ended, hold no document and were
  // created at or after `since` (seconds since the epoch, the spooler's clock): what a print that
  // died between asking for a job and sending its document leaves behind. Throws SpoolerError.
  virtual std::vector<int> EmptyJobsSince(const std::string& device, int64_t since) = 0;
};

// Told of every job the moment the spooler hands out its id, before its document goes out. A
// watch that throws stops the print: the job is cancelled and the print fails with its message.
class JobWatch {
 public:
  virtual ~JobWatch() = default;
  virtual void JobCreated(const std::string& device, int job_id) = 0;
};

}  // namespace parvel::platform
