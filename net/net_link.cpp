#include "net/net_link.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "net/connect_attempt.h"

namespace net {

namespace {

// What the receive path lets into recvBuffer; the rest is kept for pushLocal.
constexpr size_t kReceivedLimit = kBufferSize - kLocalReserve;

bool validSlot(int slot) { return slot >= 0 && slot < kPlayerSlots; }

bool printResolveError(const char* text) {
  std::fprintf(stderr, "SDLNet_ResolveHost: %s\n", text);
  return false;
}

}  // namespace

bool acceptRoomAddresses(const char* host, platform::Lookup lookup, platform::LookupAnswer& found,
                         uint16_t port) {
  char text[kHostAddressSize + 64];
  switch (lookup) {
    case platform::Lookup::Pending:
    case platform::Lookup::TimedOut:
      std::snprintf(text, sizeof text, "looking up %s took too long", host);
      return printResolveError(text);
    case platform::Lookup::NotFound:
      std::snprintf(text, sizeof text,
                    platform::isHostName(host) ? "%s could not be found"
                                               : "%s is neither an address nor a host name",
                    host);
      return printResolveError(text);
    case platform::Lookup::Found:
      break;
  }
  size_t kept = 0;
  for (size_t i = 0; i < found.count; ++i) {
    if (platform::isWildcardOrBroadcast(found.addresses[i])) continue;
    found.addresses[kept] = found.addresses[i];
    found.addresses[kept++].port = port;
  }
  found.count = kept;
  if (kept == 0) {
    std::snprintf(text, sizeof text, "%s is not a host that can be reached", host);
    return printResolveError(text);
  }
  return true;
}

bool resolveRoomHost(const char* host, uint16_t port, platform::LookupAnswer& addresses) {
  if (host == nullptr || host[0] == '\0') return printResolveError("no host address given");
  platform::HostLookup lookup;
  lookup.start(host);
  const platform::Lookup result = lookup.result(addresses, kLookupTimeoutMs);
  return acceptRoomAddresses(host, result, addresses, port);
}

void printConnectError(const char* text) {
  std::fprintf(stderr, "SDLNet_TCP_Open: %s\n", text != nullptr ? text : platform::socketError());
}

platform::Socket connectTo(const char* host, uint16_t port) {
  platform::LookupAnswer addresses;
  if (!resolveRoomHost(host, port, addresses)) return platform::Socket();
  ConnectAttempt attempt;
  attempt.start(addresses, kConnectTimeoutMs);
  ConnectAttempt::State state = ConnectAttempt::State::Pending;
  // Each step waits up to the attempt's bound, which ends it.
  while ((state = attempt.step(kConnectTimeoutMs)) == ConnectAttempt::State::Pending) {
  }
  if (state == ConnectAttempt::State::Connected) return attempt.take();
  printConnectError(state == ConnectAttempt::State::TimedOut ? kNoConnectAnswer : attempt.error());
  return platform::Socket();
}

bool NetLink::ByteQueue::append(const uint8_t* data, size_t size) {
  if (size > space()) return false;
  if (size > 0) std::memcpy(&bytes[length], data, size);
  length = static_cast<uint16_t>(length + size);
  return true;
}

void NetLink::ByteQueue::consume(size_t size) {
  if (size > length) size = length;
  length = static_cast<uint16_t>(length - size);
  std::memmove(bytes.data(), bytes.data() + size, length);
}

void NetLink::reset() {
  settings_ = Settings{};
  session_ = Session{};
}

void NetLink::closeAll() { session_ = Session{}; }

platform::Socket NetLink::openSocket(const char* host, uint16_t port) {
  if (host != nullptr) return connectTo(host, port);
  platform::Socket listener = platform::listenOn(port, kListenBacklog);
  if (!listener.valid()) printConnectError();
  return listener;
}

bool NetLink::open(const char* host, uint16_t port) {
  closeAll();
  if (host != nullptr) {
    auto& name = settings_.hostName;
    size_t i = 0;
    for (; i + 1 < name.size() && host[i] != '\0'; ++i) name[i] = host[i];
    name[i] = '\0';
  }
  settings_.port = port;
  if (mode() == Offline) return false;
  session_.socket = openSocket(mode() == Guest ? settings_.hostName.data() : nullptr, port);
  // A room is found on the local network too; without the search port it
  // is still found through the room files.
  if (mode() == Host && isOpen()) session_.beacon.open(port);
  return isOpen();
}

void NetLink::acceptPending() {
  if (mode() != Host || !isOpen()) return;
  for (int i = 0; i < kMaxAcceptsPerPoll; ++i) {
    // No slot to give now, but one soon: the newcomer waits in the backlog.
    if (freeSlot() < 0 && silentSlot() < 0 && slotPending()) return;
    platform::Socket incoming = platform::acceptWaiting(session_.socket);
    if (!incoming.valid()) return;
    seat(std::move(incoming));
  }
}

// With all five guest slots taken by guests the connection is closed at
// once, so a newcomer or a room query learns at once that the room is full
// instead of waiting on a connection nobody serves. A connection seated is
// read in the same poll: a room query arrives with its connection and is
// answered in the same frame.
void NetLink::seat(platform::Socket incoming) {
  int slot = freeSlot();
  if (slot < 0) {
    slot = silentSlot();
    if (slot >= 0) closeSlot(static_cast<int8_t>(slot), false);  // it never joined: no Leave
  }
  if (slot < 0) return;
  Peer& peer = session_.peers[slot];
  peer.socket = std::move(incoming);
  peer.state = PeerState::Connected;
  peer.acceptedAt = SDL_GetTicks();
  peer.arrival = ++session_.arrivals;
  peer.messageBudget = kMessageBudgetPerPoll;
}

int NetLink::freeSlot() const {
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (slot != ownSlot() && !session_.peers[slot].socket.valid()) return slot;
  }
  return -1;
}

