// Helpers of the network tests: their fixture, the sizes of what goes over
// the wire, a raw socket (POSIX or Winsock) that plays the other end of a connection and
// checks exact bytes, and small lobbies (a NetLink with its players and
// room) driven frame by frame on the test's thread.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "net/lobby_protocol.h"
#include "net/net_link.h"
#include "net/wire.h"
#include "records/records.h"
#include "support/socket_calls.h"

namespace nettest {

using Bytes = std::vector<uint8_t>;

// Upper bound on frames or waits before a helper gives up; a bound against
// hanging, not a timing assertion.
inline constexpr int kMaxSteps = 2000;

// Sizes on the wire, in bytes, as a peer counts them. Written out from the
// format here rather than taken from net/protocol.h, so that a change there
// fails these tests instead of following along.
inline constexpr size_t kRecordSize = 140;  // a PlayerRecord
inline constexpr size_t kRoomSize = 712;    // a RoomRecord: the answer to a room query
inline constexpr size_t kHostHeader = 4;    // from, type, length (u16)
inline constexpr size_t kGuestHeader = 3;   // type, length (u16)
inline constexpr size_t kJoinRequest = kGuestHeader;
inline constexpr size_t kJoinAnswer = kHostHeader + 1;  // the slot
inline constexpr size_t kLeaveFrame = kHostHeader;
inline constexpr size_t kRecordFromHost = kHostHeader + kRecordSize;    // 144
inline constexpr size_t kRecordFromGuest = kGuestHeader + kRecordSize;  // 143

// The fixture of the tests that use sockets. A send to a peer that has gone
// must fail, not end the program, so SIGPIPE keeps its default action
// (ending the process) in all of them: a send that raises it fails the run.
// Windows has no such signal.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_DFL);
#endif
  }
};

inline PlayerRecord player(const char* name, uint16_t vocal = 500) {
  PlayerRecord record;
  record.present = 1;
  copyField(record.name, name);
  record.stats = {vocal, 400, 300, 200};
  return record;
}

inline Bytes recordBytes(const PlayerRecord& record) {
  const net::PlayerBytes bytes = net::toBytes(record);
  return Bytes(bytes.begin(), bytes.end());
}

