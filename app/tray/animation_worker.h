#pragma once
// A thread that, every interval, posts one frame step to the message loop. It never touches the
// icon itself: the step runs on the loop's thread, and only while `context` lives.
#include <QObject>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace parvel::tray {

class TAnimationWorker {
 public:
  // Starts held; Run lets it step.
  TAnimationWorker(QObject* context, std::function<void()> step, std::chrono::milliseconds interval);
  // Tells the thread to end and waits for it.
  ~TAnimationWorker();
  TAnimationWorker(const TAnimationWorker&) = delete;
  TAnimationWorker& operator=(const TAnimationWorker&) = delete;

  void Run();
  void Hold();
  bool Running() const;
  void SetInterval(std::chrono::milliseconds interval);

 private:
  void Loop();

  QObject* context_;
  std::function<void()> step_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::chrono::milliseconds interval_;
  bool held_ = true;
  bool ending_ = false;
  std::thread thread_;
};

}  // namespace parvel::tray