// A connection that has sent part of a message is on its way to speaking
// and is never pushed out; nor is one still within kQuietGraceMs of its
// accept, whose first bytes may still be on their way. Unsigned arithmetic
// keeps the ages right across the wrap of the tick count.
int NetLink::silentSlot() const {
  const uint32_t now = SDL_GetTicks();
  int oldest = -1;
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    const Peer& peer = session_.peers[slot];
    if (peer.state != PeerState::Connected || peer.heardFrom) continue;
    if (now - peer.acceptedAt < settings_.quietGraceMs) continue;
    if (oldest < 0 || peer.arrival < session_.peers[oldest].arrival) oldest = slot;
  }
  return oldest;
}

bool NetLink::slotPending() const {
  const uint32_t now = SDL_GetTicks();
  for (const Peer& peer : session_.peers) {
    if (peer.state == PeerState::Queried) return true;
    if (peer.state == PeerState::Connected && !peer.heardFrom &&
        now - peer.acceptedAt < settings_.quietGraceMs) {
      return true;
    }
  }
  return false;
}

// Unsigned arithmetic keeps the age right across the wrap of the tick count.
void NetLink::closeSilentConnections() {
  const uint32_t now = SDL_GetTicks();
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    const Peer& peer = session_.peers[slot];
    if (!peer.socket.valid() || peer.state == PeerState::Joined) continue;
    if (now - peer.acceptedAt >= settings_.joinTimeoutMs) {
      closeSlot(static_cast<int8_t>(slot), false);
    }
  }
}

bool NetLink::queueMessage(uint8_t type, uint16_t length, const void* payload, uint8_t from,
                           Target target, uint8_t slot) {
  if (length > 0 && payload == nullptr) return false;
  Session& s = session_;
  const bool host = mode() == Host;
  const size_t size = (host ? kHostHeaderSize : kGuestHeaderSize) + length;
  if (s.queuedCount >= kMaxQueuedMessages || s.sendLength + size > kBufferSize) return false;
  uint8_t* out = &s.sendBuffer[s.sendLength];
  if (host) {
    *out++ = from;
    auto& flags = s.deliveryFlags[s.queuedCount];
    flags.fill(target == ToSlot ? 1 : 0);
    if (validSlot(slot) && target == ToSlot) flags[slot] = 0;
    if (validSlot(slot) && target == ToAllExcept) flags[slot] = 1;
  }
  out[0] = type;
  putU16(out + 1, length);
  if (length > 0) std::memcpy(out + 3, payload, length);
  s.sendLength = static_cast<uint16_t>(s.sendLength + size);
  ++s.queuedCount;
  return true;
}

