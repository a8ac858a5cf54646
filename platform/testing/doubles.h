#pragma once
// Deterministic stand-ins for the operating system, for tests.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/library_search.h"
#include "platform/message_box.h"
#include "platform/message_pump.h"
#include "platform/regional_settings.h"
#include "platform/screen.h"
#include "platform/services.h"
#include "platform/temp_files.h"
#include "platform/testing/message_box_double.h"

namespace parvel::platform::doubles {

class FixedScreen : public Screen {
 public:
  explicit FixedScreen(int dpi_y = 96) : dpi_y(dpi_y) {}
  int LogicalPixelsPerInchY() const override { return dpi_y; }
  int dpi_y;
};

class FixedRegionalSettings : public RegionalSettings {
 public:
  explicit FixedRegionalSettings(char separator = '.') : separator(separator) {}
  char DecimalSeparator() const override { return separator; }
  char separator;
};

// Real files in a folder the test chooses; `fail_creation` makes every creation fail.
class FolderTempFiles : public TempFiles {
 public:
  explicit FolderTempFiles(std::filesystem::path folder) : folder(std::move(folder)) {}
  std::filesystem::path TempFolder() const override { return folder; }
  std::filesystem::path CreateTempFile(const std::filesystem::path& in, const std::string& prefix) override;
  std::filesystem::path folder;
  bool fail_creation = false;
  std::vector<std::filesystem::path> created;
};

class CountingPump : public MessagePump {
 public:
  void ProcessMessages() override { ++calls; }
  int calls = 0;
};

class FixedLibrarySearch : public LibrarySearch {
 public:
  std::vector<std::filesystem::path> Folders() const override { return folders; }
  std::vector<std::filesystem::path> folders;
};

// A fresh, empty folder under the system's temporary folder, removed with its content.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The doubles every unit test starts with: a 96 pixels-per-inch screen, "." as the decimal
// separator, temporary files in a scratch folder, no library folders, no message pump, and
// message boxes that are recorded.
class DefaultDoubles {
 public:
  DefaultDoubles();
  ~DefaultDoubles();
  DefaultDoubles(const DefaultDoubles&) = delete;
  DefaultDoubles& operator=(const DefaultDoubles&) = delete;

  ScratchFolder scratch;
  FixedScreen screen;
  FixedRegionalSettings regional;
  FolderTempFiles temp;
  FixedLibrarySearch libraries;
  MessageBoxDouble message_boxes;
};

}  // namespace parvel::platform::doubles
