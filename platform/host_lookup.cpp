// Host name lookups that nobody waits for: a queue served by at most
// kLookupThreads workers (platform/worker.h), since the system's resolver
// call blocks and offers no time limit of its own. A worker serves the queue
// in order and ends once it has had nothing to do for kIdleEndMs, or when
// asked to stop (the program's end); one held by a resolver that does not
// answer is left to finish by itself. The same on every platform; the
// resolver call itself (systemNameLookup) and the numeric forms are the
// platform's.
#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

#include "platform/net_socket.h"
#include "platform/worker.h"

namespace platform {

struct HostLookup::Job {
  enum class State : uint8_t { Queued, Running, Done, Dropped };
  std::string name;
  NameLookup lookup = nullptr;
  State state = State::Queued;
  uint64_t queuedAt = 0;   // steady milliseconds
  uint64_t startedAt = 0;  // steady milliseconds, once running
  bool found = false;
  LookupAnswer answer;
};

namespace {

// How long a lookup worker waits for work before it ends.
constexpr uint64_t kIdleEndMs = 500;

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Shared by every lookup and the workers. Made once and never destroyed: a
// worker left to finish a lookup may outlive everything else.
struct Pool {
  std::mutex mutex;
  std::condition_variable work;     // a job was queued
  std::condition_variable settled;  // a job finished
  std::deque<std::shared_ptr<HostLookup::Job>> queue;
  std::array<Worker, kLookupThreads> workers;
  std::array<bool, kLookupThreads> serving{};  // the slot's worker serves the queue
  int servingCount = 0;                        // slots serving
  int idle = 0;                                // workers waiting for work
  int pending = 0;                             // queued or running jobs, given up or not
  uint64_t lastFinish = 0;                     // when a lookup last finished
};

Pool& pool() {
  static Pool* const shared = new Pool;
  return *shared;
}

// Runs one job with the pool's lock released.
void runJob(Pool& p, std::unique_lock<std::mutex>& lock, HostLookup::Job& job) {
  job.state = HostLookup::Job::State::Running;
  job.startedAt = nowMs();
  lock.unlock();
  LookupAnswer answer;
  const bool found = job.lookup(job.name.c_str(), answer) && answer.count > 0;
  lock.lock();
  job.found = found;
  job.answer = answer;
  job.state = HostLookup::Job::State::Done;
  p.lastFinish = nowMs();
  --p.pending;
  p.settled.notify_all();
}

// The job of the worker in slot: takes the queue in order until it is asked
// to stop or has been idle for kIdleEndMs; then frees its slot and lets its
// worker go, to be joined by the next reapWorkers.
void serveLookups(size_t slot, const StopToken& token) {
  Pool& p = pool();
  std::unique_lock<std::mutex> lock(p.mutex);
  uint64_t idleSince = nowMs();
  while (!token.stopRequested()) {
    if (p.queue.empty()) {
      if (nowMs() - idleSince >= kIdleEndMs) break;
      ++p.idle;
      p.work.wait_for(lock, std::chrono::milliseconds(kWorkerTurnMs));
      --p.idle;
      continue;
    }
    const std::shared_ptr<HostLookup::Job> job = p.queue.front();
    p.queue.pop_front();
    runJob(p, lock, *job);
    idleSince = nowMs();
  }
  p.serving[slot] = false;
  --p.servingCount;
  p.workers[slot].release();
}

// Starts a worker in a free slot. Called with the pool's lock held; false
// when no slot is free or the system gives no thread.
bool addWorker(Pool& p) {
  for (size_t slot = 0; slot < p.serving.size(); ++slot) {
    if (p.serving[slot]) continue;
    if (!p.workers[slot].start([slot](const StopToken& token) { serveLookups(slot, token); })) {
      return false;
    }
    p.serving[slot] = true;
    ++p.servingCount;
    return true;
  }
  return false;
}

}  // namespace

LookupAnswer interleaveFamilies(const Address* addresses, size_t count) {
  LookupAnswer answer;
  if (count == 0) return answer;
  const Family first = addresses[0].family;
  // Per family (0: the first address's, 1: the other), the next address of
  // it not taken yet, or count when none is left.
  size_t next[2] = {0, 0};
  const auto seek = [&](int family) {
    while (next[family] < count && (addresses[next[family]].family == first) != (family == 0)) {
      ++next[family];
    }
    return next[family] < count;
  };
  for (int turn = 0; answer.count < kMaxLookupAddresses; turn = 1 - turn) {
    if (!seek(turn)) {
      turn = 1 - turn;
      if (!seek(turn)) break;
    }
    answer.addresses[answer.count++] = addresses[next[turn]++];
  }
  return answer;
}

int pendingLookups() {
  Pool& p = pool();
  const std::lock_guard<std::mutex> lock(p.mutex);
  return p.pending;
}

HostLookup::~HostLookup() { abandon(); }

void HostLookup::start(const char* name, NameLookup lookup) {
  abandon();
  if (name == nullptr || name[0] == '\0') {
    settled_ = Lookup::NotFound;
    return;
  }
  Address numeric;
  if (parseNumericAddress(name, numeric)) {
    answer_ = LookupAnswer{};
    answer_.addresses[0] = numeric;
    answer_.count = 1;
    settled_ = Lookup::Found;
    return;
  }
  // Brackets hold a numeric address, never a name; text that cannot be a
  // name is not worth the system's resolver (nor a query on the network).
  if (!isHostName(name)) {
    settled_ = Lookup::NotFound;
    return;
  }
  auto job = std::make_shared<Job>();
  job->name = name;
  job->lookup = lookup;
  job->queuedAt = nowMs();
  Pool& p = pool();
  const std::lock_guard<std::mutex> lock(p.mutex);
  p.queue.push_back(job);
  ++p.pending;
  // A worker more while the queue holds more lookups than workers wait for
  // work (one that was woken may not have taken its job yet). With no worker
  // to be had, the workers there are serve the queue.
  if (p.queue.size() > static_cast<size_t>(p.idle) && !addWorker(p) && p.servingCount == 0) {
    p.queue.pop_back();
    --p.pending;
    settled_ = Lookup::NotFound;
    return;
  }
  p.work.notify_one();
  job_ = std::move(job);
  settled_ = Lookup::Pending;
}

// The moment job gives up: from its start when it runs; while it waits,
// from the later of its queueing and the last finished lookup. Called with
// the pool's lock held.
static uint64_t giveUpAt(const HostLookup::Job& job, uint64_t lastFinish) {
  if (job.state == HostLookup::Job::State::Running) return job.startedAt + kLookupLimitMs;
  return (job.queuedAt > lastFinish ? job.queuedAt : lastFinish) + kLookupLimitMs;
}

// Takes a job that is still queued out of the queue, so it never runs.
// Called with the pool's lock held.
static void dropIfQueued(Pool& p, HostLookup::Job& job) {
  if (job.state != HostLookup::Job::State::Queued) return;
  for (auto it = p.queue.begin(); it != p.queue.end(); ++it) {
    if (it->get() == &job) {
      p.queue.erase(it);
      break;
    }
  }
  job.state = HostLookup::Job::State::Dropped;
  --p.pending;
}

Lookup HostLookup::result(LookupAnswer& answer, uint32_t timeoutMs) {
  if (settled_ == Lookup::Pending && job_ != nullptr) {
    Pool& p = pool();
    std::unique_lock<std::mutex> lock(p.mutex);
    const uint64_t waitEnd = nowMs() + timeoutMs;
    for (;;) {
      if (job_->state == Job::State::Done) {
        settled_ = job_->found ? Lookup::Found : Lookup::NotFound;
        answer_ = job_->answer;
        break;
      }
      const uint64_t now = nowMs();
      const uint64_t limit = giveUpAt(*job_, p.lastFinish);
      if (now >= limit) {
        settled_ = Lookup::TimedOut;
        dropIfQueued(p, *job_);
        break;
      }
      if (now >= waitEnd) break;
      p.settled.wait_for(lock,
                         std::chrono::milliseconds((limit < waitEnd ? limit : waitEnd) - now));
    }
    if (settled_ != Lookup::Pending) job_.reset();
  }
  if (settled_ == Lookup::Found) answer = answer_;
  return settled_;
}

void HostLookup::abandon() {
  if (job_ == nullptr) return;
  Pool& p = pool();
  const std::lock_guard<std::mutex> lock(p.mutex);
  dropIfQueued(p, *job_);
  job_.reset();
}

}  // namespace platform
