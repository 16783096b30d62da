#include "fuzz/fake_transport.h"

#include <SDL.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/net_socket.h"

struct _SDLNet_SocketSet {
  size_t capacity = 0;
  std::vector<TCPsocket> sockets;
};

namespace fake {
namespace {

// Everything the fake hands out, kept until the next reset so that a use
// after close is caught rather than read from freed memory.
struct World {
  std::vector<std::unique_ptr<_TCPsocket>> sockets;
  std::vector<std::unique_ptr<_SDLNet_SocketSet>> sets;
  TCPsocket listener = nullptr;
  TCPsocket connection = nullptr;
  bool reachable = true;
  _TCPsocket next;
  uint32_t now = 0;
  char error[256] = "";
};

World& world() {
  static World w;
  return w;
}

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "fake transport: %s\n", what);
  std::abort();
}

TCPsocket make() {
  world().sockets.push_back(std::make_unique<_TCPsocket>());
  return world().sockets.back().get();
}

void checkOpen(TCPsocket socket, const char* call) {
  if (socket == nullptr) return;
  if (socket->closedByCode) misuse(call);
}

bool hasSomething(const _TCPsocket& s) {
  if (s.listening) return !s.pending.empty();
  return unread(s) > 0 || s.peerClosed || s.failed;
}

}  // namespace

void reset() {
  World& w = world();
  w.sockets.clear();
  w.sets.clear();
  w.listener = nullptr;
  w.connection = nullptr;
  w.reachable = true;
  w.next = _TCPsocket{};
  w.now = 0;
  w.error[0] = '\0';
}

TCPsocket listener() {
  return world().listener;
}

TCPsocket arrive() {
  TCPsocket server = world().listener;
  if (server == nullptr || server->closedByCode) return nullptr;
  TCPsocket incoming = make();
  incoming->peer.host = 0x0100007F;
  incoming->peer.port = static_cast<Uint16>(world().sockets.size());
  server->pending.push_back(incoming);
  return incoming;
}

TCPsocket connection() {
  return world().connection;
}

void setReachable(bool reachable) {
  world().reachable = reachable;
}

_TCPsocket& nextConnection() {
  return world().next;
}

void advance(uint32_t ms) {
  world().now += ms;
}

}  // namespace fake

