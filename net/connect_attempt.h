// One connection to a host over whichever of its addresses answers first,
// the addresses tried side by side as RFC 8305 ("Happy Eyeballs") does: the
// first address at once; the next one when the attempts before it have
// neither connected nor failed within kNextAddressDelayMs (the earlier
// attempts go on meanwhile), or at once when every attempt under way has
// failed. The first connection made is taken and the other attempts are
// closed (one that has connected meanwhile is sent a room query first, so a
// host never counts it as a player who left). The whole attempt has a bound of its own, however many addresses
// it tries. The room query steps it once per frame without waiting; a
// guest's join waits on it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/net_socket.h"

namespace net {

// How long the attempts under way have to connect before the next address
// is tried beside them (RFC 8305's recommended "Connection Attempt Delay").
inline constexpr uint32_t kNextAddressDelayMs = 250;

class ConnectAttempt {
 public:
  enum class State : uint8_t { Idle, Pending, Connected, Failed, TimedOut };

  ConnectAttempt() = default;
  ~ConnectAttempt() { cancel(); }
  ConnectAttempt(const ConnectAttempt&) = delete;
  ConnectAttempt& operator=(const ConnectAttempt&) = delete;

  // Starts connecting to addresses (tried in the order given, each with its
  // port), limitMs in all; whatever an earlier start had open is closed.
  // Without an address it has Failed at once.
  void start(const platform::LookupAnswer& addresses, uint32_t limitMs);
  // Moves the attempt on, waiting at most waitMs for it to settle (0: not at
  // all, as a frame's step does). Returns where it stands: Connected (take
  // the connection), Failed (every address failed: error() tells the last
  // failure), TimedOut (limitMs passed with no connection made), or Pending.
  State step(uint32_t waitMs = 0);
  State state() const { return state_; }
  // Once Connected: the connection, handed over (invalid when asked
  // again), and the address it was made to.
  platform::Socket take();
  const platform::Address& address() const { return connected_; }
  // The system's text for the last address that failed ("Connection
  // refused", say); empty when none did.
  const char* error() const { return error_.data(); }
  // Closes every attempt under way; back to Idle.
  void cancel();

 private:
  // Starts the attempts that are due: the next address when nothing is under
  // way or the last one started kNextAddressDelayMs ago. One that fails at
  // once moves on to the next address at once.
  void startDue(uint32_t now);
  // Looks at the attempts the poll found ready, in the addresses' order;
  // true when one of them failed (the next address is then due at once).
  bool collect(const platform::PollItem* items);
  // How long the poll of this step may wait, waitLeft of the caller's wait
  // being left.
  uint32_t pollWait(uint32_t now, uint32_t waitLeft) const;
  void noteFailure();
  size_t underWay() const;

  State state_ = State::Idle;
  platform::LookupAnswer addresses_;
  std::array<platform::Socket, platform::kMaxLookupAddresses> sockets_;
  size_t next_ = 0;           // the next address to start
  uint32_t startedAt_ = 0;    // SDL_GetTicks at start
  uint32_t lastStartAt_ = 0;  // SDL_GetTicks when the last address was started
  uint32_t limitMs_ = 0;
  platform::Socket won_;
  platform::Address connected_;
  std::array<char, 128> error_{};
};

}  // namespace net
