#pragma once

namespace parvel::platform {

// Lets pending window messages, timer ticks and tray events run in the middle of long work.
// The engine calls it between its steps; without one installed nothing runs.
class MessagePump {
 public:
  virtual ~MessagePump() = default;
  virtual void ProcessMessages() = 0;
};

// Runs the installed pump once, when there is one.
void PumpMessages();

}  // namespace parvel::platform