// A host frame: from, type, length, payload.
inline Bytes hostFrame(uint8_t from, uint8_t type, const Bytes& payload = {}) {
  Bytes frame = {from, type, static_cast<uint8_t>(payload.size() & 0xFF),
                 static_cast<uint8_t>(payload.size() >> 8)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

// A guest frame: type, length, payload.
inline Bytes guestFrame(uint8_t type, const Bytes& payload = {}) {
  Bytes frame = {type, static_cast<uint8_t>(payload.size() & 0xFF),
                 static_cast<uint8_t>(payload.size() >> 8)};
  frame.insert(frame.end(), payload.begin(), payload.end());
  return frame;
}

inline Bytes join(const Bytes& a, const Bytes& b) {
  Bytes all = a;
  all.insert(all.end(), b.begin(), b.end());
  return all;
}

class RawSocket {
 public:
  RawSocket() = default;
  explicit RawSocket(sys::Native fd, bool blocking = true) : fd_(fd), blocking_(blocking) {}
  ~RawSocket() { close(); }
  RawSocket(RawSocket&& other) noexcept
      : fd_(other.fd_),
        blocking_(other.blocking_),
        inbox_(std::move(other.inbox_)),
        closed_(other.closed_) {
    other.fd_ = sys::kNone;
  }
  RawSocket& operator=(RawSocket&& other) noexcept {
    close();
    fd_ = other.fd_;
    blocking_ = other.blocking_;
    inbox_ = std::move(other.inbox_);
    closed_ = other.closed_;
    other.fd_ = sys::kNone;
    return *this;
  }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  static sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  // receiveBuffer > 0 shrinks the socket's receive buffer first, so that a
  // peer that never reads fills it soon.
  static RawSocket connectTo(uint16_t port, int receiveBuffer = 0) {
    RawSocket s(sys::openStream(false));
    if (receiveBuffer > 0) sys::setInt(s.fd_, SOL_SOCKET, SO_RCVBUF, receiveBuffer);
    // Each send leaves at once, as the program's own small messages do
    // once the host is reading: no waiting on acknowledgements.
    sys::setInt(s.fd_, IPPROTO_TCP, TCP_NODELAY, 1);
    const sockaddr_in address = loopback(port);
    if (::connect(s.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      s.close();
    }
    return s;
  }
  // Starts a connection without waiting for it to be made (a host whose
  // backlog is full would hold a blocking connect). For silent peers: the
  // socket stays non-blocking.
  static RawSocket startConnect(uint16_t port) {
    RawSocket s(sys::openStream(true), false);
    const sockaddr_in address = loopback(port);
    ::connect(s.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return s;
  }
  static RawSocket listenOn(uint16_t port, int backlog = 8) {
    RawSocket s(sys::openStream(false));
#ifndef _WIN32
    // On Windows the option would let a second listener take the port.
    sys::setInt(s.fd_, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    const sockaddr_in address = loopback(port);
    if (::bind(s.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.fd_, backlog) != 0) {
      s.close();
    }
    return s;
  }
  // Waits (bounded) for a connection on a listening socket.
  RawSocket accept() const { return ready(false, 5000) ? acceptNow() : RawSocket(); }
  // A connection waiting on a listening socket that is ready.
  RawSocket acceptNow() const { return RawSocket(::accept(fd_, nullptr, nullptr)); }
  // Whether the socket is ready to read (or, with write, to write, or its
  // connect has failed) within timeoutMs.
  bool ready(bool write, int timeoutMs) const { return sys::waitReady(fd_, write, timeoutMs) == 1; }
  // Waits (bounded) for the first bytes or the end of the connection; true
  // when it ended with nothing sent. Nothing is taken from the connection.
  bool closedBeforeSending() const {
    if (!ready(false, 5000)) return false;
    uint8_t byte = 0;
    return sys::receiveOnce(fd_, &byte, 1, true, true) == 0;
  }

  bool valid() const { return fd_ != sys::kNone; }
  sys::Native fd() const { return fd_; }
  bool send(const Bytes& bytes) const {
    return sys::sendOnce(fd_, bytes.data(), bytes.size(), false, blocking_) ==
           static_cast<long>(bytes.size());
  }
  // Sends what the system takes now; the bytes taken, or -1.
  long sendNow(const Bytes& bytes) const {
    return sys::sendOnce(fd_, bytes.data(), bytes.size(), true, blocking_);
  }
  // One receive, waiting for it on a blocking socket: the bytes received, 0
  // at the end of the connection, -1 on its failure.
  long receive(uint8_t* bytes, size_t capacity) const {
    return sys::receiveOnce(fd_, bytes, capacity, false, false);
  }
  // Takes whatever has arrived, without waiting. Sets closed_ on end of file.
  void drain() {
    std::array<uint8_t, 4096> chunk;
    for (;;) {
      const long got = sys::receiveOnce(fd_, chunk.data(), chunk.size(), true, false);
      // The end of the connection, or its reset.
      if (got == 0 || (got < 0 && !sys::wouldBlock())) closed_ = true;
      if (got <= 0) return;
      inbox_.insert(inbox_.end(), chunk.begin(), chunk.begin() + got);
    }
  }
  // Takes n bytes, running `step` (a frame of the lobbies under test, or a
  // short sleep) between looks. Returns fewer when the connection closes or
  // the bound is reached.
  Bytes take(size_t n, const std::function<void()>& step) {
    for (int i = 0; i < kMaxSteps && inbox_.size() < n && !closed_; ++i) {
      drain();
      if (inbox_.size() < n && !closed_) step();
    }
    drain();
    const size_t count = n < inbox_.size() ? n : inbox_.size();
    Bytes out(inbox_.begin(), inbox_.begin() + static_cast<long>(count));
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<long>(count));
    return out;
  }
  // Runs `step` until the other side closes; true when it did.
  bool waitClosed(const std::function<void()>& step) {
    for (int i = 0; i < kMaxSteps && !closed_; ++i) {
      drain();
      if (!closed_) step();
    }
    return closed_;
  }
  size_t pending() {
    drain();
    return inbox_.size();
  }
  // Closes with a reset, as a crashed peer or a pulled cable would.
  void closeHard() {
    sys::lingerHard(fd_);
    close();
  }
  void close() {
    if (fd_ != sys::kNone) sys::closeNative(fd_);
    fd_ = sys::kNone;
  }

 private:
  sys::Native fd_ = sys::kNone;
  bool blocking_ = true;
  Bytes inbox_;
  bool closed_ = false;
};

// One copy of the program's lobby: the link, the six players and the room,
// run one frame at a time as the lobby scene does (handle, then flush).
struct Lobby {
  net::NetLink link;
  std::array<PlayerRecord, kPlayerSlots> players{};
  RoomRecord room{};
  std::array<int, kPlayerSlots> arrivals{};  // PlayerInfo applied, per slot
  std::array<int, kPlayerSlots> leaves{};    // Leave applied, per slot
  int hostLost = 0;

  // Hosts a room on port with `name` in slot 0.
  bool host(uint16_t port, const char* name = "Host") {
    link.reset();
    link.setMode(net::Host);
    room.maxPlayers = kPlayerSlots;
    room.currentPlayers = 1;
    room.port = port;
    copyField(room.roomName, "Room");
    players[0] = player(name);
    return net::openLobby(link, room);
  }
  // Joins the room at 127.0.0.1:port with `name` as its own record.
  bool guest(uint16_t port, const char* name, const char* hostAddress = "127.0.0.1") {
    link.reset();
    link.setMode(net::Guest);
    copyField(room.hostAddress, hostAddress);
    room.port = port;
    room.maxPlayers = kPlayerSlots;
    players[0] = player(name);
    return net::openLobby(link, room);
  }
  void frame() {
    const net::LobbyChanges changes = net::handleLobbyMessages(link, players, room);
    for (int i = 0; i < kPlayerSlots; ++i) {
      arrivals[i] += changes.recordArrived[i];
      leaves[i] += changes.slotLeft[i];
    }
    hostLost += changes.hostLost;
    link.flush();
  }
  void frames(int count) {
    for (int i = 0; i < count; ++i) frame();
  }
  ~Lobby() { net::closeLobby(link); }
};

// Runs frames of every lobby until done() holds; false when it never did.
inline bool runUntil(const std::function<bool()>& done, std::initializer_list<Lobby*> lobbies) {
  for (int i = 0; i < kMaxSteps; ++i) {
    if (done()) return true;
    for (Lobby* lobby : lobbies) lobby->frame();
    SDL_Delay(1);
  }
  return done();
}

inline std::function<void()> frames(std::initializer_list<Lobby*> lobbies) {
  std::vector<Lobby*> list(lobbies);
  return [list] {
    for (Lobby* lobby : list) lobby->frame();
    SDL_Delay(1);
  };
}

// Connects a raw guest to host and joins; returns the slot it was given, or
// -1. With takeRecords the records that follow the Join answer are read
// too, so the next bytes the guest sees are what happens after its arrival.
inline int joinRaw(Lobby& host, RawSocket& client, bool takeRecords = true) {
  client = RawSocket::connectTo(host.room.port);
  if (!client.valid() || !client.send(guestFrame(net::Join))) return -1;
  const Bytes answer = client.take(kJoinAnswer, frames({&host}));
  if (answer.size() != kJoinAnswer) return -1;
  const int slot = answer[kHostHeader];
  if (!takeRecords) return slot;
  size_t present = 0;
  for (int i = 0; i < kPlayerSlots; ++i) present += i != slot && host.players[i].present;
  client.take(kRecordFromHost * present, frames({&host}));
  return slot;
}

// Sends a record from slot 0 to every joined guest, and returns its bytes:
// a guest that reads exactly them next was sent nothing else before.
inline Bytes probe(Lobby& host) {
  const Bytes record = recordBytes(player("Probe"));
  host.link.queueMessage(net::PlayerInfo, kRecordSize, record.data(), 0, net::ToAll, 0);
  host.link.flush();
  return hostFrame(0, net::PlayerInfo, record);
}

// Runs a lobby's frames on a thread of its own while the test's thread
// blocks (in a room query, a connection attempt).
class Background {
 public:
  explicit Background(Lobby& lobby)
      : thread_([this, &lobby] {
          while (!stop_) {
            lobby.frame();
            SDL_Delay(1);
          }
        }) {}
  ~Background() {
    stop_ = true;
    thread_.join();
  }
  Background(const Background&) = delete;
  Background& operator=(const Background&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Accepts a connection on one of the link's listening sockets, waiting a
// bounded time for it.
inline platform::Socket acceptWithin(const platform::Socket& listener) {
  platform::PollItem item{&listener};
  if (platform::pollSockets(&item, 1, 5000) == 0) return platform::Socket();
  return platform::acceptWaiting(listener);
}

inline RoomRecord listedRoom(uint16_t port, const char* host = "127.0.0.1") {
  RoomRecord room;
  copyField(room.hostAddress, host);
  room.port = port;
  return room;
}

}  // namespace nettest
