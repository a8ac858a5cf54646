#pragma once
// The engine's list of the machine's printers: "Default", "Screen", then the spooler's
// printers in its order. The program shares one list, built once; tests build their own
// against a spooler of their choosing.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/spooler.h"
#include "report/output/printer_info.h"

namespace parvel::report {

class TppPrinterList {
 public:
  // Builds from the installed spooler (none: only the two pseudo entries), and asks whichever
  // spooler is installed when it asks again later: the one it was built with may be gone.
  TppPrinterList();
  // Builds from `spooler`, which must outlive the list.
  explicit TppPrinterList(platform::Spooler* spooler);
  ~TppPrinterList();
  TppPrinterList(const TppPrinterList&) = delete;
  TppPrinterList& operator=(const TppPrinterList&) = delete;

  int Count() const { return static_cast<int>(entries_.size()); }
  const std::vector<std::string>& PrinterNames() const { return names_; }
  TppPrinterInfo* Entry(int index) const;

  // "Default" is the default printer's entry, "default" the pseudo entry itself; a printer the
  // spooler reaches by its address joins the list when asked for; any other name that is not
  // installed gives the default printer's entry, or none. While the spooler has never
  // answered, a name not in the list asks it again first.
  TppPrinterInfo* GetPrinterInfo(const std::string& name) const;
  // Asks the spooler again (for its printers too while it has never answered) and stores the
  // answer in DefaultPrinterName.
  std::string ReadDefaultPrinter();
  // The first entry whose device is exactly `device`, or empty.
  std::string PrinterNameForDevice(const std::string& device) const;
  const std::string& DefaultPrinterName() const { return default_printer_name_; }

 private:
  void Build();
  // Adds the spooler's printers when the list was made without them because it did not answer.
  // Entries already listed stay where they are: printers and setups hold pointers to them.
  void AddSpoolerPrinters() const;
  TppPrinterInfo* Find(const std::string& name) const;
  platform::Spooler* Spooler() const;

  platform::Spooler* spooler_ = nullptr;  // null: the installed one
  bool spooler_given_ = false;
  // A spooler that does not answer (a CUPS started after the program) leaves the list without
  // printers until it answers.
  mutable bool answered_ = false;
  mutable std::vector<std::string> names_;
  mutable std::vector<std::unique_ptr<TppPrinterInfo>> entries_;
  std::string default_printer_name_;
};

// The one lock of the process around the first creation of the shared printer objects.
std::recursive_mutex& PrinterListLock();

// The shared list, built on first use from the installed spooler and never rebuilt.
TppPrinterList& PrinterList();

// For the guard's lifetime the shared list is a fresh one built from the spooler installed now;
// the list it stood in for comes back after. The shared default printer is let go at both ends,
// since it points into the list. Whatever holds entries of the list must go before the guard.
class ScopedPrinterList {
 public:
  ScopedPrinterList();
  ~ScopedPrinterList();
  ScopedPrinterList(const ScopedPrinterList&) = delete;
  ScopedPrinterList& operator=(const ScopedPrinterList&) = delete;

 private:
  std::unique_ptr<TppPrinterList> list_;
  TppPrinterList* previous_ = nullptr;
};

// Called when the shared list is built, so the shared default printer wrapper is freed first.
void SetDefaultPrinterReleaser(std::function<void()> releaser);

// The placeholder entry "No Printer Installed" (device and driver "None", empty port).
TppPrinterInfo& NoPrinterInstalledInfo();

}  // namespace parvel::report
