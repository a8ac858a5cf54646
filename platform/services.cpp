#include "platform/services.h"

#include <mutex>
#include <utility>
#include <vector>

#include "platform/message_pump.h"

namespace parvel::platform {
namespace {

struct Teardown {
  std::mutex lock;
  std::vector<std::pair<const void*, std::function<void()>>> releases;
};

Teardown& TheTeardown() {
  static Teardown* teardown = new Teardown;  // outlives every static that may register
  return *teardown;
}

}  // namespace

void AtTeardown(const void* key, std::function<void()> release) {
  Teardown& t = TheTeardown();
  std::lock_guard<std::mutex> guard(t.lock);
  for (auto& entry : t.releases) {
    if (entry.first == key) {
      entry.second = std::move(release);
      return;
    }
  }
  t.releases.emplace_back(key, std::move(release));
}

void RunTeardown() {
  std::vector<std::pair<const void*, std::function<void()>>> releases;
  {
    Teardown& t = TheTeardown();
    std::lock_guard<std::mutex> guard(t.lock);
    releases.swap(t.releases);
  }
  // Outside the lock: a release may register again or free what registers.
  for (auto it = releases.rbegin(); it != releases.rend(); ++it) it->second();
}

void PumpMessages() {
  if (MessagePump* pump = Find<MessagePump>()) pump->ProcessMessages();
}

}  // namespace parvel::platform
