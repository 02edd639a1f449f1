#include "transfer/read_ahead.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace transfer {

struct ReadAheadWorker::State {
  std::mutex mutex;
  std::condition_variable changed;
  Task task;            // waiting to run
  bool running = false; // a task was handed over and is not done yet
  bool result = false;
  bool stop = false;
  std::atomic<bool> busy{false};   // the helper is running a task
  std::thread thread;

  void Loop() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || task; });
      if (stop) return;
      Task run = std::move(task);
      task = nullptr;
      busy.store(true, std::memory_order_relaxed);
      lock.unlock();
      const bool ok = run();
      lock.lock();
      result = ok;
      running = false;
      busy.store(false, std::memory_order_release);
      changed.notify_all();
    }
  }
};

ReadAheadWorker& ReadAheadWorker::Instance() {
  static ReadAheadWorker worker;
  return worker;
}

ReadAheadWorker::ReadAheadWorker() : state_(new State) {
  state_->thread = std::thread([s = state_] { s->Loop(); });
}

ReadAheadWorker::~ReadAheadWorker() {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->stop = true;
  }
  state_->changed.notify_all();
  if (state_->thread.joinable()) state_->thread.join();
  delete state_;
}

void ReadAheadWorker::Start(Task task) {
  Wait();
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->task = std::move(task);
    state_->running = true;
    state_->result = false;
  }
  state_->changed.notify_all();
}

bool ReadAheadWorker::Wait() {
  std::unique_lock<std::mutex> lock(state_->mutex);
  if (state_->task) {
    // The helper has not begun yet (a busy machine): the caller does the
    // read itself rather than wait for the helper to get its turn.
    Task run = std::move(state_->task);
    state_->task = nullptr;
    lock.unlock();
    const bool ok = run();
    lock.lock();
    state_->running = false;
    state_->result = false;
    return ok;
  }
  if (state_->running) {
    // The helper is at it and usually about to finish: a short spin keeps
    // the caller on its processor instead of putting it to sleep and waiting
    // for its turn again on a busy machine.
    lock.unlock();
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(300);
    while (state_->busy.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < until) {
    }
    lock.lock();
  }
  state_->changed.wait(lock, [&] { return !state_->running; });
  const bool result = state_->result;
  state_->result = false;
  return result;
}

}  // namespace transfer
