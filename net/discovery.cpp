#include "net/discovery.h"

#include <cstdio>
#include <cstring>
#include <random>

namespace net {
namespace {

bool zero(const uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (bytes[i] != 0) return false;
  }
  return true;
}

bool hasHeader(const uint8_t* bytes, size_t length, const char (&magic)[4]) {
  return bytes != nullptr && length == kDiscoverySize && std::memcmp(bytes, magic, 4) == 0 &&
         bytes[kDiscoveryVersionOffset] == kDiscoveryVersion;
}

// Broadcast addresses a search sends to at most.
constexpr size_t kMaxBroadcasts = 16;

}  // namespace

DiscoveryBytes discoveryRequest(uint32_t nonce) {
  DiscoveryBytes out{};
  std::memcpy(out.data(), kDiscoveryRequestMagic, 4);
  out[kDiscoveryVersionOffset] = kDiscoveryVersion;
  putU32(&out[kDiscoveryNonceOffset], nonce);
  return out;
}

DiscoveryBytes discoveryAnswer(const DiscoveryAnswer& answer) {
  DiscoveryBytes out{};
  std::memcpy(out.data(), kDiscoveryAnswerMagic, 4);
  out[kDiscoveryVersionOffset] = kDiscoveryVersion;
  putU16(&out[kDiscoveryPortOffset], answer.port);
  putU32(&out[kDiscoveryNonceOffset], answer.nonce);
  putU32(&out[kDiscoveryInstanceOffset], answer.instance);
  return out;
}

bool readDiscoveryRequest(const uint8_t* bytes, size_t length, uint32_t& nonce) {
  if (!hasHeader(bytes, length, kDiscoveryRequestMagic)) return false;
  if (!zero(bytes + 5, 3) || !zero(bytes + 12, 4)) return false;
  nonce = getU32(bytes + kDiscoveryNonceOffset);
  return true;
}

bool readDiscoveryAnswer(const uint8_t* bytes, size_t length, DiscoveryAnswer& answer) {
  if (!hasHeader(bytes, length, kDiscoveryAnswerMagic) || bytes[5] != 0) return false;
  const uint16_t port = getU16(bytes + kDiscoveryPortOffset);
  if (port == 0) return false;
  answer.port = port;
  answer.nonce = getU32(bytes + kDiscoveryNonceOffset);
  answer.instance = getU32(bytes + kDiscoveryInstanceOffset);
  return true;
}

uint32_t discoveryRandom() {
  static std::mt19937 generator(std::random_device{}());
  return static_cast<uint32_t>(generator());
}

bool RoomBeacon::open(uint16_t roomPort) {
  socket_ = platform::openDatagram(kDiscoveryPort, true);
  roomPort_ = roomPort;
  instance_ = discoveryRandom();
  if (!socket_.valid()) {
    std::fprintf(stderr, "room search: UDP port %u: %s\n", kDiscoveryPort, platform::socketError());
  }
  return socket_.valid();
}

int RoomBeacon::poll(bool serving) {
  int answered = 0;
  for (int i = 0; i < kDiscoveryReadsPerPoll && socket_.valid(); ++i) {
    // One byte more than a request, so a longer datagram is told apart
    // from a request cut to size.
    std::array<uint8_t, kDiscoverySize + 1> bytes{};
    platform::Address from;
    const int length = platform::receiveDatagram(socket_, bytes.data(), bytes.size(), from);
    if (length == platform::kNoDatagram) break;
    uint32_t nonce = 0;
    if (!serving || !readDiscoveryRequest(bytes.data(), static_cast<size_t>(length), nonce)) {
      continue;
    }
    if (platform::isWildcardOrBroadcast(from) || from.port == 0) continue;
    const DiscoveryBytes answer = discoveryAnswer({roomPort_, nonce, instance_});
    static_assert(sizeof answer <= kDiscoverySize, "an answer never outgrows its request");
    if (platform::sendDatagram(socket_, from, answer.data(), answer.size()) > 0) ++answered;
  }
  return answered;
}

bool RoomSearch::start() {
  socket_ = platform::openDatagram(0, false);
  if (!socket_.valid()) return false;
  nonce_ = discoveryRandom();
  std::array<platform::Address, kMaxBroadcasts> targets{};
  size_t count = platform::broadcastAddresses(targets.data(), targets.size());
  // Without an interface that broadcasts, the limited broadcast still
  // reaches the rooms of this machine.
  if (count == 0) targets[count++] = platform::Address::v4(0xFFFFFFFFu, 0);
  const DiscoveryBytes request = discoveryRequest(nonce_);
  bool sent = false;
  for (size_t i = 0; i < count; ++i) {
    targets[i].port = kDiscoveryPort;
    sent = platform::sendDatagram(socket_, targets[i], request.data(), request.size()) > 0 || sent;
  }
  if (!sent) socket_.close();
  readsLeft_ = kReadsPerStep;
  return sent;
}

bool RoomSearch::next(platform::Address& room, uint32_t& instance) {
  while (socket_.valid() && readsLeft_ > 0) {
    --readsLeft_;
    std::array<uint8_t, kDiscoverySize + 1> bytes{};
    platform::Address from;
    const int length = platform::receiveDatagram(socket_, bytes.data(), bytes.size(), from);
    if (length == platform::kNoDatagram) return false;
    DiscoveryAnswer answer;
    if (!readDiscoveryAnswer(bytes.data(), static_cast<size_t>(length), answer)) continue;
    if (answer.nonce != nonce_ || platform::isWildcardOrBroadcast(from)) continue;
    room = from;
    room.port = answer.port;
    instance = answer.instance;
    return true;
  }
  return false;
}

}  // namespace net
