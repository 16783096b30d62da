// A room host written from the wire format alone, doing exactly what that
// format's host does, faults included: it seats every connection it accepts
// in the lowest free slot 1-5, takes each receive as one whole message,
// answers a room query with the raw record and closes without a Leave, and
// counts every other close of a seated connection as a player leaving. A
// program that opens extra connections (a trial before the real one, say)
// shows up here as a wrong count. Stepped by the test, one poll per call.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "net/wire.h"
#include "support/net_test_peers.h"

namespace nettest {

class WireHost {
 public:
  explicit WireHost(uint16_t port) : listener_(RawSocket::listenOn(port, 8)) {
    room_.maxPlayers = kPlayerSlots;
    room_.currentPlayers = 1;
    room_.port = port;
    copyField(room_.roomName, "WireRoom");
    players_[0] = player("WireHost");
  }

  bool listening() const { return listener_.valid(); }
  // Players in the room as this host counts them (an 8-bit count, as on the
  // wire: it wraps below 0).
  uint8_t count() const { return room_.currentPlayers; }
  // Connections accepted so far, and what each of them sent, in order.
  int accepted() const { return static_cast<int>(received_.size()); }
  const Bytes& receivedOn(int connection) const { return received_[connection]; }

  // One poll: accept one connection, then one receive per ready slot.
  void step() {
    if (listener_.ready(false, 0)) seat(listener_.acceptNow());
    for (int k = 1; k < kPlayerSlots; ++k) {
      if (!slots_[k].socket.valid() || !slots_[k].socket.ready(false, 0)) continue;
      std::array<uint8_t, net::kBufferSize> chunk;
      const long got = slots_[k].socket.receive(chunk.data(), chunk.size());
      if (got <= 0) {
        leave(k);
        continue;
      }
      Bytes& log = received_[slots_[k].connection];
      log.insert(log.end(), chunk.begin(), chunk.begin() + got);
      if (got >= 3) handle(k, chunk[0], chunk.data() + 3, static_cast<size_t>(got - 3));
    }
  }

 private:
  struct Slot {
    RawSocket socket;
    int connection = -1;
  };

  // A connection with no free slot is closed as it goes out of scope.
  void seat(RawSocket incoming) {
    for (int k = 1; k < kPlayerSlots; ++k) {
      if (slots_[k].socket.valid()) continue;
      slots_[k] = Slot{std::move(incoming), accepted()};
      received_.emplace_back();
      return;
    }
  }

  void send(int k, const Bytes& bytes) const { slots_[k].socket.send(bytes); }

  void close(int k) { slots_[k] = Slot{}; }

  void leave(int k) {
    close(k);
    players_[k].present = 0;
    --room_.currentPlayers;
    for (int i = 1; i < kPlayerSlots; ++i) {
      if (i != k && slots_[i].socket.valid())
        send(i, hostFrame(static_cast<uint8_t>(k), net::Leave));
    }
  }

  void handle(int k, uint8_t type, const uint8_t* payload, size_t length) {
    const auto from = static_cast<uint8_t>(k);
    if (type == net::RoomQuery) {
      const net::RoomBytes bytes = net::toBytes(room_);
      send(k, Bytes(bytes.begin(), bytes.end()));
      close(k);
    } else if (type == net::Join) {
      ++room_.currentPlayers;
      Bytes answer = hostFrame(from, net::Join, {from});
      for (int i = 0; i < kPlayerSlots; ++i) {
        if (i != k && players_[i].present) {
          answer = join(answer, hostFrame(static_cast<uint8_t>(i), net::PlayerInfo,
                                          recordBytes(players_[i])));
        }
      }
      send(k, answer);
    } else if (type == net::PlayerInfo && length <= net::kPlayerRecordSize) {
      net::PlayerBytes bytes = net::toBytes(players_[k]);
      std::copy(payload, payload + length, bytes.begin());
      net::readPlayerRecord(bytes, players_[k]);
      for (int i = 1; i < kPlayerSlots; ++i) {
        if (i != k && slots_[i].socket.valid()) {
          send(i, hostFrame(from, net::PlayerInfo, recordBytes(players_[k])));
        }
      }
    }
  }

  RawSocket listener_;
  RoomRecord room_;
  std::array<PlayerRecord, kPlayerSlots> players_{};
  std::array<Slot, kPlayerSlots> slots_{};
  std::vector<Bytes> received_;
};

}  // namespace nettest
