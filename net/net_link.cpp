#include "net/net_link.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/net_socket.h"

namespace net {

namespace {

// What the receive path lets into recvBuffer; the rest is kept for pushLocal.
constexpr size_t kReceivedLimit = kBufferSize - kLocalReserve;

bool printResolveError() {
  std::fprintf(stderr, "SDLNet_ResolveHost: %s\n", SDL_GetError());
  return false;
}

bool resolveRemote(const char* host, uint16_t port, IPaddress& address) {
  if (host == nullptr || host[0] == '\0') {
    SDL_SetError("no host address given");
    return printResolveError();
  }
  switch (platform::lookUpHost(host, port, address, kLookupTimeoutMs)) {
    case platform::Lookup::Found:
      break;
    case platform::Lookup::NotFound:
      SDL_SetError("%s could not be found", host);
      return printResolveError();
    case platform::Lookup::TimedOut:
      SDL_SetError("looking up %s took too long", host);
      return printResolveError();
  }
  if (address.host == INADDR_ANY || address.host == INADDR_NONE) {
    SDL_SetError("%s is not a host that can be reached", host);
    return printResolveError();
  }
  return true;
}

TCPsocket openAddress(IPaddress& address) {
  TCPsocket opened = SDLNet_TCP_Open(&address);
  if (opened == nullptr) std::fprintf(stderr, "SDLNet_TCP_Open: %s\n", SDL_GetError());
  return opened;
}

bool validSlot(int slot) { return slot >= 0 && slot < kPlayerSlots; }

}  // namespace

int sendQuietly(TCPsocket socket, const void* bytes, int length) {
#ifdef SIGPIPE
  // Set before every send rather than once: SDLNet_Quit puts the default
  // handler back, and a send during shut-down must not end the program.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  if (socket == nullptr || length <= 0) return 0;
  return SDLNet_TCP_Send(socket, bytes, length);
}

TCPsocket connectTo(const char* host, uint16_t port) {
  IPaddress address{};
  if (!resolveRemote(host, port, address)) return nullptr;
  if (!platform::probeConnect(address, kConnectTimeoutMs)) {
    SDL_SetError("Couldn't connect to remote host");
    std::fprintf(stderr, "SDLNet_TCP_Open: %s\n", SDL_GetError());
    return nullptr;
  }
  return openAddress(address);
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
  socket = nullptr;
  peers.fill(nullptr);
  socketSet = nullptr;
  readCursor = nullptr;
  queuedCount = 0;
  hostName.fill('\0');
  port = 0;
  sendLength = 0;
  recvLength = 0;
  mode = Offline;
  ownSlot = 0;
  peerStates_.fill(PeerState::Empty);
  joinTimeoutMs_ = kJoinTimeoutMs;
  clearStreams();
}

TCPsocket NetLink::openSocket(const char* host, uint16_t portNumber) {
  if (host != nullptr) return connectTo(host, portNumber);
  IPaddress address{};
  if (SDLNet_ResolveHost(&address, nullptr, portNumber) != 0) {
    printResolveError();
    return nullptr;
  }
  return openAddress(address);
}

TCPsocket NetLink::open(const char* host, uint16_t portNumber) {
  // A link opened again without being closed drops its old connections
  // first instead of leaking them.
  closeSlot(-1, false);
  if (host != nullptr) {
    size_t i = 0;
    for (; i + 1 < hostName.size() && host[i] != '\0'; ++i) hostName[i] = host[i];
    hostName[i] = '\0';
  }
  port = portNumber;
  sendLength = 0;
  recvLength = 0;
  queuedCount = 0;
  readCursor = nullptr;
  peers.fill(nullptr);
  peerStates_.fill(PeerState::Empty);
  clearStreams();
  if (mode == Offline) return nullptr;
  socket = openSocket(mode == Guest ? hostName.data() : nullptr, port);
  if (socket == nullptr) return nullptr;
  // Best effort: with SDL_net's own backlog a burst of connections makes
  // the system drop a guest's connection request for seconds.
  if (mode == Host) platform::widenBacklog(socket, port, kListenBacklog);
  socketSet = SDLNet_AllocSocketSet(mode == Guest ? 1 : kMaxGuests + 1);
  if (socketSet == nullptr || SDLNet_TCP_AddSocket(socketSet, socket) < 0) {
    closeSlot(-1, false);
    return nullptr;
  }
  return socket;
}

// SDL_net's listening socket does not block: an accept with nothing
// waiting returns null at once.
void NetLink::acceptPending() {
  if (mode != Host || socket == nullptr || !SDLNet_SocketReady(socket)) return;
  for (int i = 0; i < kMaxAcceptsPerPoll; ++i) {
    // No slot to give now, but one soon: the newcomer waits in the backlog.
    if (freeSlot() < 0 && silentSlot() < 0 && slotPending()) return;
    TCPsocket incoming = SDLNet_TCP_Accept(socket);
    if (incoming == nullptr) return;
    seat(incoming);
  }
}

void NetLink::seat(TCPsocket incoming) {
  // A connection already closed without a word (a joining guest's trial
  // connection, see connectTo) would only hold a slot until it is read, and
  // push the guest that follows it into another slot.
  if (platform::closedWithoutData(incoming)) {
    SDLNet_TCP_Close(incoming);
    return;
  }
  int slot = freeSlot();
  if (slot < 0) {
    slot = silentSlot();
    if (slot >= 0) closeSlot(static_cast<int8_t>(slot), false);  // it never joined: no Leave
  }
  // With all five guest slots taken by guests the connection is closed at
  // once, so a newcomer or a room query learns at once that the room is
  // full instead of waiting on a connection nobody serves.
  if (slot < 0 || SDLNet_TCP_AddSocket(socketSet, incoming) < 0) {
    SDLNet_TCP_Close(incoming);
    return;
  }
  peers[slot] = incoming;
  peerStates_[slot] = PeerState::Connected;
  acceptedAt_[slot] = SDL_GetTicks();
  acceptedPoll_[slot] = pollCount_;
  guestStreams_[slot].length = 0;
  outboxes_[slot].length = 0;
}

int NetLink::freeSlot() const {
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (slot != ownSlot && peers[slot] == nullptr) return slot;
  }
  return -1;
}

