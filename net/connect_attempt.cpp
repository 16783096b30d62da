#include "net/connect_attempt.h"

#include <SDL.h>

#include <cstdio>

#include "net/protocol.h"

namespace net {

namespace {

// Closes an attempt that is not taken. One that has connected meanwhile is
// first sent a room query: a host seats every connection it accepts, and one
// that follows the wire format exactly counts a seated connection closed
// without a word as a player leaving (its count would drop below the
// players in the room), while it answers a query and closes it uncounted.
void letGo(platform::Socket& socket) {
  if (socket.valid() && platform::connectState(socket, 0) == platform::ConnectState::Connected) {
    platform::sendSome(socket, kRoomQueryBytes, sizeof kRoomQueryBytes);
  }
  socket.close();
}

}  // namespace

void ConnectAttempt::start(const platform::LookupAnswer& addresses, uint32_t limitMs) {
  cancel();
  addresses_ = addresses;
  limitMs_ = limitMs;
  startedAt_ = SDL_GetTicks();
  state_ = State::Pending;
  startDue(startedAt_);
}

void ConnectAttempt::cancel() {
  for (platform::Socket& socket : sockets_) letGo(socket);
  letGo(won_);
  next_ = 0;
  error_[0] = '\0';
  state_ = State::Idle;
}

size_t ConnectAttempt::underWay() const {
  size_t count = 0;
  for (size_t i = 0; i < next_; ++i) count += sockets_[i].valid() ? 1 : 0;
  return count;
}

void ConnectAttempt::noteFailure() {
  std::snprintf(error_.data(), error_.size(), "%s", platform::socketError());
}

// Unsigned arithmetic keeps the times right across the wrap of the tick count.
void ConnectAttempt::startDue(uint32_t now) {
  while (next_ < addresses_.count &&
         (underWay() == 0 || now - lastStartAt_ >= kNextAddressDelayMs)) {
    const size_t i = next_++;
    lastStartAt_ = now;
    sockets_[i] = platform::startConnect(addresses_.addresses[i]);
    if (!sockets_[i].valid()) noteFailure();
  }
  if (underWay() == 0) state_ = State::Failed;
}

bool ConnectAttempt::collect(const platform::PollItem* items) {
  bool failed = false;
  for (size_t i = 0; i < next_; ++i) {
    if (!items[i].writable) continue;
    switch (platform::connectState(sockets_[i], 0)) {
      case platform::ConnectState::Connected:
        won_ = std::move(sockets_[i]);
        connected_ = addresses_.addresses[i];
        for (platform::Socket& other : sockets_) letGo(other);
        state_ = State::Connected;
        return false;
      case platform::ConnectState::Failed:
        noteFailure();
        sockets_[i].close();
        failed = true;
        break;
      case platform::ConnectState::Pending:
        break;
    }
  }
  return failed;
}

// The poll waits for the first of: the caller's wait, the attempt's bound,
// the next address's turn.
uint32_t ConnectAttempt::pollWait(uint32_t now, uint32_t waitLeft) const {
  uint32_t wait = waitLeft;
  const uint32_t spent = now - startedAt_;
  const uint32_t boundLeft = spent < limitMs_ ? limitMs_ - spent : 0;
  if (wait > boundLeft) wait = boundLeft;
  if (next_ < addresses_.count) {
    const uint32_t sinceLast = now - lastStartAt_;
    const uint32_t turnLeft = sinceLast < kNextAddressDelayMs ? kNextAddressDelayMs - sinceLast : 0;
    if (wait > turnLeft) wait = turnLeft;
  }
  return wait;
}

ConnectAttempt::State ConnectAttempt::step(uint32_t waitMs) {
  const uint32_t begun = SDL_GetTicks();
  for (;;) {
    if (state_ != State::Pending) return state_;
    const uint32_t now = SDL_GetTicks();
    startDue(now);
    if (state_ != State::Pending) return state_;
    std::array<platform::PollItem, platform::kMaxLookupAddresses> items{};
    for (size_t i = 0; i < next_; ++i) {
      items[i].socket = &sockets_[i];
      items[i].wantWrite = true;
    }
    const uint32_t waited = now - begun;
    const uint32_t wait = pollWait(now, waited < waitMs ? waitMs - waited : 0);
    const bool failed =
        platform::pollSockets(items.data(), next_, wait) > 0 && collect(items.data());
    if (state_ == State::Connected) return state_;
    const uint32_t after = SDL_GetTicks();
    if (after - startedAt_ >= limitMs_) {
      // Out of time: with an attempt still under way nobody answered;
      // otherwise the last failure is the outcome.
      state_ = underWay() > 0 ? State::TimedOut : State::Failed;
      for (platform::Socket& socket : sockets_) letGo(socket);
      return state_;
    }
    // A failure moves on at once; otherwise this call is over once its
    // wait is.
    if (!failed && after - begun >= waitMs) {
      startDue(after);
      return state_;
    }
  }
}

platform::Socket ConnectAttempt::take() { return std::move(won_); }

}  // namespace net
