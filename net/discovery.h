// Finding rooms on the local network (the datagrams of net/protocol.h): the
// host's beacon that answers requests while its room is open, and the
// guest's search that broadcasts one request per refresh and collects the
// answers. What a search finds is asked over TCP like a listed room.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "net/protocol.h"
#include "platform/net_socket.h"

namespace net {

using DiscoveryBytes = std::array<uint8_t, kDiscoverySize>;

struct DiscoveryAnswer {
  uint16_t port = 0;  // the room's TCP port
  uint32_t nonce = 0;
  uint32_t instance = 0;
};

DiscoveryBytes discoveryRequest(uint32_t nonce);
DiscoveryBytes discoveryAnswer(const DiscoveryAnswer& answer);
// A request exactly as a copy of this program sends it: its size, magic,
// version and zero bytes. False on anything else.
bool readDiscoveryRequest(const uint8_t* bytes, size_t length, uint32_t& nonce);
// An answer exactly as a host sends it, for a port other than 0. False on
// anything else.
bool readDiscoveryAnswer(const uint8_t* bytes, size_t length, DiscoveryAnswer& answer);

// A random 32-bit number for nonces and instances.
uint32_t discoveryRandom();

// The host's side. Several rooms on one machine share the port and each
// hears every broadcast request.
class RoomBeacon {
 public:
  // Starts answering for the room on roomPort; false, with a line on
  // standard error, when the port cannot be had (the room is then found
  // through the room files only).
  bool open(uint16_t roomPort);
  void close() { socket_.close(); }
  bool isOpen() const { return socket_.valid(); }
  // The random number this room answers searches with (0 before open): a
  // room directory's announcement carries it too.
  uint32_t instance() const { return instance_; }
  // Reads at most kDiscoveryReadsPerPoll waiting datagrams and, while
  // serving (a slot is free), answers each well-formed request to its
  // sender. Returns the requests answered.
  int poll(bool serving);

 private:
  platform::Socket socket_;
  uint16_t roomPort_ = 0;
  uint32_t instance_ = 0;
};

// The guest's side: one request to every broadcast address of this
// machine, then the answers that carry its nonce.
class RoomSearch {
 public:
  // Most answers taken per call of next, so a flood of datagrams costs a
  // bounded amount of work per frame.
  static constexpr int kReadsPerStep = 16;

  // False when the request could not be sent anywhere.
  bool start();
  void stop() { socket_.close(); }
  bool isOpen() const { return socket_.valid(); }
  // The next room that answered this search: its address with the room's
  // TCP port, and the answering host's instance. False when none is
  // waiting (or kReadsPerStep datagrams were read in this step).
  bool next(platform::Address& room, uint32_t& instance);
  // Starts the read budget of a new step.
  void newStep() { readsLeft_ = kReadsPerStep; }

 private:
  platform::Socket socket_;
  uint32_t nonce_ = 0;
  int readsLeft_ = kReadsPerStep;
};

}  // namespace net
