#pragma once
#include <filesystem>
#include <string>

namespace parvel::platform {

// The system's temporary folder and files in it.
class TempFiles {
 public:
  virtual ~TempFiles() = default;
  virtual std::filesystem::path TempFolder() const = 0;
  // Creates a new empty file in `folder` whose name starts with `prefix` and answers its path.
  // Throws std::system_error when no file can be made.
  virtual std::filesystem::path CreateTempFile(const std::filesystem::path& folder,
                                               const std::string& prefix) = 0;
};

}  // namespace parvel::platform
