#include "internet/relay_link.h"

#include <chrono>
#include <random>

namespace internet {

uint64_t relayClockMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void ServerConnection::fail(const std::string& why) {
  state_ = State::Failed;
  failure_ = why;
  socket_.close();
  lookup_.abandon();
}

void ServerConnection::reset(uint16_t port, uint32_t limitMs) {
  lookup_.abandon();
  socket_.close();
  addresses_ = platform::LookupAnswer{};
  tried_ = 0;
  address_ = platform::Address{};
  failure_.clear();
  port_ = port;
  deadline_ = relayClockMs() + limitMs;
}

void ServerConnection::start(const std::string& host, uint16_t port, uint32_t limitMs) {
  reset(port, limitMs);
  deadline_ = relayClockMs() + limitMs;
  state_ = State::LookingUp;
  lookup_.start(host.c_str());
  step();
}

void ServerConnection::start(const platform::Address& address, uint32_t limitMs) {
  reset(address.port, limitMs);
  addresses_.addresses[0] = address;
  addresses_.count = 1;
  state_ = State::Connecting;
  next();
}

// The next address, or the end when none is left.
void ServerConnection::next() {
  while (tried_ < addresses_.count) {
    address_ = addresses_.addresses[tried_++];
    address_.port = port_;
    socket_ = platform::startConnect(address_);
    if (socket_.valid()) return;
  }
  fail(std::string("the connection failed (") + platform::socketError() + ")");
}

ServerConnection::State ServerConnection::step() {
  if (state_ == State::LookingUp) {
    switch (lookup_.result(addresses_)) {
      case platform::Lookup::Pending:
        break;
      case platform::Lookup::Found:
        lookup_.abandon();
        state_ = State::Connecting;
        next();
        break;
      case platform::Lookup::NotFound:
      case platform::Lookup::TimedOut:
        fail("its name has no address");
        break;
    }
  }
  if (state_ == State::Connecting) {
    switch (platform::connectState(socket_, 0)) {
      case platform::ConnectState::Pending:
        break;
      case platform::ConnectState::Connected:
        state_ = State::Connected;
        break;
      case platform::ConnectState::Failed:
        next();
        break;
    }
  }
  if ((state_ == State::LookingUp || state_ == State::Connecting) && relayClockMs() >= deadline_)
    fail(state_ == State::LookingUp ? "its name was not looked up in time" : "no answer in time");
  return state_;
}

void StunProbe::fail(const std::string& why) {
  state_ = State::Failed;
  failure_ = why;
  socket_.close();
}

void StunProbe::start(const platform::Address& server, uint32_t seed) {
  socket_.close();
  stream_ = turn::MessageStream();
  public_ = platform::Address{};
  failure_.clear();
  std::mt19937 random(seed);
  for (uint8_t& byte : transaction_) byte = static_cast<uint8_t>(random() & 0xFF);
  toSend_ = stun::Writer(stun::kBinding, stun::Class::Request, transaction_).finish(nullptr);
  deadline_ = relayClockMs() + kLimitMs;
  connection_.start(server, kLimitMs);
  state_ = State::Asking;
  step();
}

StunProbe::State StunProbe::step() {
  if (state_ != State::Asking) return state_;
  if (!socket_.valid()) {
    const ServerConnection::State reached = connection_.step();
    if (reached == ServerConnection::State::Failed) {
      fail(connection_.failure());
      return state_;
    }
    if (reached == ServerConnection::State::Connected) socket_ = connection_.take();
  }
  if (socket_.valid() && !platform::sendPending(socket_, toSend_)) {
    fail("the connection ended");
    return state_;
  }
  // The answer is one small message; reads are bounded by what it may be.
  for (int reads = 0; socket_.valid() && reads < 4 && state_ == State::Asking; ++reads) {
    uint8_t buffer[512];
    const int got = platform::receiveSome(socket_, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0) {
      fail("the connection ended");
      return state_;
    }
    size_t used = 0;
    while (used < static_cast<size_t>(got) && state_ == State::Asking) {
      const turn::MessageStream::Next next = stream_.read(buffer, static_cast<size_t>(got), &used);
      if (next == turn::MessageStream::Next::Failed) {
        fail(std::string("it sent ") + stun::readName(stream_.failure()));
      } else if (next == turn::MessageStream::Next::Message) {
        const stun::Message& m = stream_.message();
        if (m.method == stun::kBinding && m.transaction == transaction_ &&
            m.kind == stun::Class::Success && m.hasMapped) {
          public_ = m.mapped;
          state_ = State::Done;
          socket_.close();
        }
      }
    }
  }
  if (state_ == State::Asking && relayClockMs() >= deadline_) fail("no answer in time");
  return state_;
}

}  // namespace internet
