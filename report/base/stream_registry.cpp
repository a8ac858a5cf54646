// The class registry: which factory makes the objects of a stored class name.
#include <map>
#include <mutex>

#include "platform/text.h"
#include "report/base/communicator.h"
#include "report/base/relative.h"
#include "report/base/stream.h"
#include "report/base/stream_syntax.h"

namespace parvel::report {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, TComponentFactory> factories;  // keyed by the lower-case name
};

Registry& TheRegistry() {
  static Registry* registry = [] {
    auto* created = new Registry;
    created->factories["tppcommunicator"] = [](TComponent* owner) -> TComponent* {
      return new TppCommunicator(owner);
    };
    created->factories["tpprelative"] = [](TComponent* owner) -> TComponent* {
      return new TppRelative(owner);
    };
    return created;
  }();
  return *registry;
}

}  // namespace

TComponentFactory stream_syntax::FindFactory(const std::string& className) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto it = registry.factories.find(text::Lower(className));
  return it == registry.factories.end() ? TComponentFactory() : it->second;
}

void RegisterClass(const std::string& className, TComponentFactory factory) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.factories[text::Lower(className)] = std::move(factory);
}

void UnregisterClass(const std::string& className) {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.factories.erase(text::Lower(className));
}

bool IsClassRegistered(const std::string& className) {
  return static_cast<bool>(stream_syntax::FindFactory(className));
}

}  // namespace parvel::report
