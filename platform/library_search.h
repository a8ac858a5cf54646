#pragma once
#include <filesystem>
#include <vector>

namespace parvel::platform {

// Where data-only modules (language modules) are looked for, in order.
class LibrarySearch {
 public:
  virtual ~LibrarySearch() = default;
  // The program's folder, then the folders of LD_LIBRARY_PATH, then the system library folders.
  virtual std::vector<std::filesystem::path> Folders() const = 0;
};

}  // namespace parvel::platform
