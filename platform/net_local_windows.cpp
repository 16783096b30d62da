#include "platform/winsock_windows.h"

#include "platform/net_local.h"
#include "platform/socket_address.h"

namespace platform {

bool startSocketLibrary() { return startWinsock(); }

bool localAddressOf(const Socket& connection, Address& address) {
  sockaddr_storage local{};
  int size = sizeof local;
  if (!connection.valid() || ::getsockname(static_cast<SOCKET>(connection.handle()),
                                           reinterpret_cast<sockaddr*>(&local), &size) != 0) {
    return false;
  }
  address = fromSystem(local);
  return local.ss_family == AF_INET || local.ss_family == AF_INET6;
}

}  // namespace platform
