// Non-blocking sends and bounded connection attempts on Linux (POSIX
// sockets under SDL_net 1.2).
#include "platform/net_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <csignal>

namespace platform {
namespace {

// SDL_net 1.2 keeps its TCP socket as a private struct that begins
//   int ready; int channel; IPaddress remoteAddress; IPaddress localAddress;
//   int sflag;
// (`ready` is the member its public SDLNet_SocketReady macro reads). The
// library offers no way to reach `channel`, the descriptor, so it is read
// from that layout here, and only here. It is trusted only when the
// descriptor is a stream socket connected to the very address SDL_net
// reports for the peer; otherwise callers fall back to the library's calls.
struct SdlNetTcpSocketHead {
  int ready;
  int channel;
};

bool samePeer(int fd, const IPaddress& expected) {
  sockaddr_in peer{};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return false;
  return peer.sin_family == AF_INET && peer.sin_addr.s_addr == expected.host &&
         peer.sin_port == expected.port;
}

uint64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

// Waits until fd is writable (a non-blocking connect has finished, one way
// or the other); 0 when timeoutMs passed first.
int waitWritable(int fd, uint32_t timeoutMs) {
  const uint64_t start = monotonicMs();
  for (;;) {
    const uint64_t spent = monotonicMs() - start;
    if (spent >= timeoutMs) return 0;
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(timeoutMs - spent));
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

}  // namespace

int socketDescriptor(TCPsocket socket) {
  if (socket == nullptr) return -1;
  const IPaddress* const peer = SDLNet_TCP_GetPeerAddress(socket);  // null for listeners
  if (peer == nullptr) return -1;
  const int fd = reinterpret_cast<const SdlNetTcpSocketHead*>(socket)->channel;
  int type = 0;
  socklen_t size = sizeof type;
  if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0 || type != SOCK_STREAM) {
    return -1;
  }
  return samePeer(fd, *peer) ? fd : -1;
}

bool widenBacklog(TCPsocket listener, uint16_t port, int backlog) {
  if (listener == nullptr) return false;
  const int fd = reinterpret_cast<const SdlNetTcpSocketHead*>(listener)->channel;
  int listening = 0;
  socklen_t size = sizeof listening;
  if (fd < 0 || getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0 ||
      listening == 0) {
    return false;
  }
  sockaddr_in local{};
  size = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) != 0 ||
      local.sin_family != AF_INET || ntohs(local.sin_port) != port) {
    return false;
  }
  return ::listen(fd, backlog) == 0;  // on a listening socket: only the backlog changes
}

int sendNow(TCPsocket socket, const void* bytes, int length) {
  if (socket == nullptr || length < 0) return -1;
  if (length == 0) return 0;
  const int fd = socketDescriptor(socket);
  if (fd < 0) {
    std::signal(SIGPIPE, SIG_IGN);
    const int sent = SDLNet_TCP_Send(socket, bytes, length);
    return sent < length ? -1 : sent;
  }
  for (;;) {
    const ssize_t sent =
        ::send(fd, bytes, static_cast<size_t>(length), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<int>(sent);
    if (errno == EINTR) continue;
    return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
  }
}

bool closedWithoutData(TCPsocket socket) {
  const int fd = socketDescriptor(socket);
  if (fd < 0) return false;
  pollfd entry{fd, POLLIN, 0};
  if (::poll(&entry, 1, 0) <= 0) return false;
  uint8_t byte = 0;
  return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

bool probeConnect(const IPaddress& address, uint32_t timeoutMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = address.host;
  target.sin_port = address.port;
  bool made = ::connect(fd, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
  if (!made && errno == EINPROGRESS && waitWritable(fd, timeoutMs) > 0) {
    int error = 0;
    socklen_t size = sizeof error;
    made = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
  ::close(fd);
  return made;
}

}  // namespace platform