int NetLink::silentSlot() const {
  int oldest = -1;
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (peerStates_[slot] != PeerState::Connected) continue;
    const uint32_t polls = pollCount_ - acceptedPoll_[slot];
    if (polls == 0) continue;  // not read yet: its Join may be on its way
    if (oldest < 0 || polls > pollCount_ - acceptedPoll_[oldest]) oldest = slot;
  }
  return oldest;
}

bool NetLink::slotPending() const {
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (peerStates_[slot] == PeerState::Queried) return true;
    if (peerStates_[slot] == PeerState::Connected && acceptedPoll_[slot] == pollCount_) return true;
  }
  return false;
}

void NetLink::closeSilentConnections() {
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (peers[slot] == nullptr || peerStates_[slot] == PeerState::Joined) continue;
    if (ageOf(slot) >= joinTimeoutMs_) closeSlot(static_cast<int8_t>(slot), false);
  }
}

// Unsigned arithmetic keeps the age right across the wrap of the tick count.
uint32_t NetLink::ageOf(int slot) const { return SDL_GetTicks() - acceptedAt_[slot]; }

bool NetLink::queueMessage(uint8_t type, uint16_t length, const void* payload, uint8_t from,
                           Target target, uint8_t slot) {
  if (length > 0 && payload == nullptr) return false;
  const bool host = mode == Host;
  const size_t size = (host ? kHostHeaderSize : kGuestHeaderSize) + length;
  if (queuedCount >= kMaxQueuedMessages || sendLength + size > kBufferSize) return false;
  uint8_t* out = &sendBuffer[sendLength];
  if (host) {
    *out++ = from;
    auto& flags = deliveryFlags[queuedCount];
    flags.fill(target == ToSlot ? 1 : 0);
    if (validSlot(slot) && target == ToSlot) flags[slot] = 0;
    if (validSlot(slot) && target == ToAllExcept) flags[slot] = 1;
  }
  out[0] = type;
  putU16(out + 1, length);
  if (length > 0) std::memcpy(out + 3, payload, length);
  sendLength = static_cast<uint16_t>(sendLength + size);
  ++queuedCount;
  return true;
}

