// The host-centred TCP link of a room: one host listening on the room's port,
// up to five guests connected to it. Every socket is polled without waiting
// once per lobby frame; all buffers are fixed.
#pragma once

#include <array>
#include <cstdint>

#include "net/discovery.h"
#include "net/protocol.h"
#include "platform/net_socket.h"
#include "records/records.h"

namespace net {

enum NetMode : int32_t { Offline = 0, Guest = 1, Host = 2 };

// Bytes of the receive buffer kept free of received messages, so the Leave
// of every lost guest (or of the lost host) and a guest's own record can
// always be pushed locally.
inline constexpr size_t kLocalReserve =
    kMaxGuests * kHostHeaderSize + kHostHeaderSize + kPlayerRecordSize;

// A connection that has neither joined nor asked for the room this long
// after it was accepted is closed without a word, so silent connections
// cannot hold the room's slots (a room is served only while one is free).
// A joined guest may stay quiet as long as it likes.
inline constexpr uint32_t kJoinTimeoutMs = 5000;
// A newcomer that finds every guest slot taken takes the slot of the oldest
// connection that has sent nothing at all, once that one has been quiet for
// kQuietGraceMs (a guest's Join and a room query arrive with the first bytes
// of their connections); one that has sent part of a message keeps its
// slot. While a slot may be about to be free (its connection asked for the
// room, or is still within its grace) newcomers wait in the system's
// backlog; otherwise a full room closes them at once.
//
// Connections accepted per poll, so that a burst is shed in a few frames,
// and connections the system may hold meanwhile.
inline constexpr int kMaxAcceptsPerPoll = 8;
inline constexpr int kListenBacklog = 64;
// Work one guest can cause per poll: bytes read from its connection and
// messages taken from its stream (a guest sends two messages in all when it
// joins). A guest that has more waiting than that after every poll for
// kFloodLimitMs is dropped like a lost connection: it sends faster than any
// lobby speaks, and what it sent would otherwise be relayed long after it
// left.
inline constexpr int kReadBudgetPerPoll = 2048;
inline constexpr int kMessageBudgetPerPoll = 4;
inline constexpr uint32_t kFloodLimitMs = 1000;
// Bytes queued for one peer beyond what its connection has taken so far.
// Sends never wait: each frame gives the system what it takes now and keeps
// the rest here, in order. A guest that falls further behind (it stopped
// reading, and the system's own buffers are full too) is dropped like a lost
// connection; a host that stops reading is taken as lost.
inline constexpr size_t kOutboxSize = kBufferSize;
// Longest wait for a host's name to be looked up (the lookup gives up by
// itself after as long), then for a connection to it to be made (room
// query, joining), over however many of its addresses are tried side by
// side (see net/connect_attempt.h).
inline constexpr uint32_t kLookupTimeoutMs = platform::kLookupLimitMs;
inline constexpr uint32_t kConnectTimeoutMs = 1500;
// A connection that has sent nothing at all gives way to a newcomer in a
// full room only once it has been quiet this long since it was accepted.
// Every client speaks as soon as its connection is made (a room query's
// three bytes, a guest's Join), so its first bytes trail the connection by
// at most a frame or two of the client and a packet's trip: half a second
// covers a slow machine on a long link.
inline constexpr uint32_t kQuietGraceMs = 500;

// The addresses to try for a listed room's host once its lookup has
// settled: found keeps those that name one host, each given port. Addresses
// that would mean "this machine, any interface" or "everybody" (0.0.0.0,
// ::, 255.255.255.255) are refused, so a bad room file line can never make
// the program listen. False, with "SDLNet_ResolveHost: %s\n" printed on
// standard error, when nothing is left to try.
bool acceptRoomAddresses(const char* host, platform::Lookup lookup, platform::LookupAnswer& found,
                         uint16_t port);
// Looks host up (a numeric address, in brackets or not, is taken at once;
// a name waits at most kLookupTimeoutMs) and accepts its addresses as
// above.
bool resolveRoomHost(const char* host, uint16_t port, platform::LookupAnswer& addresses);
// Prints "SDLNet_TCP_Open: %s\n" with text, or the platform's error text
// when text is null.
void printConnectError(const char* text = nullptr);
inline constexpr char kNoConnectAnswer[] = "no answer to the connection attempt";

// Resolves host:port and connects to it over whichever of its addresses
// takes the connection first, tried side by side (net/connect_attempt.h),
// waiting at most kConnectTimeoutMs in all (after the lookup). Prints the
// failure and returns an invalid socket.
platform::Socket connectTo(const char* host, uint16_t port);

class NetLink {
 public:
  NetLink() = default;
  ~NetLink() = default;  // closes whatever is still open
  NetLink(const NetLink&) = delete;
  NetLink& operator=(const NetLink&) = delete;

