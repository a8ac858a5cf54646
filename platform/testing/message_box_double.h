#pragma once
// Message boxes for tests: every box is recorded; the answer is the one the test chose, else
// the box's default button.
#include <optional>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace parvel::platform::doubles {

struct RecordedBox {
  MessageKind kind = MessageKind::None;
  std::string caption;
  std::string text;
  MessageButtons buttons = 0;
};

class MessageBoxDouble : public MessageBoxes {
 public:
  MessageButton Show(MessageKind kind, const std::string& caption, const std::string& text,
                     MessageButtons buttons) override;
  std::string ApplicationTitle() const override { return title; }

  std::vector<RecordedBox> boxes;
  std::optional<MessageButton> answer;
  std::string title = "Parvel";
};

}  // namespace parvel::platform::doubles
