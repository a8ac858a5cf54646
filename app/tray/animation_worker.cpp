#include "app/tray/animation_worker.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace parvel::tray {

TAnimationWorker::TAnimationWorker(QObject* context, std::function<void()> step,
                                   std::chrono::milliseconds interval)
    : context_(context), step_(std::move(step)), interval_(interval), thread_([this] { Loop(); }) {}

TAnimationWorker::~TAnimationWorker() {
  {
    std::lock_guard lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TAnimationWorker::Run() {
  {
    std::lock_guard lock(mutex_);
    held_ = false;
  }
  wake_.notify_all();
}

void TAnimationWorker::Hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

bool TAnimationWorker::Running() const {
  std::lock_guard lock(mutex_);
  return !held_;
}

void TAnimationWorker::SetInterval(std::chrono::milliseconds interval) {
  std::lock_guard lock(mutex_);
  interval_ = interval;
}

void TAnimationWorker::Loop() {
  std::unique_lock lock(mutex_);
  while (!ending_) {
    if (held_) {
      wake_.wait(lock, [this] { return ending_ || !held_; });
      continue;
    }
    if (wake_.wait_for(lock, interval_, [this] { return ending_ || held_; })) continue;
    if (QCoreApplication::closingDown()) break;
    // Queued: the step runs on the loop's thread, and is dropped once the context is gone.
    QMetaObject::invokeMethod(context_, step_, Qt::QueuedConnection);
  }
}

}  // namespace parvel::tray
