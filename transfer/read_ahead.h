// A helper thread that makes one read at a time while the job goes on: the
// copy job reads the next cluster of the source there while the current one
// is written to the target, so reading and writing overlap. The task only
// reads into memory the caller set aside for it; the caller waits for it
// before using that memory or starting another.
#pragma once

#include <functional>

namespace transfer {

class ReadAheadWorker {
 public:
  using Task = std::function<bool()>;
  // The one worker of the program, started on first use.
  static ReadAheadWorker& Instance();

  // Hands the task over (a task still running is waited for first).
  void Start(Task task);
  // Waits until the task handed over last is done; its result (false when
  // there was none). A task the helper has not begun yet is run right here.
  bool Wait();

  ~ReadAheadWorker();

 private:
  ReadAheadWorker();
  struct State;
  State* state_;
};

}  // namespace transfer