void NetLink::flush() {
  recvLength = 0;
  readCursor = nullptr;
  if (mode == Host) flushHost();
  if (mode == Guest) flushGuest();
  sendLength = 0;
  queuedCount = 0;
}

// Every message moves into the outbox of each joined slot owing it, so the
// queue is empty after every flush and a slow guest holds up nobody else.
// Then each outbox gives its connection what it takes now. A guest whose
// outbox overflows, or whose connection failed, is dropped; its Leave is
// pushed by the next poll, so that no flush can clear it unread.
void NetLink::flushHost() {
  size_t read = 0;
  for (int row = 0; row < queuedCount; ++row) {
    const size_t size = kHostHeaderSize + getU16(&sendBuffer[read + kHostLengthOffset]);
    auto& flags = deliveryFlags[row];
    for (int slot = 0; slot < kPlayerSlots; ++slot) {
      if (flags[slot] != 0) continue;
      flags[slot] = 1;
      // Nobody there to receive it, or not a guest of the lobby.
      if (peers[slot] == nullptr || peerStates_[slot] != PeerState::Joined) continue;
      if (!outboxes_[slot].append(&sendBuffer[read], size)) dropGuest(slot);
    }
    read += size;
  }
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (peers[slot] == nullptr || outboxes_[slot].length == 0) continue;
    if (!writeOutbox(peers[slot], outboxes_[slot])) dropGuest(slot);
  }
}

void NetLink::dropGuest(int slot) {
  leavePending_[slot] = peerStates_[slot] == PeerState::Joined;
  closePeer(slot);
}

// A guest's failed send is not acted on here: the lost connection shows up
// as a failed receive.
void NetLink::flushGuest() {
  if (socket == nullptr || hostLost_) return;
  if (!hostOutbox_.append(sendBuffer.data(), sendLength)) {
    loseHost();  // the host has not taken our last kOutboxSize bytes
    return;
  }
  if (hostOutbox_.length > 0 && !writeOutbox(socket, hostOutbox_)) hostOutbox_.length = 0;
}

bool NetLink::writeOutbox(TCPsocket connection, ByteQueue& outbox) {
  const int sent = platform::sendNow(connection, outbox.bytes.data(), outbox.length);
  if (sent < 0) return false;
  outbox.consume(static_cast<size_t>(sent));
  return true;
}

bool NetLink::pushLocal(uint8_t from, uint8_t type, uint16_t length, const void* payload) {
  if (length > 0 && payload == nullptr) return false;
  if (recvLength + kHostHeaderSize + length > kBufferSize) return false;
  uint8_t* out = &recvBuffer[recvLength];
  out[kHostFromOffset] = from;
  out[kHostTypeOffset] = type;
  putU16(out + kHostLengthOffset, length);
  if (length > 0) std::memcpy(out + kHostHeaderSize, payload, length);
  recvLength = static_cast<uint16_t>(recvLength + kHostHeaderSize + length);
  return true;
}

void NetLink::poll() {
  if (mode == Offline || socketSet == nullptr) return;
  if (SDLNet_CheckSockets(socketSet, 0) < 0) return;
  if (mode == Guest) {
    pollGuest();
  } else {
    pollHost();
  }
}

void NetLink::pollGuest() {
  if (socket == nullptr || hostLost_ || !drainHostStream()) return;
  const int space = static_cast<int>(kBufferSize - hostStream_.length);
  // Never receive into a full buffer: 0 bytes would read as a lost host.
  if (!SDLNet_SocketReady(socket) || space == 0) return;
  const int received = SDLNet_TCP_Recv(socket, &hostStream_.bytes[hostStream_.length], space);
  if (received <= 0) {
    loseHost();
    return;
  }
  hostStream_.length = static_cast<uint16_t>(hostStream_.length + received);
  drainHostStream();
}

