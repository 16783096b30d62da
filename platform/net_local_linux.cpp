#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/net_local.h"
#include "platform/socket_address.h"

namespace platform {

bool startSocketLibrary() { return true; }

bool localAddressOf(const Socket& connection, Address& address) {
  sockaddr_storage local{};
  socklen_t size = sizeof local;
  if (!connection.valid() || ::getsockname(static_cast<int>(connection.handle()),
                                           reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    return false;
  }
  address = fromSystem(local);
  return local.ss_family == AF_INET || local.ss_family == AF_INET6;
}

}  // namespace platform
