// Host name lookups that nobody waits for: a queue served by a bounded set
// of threads, since the system's resolver call blocks and offers no time
// limit of its own. The same on every platform; the resolver call itself
// (systemNameLookup) and the numeric forms are the platform's.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/net_socket.h"

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

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Shared by every lookup and the threads. Made once and never destroyed:
// the threads are detached and may outlive everything else.
struct Pool {
  std::mutex mutex;
  std::condition_variable work;     // a job was queued
  std::condition_variable settled;  // a job finished
  std::deque<std::shared_ptr<HostLookup::Job>> queue;
  int threads = 0;
  int idle = 0;
  int pending = 0;          // queued or running jobs, given up or not
  uint64_t lastFinish = 0;  // when a lookup last finished
};

Pool& pool() {
  static Pool* const shared = new Pool;
  return *shared;
}

}  // namespace

// One lookup thread: takes the queue in order, forever.
static void serveLookups() {
  Pool& p = pool();
  std::unique_lock<std::mutex> lock(p.mutex);
  for (;;) {
    ++p.idle;
    p.work.wait(lock, [&p] { return !p.queue.empty(); });
    --p.idle;
    const std::shared_ptr<HostLookup::Job> job = p.queue.front();
    p.queue.pop_front();
    job->state = HostLookup::Job::State::Running;
    job->startedAt = nowMs();
    lock.unlock();
    LookupAnswer answer;
    const bool found = job->lookup(job->name.c_str(), answer) && answer.count > 0;
    lock.lock();
    job->found = found;
    job->answer = answer;
    job->state = HostLookup::Job::State::Done;
    p.lastFinish = nowMs();
    --p.pending;
    p.settled.notify_all();
  }
}

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
  // A thread more while the queue holds more lookups than threads wait for
  // work (one that was woken may not have taken its job yet).
  if (p.queue.size() > static_cast<size_t>(p.idle) && p.threads < kLookupThreads) {
    try {
      std::thread(serveLookups).detach();
      ++p.threads;
    } catch (const std::system_error&) {
      // No thread to be had: the threads there are serve the queue.
      if (p.threads == 0) {
        p.queue.pop_back();
        --p.pending;
        settled_ = Lookup::NotFound;
        return;
      }
    }
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
