#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tavimo::testing {

// Stands in for the GUI thread: runs posted tasks one after another, on a
// thread of its own; when it goes, it runs what is still queued first.
class TaskThread {
 public:
  TaskThread();
  ~TaskThread();
  TaskThread(const TaskThread&) = delete;
  TaskThread& operator=(const TaskThread&) = delete;

  // Queues `task`; callable from any thread.
  void Post(std::function<void()> task);
  std::thread::id Id() const;

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool quit_ = false;
  std::thread thread_;
};

}  // namespace tavimo::testing
