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

// SDLNet_TCP_Send with the broken-pipe signal ignored, so a send to a peer
// that has gone away returns a short count instead of ending the program
// (SDLNet_Quit may have put the default handler back).
int sendQuietly(TCPsocket socket, const void* bytes, int length);

// Resolves host:port and connects to it. Addresses that SDL_net would take
// as "listen here" (0.0.0.0 and 255.255.255.255) and an empty host are
// refused, so a bad room file line can never open a listening socket. Prints
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
  // Host: accepts one waiting connection into the lowest free slot.
  void acceptPending();
  // Appends one message to the send queue. Returns false (and queues
  // nothing) when the queue has no room for it.
  bool queueMessage(uint8_t type, uint16_t length, const void* payload, uint8_t from, Target target,
                    uint8_t slot);
  // Sends the queue and empties the receive buffer.
  void flush();
  // Appends a message to the receive buffer as if it had arrived. Returns
  // false when there is no room for it.
  bool pushLocal(uint8_t from, uint8_t type, uint16_t length, const void* payload);
  // Checks the sockets, accepts, receives.
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
  // Sends raw bytes to one peer (the answer to a room query). False on a
  // short or failed send.
  bool sendRaw(int8_t slot, const void* bytes, int length);
  // Host: the connection in slot has sent its Join (and not left since).
  bool slotJoined(int8_t slot) const;

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

  // Bytes received from one connection that do not yet form a whole
  // message, or whole messages waiting for room in recvBuffer. Messages are
  // taken out strictly in order, each exactly once.
  struct Stream {
    std::array<uint8_t, kBufferSize> bytes{};
    uint16_t length = 0;
  };

  void pollGuest();
  void pollHost();
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
  void closePeer(int slot);
  void clearStreams();

  std::array<Stream, kPlayerSlots> guestStreams_{};  // host: one per slot
  Stream hostStream_{};                              // guest: the host's messages
  std::array<PeerState, kPlayerSlots> peerStates_{};
  bool hostLost_ = false;  // guest: the Leave from 255 has been pushed
};

}  // namespace net
