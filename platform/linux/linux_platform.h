#pragma once
// The real operating-system services on Linux.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/library_search.h"
#include "platform/message_box.h"
#include "platform/message_pump.h"
#include "platform/regional_settings.h"
#include "platform/screen.h"
#include "platform/temp_files.h"

namespace parvel::platform::linux_os {

// Reads the primary screen's logical resolution once, from the running QGuiApplication;
// without a GUI application (or a screen) it answers the standard 96.
class QtScreen : public Screen {
 public:
  QtScreen();
  int LogicalPixelsPerInchY() const override { return dpi_y_; }

 private:
  int dpi_y_;
};

// The C library's locale after setlocale(LC_ALL, ""), read once.
class CLocaleRegionalSettings : public RegionalSettings {
 public:
  CLocaleRegionalSettings();
  char DecimalSeparator() const override { return separator_; }

 private:
  char separator_;
};

class PosixTempFiles : public TempFiles {
 public:
  std::filesystem::path TempFolder() const override;
  std::filesystem::path CreateTempFile(const std::filesystem::path& folder,
                                       const std::string& prefix) override;
};

class QtMessagePump : public MessagePump {
 public:
  void ProcessMessages() override;
};

class LinuxLibrarySearch : public LibrarySearch {
 public:
  std::vector<std::filesystem::path> Folders() const override;
};

// The folder of the running program's real file (/proc/self/exe).
std::filesystem::path ProgramFolder();

// Owns one of each service (CUPS spooler, Qt drawing surfaces included) and installs them for
// its lifetime. On its way out it first runs the registered teardown (so shared objects made from
// its services go before them), then puts back the services it replaced.
class LinuxPlatform {
 public:
  // `with_pump`: the agent lets messages run during prints; tools and tests do not.
  explicit LinuxPlatform(bool with_pump);
  ~LinuxPlatform();
  LinuxPlatform(const LinuxPlatform&) = delete;
  LinuxPlatform& operator=(const LinuxPlatform&) = delete;

 private:
  struct Parts;
  std::unique_ptr<Parts> parts_;
};

}  // namespace parvel::platform::linux_os