extern "C" {

__attribute__((format(printf, 1, 2))) void SDL_SetError(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(fake::world().error, sizeof fake::world().error, fmt, args);
  va_end(args);
}

char* SDL_GetError(void) {
  return fake::world().error;
}

Uint32 SDL_GetTicks(void) {
  return fake::world().now;
}

void SDL_Delay(Uint32 ms) {
  fake::advance(ms);
}

int SDLNet_ResolveHost(IPaddress* address, const char* host, Uint16 port) {
  address->port = static_cast<Uint16>((port >> 8) | (port << 8));
  if (host == nullptr) {
    address->host = INADDR_ANY;
  } else if (std::strcmp(host, "0.0.0.0") == 0) {
    address->host = INADDR_ANY;
  } else if (std::strcmp(host, "255.255.255.255") == 0) {
    address->host = INADDR_NONE;
  } else if (host[0] == '\0' || std::strcmp(host, "unknown.invalid") == 0) {
    SDL_SetError("Couldn't resolve host");
    return -1;
  } else {
    address->host = 0x0200000A;
  }
  return 0;
}

TCPsocket SDLNet_TCP_Open(IPaddress* ip) {
  if (ip->host == INADDR_ANY) {
    TCPsocket server = fake::make();
    server->listening = true;
    fake::world().listener = server;
    return server;
  }
  if (ip->host == INADDR_NONE) fake::misuse("connect to the broadcast address");
  if (!fake::world().reachable) {
    SDL_SetError("Couldn't connect to remote host");
    return nullptr;
  }
  TCPsocket client = fake::make();
  *client = fake::world().next;
  client->peer = *ip;
  fake::world().connection = client;
  return client;
}

TCPsocket SDLNet_TCP_Accept(TCPsocket server) {
  fake::checkOpen(server, "accept on a closed socket");
  if (server == nullptr || !server->listening) fake::misuse("accept on a connection");
  server->ready = 0;
  if (server->pending.empty()) return nullptr;
  TCPsocket incoming = server->pending.front();
  server->pending.pop_front();
  return incoming;
}

IPaddress* SDLNet_TCP_GetPeerAddress(TCPsocket sock) {
  fake::checkOpen(sock, "peer address of a closed socket");
  return sock == nullptr || sock->listening ? nullptr : &sock->peer;
}

int SDLNet_TCP_Send(TCPsocket sock, const void* data, int len) {
  fake::checkOpen(sock, "send on a closed socket");
  if (sock == nullptr || sock->listening || len < 0) fake::misuse("bad send");
  if (sock->failed) return -1;
  const auto* bytes = static_cast<const uint8_t*>(data);
  sock->outbound.insert(sock->outbound.end(), bytes, bytes + len);
  return len;
}

int SDLNet_TCP_Recv(TCPsocket sock, void* data, int maxlen) {
  fake::checkOpen(sock, "receive on a closed socket");
  if (sock == nullptr || sock->listening || maxlen <= 0) fake::misuse("bad receive");
  sock->ready = 0;
  if (sock->failed) return -1;
  if (fake::unread(*sock) == 0) {
    if (sock->peerClosed) return 0;
    fake::misuse("receive that would block");
  }
  size_t n = std::min(static_cast<size_t>(maxlen), fake::unread(*sock));
  if (sock->recvPiece > 0) n = std::min(n, sock->recvPiece);
  auto* out = static_cast<uint8_t*>(data);
  std::memcpy(out, sock->inbound.data() + sock->inboundAt, n);
  sock->inboundAt += n;
  return static_cast<int>(n);
}

void SDLNet_TCP_Close(TCPsocket sock) {
  if (sock == nullptr) return;
  fake::checkOpen(sock, "socket closed twice");
  for (const auto& set : fake::world().sets) {
    if (std::find(set->sockets.begin(), set->sockets.end(), sock) != set->sockets.end()) {
      fake::misuse("socket closed while still in a set");
    }
  }
  sock->closedByCode = true;
  for (TCPsocket waiting : sock->pending) waiting->peerClosed = true;
}

SDLNet_SocketSet SDLNet_AllocSocketSet(int maxsockets) {
  fake::world().sets.push_back(std::make_unique<_SDLNet_SocketSet>());
  fake::world().sets.back()->capacity = static_cast<size_t>(maxsockets);
  return fake::world().sets.back().get();
}

int SDLNet_AddSocket(SDLNet_SocketSet set, SDLNet_GenericSocket sock) {
  auto* socket = reinterpret_cast<TCPsocket>(sock);
  fake::checkOpen(socket, "closed socket added to a set");
  if (set->sockets.size() >= set->capacity) {
    SDL_SetError("socketset is full");
    return -1;
  }
  set->sockets.push_back(socket);
  return static_cast<int>(set->sockets.size());
}

int SDLNet_DelSocket(SDLNet_SocketSet set, SDLNet_GenericSocket sock) {
  auto* socket = reinterpret_cast<TCPsocket>(sock);
  const auto at = std::find(set->sockets.begin(), set->sockets.end(), socket);
  if (at == set->sockets.end()) {
    SDL_SetError("socket not found in socketset");
    return -1;
  }
  set->sockets.erase(at);
  return static_cast<int>(set->sockets.size());
}

// As SDL_net does: flags are set for sockets with something to read, and
// cleared only by a receive or an accept.
int SDLNet_CheckSockets(SDLNet_SocketSet set, Uint32) {
  int ready = 0;
  for (TCPsocket socket : set->sockets) {
    fake::checkOpen(socket, "closed socket checked in a set");
    if (fake::hasSomething(*socket)) {
      socket->ready = 1;
      ++ready;
    }
  }
  return ready;
}

void SDLNet_FreeSocketSet(SDLNet_SocketSet set) {
  auto& sets = fake::world().sets;
  const auto at = std::find_if(sets.begin(), sets.end(),
                               [set](const auto& owned) { return owned.get() == set; });
  if (at == sets.end()) fake::misuse("socket set freed twice");
  sets.erase(at);
}

}  // extern "C"

namespace platform {

int socketDescriptor(TCPsocket) {
  return -1;
}

bool widenBacklog(TCPsocket listener, uint16_t, int) {
  return listener != nullptr && listener->listening;
}

// Takes what the connection's room allows, as a non-blocking send does.
int sendNow(TCPsocket socket, const void* bytes, int length) {
  fake::checkOpen(socket, "send on a closed socket");
  if (socket == nullptr || length < 0) return -1;
  if (socket->failed) return -1;
  const size_t n = std::min(static_cast<size_t>(length), socket->sendRoom);
  socket->sendRoom -= n;
  const auto* data = static_cast<const uint8_t*>(bytes);
  socket->outbound.insert(socket->outbound.end(), data, data + n);
  return static_cast<int>(n);
}

bool closedWithoutData(TCPsocket socket) {
  fake::checkOpen(socket, "closed socket checked for data");
  return socket != nullptr && fake::unread(*socket) == 0 && socket->peerClosed && !socket->failed;
}

bool systemNameLookup(const char*, uint32_t&) { return false; }

// Names are the scripted SDLNet_ResolveHost's; none of them takes time.
Lookup lookUpHost(const char* host, uint16_t port, IPaddress& address, uint32_t, NameLookup) {
  return SDLNet_ResolveHost(&address, host, port) == 0 ? Lookup::Found : Lookup::NotFound;
}

bool probeConnect(const IPaddress& address, uint32_t timeoutMs) {
  if (address.host == INADDR_ANY || address.host == INADDR_NONE) {
    fake::misuse("probe of an address that is no host");
  }
  if (!fake::world().reachable) fake::advance(timeoutMs);
  return fake::world().reachable;
}

}  // namespace platform
