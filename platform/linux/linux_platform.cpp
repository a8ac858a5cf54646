#include "platform/linux/linux_platform.h"

#include <malloc.h>
#include <unistd.h>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <system_error>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "platform/linux/cups_spooler.h"
#include "platform/linux/qt_drawing_surface.h"
#include "platform/linux/qt_message_box.h"
#include "platform/linux/qt_screen_surface.h"
#include "platform/services.h"

namespace parvel::platform::linux_os {

QtScreen::QtScreen() : dpi_y_(96) {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      const int dpi = static_cast<int>(std::lround(screen->logicalDotsPerInchY()));
      if (dpi > 0) dpi_y_ = dpi;
    }
  }
}

CLocaleRegionalSettings::CLocaleRegionalSettings() : separator_('.') {
  std::setlocale(LC_ALL, "");
  const std::lconv* conv = std::localeconv();
  if (conv != nullptr && conv->decimal_point != nullptr && conv->decimal_point[0] != '\0') {
    separator_ = conv->decimal_point[0];
  }
}

std::filesystem::path PosixTempFiles::TempFolder() const {
  std::error_code ec;
  std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
  return ec ? std::filesystem::path("/tmp") : folder;
}

std::filesystem::path PosixTempFiles::CreateTempFile(const std::filesystem::path& folder,
                                                     const std::string& prefix) {
  std::string pattern = (folder / (prefix + "XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot create a file in " + folder.string());
  }
  ::close(fd);
  return pattern;
}

void QtMessagePump::ProcessMessages() {
  if (QCoreApplication::instance() != nullptr) QCoreApplication::processEvents();
}

std::filesystem::path ProgramFolder() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path() : exe.parent_path();
}

std::vector<std::filesystem::path> LinuxLibrarySearch::Folders() const {
  std::vector<std::filesystem::path> folders{ProgramFolder()};
  if (const char* env = std::getenv("LD_LIBRARY_PATH")) {
    std::string list = env;
    std::size_t start = 0;
    while (start <= list.size()) {
      const std::size_t end = list.find(':', start);
      const std::string item = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
      if (!item.empty()) folders.emplace_back(item);
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  for (const char* system :
       {"/lib/x86_64-linux-gnu", "/usr/lib/x86_64-linux-gnu", "/lib", "/usr/lib", "/usr/local/lib"}) {
    folders.emplace_back(system);
  }
  return folders;
}

struct LinuxPlatform::Parts {
  QtScreen screen;
  CLocaleRegionalSettings regional;
  PosixTempFiles temp;
  QtMessagePump pump;
  LinuxLibrarySearch libraries;
  CupsSpooler spooler;
  QtSurfaceFactory surfaces{spooler};
  QtScreenSurfaceFactory screen_surfaces;
  QtMessageBoxes message_boxes;
  std::vector<std::function<void()>> put_back;  // in the order of installing
};

namespace {

// Installs `service` and remembers how to put back what it replaced.
template <class Interface>
void Take(std::vector<std::function<void()>>& put_back, Interface* service) {
  Interface* previous = Install<Interface>(service);
  put_back.push_back([service, previous] {
    if (Find<Interface>() == service) Install<Interface>(previous);
  });
}

}  // namespace

namespace {

// Qt's PDF writer compresses each page through two fresh 10 MB buffers. Left to itself, glibc
// grows the heap for them and trims it again when they are freed, so every page paid for the
// system calls and for faulting in zeroed memory anew (a third of a 1000-page job). Buffers of
// that size stay in the heap and a freed top is kept, so the next page reuses them; only pages
// that were touched are resident, a few per buffer.
constexpr int kHeapBufferLimit = 32 * 1024 * 1024;
constexpr int kKeptHeapTop = 64 * 1024 * 1024;

void KeepPageBuffersInTheHeap() {
  mallopt(M_MMAP_THRESHOLD, kHeapBufferLimit);
  mallopt(M_TRIM_THRESHOLD, kKeptHeapTop);
}

}  // namespace

LinuxPlatform::LinuxPlatform(bool with_pump) : parts_(std::make_unique<Parts>()) {
  KeepPageBuffersInTheHeap();
  // Nothing of parvel may wait for a person at a terminal.
  RefusePasswordPrompts();
  auto& put_back = parts_->put_back;
  Take<Screen>(put_back, &parts_->screen);
  Take<RegionalSettings>(put_back, &parts_->regional);
  Take<TempFiles>(put_back, &parts_->temp);
  Take<LibrarySearch>(put_back, &parts_->libraries);
  Take<Spooler>(put_back, &parts_->spooler);
  Take<PrintJobs>(put_back, &parts_->spooler);
  Take<SurfaceFactory>(put_back, &parts_->surfaces);
  Take<ScreenSurfaceFactory>(put_back, &parts_->screen_surfaces);
  Take<MessageBoxes>(put_back, &parts_->message_boxes);
  if (with_pump) Take<MessagePump>(put_back, &parts_->pump);
}

LinuxPlatform::~LinuxPlatform() {
  // What was made from these services goes first (the shared default printer's surface), while
  // they are still installed; then whatever they replaced comes back.
  RunTeardown();
  for (auto it = parts_->put_back.rbegin(); it != parts_->put_back.rend(); ++it) (*it)();
}

}  // namespace parvel::platform::linux_os
