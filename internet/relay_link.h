// Reaching a relay's server (the TURN server a room directory offers) over
// TCP, without waiting: its name looked up and its addresses tried in turn,
// all within one bound; and a guest's question of its own public address
// to it (a STUN Binding, RFC 5389, unauthenticated), which a guest tells a
// relayed room's host so that the host lets it through its relay. Both are
// stepped by a worker's loop (internet/directory.h, internet/room_relay.h)
// and never wait themselves.
#pragma once

#include <cstdint>
#include <string>

#include "internet/turn_client.h"
#include "platform/net_socket.h"

namespace internet {

class ServerConnection {
 public:
  enum class State : uint8_t { Idle, LookingUp, Connecting, Connected, Failed };

  // Looks host up (a numeric address at once) and connects to port on its
  // addresses in turn, limitMs in all.
  void start(const std::string& host, uint16_t port, uint32_t limitMs);
  // Connects to address alone, limitMs at most.
  void start(const platform::Address& address, uint32_t limitMs);
  State step();
  State state() const { return state_; }
  // Connected: the connection, handed over once, and where it goes.
  platform::Socket take() { return std::move(socket_); }
  const platform::Address& address() const { return address_; }
  // The addresses the name was looked up to (empty before).
  const platform::LookupAnswer& addresses() const { return addresses_; }
  const std::string& failure() const { return failure_; }
  // Connecting: the socket, for a poll of the caller's.
  const platform::Socket& socket() const { return socket_; }

 private:
  void reset(uint16_t port, uint32_t limitMs);
  void next();
  void fail(const std::string& why);

  State state_ = State::Idle;
  platform::HostLookup lookup_;
  platform::LookupAnswer addresses_;
  size_t tried_ = 0;
  uint16_t port_ = 0;
  uint64_t deadline_ = 0;
  platform::Socket socket_;
  platform::Address address_;
  std::string failure_;
};

// A guest's public address as a relay's server sees it.
class StunProbe {
 public:
  enum class State : uint8_t { Idle, Asking, Done, Failed };
  // How long the whole question may take.
  static constexpr uint32_t kLimitMs = 1500;

  void start(const platform::Address& server, uint32_t seed);
  // Moves on without waiting.
  State step();
  State state() const { return state_; }
  // Done: the address and port the server saw this machine connect from.
  const platform::Address& publicAddress() const { return public_; }
  const std::string& failure() const { return failure_; }
  const platform::Socket& socket() const { return socket_; }

 private:
  void fail(const std::string& why);

  State state_ = State::Idle;
  ServerConnection connection_;
  platform::Socket socket_;
  stun::Transaction transaction_{};
  std::string toSend_;
  turn::MessageStream stream_;
  uint64_t deadline_ = 0;
  platform::Address public_;
  std::string failure_;
};

// Milliseconds of the steady clock, for the relay's timers.
uint64_t relayClockMs();

}  // namespace internet
