#include "tests/support/task_thread.h"

namespace tavimo::testing {

TaskThread::TaskThread() : thread_([this] { Run(); }) {}

TaskThread::~TaskThread() {
  {
    const std::lock_guard lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TaskThread::Post(std::function<void()> task) {
  {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_all();
}

std::thread::id TaskThread::Id() const { return thread_.get_id(); }

void TaskThread::Run() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return quit_ || !tasks_.empty(); });
    if (tasks_.empty()) return;
    auto task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
}

}  // namespace tavimo::testing
