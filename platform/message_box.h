#pragma once
// Message boxes: a caption, a text, an icon kind and a row of buttons; the answer is the button
// pressed. The engine's warnings and the agent's error reports go through here.
#include <cstdint>
#include <string>

#include "platform/services.h"

namespace parvel::platform {

enum class MessageKind { None, Information, Warning, Error, Question };

// A set of buttons, one bit each; the answer is one of them.
enum MessageButton : uint32_t {
  mbOK = 1u << 0,
  mbCancel = 1u << 1,
  mbYes = 1u << 2,
  mbNo = 1u << 3,
  mbAbort = 1u << 4,
  mbRetry = 1u << 5,
  mbIgnore = 1u << 6,
};
using MessageButtons = uint32_t;

// The button a box answers when nobody can press one: the first of the set in the order above,
// so a box that offers OK answers OK.
inline MessageButton DefaultButton(MessageButtons buttons) {
  for (uint32_t bit = 1; bit <= mbIgnore; bit <<= 1) {
    if ((buttons & bit) != 0) return static_cast<MessageButton>(bit);
  }
  return mbOK;
}

class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Shows the box modally and answers the button pressed; a box that cannot be shown answers
  // DefaultButton(buttons) at once.
  virtual MessageButton Show(MessageKind kind, const std::string& caption, const std::string& text,
                             MessageButtons buttons) = 0;
  // The caption of boxes that carry the application's name: the program file's name up to its
  // first ".", every character after the first in lower case.
  virtual std::string ApplicationTitle() const = 0;
};

// Shows a box through the installed service; without one nothing is shown and the default
// button answers.
inline MessageButton ShowMessageBox(MessageKind kind, const std::string& caption, const std::string& text,
                                    MessageButtons buttons) {
  if (MessageBoxes* boxes = Find<MessageBoxes>()) return boxes->Show(kind, caption, text, buttons);
  return DefaultButton(buttons);
}

inline std::string ApplicationTitle() {
  if (MessageBoxes* boxes = Find<MessageBoxes>()) return boxes->ApplicationTitle();
  return "";
}

}  // namespace parvel::platform
