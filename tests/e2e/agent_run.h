#pragma once
// The agent program run as a user runs it: a copy of the program in an empty scratch folder with
// its INI file beside it and a spool folder, started headless, its standard error read line by
// line, ended with SIGTERM. Conditions are awaited with deadlines, never with fixed sleeps.
#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace parvel::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// How long a condition may take to come true. Generous: the sanitizer build on a loaded machine
// starts the agent and runs CUPS's filters slowly.
inline constexpr std::chrono::milliseconds kDeadline = 60s;
// How long the tests watch for something that must not happen: many ticks of TIME=100.
inline constexpr std::chrono::milliseconds kQuietWindow = 1500ms;

// Polls `done` until it holds or `timeout` has passed; answers `done()`.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kDeadline);

// The decimal separator of the locale the agent runs in (the environment's, as setlocale(LC_ALL,
// "") takes it).
char AgentDecimalSeparator();
// `mm` with three decimals and the agent's decimal separator.
std::string Decimal(double mm);

// The INI file's text: section TELA with PATH, TIME, IMPRESSORA, TOP1..TOP8 and LEFT1..LEFT8,
// the positions of the card layout written with the agent's decimal separator.
class IniText {
 public:
  IniText(const fs::path& spool, const std::string& printer);
  // Sets (or adds) `key` to `value` as written.
  IniText& Set(const std::string& key, const std::string& value);
  IniText& Remove(const std::string& key);
  IniText& WithoutSection();
  std::string Text() const;

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
  bool section_ = true;
};

// The card file text of `lines`, each ended by a line feed.
std::string CardText(const std::vector<std::string>& lines);
// Eight distinct words starting with `prefix`: prefix + "1" .. prefix + "8".
std::vector<std::string> CardLines(const std::string& prefix);
// Writes a complete card as a careful producer does: under a hidden name, dated two seconds
// back (so the agent need not watch it settle), then renamed into place.
void DropCard(const fs::path& file, const std::string& content);

// One run of the agent program from a copy in a scratch folder.
class AgentRun {
 public:
  // Copies the program into a new scratch folder and makes the spool folder "spool" there.
  AgentRun();
  ~AgentRun();
  AgentRun(const AgentRun&) = delete;
  AgentRun& operator=(const AgentRun&) = delete;

  const fs::path& Folder() const { return folder_; }
  pid_t Pid() const { return pid_; }
  fs::path Spool() const { return folder_ / "spool"; }
  fs::path Program() const { return folder_ / "parvel"; }
  void WriteIni(const std::string& text) const;

  // Environment changes for the agent on top of the test's own: headless by default
  // (QT_QPA_PLATFORM=offscreen) with a private XDG_RUNTIME_DIR.
  std::map<std::string, std::optional<std::string>> environment;

  // Starts the program with `args`; its standard output and error go to files.
  void Start(const std::vector<std::string>& args = {});
  bool Running();
  // Waits for its end; its exit status (128 + signal when killed), or nothing on timeout.
  std::optional<int> Wait(std::chrono::milliseconds timeout = kDeadline);
  // SIGTERM, then waits; the exit status, or nothing when it did not end in time (it is then
  // killed).
  std::optional<int> Stop();

  // From the next Start the program runs as `user` (a name of the password database), with its
  // scratch folder, runtime folder and HOME made that user's; the spool folder stays the test's,
  // to open up as the case needs. False when there is no such user.
  bool RunAs(const std::string& user);
  // From the next Start the program's standard input, output and error are a pseudo-terminal,
  // its controlling terminal, as when a user starts it from a shell. What it writes there (on
  // either stream, and on /dev/tty) is read from the terminal's other end as it comes and is what
  // Errors and ErrorLines read, without the carriage returns the terminal adds.
  void UseTerminal() { terminal_ = true; }
  // Sends `signal` and waits for the end: the exit status, or nothing when it did not end.
  std::optional<int> Kill(int signal = SIGKILL);
  // Starts the program again once its run has ended; what the earlier runs wrote on standard
  // error stays readable in EarlierErrors.
  void Restart(const std::vector<std::string>& args = {});
  const std::string& EarlierErrors() const { return earlier_errors_; }

  std::string Output() const;
  std::string Errors() const;
  // The complete lines written on standard error so far.
  std::vector<std::string> ErrorLines() const;
  // How many of those lines equal `line`.
  size_t Count(const std::string& line) const;
  // Waits until `line` has been written on standard error.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout = kDeadline) const;

 private:
  fs::path folder_;
  pid_t pid_ = -1;
  std::optional<int> status_;
  std::optional<std::pair<uid_t, gid_t>> run_as_;
  std::string earlier_errors_;
  bool terminal_ = false;
  int terminal_master_ = -1;
  std::atomic<bool> terminal_done_{false};
  std::thread terminal_reader_;

  // Copies what the terminal shows into the standard error file until the program has ended.
  void ReadTerminal(int into);
  // Once the program has ended: drains the terminal and closes it.
  void CloseTerminal();
};

}  // namespace parvel::e2e
