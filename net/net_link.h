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
  bool queueMessage(uint8_t type, uint16_t length, const void* payload, uint8_t from,
                    Target target, uint8_t slot);
  // Sends the queue and empties the receive buffer.
  void flush();
  // Appends a message to the receive buffer as if it had arrived. Returns
  // false when there is no room for it.
  bool pushLocal(uint8_t from, uint8_t type, uint16_t length, const void* payload);
  // Checks the sockets, accepts, receives.
  void poll();
  // Host, slot >= 0: closes that peer (announcing a Leave when asked).
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
};

}  // namespace net
