// Socket services that SDL_net 1.2 does not offer: a send that never waits
// and a connection attempt bounded in time. The frame loop uses them so that
// no peer, however slow or silent, can hold it up. One implementation per
// platform (net_socket_linux.cpp).
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

}  // namespace platform