// Connections are read before new ones are accepted, so a slot freed by a
// connection that closed (a joining guest's trial connection, say) is free
// again for the connection that follows it. The connections accepted are
// then read at once: a room query arrives with its connection and is
// answered in the same frame.
void NetLink::pollHost() {
  ++pollCount_;
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (leavePending_[slot]) pushLocal(static_cast<uint8_t>(slot), Leave, 0, nullptr);
  }
  leavePending_.fill(false);
  messageBudget_.fill(kMessageBudgetPerPoll);
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (!receiveFromGuest(slot)) break;
  }
  closeSilentConnections();
  acceptPending();
  bool accepted = false;
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    accepted = accepted || (peers[slot] != nullptr && acceptedPoll_[slot] == pollCount_);
  }
  if (!accepted || SDLNet_CheckSockets(socketSet, 0) <= 0) return;
  for (int slot = 0; slot < kPlayerSlots; ++slot) {
    if (peers[slot] != nullptr && acceptedPoll_[slot] == pollCount_ && !receiveFromGuest(slot)) {
      break;
    }
  }
}

bool NetLink::receiveFromGuest(int slot) {
  if (peers[slot] == nullptr || peerStates_[slot] == PeerState::Queried) return true;
  if (!drainGuestStream(slot)) return true;
  if (recvLength > kHostReceiveStop) return false;
  Stream& stream = guestStreams_[slot];
  const size_t budget = static_cast<size_t>(kReadBudgetPerPoll);
  const int space = static_cast<int>(stream.space() < budget ? stream.space() : budget);
  if (!SDLNet_SocketReady(peers[slot]) || space == 0) return true;
  const int received = SDLNet_TCP_Recv(peers[slot], &stream.bytes[stream.length], space);
  if (received <= 0) {
    closeSlot(static_cast<int8_t>(slot), true);
    return true;
  }
  stream.length = static_cast<uint16_t>(stream.length + received);
  drainGuestStream(slot);
  return true;
}

bool NetLink::drainHostStream() {
  size_t used = 0;
  while (hostStream_.length - used >= kHostHeaderSize) {
    const uint8_t* frame = &hostStream_.bytes[used];
    const uint16_t length = getU16(frame + kHostLengthOffset);
    if (length > kMaxReceivedPayload) {
      loseHost();  // a message that can never be taken in: the stream is unusable
      return false;
    }
    const size_t size = kHostHeaderSize + length;
    if (hostStream_.length - used < size) break;    // the rest arrives later
    if (recvLength + size > kReceivedLimit) break;  // taken in next frame
    used += size;
    // Slots 0-5 are the only senders; 255 is kept for the local report of
    // a lost host, so the host can never fake it.
    const uint8_t from = frame[kHostFromOffset];
    const uint8_t type = frame[kHostTypeOffset];
    if (from < kPlayerSlots && type <= Leave) {
      pushLocal(from, type, length, frame + kHostHeaderSize);
    }
  }
  hostStream_.consume(used);
  return true;
}

