// The host-centred TCP link of a room: one host listening on the room's port,
// up to five guests connected to it. Every socket is polled with a zero
// time-out once per lobby frame; all buffers are fixed.
#pragma once

#include <SDL_net.h>

#include <array>
#include <cstdint>

#include "app/records.h"
#include "net/protocol.h"

namespace net {

enum NetMode : int32_t { Offline = 0, Guest = 1, Host = 2 };

// Bytes of the receive buffer kept free of received messages, so the Leave
// of every lost guest (or of the lost host) and a guest's own record can
// always be pushed locally.
inline constexpr size_t kLocalReserve =
    kMaxGuests * kHostHeaderSize + kHostHeaderSize + kPlayerRecordSize;
// Largest payload a received message may declare: one that, with its
// receive header, fills the rest of the receive buffer. A peer declaring more
// can never be served and is dropped.
inline constexpr size_t kMaxReceivedPayload = kBufferSize - kLocalReserve - kHostHeaderSize;

// A connection that has neither joined nor asked for the room this long
// after it was accepted is closed without a word, so silent connections
// cannot hold the room's slots (a room is served only while one is free).
// A joined guest may stay quiet as long as it likes.
inline constexpr uint32_t kJoinTimeoutMs = 5000;
// A newcomer that finds every guest slot taken takes the slot of the oldest
// connection that has not joined, once that one has had a poll to be read
// in (a guest's Join arrives with the first bytes of its connection, so only
// a silent connection is pushed out). Meanwhile newcomers wait in the
// system's backlog; with all five slots joined they are closed at once.
// Connections accepted per poll, so that a burst is shed in a few frames,
// and connections the system may hold for the host meanwhile.
inline constexpr int kMaxAcceptsPerPoll = 8;
inline constexpr int kListenBacklog = 64;
// Work one guest can cause per poll: bytes read from its connection and
// messages taken from its stream (a guest sends two messages in all when it
// joins). What is left waits in the stream, and once the stream is full the
// guest's own connection holds the rest.
inline constexpr int kReadBudgetPerPoll = 2048;
inline constexpr int kMessageBudgetPerPoll = 4;
// Bytes queued for one peer beyond what its connection has taken so far.
// Sends never wait: each frame gives the system what it takes now and keeps
// the rest here, in order. A guest that falls further behind (it stopped
// reading, and the system's own buffers are full too) is dropped like a lost
// connection; a host that stops reading is taken as lost.
inline constexpr size_t kOutboxSize = kBufferSize;
// Longest wait for a host's name to be looked up, then for a connection to
// it to be made (room query, joining).
inline constexpr uint32_t kLookupTimeoutMs = 1000;
inline constexpr uint32_t kConnectTimeoutMs = 1500;

// SDLNet_TCP_Send with the broken-pipe signal ignored, so a send to a peer
// that has gone away returns a short count instead of ending the program
// (SDLNet_Quit may have put the default handler back).
int sendQuietly(TCPsocket socket, const void* bytes, int length);

// Resolves host:port and connects to it. Addresses that SDL_net would take
// as "listen here" (0.0.0.0 and 255.255.255.255) and an empty host are
// refused, so a bad room file line can never open a listening socket. The
// connection is first tried without waiting longer than kConnectTimeoutMs
// (that trial connection is closed before joining, which a host frees
// silently); SDLNet_TCP_Open, which waits as long as the system's connect
// time-out, is called only once it succeeded. A host name is looked up
// without waiting longer than kLookupTimeoutMs (platform::lookUpHost). Prints
// "SDLNet_ResolveHost: %s\n" or "SDLNet_TCP_Open: %s\n" on standard error
// and returns null on failure.
TCPsocket connectTo(const char* host, uint16_t port);

class NetLink {
 public:
  NetLink() = default;
  ~NetLink() = default;  // the lobby closes the link; see closeSlot(-1)
  NetLink(const NetLink&) = delete;
  NetLink& operator=(const NetLink&) = delete;

  // Clears the state fields (the link's reset at start-up).
  void reset();

  // Resolves and opens a socket: connects to host, or listens on all
  // interfaces when host is null. Prints the library's error and returns
  // null on failure.
  TCPsocket openSocket(const char* host, uint16_t port);
  // Opens the link for the current mode; null when offline or on failure.
  TCPsocket open(const char* host, uint16_t port);
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
  // slot -1: closes every peer and the link's own socket.
  void closeSlot(int8_t slot, bool announce);
  // Steps to the next message of this frame; false when there is none.
  bool nextMessage();
  uint8_t messageFrom() const;
  uint8_t messageType() const;
  uint16_t messageLength() const;
  const uint8_t* messagePayload() const;
  TCPsocket peerSocket(int8_t slot) const;
  // Sends raw bytes to one peer without waiting (the answer to a room
  // query, on a connection that was never sent anything else). False when
  // not all of them were taken, or lobby messages are still waiting for it.
  bool sendRaw(int8_t slot, const void* bytes, int length);
  // Host: the connection in slot has sent its Join (and not left since).
  bool slotJoined(int8_t slot) const;
  // Host: the connection in slot asked for the room and waits for it.
  bool slotQueried(int8_t slot) const;
  // Replaces kJoinTimeoutMs until the next reset (tests).
  void setJoinTimeout(uint32_t timeoutMs);

