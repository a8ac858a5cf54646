#include "app/program/desktop.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <string_view>

namespace parvel::agent {

namespace {

bool XDisplayAnswers() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return false;
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

}  // namespace

bool PrepareDisplay() {
  if (const char* platform = std::getenv("QT_QPA_PLATFORM"); platform != nullptr && *platform != '\0') {
    const std::string_view name = platform;
    return !name.starts_with("offscreen") && !name.starts_with("minimal");
  }
  if (XDisplayAnswers()) return true;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return false;
}

}  // namespace parvel::agent
