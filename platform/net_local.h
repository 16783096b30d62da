// What a client of the local network's devices needs beside the sockets of
// net_socket.h: the system's socket library started for a library that makes
// sockets of its own (miniupnpc), and the local address a connection was
// made from (the address a router is asked to forward to). One
// implementation per platform.
#pragma once

#include "platform/net_socket.h"

namespace platform {

// Starts the system's socket library where it needs starting (Winsock; it
// then stays started until the process ends). True when sockets can be made.
bool startSocketLibrary();

// The local end of a connection made by startConnect, port included. False
// when the system cannot tell (the socket is not connected, say).
bool localAddressOf(const Socket& connection, Address& address);

}  // namespace platform
