// The guest's receive path: the host's bytes arrive in any pieces, the host
// closes, fails or stops taking what the guest sends, time passes; the lobby
// handles every frame's messages and flushes. The guest's slot stays a slot,
// names stay terminated, the loss of the host is reported once, and the host
// is sent whole guest frames only.
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

struct Guest {
  net::NetLink link;
  std::array<PlayerRecord, kPlayerSlots> players{};
  RoomRecord room{};
  int hostLost = 0;

  void frame() {
    const net::LobbyChanges changes = net::handleLobbyMessages(link, players, room);
    hostLost += changes.hostLost;
    require(hostLost <= 1, "loss of the host reported twice");
    require(link.ownSlot() >= 0 && link.ownSlot() < kPlayerSlots, "own slot out of range");
    for (const PlayerRecord& p : players) {
      require(std::memchr(p.name.data(), '\0', p.name.size()) != nullptr, "unterminated name");
    }
    link.flush();
  }
};

// The guest sends Join, then its own record after every Join it is given.
void checkSent(const std::vector<uint8_t>& out) {
  size_t at = 0;
  while (at + net::kGuestHeaderSize <= out.size()) {
    const uint8_t type = out[at + net::kGuestTypeOffset];
    const uint16_t length = net::getU16(&out[at + net::kGuestLengthOffset]);
    require(at != 0 || (type == net::Join && length == 0), "first frame is not Join");
    require(at == 0 || (type == net::PlayerInfo && length == net::kPlayerRecordSize),
            "a frame other than its record");
    at += net::kGuestHeaderSize + length;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake::reset();
  fake::Input in(data, size);
  // One object for every input (a fresh one is large to clear): the link
  // was closed at the end of the last input, the records start over.
  static Guest shared;
  Guest* const guest = &shared;
  guest->players = {};
  guest->room = RoomRecord{};
  guest->hostLost = 0;
  guest->link.reset();
  guest->link.setMode(net::Guest);
  guest->players[0].present = 1;
  copyField(guest->players[0].name, "Me");
  copyField(guest->room.hostAddress, "10.0.0.2");
  guest->room.port = net::kDefaultPort;
  guest->room.maxPlayers = kPlayerSlots;
  fake::setReachable(in.byte() != 0xFF);
  if (!net::openLobby(guest->link, guest->room)) return 0;
  fake::Connection& host = *fake::connection();
  for (size_t op = 0; op < kMaxOperations && !in.empty(); ++op) {
    switch (in.byte() % 7) {
      case 0: {
        const uint8_t* bytes = nullptr;
        const size_t count = in.span(in.u16() % 4096, &bytes);
        host.inbound.insert(host.inbound.end(), bytes, bytes + count);
        break;
      }
      case 1:
        host.peerClosed = true;
        break;
      case 2:
        host.failed = true;
        break;
      case 3:
        host.sendRoom = in.u16();
        break;
      case 4:
        host.recvPiece = in.byte();
        break;
      case 5:
        fake::advance(in.u16());
        break;
      default:
        guest->frame();
        break;
    }
  }
  for (int i = 0; i < 3; ++i) guest->frame();
  checkSent(host.outbound);
  net::closeLobby(guest->link);
  return 0;
}