void NetLink::flush() {
  session_.recvLength = 0;
  session_.readCursor = nullptr;
  if (mode() == Host) flushHost();
  if (mode() == Guest) flushGuest();
  session_.sendLength = 0;
  session_.queuedCount = 0;
}

// Every message moves into the outbox of each joined slot owing it, so the
// queue is empty after every flush and a slow guest holds up nobody else.
// Then each outbox gives its connection what it takes now. A guest whose
// outbox overflows, or whose connection failed, is dropped; its Leave is
// pushed by the next poll, so that no flush can clear it unread.
void NetLink::flushHost() {
  Session& s = session_;
  size_t read = 0;
  for (int row = 0; row < s.queuedCount; ++row) {
    const size_t size = kHostHeaderSize + getU16(&s.sendBuffer[read + kHostLengthOffset]);
    auto& flags = s.deliveryFlags[row];
    for (int slot = 0; slot < kPlayerSlots; ++slot) {
      if (flags[slot] != 0) continue;
      flags[slot] = 1;
      Peer& peer = s.peers[slot];
      // Nobody there to receive it, or not a guest of the lobby.
      if (peer.state != PeerState::Joined) continue;
      if (!peer.outbox.append(&s.sendBuffer[read], size)) dropGuest(slot);
    }
    read += size;
  }
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    Peer& peer = s.peers[slot];
    if (!peer.socket.valid() || peer.outbox.length == 0) continue;
    if (!writeOutbox(peer.socket, peer.outbox)) dropGuest(slot);
  }
}

void NetLink::dropGuest(int slot) {
  const bool joined = session_.peers[slot].state == PeerState::Joined;
  closePeer(slot);
  session_.peers[slot].leavePending = joined;
}

// A guest's failed send is not acted on here: the lost connection shows up
// as a failed receive.
void NetLink::flushGuest() {
  Peer& host = session_.host;
  if (!isOpen() || host.lost) return;
  if (!host.outbox.append(session_.sendBuffer.data(), session_.sendLength)) {
    loseHost();  // the host has not taken our last kOutboxSize bytes
    return;
  }
  if (host.outbox.length > 0 && !writeOutbox(session_.socket, host.outbox)) {
    host.outbox.length = 0;
  }
}

bool NetLink::writeOutbox(const platform::Socket& connection, ByteQueue& outbox) {
  const int sent = platform::sendSome(connection, outbox.bytes.data(), outbox.length);
  if (sent < 0) return false;
  outbox.consume(static_cast<size_t>(sent));
  return true;
}

bool NetLink::pushLocal(uint8_t from, uint8_t type, uint16_t length, const void* payload) {
  if (length > 0 && payload == nullptr) return false;
  Session& s = session_;
  if (s.recvLength + kHostHeaderSize + length > kBufferSize) return false;
  uint8_t* out = &s.recvBuffer[s.recvLength];
  out[kHostFromOffset] = from;
  out[kHostTypeOffset] = type;
  putU16(out + kHostLengthOffset, length);
  if (length > 0) std::memcpy(out + kHostHeaderSize, payload, length);
  s.recvLength = static_cast<uint16_t>(s.recvLength + kHostHeaderSize + length);
  return true;
}

void NetLink::poll() {
  if (mode() == Offline || !isOpen()) return;
  if (mode() == Guest) {
    pollGuest();
  } else {
    pollHost();
  }
}

void NetLink::pollGuest() {
  Peer& host = session_.host;
  if (host.lost || !drainHostStream()) return;
  const size_t space = host.stream.space();
  // Never receive into a full stream: its whole messages wait for room in
  // recvBuffer first.
  if (space == 0) return;
  const int received =
      platform::receiveSome(session_.socket, &host.stream.bytes[host.stream.length], space);
  if (received < 0) {
    loseHost();
    return;
  }
  host.stream.length = static_cast<uint16_t>(host.stream.length + received);
  drainHostStream();
}

// New connections are accepted before the seated ones are read, so a
// newcomer is read in the poll it arrives in, and one arriving in the poll a
// guest drops gets the next free slot, not the one being freed.
void NetLink::pollHost() {
  Session& s = session_;
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    Peer& peer = s.peers[slot];
    if (peer.leavePending) pushLocal(static_cast<uint8_t>(slot), Leave, 0, nullptr);
    peer.leavePending = false;
    peer.messageBudget = kMessageBudgetPerPoll;
  }
  closeSilentConnections();
  acceptPending();
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (!receiveFromGuest(slot)) break;
  }
  // The room is served only while a slot is free; a search is answered
  // the same way.
  session_.beacon.poll(freeSlot() >= 0);
}