bool NetLink::drainGuestStream(int slot) {
  Stream& stream = guestStreams_[slot];
  size_t used = 0;
  while (stream.length - used >= kGuestHeaderSize && messageBudget_[slot] > 0) {
    const uint8_t* frame = &stream.bytes[used];
    const uint16_t length = getU16(frame + kGuestLengthOffset);
    if (length > kMaxReceivedPayload) {
      closeSlot(static_cast<int8_t>(slot), true);  // treated like a lost connection
      return false;
    }
    const size_t size = kGuestHeaderSize + length;
    if (stream.length - used < size) break;
    if (recvLength + kHostHeaderSize + length > kReceivedLimit) break;
    used += size;
    --messageBudget_[slot];
    if (!acceptGuestMessage(slot, frame, length)) {
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
bool NetLink::acceptGuestMessage(int slot, const uint8_t* frame, uint16_t length) {
  const uint8_t from = static_cast<uint8_t>(slot);
  const uint8_t type = frame[kGuestTypeOffset];
  const uint8_t* payload = frame + kGuestHeaderSize;
  PeerState& state = peerStates_[slot];
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
      return true;  // other types are ignored
  }
}

void NetLink::loseHost() {
  hostLost_ = true;
  hostStream_.length = 0;
  pushLocal(kFromHostLost, Leave, 0, nullptr);
}

void NetLink::closePeer(int slot) {
  if (socketSet != nullptr) SDLNet_TCP_DelSocket(socketSet, peers[slot]);
  SDLNet_TCP_Close(peers[slot]);
  peers[slot] = nullptr;
  peerStates_[slot] = PeerState::Empty;
  guestStreams_[slot].length = 0;
  outboxes_[slot].length = 0;
  // Messages still queued for the old connection must not reach a newcomer
  // that gets the same slot.
  for (int row = 0; row < queuedCount; ++row) deliveryFlags[row][slot] = 1;
}

void NetLink::closeSlot(int8_t slot, bool announce) {
  if (slot == -1) {
    for (int i = 0; i < kPlayerSlots; ++i) {
      if (peers[i] != nullptr) closePeer(i);
    }
    if (socket != nullptr) {
      if (socketSet != nullptr) SDLNet_TCP_DelSocket(socketSet, socket);
      SDLNet_TCP_Close(socket);
      socket = nullptr;
    }
    if (socketSet != nullptr) SDLNet_FreeSocketSet(socketSet);
    socketSet = nullptr;
    hostStream_.length = 0;
    hostOutbox_.length = 0;
    leavePending_.fill(false);
    return;
  }
  if (!validSlot(slot) || peers[slot] == nullptr) return;
  const bool joined = peerStates_[slot] == PeerState::Joined;
  closePeer(slot);
  if (announce && joined) pushLocal(static_cast<uint8_t>(slot), Leave, 0, nullptr);
}

bool NetLink::nextMessage() {
  size_t offset = 0;
  if (readCursor != nullptr) {
    offset =
        static_cast<size_t>(readCursor - recvBuffer.data()) + kHostHeaderSize + messageLength();
  }
  if (offset + kHostHeaderSize > recvLength) return false;
  const uint16_t length = getU16(&recvBuffer[offset + kHostLengthOffset]);
  // A message running past the received bytes is not applied.
  if (offset + kHostHeaderSize + length > recvLength) return false;
  readCursor = &recvBuffer[offset];
  return true;
}

uint8_t NetLink::messageFrom() const {
  return readCursor != nullptr ? readCursor[kHostFromOffset] : 0;
}

uint8_t NetLink::messageType() const {
  return readCursor != nullptr ? readCursor[kHostTypeOffset] : 0;
}

uint16_t NetLink::messageLength() const {
  return readCursor != nullptr ? getU16(readCursor + kHostLengthOffset) : 0;
}

const uint8_t* NetLink::messagePayload() const {
  return readCursor != nullptr ? readCursor + kHostHeaderSize : nullptr;
}

TCPsocket NetLink::peerSocket(int8_t slot) const { return validSlot(slot) ? peers[slot] : nullptr; }

bool NetLink::sendRaw(int8_t slot, const void* bytes, int length) {
  if (!validSlot(slot) || peers[slot] == nullptr || length < 0) return false;
  if (outboxes_[slot].length > 0) return false;  // it would overtake lobby messages
  return platform::sendNow(peers[slot], bytes, length) == length;
}

bool NetLink::slotJoined(int8_t slot) const {
  return validSlot(slot) && peerStates_[slot] == PeerState::Joined;
}

bool NetLink::slotQueried(int8_t slot) const {
  return validSlot(slot) && peerStates_[slot] == PeerState::Queried;
}

void NetLink::setJoinTimeout(uint32_t timeoutMs) { joinTimeoutMs_ = timeoutMs; }

void NetLink::clearStreams() {
  for (Stream& stream : guestStreams_) stream.length = 0;
  for (ByteQueue& outbox : outboxes_) outbox.length = 0;
  leavePending_.fill(false);
  hostStream_.length = 0;
  hostOutbox_.length = 0;
  hostLost_ = false;
}

}  // namespace net