  // Back to the state of a new link: everything closed, mode Offline, own
  // slot 0 (the link's reset at start-up).
  void reset();

  NetMode mode() const { return settings_.mode; }
  void setMode(NetMode mode) { settings_.mode = mode; }
  int8_t ownSlot() const { return settings_.ownSlot; }
  void setOwnSlot(int8_t slot) { settings_.ownSlot = slot; }

  // Connects to host, or listens on all interfaces when host is null.
  // Prints the failure and returns an invalid socket.
  static platform::Socket openSocket(const char* host, uint16_t port);
  // Opens the link for the current mode (whatever was open before is
  // closed); false when offline or on failure.
  bool open(const char* host, uint16_t port);
  // True while the link's own socket (connection or listener) is open.
  bool isOpen() const { return session_.socket.valid(); }
  // Host: accepts waiting connections (up to kMaxAcceptsPerPoll) into the
  // lowest free slots; see kJoinTimeoutMs for a full room.
  void acceptPending();
  // Appends one message to the send queue. Returns false (and queues
  // nothing) when the queue has no room for it.
  bool queueMessage(uint8_t type, uint16_t length, const void* payload, uint8_t from, Target target,
                    uint8_t slot);
  // Sends the queue (without waiting; see kOutboxSize) and empties the
  // receive buffer.
  void flush();
  // Appends a message to the receive buffer as if it had arrived. Returns
  // false when there is no room for it.
  bool pushLocal(uint8_t from, uint8_t type, uint16_t length, const void* payload);
  // Checks the sockets, receives, closes silent connections, accepts.
  void poll();
  // Host, slot >= 0: closes that peer (announcing a Leave when asked and the
  // peer had joined: nobody was told of a guest that never joined).
  // slot -1: closeAll().
  void closeSlot(int8_t slot, bool announce);
  // Closes every peer and the link's own socket without a message; the
  // mode stays.
  void closeAll();
  // Steps to the next message of this frame; false when there is none.
  bool nextMessage();
  uint8_t messageFrom() const;
  uint8_t messageType() const;
  uint16_t messageLength() const;
  const uint8_t* messagePayload() const;
  // Host: the room's instance in the local network search (0 when its
  // search port could not be had).
  uint32_t roomInstance() const {
    return session_.beacon.isOpen() ? session_.beacon.instance() : 0;
  }
  // The connection of a slot, or null.
  const platform::Socket* peerSocket(int8_t slot) const;
  // Sends raw bytes to one peer without waiting (the answer to a room
  // query, on a connection that was never sent anything else). False when
  // not all of them were taken, or lobby messages are still waiting for it.
  bool sendRaw(int8_t slot, const void* bytes, int length);
  // Host: the connection in slot has sent its Join (and not left since).
  bool slotJoined(int8_t slot) const;
  // Host: the connection in slot asked for the room and waits for it.
  bool slotQueried(int8_t slot) const;
  // Replace kJoinTimeoutMs and kQuietGraceMs until the next reset (tests).
  void setJoinTimeout(uint32_t timeoutMs) { settings_.joinTimeoutMs = timeoutMs; }
  void setQuietGrace(uint32_t graceMs) { settings_.quietGraceMs = graceMs; }
  // Messages and bytes queued since the last flush.
  uint8_t queuedCount() const { return session_.queuedCount; }
  uint16_t sendLength() const { return session_.sendLength; }

 private:
  // Where a connection stands in the lobby. Only joined guests are sent the
  // lobby's messages; a connection that asked for the room is served once
  // and nothing more is read from it.
  enum class PeerState : uint8_t { Empty, Connected, Joined, Queried };

  // Bytes in arrival order, taken from the front. As a stream: bytes
  // received from one connection that do not yet form a whole message, or
  // whole messages waiting for room in the receive buffer; messages are
  // taken out strictly in order, each exactly once. As an outbox: bytes
  // queued for one connection that it has not taken yet.
  struct ByteQueue {
    std::array<uint8_t, kBufferSize> bytes{};
    uint16_t length = 0;