bool NetLink::receiveFromGuest(int slot) {
  Peer& peer = session_.peers[slot];
  if (!peer.socket.valid() || peer.state == PeerState::Queried) return true;
  if (!drainGuestStream(slot)) return true;
  if (session_.recvLength > kHostReceiveStop) return false;
  ByteQueue& stream = peer.stream;
  const size_t budget = static_cast<size_t>(kReadBudgetPerPoll);
  const size_t space = stream.space() < budget ? stream.space() : budget;
  int received = 0;
  if (space > 0) {
    received = platform::receiveSome(peer.socket, &stream.bytes[stream.length], space);
    if (received < 0) {
      closeSlot(static_cast<int8_t>(slot), true);
      return true;
    }
    if (received > 0) peer.heardFrom = true;
    stream.length = static_cast<uint16_t>(stream.length + received);
    if (!drainGuestStream(slot)) return true;
  }
  // Outran: it filled this poll's read budget, or whole messages wait past
  // this poll's message budget.
  const bool outran = static_cast<size_t>(received) == budget ||
                      (peer.messageBudget == 0 && stream.length >= kGuestHeaderSize);
  checkFlooding(slot, outran);
  return true;
}

void NetLink::checkFlooding(int slot, bool outran) {
  Peer& peer = session_.peers[slot];
  if (!outran) {
    peer.floodingSince = 0;
    return;
  }
  const uint32_t now = SDL_GetTicks();
  // 0 means "not flooding"; a flood that starts at tick 0 counts from 1.
  if (peer.floodingSince == 0) {
    peer.floodingSince = now != 0 ? now : 1;
  } else if (now - peer.floodingSince >= kFloodLimitMs) {
    closeSlot(static_cast<int8_t>(slot), true);
  }
}

bool NetLink::drainHostStream() {
  ByteQueue& stream = session_.host.stream;
  size_t used = 0;
  while (stream.length - used >= kHostHeaderSize) {
    const uint8_t* frame = &stream.bytes[used];
    const uint8_t from = frame[kHostFromOffset];
    const uint8_t type = frame[kHostTypeOffset];
    const uint16_t length = getU16(frame + kHostLengthOffset);
    const size_t size = kHostHeaderSize + length;
    if (size > stream.bytes.size()) {
      loseHost();  // a frame that can never be taken in: the stream is unusable
      return false;
    }
    if (stream.length - used < size) break;  // the rest arrives later
    // Slots 0-5 are the only senders; 255 is kept for the local report of
    // a lost host, so the host can never fake it.
    const bool apply = from < kPlayerSlots && payloadAllowed(kPayloadToGuest, type, length);
    if (apply && session_.recvLength + size > kReceivedLimit) break;  // taken in next frame
    used += size;
    if (apply) pushLocal(from, type, length, frame + kHostHeaderSize);
  }
  stream.consume(used);
  return true;
}

bool NetLink::drainGuestStream(int slot) {
  Peer& peer = session_.peers[slot];
  ByteQueue& stream = peer.stream;
  size_t used = 0;
  while (stream.length - used >= kGuestHeaderSize && peer.messageBudget > 0) {
    const uint8_t* frame = &stream.bytes[used];
    const uint8_t type = frame[kGuestTypeOffset];
    const uint16_t length = getU16(frame + kGuestLengthOffset);
    const size_t size = kGuestHeaderSize + length;
    if (size > stream.bytes.size()) {
      closeSlot(static_cast<int8_t>(slot), true);  // treated like a lost connection
      return false;
    }
    if (stream.length - used < size) break;
    const bool apply = payloadAllowed(kPayloadToHost, type, length);
    if (apply && session_.recvLength + kHostHeaderSize + length > kReceivedLimit) break;
    used += size;
    --peer.messageBudget;
    if (apply && !acceptGuestMessage(slot, type, frame + kGuestHeaderSize, length)) {
      // Nothing more is read from a connection that left or asked for the
      // room (the slot may already be closed).
      stream.length = 0;
      return false;
    }
  }
  stream.consume(used);
  return true;
}

