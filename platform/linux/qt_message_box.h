#pragma once
// Message boxes on Linux: every box is written as one line "<caption>: <text>" on standard
// error; with a display it is also shown as a modal QMessageBox.
#include <cstdio>
#include <string>

#include "platform/message_box.h"

namespace parvel::platform::linux_os {

// The application title of a program file name ("PARVEL.EXE" gives "Parvel").
std::string TitleOfProgramFile(const std::string& file_name);
// The box as one line: caption, ": ", text with each line break (CR LF, CR or LF) as one blank.
std::string MessageLine(const std::string& caption, const std::string& text);

class QtMessageBoxes : public MessageBoxes {
 public:
  enum class Display { Detect, Shown, Hidden };
  // Detect: boxes are shown when a QApplication runs on a platform with a display (not
  // "offscreen" or "minimal"). `log` receives the lines (standard error by default).
  explicit QtMessageBoxes(Display display = Display::Detect, std::FILE* log = stderr);

  MessageButton Show(MessageKind kind, const std::string& caption, const std::string& text,
                     MessageButtons buttons) override;
  std::string ApplicationTitle() const override;

  // Whether a box would be shown now.
  bool CanShow() const;

 private:
  Display display_;
  std::FILE* log_;
};

}  // namespace parvel::platform::linux_os
