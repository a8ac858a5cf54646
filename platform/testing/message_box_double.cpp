#include "platform/testing/message_box_double.h"

namespace parvel::platform::doubles {

MessageButton MessageBoxDouble::Show(MessageKind kind, const std::string& caption, const std::string& text,
                                     MessageButtons buttons) {
  boxes.push_back({kind, caption, text, buttons});
  if (answer && (buttons & *answer) != 0) return *answer;
  return DefaultButton(buttons);
}

}  // namespace parvel::platform::doubles
