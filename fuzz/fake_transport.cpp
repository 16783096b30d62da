#include "fuzz/fake_transport.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace fake {
namespace {

// Everything the fake hands out, kept until the next reset so that a use
// after close is caught rather than read from freed memory. A socket's
// handle is its index.
struct World {
  std::vector<std::unique_ptr<Connection>> sockets;
  Connection* listener = nullptr;
  Connection* connection = nullptr;
  bool reachable = true;
  Connection next;
  uint32_t now = 0;
};

World& world() {
  static World w;
  return w;
}

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "fake transport: %s\n", what);
  std::abort();
}

Connection* add() {
  World& w = world();
  w.sockets.push_back(std::make_unique<Connection>());
  w.sockets.back()->handle = static_cast<platform::SocketHandle>(w.sockets.size() - 1);
  return w.sockets.back().get();
}

platform::Socket make(Connection** made) {
  *made = add();
  return platform::Socket((*made)->handle);
}

// The connection behind a socket the code still holds open.
Connection& of(const platform::Socket& socket, const char* call) {
  const World& w = world();
  const platform::SocketHandle handle = socket.handle();
  if (handle < 0 || static_cast<size_t>(handle) >= w.sockets.size()) misuse(call);
  Connection& c = *w.sockets[static_cast<size_t>(handle)];
  if (c.closedByCode) misuse(call);
  return c;
}

bool hasSomething(const Connection& c) {
  if (c.listening) return !c.pending.empty();
  return unread(c) > 0 || c.peerClosed || c.failed;
}

}  // namespace

void reset() {
  World& w = world();
  w.sockets.clear();
  w.listener = nullptr;
  w.connection = nullptr;
  w.reachable = true;
  w.next = Connection{};
  w.now = 0;
}

Connection* listener() { return world().listener; }

Connection* arrive() {
  Connection* server = world().listener;
  if (server == nullptr || server->closedByCode) return nullptr;
  Connection* incoming = add();
  incoming->peer = platform::Address::v4(0x7F000001, static_cast<uint16_t>(incoming->handle));
  server->pending.push_back(incoming);
  return incoming;
}

Connection* connection() { return world().connection; }

void setReachable(bool reachable) { world().reachable = reachable; }

Connection& nextConnection() { return world().next; }

void advance(uint32_t ms) { world().now += ms; }

}  // namespace fake

extern "C" {

Uint32 SDL_GetTicks(void) { return fake::world().now; }

void SDL_Delay(Uint32 ms) { fake::advance(ms); }

}  // extern "C"

