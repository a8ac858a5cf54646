#include "platform/linux/qt_message_box.h"

#include <cctype>
#include <filesystem>

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace parvel::platform::linux_os {

std::string TitleOfProgramFile(const std::string& file_name) {
  std::string title = file_name.substr(0, file_name.find('.'));
  for (size_t i = 1; i < title.size(); ++i) {
    title[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(title[i])));
  }
  return title;
}

std::string MessageLine(const std::string& caption, const std::string& text) {
  std::string line = caption + ": ";
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      line.push_back(' ');
    } else if (text[i] == '\n') {
      line.push_back(' ');
    } else {
      line.push_back(text[i]);
    }
  }
  return line;
}

QtMessageBoxes::QtMessageBoxes(Display display, std::FILE* log) : display_(display), log_(log) {}

bool QtMessageBoxes::CanShow() const {
  if (display_ == Display::Hidden) return false;
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return false;
  if (display_ == Display::Shown) return true;
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

std::string QtMessageBoxes::ApplicationTitle() const {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : TitleOfProgramFile(exe.filename().string());
}

MessageButton QtMessageBoxes::Show(MessageKind kind, const std::string& caption, const std::string& text,
                                   MessageButtons buttons) {
  if (log_ != nullptr) {
    const std::string line = MessageLine(caption, text) + "\n";
    std::fputs(line.c_str(), log_);
    std::fflush(log_);
  }
  if (!CanShow()) return DefaultButton(buttons);

  QMessageBox box;
  box.setWindowTitle(QString::fromStdString(caption));
  box.setText(QString::fromStdString(text));
  switch (kind) {
    case MessageKind::None:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case MessageKind::Information:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageKind::Warning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageKind::Error:
      box.setIcon(QMessageBox::Critical);
      break;
    case MessageKind::Question:
      box.setIcon(QMessageBox::Question);
      break;
  }
  const struct {
    MessageButton ours;
    QMessageBox::StandardButton qt;
  } map[] = {{mbOK, QMessageBox::Ok},        {mbCancel, QMessageBox::Cancel}, {mbYes, QMessageBox::Yes},
             {mbNo, QMessageBox::No},        {mbAbort, QMessageBox::Abort},   {mbRetry, QMessageBox::Retry},
             {mbIgnore, QMessageBox::Ignore}};
  QMessageBox::StandardButtons qt_buttons;
  for (const auto& m : map) {
    if ((buttons & m.ours) != 0) qt_buttons |= m.qt;
  }
  if (qt_buttons == QMessageBox::NoButton) qt_buttons = QMessageBox::Ok;
  box.setStandardButtons(qt_buttons);
  for (const auto& m : map) {
    if (m.ours == DefaultButton(buttons)) box.setDefaultButton(m.qt);
  }
  const int pressed = box.exec();
  for (const auto& m : map) {
    if (pressed == m.qt) return m.ours;
  }
  // Closed without a button (Escape, the window's close box): the box's escape answer.
  return (buttons & mbCancel) != 0 ? mbCancel : DefaultButton(buttons);
}

}  // namespace parvel::platform::linux_os