// One connection joins once; only a joined guest speaks for its slot.
bool NetLink::acceptGuestMessage(int slot, uint8_t type, const uint8_t* payload, uint16_t length) {
  const uint8_t from = static_cast<uint8_t>(slot);
  PeerState& state = session_.peers[slot].state;
  switch (type) {
    case RoomQuery:
      if (state == PeerState::Joined) {
        // A guest asking for the room has left the lobby: free its slot the
        // way a lost connection does.
        closeSlot(static_cast<int8_t>(slot), true);
        return false;
      }
      state = PeerState::Queried;
      pushLocal(from, type, length, payload);
      return false;
    case Join:
      if (state == PeerState::Joined) return true;
      state = PeerState::Joined;
      pushLocal(from, type, length, payload);
      return true;
    case PlayerInfo:
      if (state == PeerState::Joined) pushLocal(from, type, length, payload);
      return true;
    case Leave:
      if (state != PeerState::Joined) return true;
      // The Leave announces the slot; closing the connection now keeps its
      // later loss from being announced a second time.
      pushLocal(from, type, length, payload);
      closePeer(slot);
      return false;
    default:
      return true;
  }
}

void NetLink::loseHost() {
  Peer& host = session_.host;
  host.lost = true;
  host.stream.length = 0;
  pushLocal(kFromHostLost, Leave, 0, nullptr);
}

void NetLink::closePeer(int slot) {
  Session& s = session_;
  s.peers[slot] = Peer{};
  // Messages still queued for the old connection must not reach a newcomer
  // that gets the same slot.
  for (int row = 0; row < s.queuedCount; ++row) s.deliveryFlags[row][slot] = 1;
}

void NetLink::closeSlot(int8_t slot, bool announce) {
  if (slot == -1) {
    closeAll();
    return;
  }
  if (!validSlot(slot) || !session_.peers[slot].socket.valid()) return;
  const bool joined = session_.peers[slot].state == PeerState::Joined;
  closePeer(slot);
  if (announce && joined) pushLocal(static_cast<uint8_t>(slot), Leave, 0, nullptr);
}

bool NetLink::nextMessage() {
  Session& s = session_;
  size_t offset = 0;
  if (s.readCursor != nullptr) {
    offset =
        static_cast<size_t>(s.readCursor - s.recvBuffer.data()) + kHostHeaderSize + messageLength();
  }
  if (offset + kHostHeaderSize > s.recvLength) return false;
  const uint16_t length = getU16(&s.recvBuffer[offset + kHostLengthOffset]);
  // A message running past the received bytes is not applied.
  if (offset + kHostHeaderSize + length > s.recvLength) return false;
  s.readCursor = &s.recvBuffer[offset];
  return true;
}

uint8_t NetLink::messageFrom() const {
  return session_.readCursor != nullptr ? session_.readCursor[kHostFromOffset] : 0;
}

uint8_t NetLink::messageType() const {
  return session_.readCursor != nullptr ? session_.readCursor[kHostTypeOffset] : 0;
}

uint16_t NetLink::messageLength() const {
  return session_.readCursor != nullptr ? getU16(session_.readCursor + kHostLengthOffset) : 0;
}

const uint8_t* NetLink::messagePayload() const {
  return session_.readCursor != nullptr ? session_.readCursor + kHostHeaderSize : nullptr;
}

const platform::Socket* NetLink::peerSocket(int8_t slot) const {
  if (!validSlot(slot) || !session_.peers[slot].socket.valid()) return nullptr;
  return &session_.peers[slot].socket;
}

bool NetLink::sendRaw(int8_t slot, const void* bytes, int length) {
  if (!validSlot(slot) || length < 0) return false;
  Peer& peer = session_.peers[slot];
  if (!peer.socket.valid()) return false;
  if (peer.outbox.length > 0) return false;  // it would overtake lobby messages
  return platform::sendSome(peer.socket, bytes, static_cast<size_t>(length)) == length;
}

bool NetLink::slotJoined(int8_t slot) const {
  return validSlot(slot) && session_.peers[slot].state == PeerState::Joined;
}

bool NetLink::slotQueried(int8_t slot) const {
  return validSlot(slot) && session_.peers[slot].state == PeerState::Queried;
}

}  // namespace net
