#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net_library.h"
#include "platform/socket_address.h"

namespace platform {
namespace {

void setOption(int fd, int level, int name, int value) {
  ::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

SocketHandle librarySocket(const void* librarySocketPointer) {
  return static_cast<SocketHandle>(*static_cast<const int*>(librarySocketPointer));
}

void tuneLibraryConnection(SocketHandle handle) {
  const int fd = static_cast<int>(handle);
  setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleS);
  setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalS);
  setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
  setOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUnacknowledgedLimitMs));
}

Socket duplicateConnection(SocketHandle handle) {
  return Socket(::fcntl(static_cast<int>(handle), F_DUPFD_CLOEXEC, 0));
}

void wakeConnection(const Socket& connection) {
  if (connection.valid()) ::shutdown(static_cast<int>(connection.handle()), SHUT_RDWR);
}

void shieldLibraryThread() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
}

size_t globalIpv6Addresses(Address* addresses, size_t capacity) {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return 0;
  size_t count = 0;
  for (const ifaddrs* entry = list; entry != nullptr && count < capacity; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET6 ||
        (entry->ifa_flags & IFF_UP) == 0 || (entry->ifa_flags & IFF_LOOPBACK) != 0) {
      continue;
    }
    Address found = fromSystem(entry->ifa_addr);
    found.port = 0;
    found.scope = 0;
    if ((found.bytes[0] & 0xE0) != 0x20) continue;  // not 2000::/3
    bool seen = false;
    for (size_t i = 0; i < count; ++i) seen = seen || addresses[i] == found;
    if (!seen) addresses[count++] = found;
  }
  ::freeifaddrs(list);
  return count;
}

}  // namespace platform