    size_t space() const { return bytes.size() - length; }
    // Appends all of data or nothing; false when it does not fit.
    bool append(const uint8_t* data, size_t size);
    void consume(size_t size);
  };
  static_assert(kOutboxSize == kBufferSize);

  // One connection: a guest's slot on the host, or the host on a guest.
  struct Peer {
    platform::Socket socket;
    PeerState state = PeerState::Empty;
    uint32_t acceptedAt = 0;     // SDL_GetTicks at accept
    uint32_t arrival = 0;        // order of accept, within the session
    bool heardFrom = false;      // it has sent at least one byte
    bool lost = false;           // guest: the Leave from 255 has been pushed
    bool leavePending = false;   // host: dropped by flush, Leave not pushed yet
    uint32_t floodingSince = 0;  // SDL_GetTicks of the first poll it outran, 0 when none
    int messageBudget = 0;       // messages still taken in this poll
    ByteQueue stream;
    ByteQueue outbox;
  };

  // What does not depend on a connection: kept by closeAll and open.
  struct Settings {
    NetMode mode = Offline;
    int8_t ownSlot = 0;
    std::array<char, kHostAddressSize + 1> hostName{};  // last passed to open
    uint16_t port = 0;                                  // last passed to open
    uint32_t joinTimeoutMs = kJoinTimeoutMs;
    uint32_t quietGraceMs = kQuietGraceMs;
  };

  // Everything that lives from one open to the next close: the sockets,
  // what is read from and queued for them, and this frame's messages.
  // Cleared as a whole.
  struct Session {
    platform::Socket socket;               // guest: the connection to the host; host: the listener
    RoomBeacon beacon;                     // host: answers the local network's searches
    std::array<Peer, kPlayerSlots> peers;  // host: one per slot
    Peer host;                             // guest: its connection's streams
    // Host: one row per queued message, one byte per slot: 1 = delivered or
    // not addressed to it.
    std::array<std::array<uint8_t, kPlayerSlots>, kMaxQueuedMessages> deliveryFlags{};
    std::array<uint8_t, kBufferSize> sendBuffer{};
    std::array<uint8_t, kBufferSize> recvBuffer{};
    const uint8_t* readCursor = nullptr;  // the current message; null before the first
    uint8_t queuedCount = 0;
    uint16_t sendLength = 0;
    uint16_t recvLength = 0;
    uint32_t arrivals = 0;  // connections accepted so far
  };

  void pollGuest();
  void pollHost();
  // Receives what one guest sent into its stream and takes the whole
  // messages in; false once the receive buffer is full enough to stop
  // reading guests for this frame.
  bool receiveFromGuest(int slot);
  // Drops a guest that has outrun its budget for longer than kFloodLimitMs.
  void checkFlooding(int slot, bool outran);
  // Moves the whole messages at the front of the host's stream into the
  // receive buffer; false when the host connection is (now) lost.
  bool drainHostStream();
  // Moves the whole messages at the front of a guest's stream into the
  // receive buffer, applying the slot rules; false when the slot was
  // closed or nothing more is read from it.
  bool drainGuestStream(int slot);
  // Applies the slot rules to one whole guest message; false when the
  // message ends what is read from that connection.
  bool acceptGuestMessage(int slot, uint8_t type, const uint8_t* payload, uint16_t length);
  void loseHost();
  void flushHost();
  void flushGuest();
  // Host, during flush: closes a guest that cannot be sent to.
  void dropGuest(int slot);
  // Gives the connection what it takes now of outbox; false when it failed.
  static bool writeOutbox(const platform::Socket& connection, ByteQueue& outbox);
  // Host: puts an accepted connection into a slot, or closes it.
  void seat(platform::Socket incoming);
  // Host: the lowest slot without a connection, or -1.
  int freeSlot() const;
  // Host: the slot of the oldest connection that has sent nothing for
  // kQuietGraceMs since it was accepted, or -1.
  int silentSlot() const;
  // Host: a slot may be free soon (its connection asked for the room and is
  // being answered, or has not spoken yet and is still within its grace).
  bool slotPending() const;
  // Host: closes connections that have not joined within the time-out.
  void closeSilentConnections();
  void closePeer(int slot);

  Settings settings_;
  Session session_;
};

}  // namespace net
