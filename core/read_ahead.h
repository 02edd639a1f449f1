// A helper thread that makes one read at a time while the caller goes on:
// the copy job reads the next cluster of the source there while the current
// one is written to the target, and the defragmenter the next cluster it
// moves, so reading and writing overlap. The task only reads into memory the
// caller set aside for it; the caller waits for it before using that memory
// or starting another. Each user owns its worker.
#pragma once

#include <functional>

namespace core {

class ReadAheadWorker {
 public:
  using Task = std::function<bool()>;

  ReadAheadWorker();
  ~ReadAheadWorker();
  ReadAheadWorker(const ReadAheadWorker&) = delete;
  ReadAheadWorker& operator=(const ReadAheadWorker&) = delete;

  // Hands the task over (a task still running is waited for first).
  void Start(Task task);
  // Waits until the task handed over last is done; its result (false when
  // there was none). A task the helper has not begun yet is run right here.
  bool Wait();

 private:
  struct State;
  State* state_;
};

// A user of a worker names here how its reads made ahead are waited for and
// forgotten (once is enough); DropReadAheads does so for all of them, as
// core::CloseDisk does before a handle goes, so that no read is ever in
// flight on a closed (or by then reused) handle.
void AddReadAheadDropper(void (*drop)());
void DropReadAheads();

}  // namespace core