namespace platform {

void Socket::close() {
  if (handle_ == kNoSocket) return;
  fake::Connection& c = fake::of(*this, "socket closed twice");
  c.closedByCode = true;
  for (fake::Connection* waiting : c.pending) waiting->peerClosed = true;
  handle_ = kNoSocket;
}

const char* socketError() { return "scripted failure"; }

Socket listenOn(uint16_t port, int) {
  fake::Connection* server = nullptr;
  Socket socket = fake::make(&server);
  server->listening = true;
  server->peer.port = port;
  fake::world().listener = server;
  return socket;
}

Socket acceptWaiting(const Socket& listener) {
  fake::Connection& server = fake::of(listener, "accept on a closed socket");
  if (!server.listening) fake::misuse("accept on a connection");
  if (server.pending.empty()) return Socket();
  fake::Connection* incoming = server.pending.front();
  server.pending.pop_front();
  return Socket(incoming->handle);
}

Socket startConnect(const Address& address) {
  if (isWildcardOrBroadcast(address)) {
    fake::misuse("connection to an address that is no host");
  }
  if (!fake::world().reachable) return Socket();
  fake::Connection* client = nullptr;
  Socket socket = fake::make(&client);
  const SocketHandle handle = client->handle;
  *client = fake::world().next;
  client->handle = handle;
  client->peer = address;
  fake::world().connection = client;
  return socket;
}

ConnectState connectState(const Socket& socket, uint32_t) {
  fake::of(socket, "connection state of a closed socket");
  return ConnectState::Connected;
}

// Takes what the connection's room allows, as a non-blocking send does.
int sendSome(const Socket& socket, const void* bytes, size_t length) {
  fake::Connection& c = fake::of(socket, "send on a closed socket");
  if (c.listening) fake::misuse("send on a listening socket");
  if (c.failed) return -1;
  const size_t n = std::min(length, c.sendRoom);
  c.sendRoom -= n;
  const auto* data = static_cast<const uint8_t*>(bytes);
  c.outbound.insert(c.outbound.end(), data, data + n);
  return static_cast<int>(n);
}

int receiveSome(const Socket& socket, void* bytes, size_t capacity) {
  fake::Connection& c = fake::of(socket, "receive on a closed socket");
  if (c.listening) fake::misuse("receive on a listening socket");
  if (c.failed) return -1;
  if (capacity == 0) return 0;
  if (fake::unread(c) == 0) return c.peerClosed ? -1 : 0;
  size_t n = std::min(capacity, fake::unread(c));
  if (c.recvPiece > 0) n = std::min(n, c.recvPiece);
  std::memcpy(bytes, c.inbound.data() + c.inboundAt, n);
  c.inboundAt += n;
  return static_cast<int>(n);
}

int pollSockets(PollItem* items, size_t count, uint32_t) {
  int ready = 0;
  for (size_t i = 0; i < count; ++i) {
    PollItem& item = items[i];
    item.readable = item.writable = false;
    if (item.socket == nullptr || !item.socket->valid()) continue;
    const fake::Connection& c = fake::of(*item.socket, "poll of a closed socket");
    item.writable = item.wantWrite;  // connections are made at once
    item.readable = !item.wantWrite && fake::hasSomething(c);
    ready += item.readable || item.writable ? 1 : 0;
  }
  return ready;
}

// Names are scripted: "unknown.invalid" is not found, any other name is
// 10.0.0.2; the numeric forms the harnesses use are taken as they are.
bool systemNameLookup(const char* name, LookupAnswer& answer) {
  answer = LookupAnswer{};
  if (std::strcmp(name, "unknown.invalid") == 0) return false;
  answer.addresses[0] = Address::v4(0x0A000002, 0);
  answer.count = 1;
  return true;
}

bool parseNumericAddress(const char* text, Address& address) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  char extra = 0;
  if (std::sscanf(text, "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  address = Address::v4((a << 24) | (b << 16) | (c << 8) | d, address.port);
  return true;
}

std::string formatAddress(const Address& address) {
  const uint32_t host = address.v4Host();
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", host >> 24, (host >> 16) & 0xFF,
                (host >> 8) & 0xFF, host & 0xFF);
  return text;
}

int pendingLookups() { return 0; }

// A lookup settles at once: no resolver takes time here.
struct HostLookup::Job {};

HostLookup::~HostLookup() = default;

void HostLookup::start(const char* name, NameLookup lookup) {
  abandon();
  settled_ = Lookup::NotFound;
  if (name == nullptr || name[0] == '\0') return;
  answer_ = LookupAnswer{};
  if (parseNumericAddress(name, answer_.addresses[0])) {
    answer_.count = 1;
    settled_ = Lookup::Found;
  } else if (lookup(name, answer_)) {
    settled_ = Lookup::Found;
  }
}

Lookup HostLookup::result(LookupAnswer& answer, uint32_t) {
  if (settled_ == Lookup::Found) answer = answer_;
  return settled_;
}

void HostLookup::abandon() { job_.reset(); }

// No local network here: datagrams go nowhere and none arrive.
Socket openDatagram(uint16_t, bool) {
  fake::Connection* made = nullptr;
  return fake::make(&made);
}

int sendDatagram(const Socket&, const Address&, const void*, size_t) { return -1; }

int receiveDatagram(const Socket&, void*, size_t, Address&) { return kNoDatagram; }

size_t broadcastAddresses(Address*, size_t) { return 0; }

size_t localAddresses(Address*, size_t) { return 0; }

}  // namespace platform
