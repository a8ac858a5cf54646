// Message boxes on Linux: every box is one line on standard error; without a display nothing is
// shown and nothing waits; with one, a modal box answers the button pressed.
#include "platform/linux/qt_message_box.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace {

using namespace parvel::platform;
using namespace parvel::platform::linux_os;

// What a box wrote to its log file.
std::string Written(std::FILE* file) {
  std::rewind(file);
  std::string out;
  char buf[256];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, file)) > 0) out.append(buf, n);
  return out;
}

TEST(QtMessageBoxes, LineBreaksBecomeSingleBlanks) {
  struct Case {
    const char* text;
    const char* line;
  } cases[] = {
      {"plain", "Warning: plain"},
      {"first\r\n\r\nsecond", "Warning: first  second"},  // two breaks, two blanks
      {"a\rb\nc", "Warning: a b c"},
      {"ends\n", "Warning: ends "},
      {"", "Warning: "},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageLine("Warning", c.text), c.line) << c.text;
}

TEST(QtMessageBoxes, ApplicationTitleIsTheFileNameUpToItsFirstPoint) {
  EXPECT_EQ(TitleOfProgramFile("PARVEL.EXE"), "Parvel");
  EXPECT_EQ(TitleOfProgramFile("parvel"), "parvel");
  EXPECT_EQ(TitleOfProgramFile("Card.Agent.bin"), "Card");
  EXPECT_EQ(TitleOfProgramFile(".hidden"), "");
}

TEST(QtMessageBoxes, WithoutADisplayOnlyTheLineIsWrittenAndTheDefaultAnswers) {
  ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  QtMessageBoxes boxes(QtMessageBoxes::Display::Detect, log);
  EXPECT_FALSE(boxes.CanShow());
  EXPECT_EQ(boxes.Show(MessageKind::Warning, "Warning", "no printer\r\nhere", mbOK), mbOK);
  EXPECT_EQ(boxes.Show(MessageKind::Question, "Parvel", "go on?", mbYes | mbNo), mbYes);
  EXPECT_EQ(QApplication::topLevelWidgets().size(), 0);
  EXPECT_EQ(Written(log), "Warning: no printer here\nParvel: go on?\n");
  std::fclose(log);
}

TEST(QtMessageBoxes, TheLineGoesToStandardErrorByDefault) {
  QtMessageBoxes boxes;
  ::testing::internal::CaptureStderr();
  boxes.Show(MessageKind::Error, "Parvel", "List index out of bounds (3)", mbOK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Parvel: List index out of bounds (3)\n");
}

TEST(QtMessageBoxes, AShownBoxIsModalAndAnswersTheButtonPressed) {
  std::FILE* log = std::tmpfile();
  ASSERT_NE(log, nullptr);
  QtMessageBoxes boxes(QtMessageBoxes::Display::Shown, log);
  ASSERT_TRUE(boxes.CanShow());
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  // Presses No once the box runs its own loop.
  std::function<void()> press = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      QTimer::singleShot(10, press);
      return;
    }
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->button(QMessageBox::No)->click();
  };
  QTimer::singleShot(0, press);
  EXPECT_EQ(boxes.Show(MessageKind::Question, "Parvel", "Print again?", mbYes | mbNo), mbNo);
  EXPECT_EQ(title, "Parvel");
  EXPECT_EQ(text, "Print again?");
  EXPECT_EQ(icon, QMessageBox::Question);
  EXPECT_EQ(Written(log), "Parvel: Print again?\n");  // written before the box waits
  std::fclose(log);
}

}  // namespace
