#include "platform/message_pump.h"
#include "platform/services.h"

namespace parvel::platform {

void PumpMessages() {
  if (MessagePump* pump = Find<MessagePump>()) pump->ProcessMessages();
}

}  // namespace parvel::platform
