// Winsock as the Windows platform files share it. Included before any other
// Windows header, so that the readiness poll's fd_set holds as many sockets
// as it polls.
#pragma once

#ifndef FD_SETSIZE
#define FD_SETSIZE 128
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {

// Starts Winsock once, the first time a socket call needs it; true when it
// runs. WSAStartup counts its callers, so this is harmless beside the network
// library's own start-up, and it stays started until the process ends.
bool startWinsock();

}  // namespace platform
