#include "platform/worker.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace platform {

// One worker's thread and flags, shared by its owner, its job's token and
// the list of live workers.
struct WorkerState {
  std::mutex mutex;
  std::condition_variable changed;  // stop asked for, or the job finished
  bool stop = false;
  bool finished = false;
  bool released = false;  // the owner has let it go
  std::thread thread;
};

namespace {

using Clock = std::chrono::steady_clock;

// Every worker started and not yet joined. Made once, never destroyed: a
// worker may still finish while the program's static objects go.
struct Live {
  std::mutex mutex;
  std::vector<std::shared_ptr<WorkerState>> workers;
};

Live& live() {
  static Live* const list = new Live;
  return *list;
}

void askToStop(WorkerState& state) {
  const std::lock_guard<std::mutex> lock(state.mutex);
  state.stop = true;
  state.changed.notify_all();
}

bool hasFinished(WorkerState& state) {
  const std::lock_guard<std::mutex> lock(state.mutex);
  return state.finished;
}

// Takes the workers that match out of the live list.
template <typename Match>
std::vector<std::shared_ptr<WorkerState>> takeLive(Match match) {
  Live& list = live();
  std::vector<std::shared_ptr<WorkerState>> taken;
  const std::lock_guard<std::mutex> lock(list.mutex);
  auto& all = list.workers;
  for (auto it = all.begin(); it != all.end();) {
    if (match(**it)) {
      taken.push_back(std::move(*it));
      it = all.erase(it);
    } else {
      ++it;
    }
  }
  return taken;
}

}  // namespace

bool StopToken::stopRequested() const {
  const std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->stop;
}

bool StopToken::sleepFor(uint32_t ms) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return state_->stop; });
}

Worker::~Worker() { release(); }

bool Worker::start(Job job) {
  release();
  reapWorkers();
  auto state = std::make_shared<WorkerState>();
  try {
    state->thread = std::thread([state, job = std::move(job)] {
      job(StopToken(state));
      const std::lock_guard<std::mutex> lock(state->mutex);
      state->finished = true;
      state->changed.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  {
    Live& list = live();
    const std::lock_guard<std::mutex> lock(list.mutex);
    list.workers.push_back(state);
  }
  state_ = std::move(state);
  return true;
}

bool Worker::running() const { return state_ != nullptr && !hasFinished(*state_); }

void Worker::requestStop() {
  if (state_ != nullptr) askToStop(*state_);
}

void Worker::release() {
  if (state_ == nullptr) return;
  askToStop(*state_);
  {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    state_->released = true;
  }
  state_.reset();
  reapWorkers();
}

void reapWorkers() {
  const auto done = takeLive([](WorkerState& state) {
    const std::lock_guard<std::mutex> lock(state.mutex);
    return state.released && state.finished;
  });
  for (const auto& state : done) state->thread.join();
}

bool stopAllWorkers(uint32_t limitMs) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(limitMs);
  std::vector<std::shared_ptr<WorkerState>> all = takeLive([](WorkerState&) { return true; });
  for (const auto& state : all) askToStop(*state);
  bool allFinished = true;
  for (const auto& state : all) {
    std::unique_lock<std::mutex> lock(state->mutex);
    if (!state->changed.wait_until(lock, end, [&state] { return state->finished; })) {
      allFinished = false;
      continue;
    }
    lock.unlock();
    state->thread.join();
  }
  // Those still running are left to the end of the process.
  for (const auto& state : all) {
    if (state->thread.joinable()) state->thread.detach();
  }
  return allFinished;
}

int liveWorkers() {
  Live& list = live();
  const std::lock_guard<std::mutex> lock(list.mutex);
  return static_cast<int>(list.workers.size());
}

}  // namespace platform
