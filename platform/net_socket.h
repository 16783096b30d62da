// Socket services that SDL_net 1.2 does not offer: a send that never waits,
// and a name lookup and a connection attempt bounded in time. The frame loop
// uses them so that no peer, however slow or silent, and no resolver can
// hold it up. One implementation per platform (net_socket_linux.cpp,
// host_lookup_linux.cpp).
#pragma once

#include <SDL_net.h>

#include <cstdint>

namespace platform {

// The system descriptor behind an SDL_net connection (not a listening
// socket), or -1 when it cannot be found and checked.
int socketDescriptor(TCPsocket socket);

// Lets the system hold up to backlog connections waiting to be accepted on
// an SDL_net listening socket (SDL_net asks for 5; once they are queued,
// further connection requests are dropped and retried only seconds later).
// port is the port it listens on, which identifies its descriptor. False
// when the descriptor cannot be found or the system refuses.
bool widenBacklog(TCPsocket listener, uint16_t port, int backlog);

// Sends up to length bytes on socket without waiting and without raising
// SIGPIPE. Returns the bytes the system took now (0 when its send buffer is
// full), or -1 when the connection has failed. Where the descriptor cannot be
// found the library's own (blocking) send is used instead.
int sendNow(TCPsocket socket, const void* bytes, int length);

// True when the other side of socket has already closed the connection
// without leaving anything to read (checked without waiting). False when
// that cannot be told.
bool closedWithoutData(TCPsocket socket);

// Tries a TCP connection to address (host and port in network byte order,
// as SDLNet_ResolveHost gives them) and waits at most timeoutMs for it to be
// made. The connection is closed again at once. True when it was made.
bool probeConnect(const IPaddress& address, uint32_t timeoutMs);

// How a host name was looked up.
enum class Lookup { Found, NotFound, TimedOut };

// Asks the system for the IPv4 address of a host name; fills hostAddress in
// network byte order. May wait as long as the system's resolver does.
using NameLookup = bool (*)(const char* name, uint32_t& hostAddress);
bool systemNameLookup(const char* name, uint32_t& hostAddress);

// Name lookups started by lookUpHost that have not finished yet.
inline constexpr int kMaxPendingLookups = 4;
int pendingLookups();

// Fills address (network byte order) with host and port, as
// SDLNet_ResolveHost does, without waiting longer than timeoutMs. A numeric
// address is taken at once. A name is looked up on a thread of its own: one
// the system does not answer in time is left to finish by itself and reported
// as TimedOut, and while kMaxPendingLookups such lookups are outstanding, no
// new one is started (TimedOut at once), so a resolver that has stopped
// answering costs a room list refresh a few seconds, not one per entry.
Lookup lookUpHost(const char* host, uint16_t port, IPaddress& address, uint32_t timeoutMs,
                  NameLookup lookup = systemNameLookup);

}  // namespace platform