  TCPsocket socket = nullptr;
  std::array<TCPsocket, kPlayerSlots> peers{};
  SDLNet_SocketSet socketSet = nullptr;
  std::array<std::array<uint8_t, kPlayerSlots>, kBufferSize> deliveryFlags{};
  std::array<uint8_t, kBufferSize> sendBuffer{};
  std::array<uint8_t, kBufferSize> recvBuffer{};
  const uint8_t* readCursor = nullptr;
  uint8_t queuedCount = 0;
  std::array<char, 129> hostName{};
  uint16_t port = 0;
  uint16_t sendLength = 0;
  uint16_t recvLength = 0;
  NetMode mode = Offline;
  int8_t ownSlot = 0;

 private:
  // Where a connection stands in the lobby. Only joined guests are sent the
  // lobby's messages; a connection that asked for the room is served once
  // and nothing more is read from it.
  enum class PeerState : uint8_t { Empty, Connected, Joined, Queried };

  // Bytes in arrival order, taken from the front. As a stream: bytes
  // received from one connection that do not yet form a whole message, or
  // whole messages waiting for room in recvBuffer; messages are taken out
  // strictly in order, each exactly once. As an outbox: bytes queued for one
  // connection that it has not taken yet.
  struct ByteQueue {
    std::array<uint8_t, kBufferSize> bytes{};
    uint16_t length = 0;

    size_t space() const { return bytes.size() - length; }
    // Appends all of data or nothing; false when it does not fit.
    bool append(const uint8_t* data, size_t size);
    void consume(size_t size);
  };
  using Stream = ByteQueue;
  static_assert(kOutboxSize == kBufferSize);

  void pollGuest();
  void pollHost();
  // Receives what one guest sent into its stream and takes the whole
  // messages in; false once the receive buffer is full enough to stop
  // reading guests for this frame.
  bool receiveFromGuest(int slot);
  // Moves the whole messages at the front of the host's stream into
  // recvBuffer; false when the host connection is (now) lost.
  bool drainHostStream();
  // Moves the whole messages at the front of a guest's stream into
  // recvBuffer, applying the slot rules; false when the slot was closed.
  bool drainGuestStream(int slot);
  // Applies the slot rules to one whole guest message; false when the
  // message ends what is read from that connection.
  bool acceptGuestMessage(int slot, const uint8_t* frame, uint16_t length);
  void loseHost();
  void flushHost();
  void flushGuest();
  // Host, during flush: closes a guest that cannot be sent to.
  void dropGuest(int slot);
  // Gives the connection what it takes now of outbox; false when it failed.
  static bool writeOutbox(TCPsocket connection, ByteQueue& outbox);
  // Host: puts an accepted connection into a slot, or closes it.
  void seat(TCPsocket incoming);
  // Host: the lowest slot without a connection, or -1.
  int freeSlot() const;
  // Host: the slot of the oldest connection that has not joined and has
  // been read at least once since it was accepted, or -1.
  int silentSlot() const;
  // Host: a slot will be free soon (its connection was accepted in this
  // poll and not read yet, or asked for the room and is being answered).
  bool slotPending() const;
  // Host: closes connections that have not joined within the time-out.
  void closeSilentConnections();
  uint32_t ageOf(int slot) const;
  void closePeer(int slot);
  void clearStreams();

  std::array<Stream, kPlayerSlots> guestStreams_{};  // host: one per slot
  Stream hostStream_{};                              // guest: the host's messages
  std::array<ByteQueue, kPlayerSlots> outboxes_{};   // host: one per slot
  ByteQueue hostOutbox_{};                           // guest: bytes for the host
  std::array<PeerState, kPlayerSlots> peerStates_{};
  std::array<uint32_t, kPlayerSlots> acceptedAt_{};    // SDL_GetTicks at accept
  std::array<uint32_t, kPlayerSlots> acceptedPoll_{};  // pollCount_ at accept
  uint32_t pollCount_ = 0;
  std::array<int, kPlayerSlots> messageBudget_{};  // left in this poll
  std::array<bool, kPlayerSlots> leavePending_{};  // dropped by flush, not yet announced
  uint32_t joinTimeoutMs_ = kJoinTimeoutMs;
  bool hostLost_ = false;  // guest: the Leave from 255 has been pushed
};

}  // namespace net
