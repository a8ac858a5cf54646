#include "app/agent/timer.h"

#include <QObject>
#include <QTimer>
#include <climits>
#include <utility>

namespace parvel::agent {

void TTimer::SetEnabled(bool value) {
  if (value == enabled_) return;
  enabled_ = value;
  Update();
}

void TTimer::SetInterval(uint32_t value) {
  if (value == interval_) return;
  interval_ = value;
  Update();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
  on_timer_ = std::move(handler);
  Update();
}

void TTimer::Update() {
  if (armed_) {
    Disarm();
    armed_ = false;
  }
  if (interval_ != 0 && enabled_ && on_timer_) {
    Arm(interval_);
    armed_ = true;
  }
}

void TTimer::Fire() {
  if (on_timer_) on_timer_();
}

struct TQtTimer::Impl {
  QTimer timer;
};

TQtTimer::TQtTimer() : impl_(std::make_unique<Impl>()) {
  QObject::connect(&impl_->timer, &QTimer::timeout, [this] { Fire(); });
}

TQtTimer::~TQtTimer() = default;

void TQtTimer::Arm(uint32_t interval) {
  impl_->timer.start(static_cast<int>(interval > INT_MAX ? INT_MAX : interval));
}

void TQtTimer::Disarm() { impl_->timer.stop(); }

}  // namespace parvel::agent
