#include "net/wire.h"

#include <cstring>

namespace net {

namespace {

// Text fields have the same width in memory and on the wire; the static
// asserts keep the two layouts from drifting apart.
static_assert(sizeof(PlayerRecord::name) == kPlayerNameWidth);
static_assert(sizeof(PlayerRecord::reserved) == kPlayerReservedWidth);
static_assert(sizeof(RoomRecord::hostAddress) == kRoomHostAddressWidth);
static_assert(sizeof(RoomRecord::roomName) == kRoomNameWidth);
static_assert(sizeof(RoomRecord::comment) == kRoomCommentWidth);
static_assert(sizeof(RoomRecord::reserved2) == kRoomReserved2Width);

template <typename T, size_t N>
void putBytes(uint8_t* out, const std::array<T, N>& field) {
  static_assert(sizeof(T) == 1);
  std::memcpy(out, field.data(), N);
}

template <typename T, size_t N>
void getBytes(const uint8_t* in, std::array<T, N>& field) {
  static_assert(sizeof(T) == 1);
  std::memcpy(field.data(), in, N);
}

}  // namespace

void writePlayerRecord(const PlayerRecord& record, PlayerBytes& out) {
  out[kPlayerPresentOffset] = record.present;
  out[kPlayerIsCpuOffset] = record.isCpu;
  putBytes(&out[kPlayerNameOffset], record.name);
  for (size_t i = 0; i < record.stats.size(); ++i) {
    putU16(&out[kPlayerStatsOffset + 2 * i], record.stats[i]);
  }
  putBytes(&out[kPlayerReservedOffset], record.reserved);
}

void readPlayerRecord(const PlayerBytes& in, PlayerRecord& record) {
  record.present = in[kPlayerPresentOffset];
  record.isCpu = in[kPlayerIsCpuOffset];
  getBytes(&in[kPlayerNameOffset], record.name);
  terminateField(record.name);
  for (size_t i = 0; i < record.stats.size(); ++i) {
    record.stats[i] = getU16(&in[kPlayerStatsOffset + 2 * i]);
  }
  getBytes(&in[kPlayerReservedOffset], record.reserved);
}

void writeRoomRecord(const RoomRecord& record, RoomBytes& out) {
  putBytes(&out[kRoomHostAddressOffset], record.hostAddress);
  putBytes(&out[kRoomNameOffset], record.roomName);
  putBytes(&out[kRoomCommentOffset], record.comment);
  out[kRoomCurrentPlayersOffset] = record.currentPlayers;
  out[kRoomMaxPlayersOffset] = record.maxPlayers;
  out[kRoomOwnerSlotOffset] = record.ownerSlot;
  out[kRoomReserved1Offset] = record.reserved1;
  putU16(&out[kRoomPortOffset], record.port);
  putBytes(&out[kRoomReserved2Offset], record.reserved2);
}

void readRoomRecord(const RoomBytes& in, RoomRecord& record) {
  getBytes(&in[kRoomHostAddressOffset], record.hostAddress);
  terminateField(record.hostAddress);
  getBytes(&in[kRoomNameOffset], record.roomName);
  terminateField(record.roomName);
  getBytes(&in[kRoomCommentOffset], record.comment);
  terminateField(record.comment);
  record.currentPlayers = in[kRoomCurrentPlayersOffset];
  record.maxPlayers = in[kRoomMaxPlayersOffset];
  record.ownerSlot = in[kRoomOwnerSlotOffset];
  record.reserved1 = in[kRoomReserved1Offset];
  record.port = getU16(&in[kRoomPortOffset]);
  getBytes(&in[kRoomReserved2Offset], record.reserved2);
}

}  // namespace net
