#include "net/lobby_protocol.h"

#include <cstring>

#include "net/wire.h"

namespace net {

namespace {

struct Lobby {
  NetLink& link;
  std::array<PlayerRecord, kPlayerSlots>& players;
  RoomRecord& room;
  LobbyChanges& changes;
};

int slotsOf(const RoomRecord& room) {
  return room.maxPlayers < kPlayerSlots ? room.maxPlayers : kPlayerSlots;
}

// The room goes out raw on the asking connection, which is then closed
// without a Leave: it never joined, so the player count stays. A slot whose
// asking connection is already gone (and may hold a newcomer) is left alone.
void answerRoomQuery(Lobby& lobby, uint8_t from) {
  if (lobby.link.mode() != Host || !lobby.link.slotQueried(static_cast<int8_t>(from))) return;
  const RoomBytes bytes = toBytes(lobby.room);
  lobby.link.sendRaw(static_cast<int8_t>(from), bytes.data(), static_cast<int>(bytes.size()));
  lobby.link.closeSlot(static_cast<int8_t>(from), false);
}

// Host: a guest arrived in slot `from` (once per connection, the link sees to
// that). It learns its slot, then the records of everybody present.
void hostJoin(Lobby& lobby, uint8_t from) {
  if (from >= kPlayerSlots || from == lobby.link.ownSlot()) return;
  if (lobby.room.currentPlayers < UINT8_MAX) ++lobby.room.currentPlayers;
  lobby.link.queueMessage(Join, 1, &from, from, ToSlot, from);
  for (int i = 0; i < slotsOf(lobby.room); ++i) {
    if (i == from || !lobby.players[i].present) continue;
    const PlayerBytes bytes = toBytes(lobby.players[i]);
    lobby.link.queueMessage(PlayerInfo, kPlayerRecordSize, bytes.data(), static_cast<uint8_t>(i),
                            ToSlot, from);
  }
}

// Guest: the host gave us a slot. Our own record moves into it (read later
// in this same pass) and goes to the host.
void guestJoin(Lobby& lobby) {
  const uint8_t slot = lobby.link.messagePayload()[0];
  if (slot >= kPlayerSlots) return;
  lobby.link.setOwnSlot(static_cast<int8_t>(slot));
  const PlayerBytes bytes = toBytes(lobby.players[0]);
  lobby.link.pushLocal(slot, PlayerInfo, kPlayerRecordSize, bytes.data());
  lobby.link.queueMessage(PlayerInfo, kPlayerRecordSize, bytes.data(), slot, ToAll, 0);
}

// A payload shorter than a record overwrites only its first bytes (the link
// lets no longer one through).
void applyPlayerInfo(Lobby& lobby, uint8_t from) {
  const uint16_t length = lobby.link.messageLength();
  if (from >= kPlayerSlots) return;
  PlayerRecord& record = lobby.players[from];
  PlayerBytes bytes = toBytes(record);
  std::memcpy(bytes.data(), lobby.link.messagePayload(), length);
  readPlayerRecord(bytes, record);
  lobby.changes.recordArrived[from] = true;
  if (lobby.link.mode() != Host) return;
  const PlayerBytes relay = toBytes(record);
  lobby.link.queueMessage(PlayerInfo, kPlayerRecordSize, relay.data(), from, ToAllExcept, from);
}

void applyLeave(Lobby& lobby, uint8_t from) {
  if (lobby.link.mode() == Guest && from == kFromHostLost) {
    lobby.changes.hostLost = true;
    return;
  }
  if (from >= kPlayerSlots) return;
  lobby.players[from].present = 0;
  lobby.changes.slotLeft[from] = true;
  if (lobby.link.mode() != Host || from == lobby.link.ownSlot()) return;
  if (lobby.room.currentPlayers > 1) --lobby.room.currentPlayers;
  lobby.link.queueMessage(Leave, 0, nullptr, from, ToAllExcept, from);
}

}  // namespace

LobbyChanges handleLobbyMessages(NetLink& link, std::array<PlayerRecord, kPlayerSlots>& players,
                                 RoomRecord& currentRoom) {
  LobbyChanges changes;
  Lobby lobby{link, players, currentRoom, changes};
  link.poll();
  while (link.nextMessage()) {
    const uint8_t from = link.messageFrom();
    switch (link.messageType()) {
      case RoomQuery:
        answerRoomQuery(lobby, from);
        break;
      case Join:
        if (link.mode() == Host) hostJoin(lobby, from);
        if (link.mode() == Guest) guestJoin(lobby);
        break;
      case PlayerInfo:
        applyPlayerInfo(lobby, from);
        break;
      case Leave:
        applyLeave(lobby, from);
        break;
      default:
        break;  // other types are ignored
    }
  }
  return changes;
}

bool openLobby(NetLink& link, const RoomRecord& room) {
  std::array<char, kHostAddressSize> host = room.hostAddress;
  terminateField(host);
  if (!link.open(host.data(), room.port)) return false;
  link.queueMessage(Join, 0, nullptr, static_cast<uint8_t>(link.ownSlot()), ToAll, 0);
  link.flush();
  return true;
}

void closeLobby(NetLink& link) { link.closeAll(); }

}  // namespace net
