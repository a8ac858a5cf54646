#include "platform/testing/doubles.h"

#include <unistd.h>
#include <cstdlib>
#include <fstream>
#include <system_error>

namespace parvel::platform::doubles {

std::filesystem::path FolderTempFiles::CreateTempFile(const std::filesystem::path& in,
                                                      const std::string& prefix) {
  if (fail_creation) {
    throw std::system_error(std::make_error_code(std::errc::no_space_on_device),
                            "cannot create a file in " + in.string());
  }
  std::string pattern = (in / (prefix + "XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + pattern);
  ::close(fd);
  created.emplace_back(pattern);
  return pattern;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "parvel-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "cannot create a scratch folder");
  }
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

DefaultDoubles::DefaultDoubles() : temp(scratch.path()) {
  Install<Screen>(&screen);
  Install<RegionalSettings>(&regional);
  Install<TempFiles>(&temp);
  Install<LibrarySearch>(&libraries);
  Install<MessagePump>(nullptr);
  Install<MessageBoxes>(&message_boxes);
}

DefaultDoubles::~DefaultDoubles() {
  Install<Screen>(nullptr);
  Install<RegionalSettings>(nullptr);
  Install<TempFiles>(nullptr);
  Install<LibrarySearch>(nullptr);
  Install<MessageBoxes>(nullptr);
}

}  // namespace parvel::platform::doubles
