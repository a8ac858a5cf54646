#pragma once
// The polling timer: armed with the platform when, and only when, its interval is not 0, it is
// enabled and it has a handler. Every change of the interval or the enabled state disarms it and
// re-arms it when the rule still holds, so the next tick comes one full interval after the change.
#include <cstdint>
#include <functional>
#include <memory>

namespace parvel::agent {

class TTimer {
 public:
  TTimer() = default;
  virtual ~TTimer() = default;
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t value);
  void SetOnTimer(std::function<void()> handler);
  bool Armed() const { return armed_; }

 protected:
  // The platform's timer: start ticking every `interval` milliseconds, and stop.
  virtual void Arm(uint32_t interval) = 0;
  virtual void Disarm() = 0;
  // Called by the platform at every tick.
  void Fire();

 private:
  void Update();

  bool enabled_ = false;
  uint32_t interval_ = 100;
  bool armed_ = false;
  std::function<void()> on_timer_;
};

// Ticks through the Qt event loop.
class TQtTimer : public TTimer {
 public:
  TQtTimer();
  ~TQtTimer() override;

 protected:
  void Arm(uint32_t interval) override;
  void Disarm() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace parvel::agent
