// Host name lookups bounded in time on Linux: getaddrinfo on a thread of its
// own, since the C library offers no lookup that gives up after a while.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/net_socket.h"

namespace platform {
namespace {

// What a lookup thread and the caller waiting for it share. The thread keeps
// its own reference, so a caller that stopped waiting leaves nothing dangling.
struct PendingLookup {
  std::string name;
  NameLookup lookup = nullptr;
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  bool found = false;
  uint32_t hostAddress = 0;
};

std::atomic<int> pending{0};

void runLookup(const std::shared_ptr<PendingLookup>& job) {
  uint32_t hostAddress = 0;
  const bool found = job->lookup(job->name.c_str(), hostAddress);
  {
    const std::lock_guard<std::mutex> lock(job->mutex);
    job->done = true;
    job->found = found;
    job->hostAddress = hostAddress;
  }
  job->finished.notify_all();
  pending.fetch_sub(1);
}

}  // namespace

bool systemNameLookup(const char* name, uint32_t& hostAddress) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &results) != 0 || results == nullptr) return false;
  hostAddress = reinterpret_cast<const sockaddr_in*>(results->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(results);
  return true;
}

int pendingLookups() { return pending.load(); }

Lookup lookUpHost(const char* host, uint16_t port, IPaddress& address, uint32_t timeoutMs,
                  NameLookup lookup) {
  address.host = INADDR_NONE;
  address.port = htons(port);
  if (host == nullptr || host[0] == '\0') return Lookup::NotFound;
  // The numeric forms SDL_net takes without a lookup (inet_addr's), told
  // apart from a failure even for 255.255.255.255.
  in_addr numeric{};
  if (inet_aton(host, &numeric) != 0) {
    address.host = numeric.s_addr;
    return Lookup::Found;
  }
  if (pending.fetch_add(1) >= kMaxPendingLookups) {
    pending.fetch_sub(1);
    return Lookup::TimedOut;
  }
  auto job = std::make_shared<PendingLookup>();
  job->name = host;
  job->lookup = lookup;
  try {
    std::thread(runLookup, job).detach();
  } catch (const std::system_error&) {
    pending.fetch_sub(1);
    return Lookup::NotFound;
  }
  std::unique_lock<std::mutex> lock(job->mutex);
  if (!job->finished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&job] { return job->done; })) {
    return Lookup::TimedOut;
  }
  if (!job->found) return Lookup::NotFound;
  address.host = job->hostAddress;
  return Lookup::Found;
}

}  // namespace platform
