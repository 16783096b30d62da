// Host name lookups that nobody waits for on Linux: getaddrinfo on a thread
// of its own, since the C library offers no lookup that gives up after a
// while.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/net_socket.h"

namespace platform {

// What a lookup thread and its HostLookup share. The thread keeps its own
// reference, so a lookup that was given up leaves nothing dangling.
struct HostLookup::Job {
  std::string name;
  NameLookup lookup = nullptr;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool found = false;
  uint32_t host = 0;
};

namespace {

std::atomic<int> pending{0};

}  // namespace

void HostLookup::run(const std::shared_ptr<Job>& job) {
  uint32_t host = 0;
  const bool found = job->lookup(job->name.c_str(), host);
  {
    const std::lock_guard<std::mutex> lock(job->mutex);
    job->done = true;
    job->found = found;
    job->host = host;
  }
  job->finished.notify_all();
  pending.fetch_sub(1);
}

bool systemNameLookup(const char* name, uint32_t& host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &results) != 0 || results == nullptr) return false;
  host = ntohl(reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(results);
  return true;
}

// inet_aton's forms, which also tell 255.255.255.255 apart from a failure.
bool parseNumericHost(const char* text, uint32_t& host) {
  in_addr numeric{};
  if (text == nullptr || inet_aton(text, &numeric) == 0) return false;
  host = ntohl(numeric.s_addr);
  return true;
}

int pendingLookups() { return pending.load(); }

HostLookup::~HostLookup() = default;

void HostLookup::start(const char* name, NameLookup lookup) {
  abandon();
  if (name == nullptr || name[0] == '\0') {
    settled_ = Lookup::NotFound;
    return;
  }
  if (parseNumericHost(name, host_)) {
    settled_ = Lookup::Found;
    return;
  }
  // Too many lookups outstanding: this one stays pending until its caller
  // gives up on it, as if the resolver had not answered.
  if (pending.fetch_add(1) >= kMaxPendingLookups) {
    pending.fetch_sub(1);
    return;
  }
  auto job = std::make_shared<Job>();
  job->name = name;
  job->lookup = lookup;
  try {
    std::thread(run, job).detach();
  } catch (const std::system_error&) {
    pending.fetch_sub(1);
    settled_ = Lookup::NotFound;
    return;
  }
  job_ = std::move(job);
  settled_ = Lookup::Pending;
}

Lookup HostLookup::result(uint32_t& host, uint32_t timeoutMs) {
  if (settled_ == Lookup::Pending && job_ != nullptr) {
    std::unique_lock<std::mutex> lock(job_->mutex);
    if (job_->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [this] { return job_->done; })) {
      settled_ = job_->found ? Lookup::Found : Lookup::NotFound;
      host_ = job_->host;
    }
  }
  if (settled_ == Lookup::Found) host = host_;
  return settled_;
}

void HostLookup::abandon() {
  job_.reset();
  settled_ = Lookup::Pending;
  host_ = 0;
}

}  // namespace platform
