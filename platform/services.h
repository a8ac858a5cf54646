#pragma once
// The registry through which the report engine and the agent reach the operating system.
// Each interface of the seam is installed once (by the program at start, by a test fixture)
// and looked up by its type.
#include <functional>
#include <stdexcept>
#include <string>
#include <typeinfo>

namespace parvel::platform {

template <class Interface>
class Slot {
 public:
  static Interface*& Get() {
    static Interface* installed = nullptr;
    return installed;
  }
};

// Installs `service` for `Interface` (nullptr removes it) and answers the one it replaced.
template <class Interface>
Interface* Install(Interface* service) {
  Interface* previous = Slot<Interface>::Get();
  Slot<Interface>::Get() = service;
  return previous;
}

// The installed service, or nullptr.
template <class Interface>
Interface* Find() {
  return Slot<Interface>::Get();
}

// The installed service; a missing one is a fault of the program's start-up.
template <class Interface>
Interface& Get() {
  Interface* service = Slot<Interface>::Get();
  if (service == nullptr) {
    throw std::logic_error(std::string("no platform service installed for ") + typeid(Interface).name());
  }
  return *service;
}

// Installs a service for the lifetime of the guard and puts the previous one back after.
template <class Interface>
class ScopedInstall {
 public:
  explicit ScopedInstall(Interface* service) : previous_(Install(service)) {}
  ~ScopedInstall() { Install(previous_); }
  ScopedInstall(const ScopedInstall&) = delete;
  ScopedInstall& operator=(const ScopedInstall&) = delete;

 private:
  Interface* previous_;
};

// Shared objects that keep what the installed services made (a drawing surface, an open printer)
// register their release here, one per `key` (a later one replaces it). Whoever installed the
// services runs every release, newest first, before it takes them away: nothing outlives what it
// was made from, whatever order a program tears down in.
void AtTeardown(const void* key, std::function<void()> release);
void RunTeardown();

}  // namespace parvel::platform
