#include "platform/services.h"
#include "platform/message_pump.h"

namespace parvel::platform {

void PumpMessages() {
  if (MessagePump* pump = Find<MessagePump>()) pump->ProcessMessages();
}

}  // namespace parvel::platform
