#include "core/read_ahead.h"

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace core {

namespace {

using Clock = std::chrono::steady_clock;

// How long the caller looks out for the end of a task before it goes to
// sleep: the read is usually about to end when the caller's write has, and
// a sleeping caller waits for a wake-up that can cost a fifth of a
// cluster's write on a virtual machine.
constexpr auto kCallerSpin = std::chrono::microseconds(300);

inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

std::vector<void (*)()>& Droppers() {
  static std::vector<void (*)()> droppers;
  return droppers;
}

}  // namespace

void AddReadAheadDropper(void (*drop)()) {
  for (auto d : Droppers())
    if (d == drop) return;
  Droppers().push_back(drop);
}

void DropReadAheads() {
  for (auto d : Droppers()) d();
}

struct ReadAheadWorker::State {
  std::mutex mutex;
  std::condition_variable changed;
  Task task;             // waiting to run
  bool running = false;  // a task was handed over and is not done yet
  bool result = false;
  bool stop = false;
  std::atomic<bool> busy{false};   // a task is handed over and not done
  std::thread thread;

  void Loop() {
#ifdef SCHED_BATCH
    // Woken by the caller, the helper never takes the caller's processor
    // from it (a woken thread can land on the waker's processor and push
    // the waker aside for a while): the caller goes on to its write at
    // once, and the read runs on another processor or while the write waits
    // for the disk.
    const sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
#endif
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stop || task; });
      if (stop) return;
      Task run = std::move(task);
      task = nullptr;
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
    state_->busy.store(true, std::memory_order_relaxed);
  }
  state_->changed.notify_all();
}

bool ReadAheadWorker::Wait() {
  if (state_->busy.load(std::memory_order_acquire)) {
    // The helper is at it and usually about to finish: a short look-out
    // keeps the caller on its processor instead of putting it to sleep.
    const auto until = Clock::now() + kCallerSpin;
    while (state_->busy.load(std::memory_order_acquire) && Clock::now() < until) Relax();
  }
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
    state_->busy.store(false, std::memory_order_release);
    return ok;
  }
  state_->changed.wait(lock, [&] { return !state_->running; });
  const bool result = state_->result;
  state_->result = false;
  return result;
}

}  // namespace core
