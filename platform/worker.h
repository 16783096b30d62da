// Work beside the frame loop: the one kind of thread the program starts for
// what may take long (asking the home router, the room directory). A worker
// runs one job on a thread of its own; its owner starts it, may ask it to
// stop, and lets it go without waiting. A job looks at its StopToken at
// least every kWorkerTurnMs and, once asked to stop, ends within its own
// small bound (a few hundred milliseconds to say goodbye to a server), so
// that the program's end (stopAllWorkers) is bounded by construction.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

// Longest a job may go without looking at its token.
inline constexpr uint32_t kWorkerTurnMs = 50;

struct WorkerState;

// What a job sees of its owner's wishes.
class StopToken {
 public:
  explicit StopToken(std::shared_ptr<WorkerState> state) : state_(std::move(state)) {}
  bool stopRequested() const;
  // Waits ms or until a stop is asked for, whichever comes first; true when
  // a stop was asked for.
  bool sleepFor(uint32_t ms) const;

 private:
  std::shared_ptr<WorkerState> state_;
};

class Worker {
 public:
  using Job = std::function<void(const StopToken&)>;

  Worker() = default;
  // Lets the worker go (release).
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Runs job on a thread of its own; a worker started before is let go
  // first. False, and nothing runs, when the system gives no thread.
  bool start(Job job);
  // Started, and its job not finished yet.
  bool running() const;
  void requestStop();
  // Asks the job to stop and lets it finish by itself, without waiting: it
  // is joined once it has finished (reapWorkers) or at the program's end
  // (stopAllWorkers). The worker can be started again.
  void release();

 private:
  std::shared_ptr<WorkerState> state_;
};

// Joins the workers let go that have finished. Never waits; starting a
// worker does it too.
void reapWorkers();
// The program's end: asks every worker still running to stop, and waits up
// to limitMs in all for them to finish. False when some are still running
// then (the caller ends the process around them).
bool stopAllWorkers(uint32_t limitMs);
// Workers started and not yet joined (running, or finished and not reaped).
int liveWorkers();

}  // namespace platform
