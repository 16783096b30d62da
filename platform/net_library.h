// What the room directory's client library (libstrophe, which makes its own
// socket) needs from the platform beside net_socket.h: the platform's
// connection settings applied to that socket, a second handle to it that
// stays valid while the library may close its own, a way to wake a call
// blocked on it; and the machine's own global IPv6 addresses, which a host
// announces. One implementation per platform.
#pragma once

#include <cstddef>

#include "platform/net_socket.h"

namespace platform {

// The socket a library passes as a pointer to its own socket type (an int
// here, a SOCKET on Windows).
SocketHandle librarySocket(const void* librarySocketPointer);

// Applies the platform's connection settings (no delay, keep-alive with the
// short timers of net_socket.h, the bound on unacknowledged data) to a
// connection a library made.
void tuneLibraryConnection(SocketHandle handle);

// A second handle to the same connection, owned by the caller; invalid
// where the system cannot make one (then wakeConnection has nothing to act
// on and the library must bound its own waits).
Socket duplicateConnection(SocketHandle handle);

// Shuts the connection down both ways: a call waiting on it in another
// thread (a read, a readiness wait) returns at once, as after the peer's
// close. Safe on a handle the caller owns (one from duplicateConnection).
void wakeConnection(const Socket& connection);

// Makes the calling thread safe for a library's writes to a connection the
// peer has closed: on Linux such a write raises SIGPIPE, which would end
// the whole program (the platform's own sends never raise it). Called first
// in every thread that runs the library.
void shieldLibraryThread();

// This machine's global IPv6 unicast addresses (2000::/3) on interfaces that
// are up, at most capacity of them, port 0, each once. Returns how many.
size_t globalIpv6Addresses(Address* addresses, size_t capacity);

}  // namespace platform
