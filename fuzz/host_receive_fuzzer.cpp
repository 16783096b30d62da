// The host's receive path: connections arrive, send any bytes in any
// pieces, close, fail, stop taking what is sent to them, and time passes;
// the lobby handles every frame's messages and flushes. After every frame
// the host's count matches its joined guests, every name is terminated,
// and every connection was sent whole frames (or the room) in order.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/fake_transport.h"
#include "fuzz/require.h"
#include "net/lobby_protocol.h"
#include "net/wire.h"
#include "records/records.h"

namespace {

constexpr size_t kMaxOperations = 600;

struct Host {
  net::NetLink link;
  std::array<PlayerRecord, kPlayerSlots> players{};
  RoomRecord room{};
  std::vector<fake::Connection*> arrived;

  void frame() {
    net::handleLobbyMessages(link, players, room);
    int joined = 0;
    for (int k = 0; k < kPlayerSlots; ++k) joined += link.slotJoined(static_cast<int8_t>(k));
    require(link.peerSocket(0) == nullptr, "a connection in the host's own slot");
    require(joined <= net::kMaxGuests, "more than five guests");
    require(room.currentPlayers == 1 + joined, "count is not host + joined guests");
    for (const PlayerRecord& p : players) {
      require(std::memchr(p.name.data(), '\0', p.name.size()) != nullptr, "unterminated name");
    }
    link.flush();
    require(link.sendLength() == 0 && link.queuedCount() == 0, "queue not emptied");
  }
};

// What a connection was sent: either the room and nothing else (it asked
// for it; the room's host address is empty, so it starts with 0), or host
// frames back to back, the last one possibly cut short by a connection that
// stopped taking them.
void checkSent(const fake::Connection& connection, const RoomRecord& room) {
  const std::vector<uint8_t>& out = connection.outbound;
  if (out.empty()) return;
  if (out[0] == 0) {
    const net::RoomBytes expected = net::toBytes(room);
    require(out.size() <= expected.size(), "more than the room sent");
    for (size_t i = 0; i < out.size(); ++i) {
      require(i == net::kRoomCurrentPlayersOffset || out[i] == expected[i], "room bytes differ");
    }
    return;
  }
  size_t at = 0;
  while (at + net::kHostHeaderSize <= out.size()) {
    const uint8_t from = out[at + net::kHostFromOffset];
    const uint8_t type = out[at + net::kHostTypeOffset];
    const uint16_t length = net::getU16(&out[at + net::kHostLengthOffset]);
    require(from < kPlayerSlots, "frame from a slot that does not exist");
    require(type == net::Join || type == net::PlayerInfo || type == net::Leave, "bad type sent");
    require(type != net::Join || length == 1, "Join of a bad length");
    require(type != net::PlayerInfo || length == net::kPlayerRecordSize, "record of a bad length");
    require(type != net::Leave || length == 0, "Leave with a payload");
    at += net::kHostHeaderSize + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake::reset();
  fake::Input in(data, size);
  // One object for every input (a fresh one is large to clear): the link
  // was closed at the end of the last input, the records start over.
  static Host shared;
  Host* const host = &shared;
  host->players = {};
  host->room = RoomRecord{};
  host->arrived.clear();
  host->link.reset();
  host->link.setMode(net::Host);
  host->room.maxPlayers = in.byte();
  host->room.currentPlayers = 1;
  host->room.port = net::kDefaultPort;
  host->players[0].present = 1;
  copyField(host->players[0].name, "Host");
  if (!net::openLobby(host->link, host->room)) std::abort();
  for (size_t op = 0; op < kMaxOperations && !in.empty(); ++op) {
    const uint8_t code = in.byte() % 8;
    if (code == 0) {
      host->arrived.push_back(fake::arrive());
      continue;
    }
    if (code == 6) {
      host->frame();
      continue;
    }
    if (code == 5) {
      fake::advance(in.u16());
      continue;
    }
    if (host->arrived.empty()) continue;
    fake::Connection& c = *host->arrived[in.byte() % host->arrived.size()];
    if (code == 1) {
      const uint8_t* bytes = nullptr;
      const size_t count = in.span(in.u16() % 4096, &bytes);
      c.inbound.insert(c.inbound.end(), bytes, bytes + count);
    } else if (code == 2) {
      c.peerClosed = true;
    } else if (code == 3) {
      c.failed = true;
    } else if (code == 4) {
      c.sendRoom = in.u16();
    } else {
      c.recvPiece = in.byte();
    }
  }
  for (int i = 0; i < 3; ++i) host->frame();
  for (const fake::Connection* c : host->arrived) checkSent(*c, host->room);
  net::closeLobby(host->link);
  return 0;
}
