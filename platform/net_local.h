// What reaching across the internet needs beside the sockets of
// net_socket.h: the local address a connection was made from (the address a
// router is asked to forward to), and the machine's own IPv6 addresses that
// a host may announce. One implementation per platform.
#pragma once

#include <cstddef>

#include "platform/net_socket.h"

namespace platform {

// The local end of a connection made by startConnect, port included. False
// when the system cannot tell (the socket is not connected, say).
bool localAddressOf(const Socket& connection, Address& address);

// This machine's global IPv6 unicast addresses (2000::/3) that a host may
// announce, on interfaces that are up, at most capacity of them, port 0,
// each once: the temporary (privacy) addresses where the machine has any,
// else its others; never a deprecated one or one still being checked for
// duplicates. Returns how many.
size_t announceableIpv6Addresses(Address* addresses, size_t capacity);

}  // namespace platform
