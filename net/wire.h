// The two records as bytes on the wire, written and read field by field at
// the offsets of net/protocol.h. Integers are little-endian whatever the host
// order; reading terminates every text field inside its field, so a record
// built from received bytes is always safe to use as C strings.
#pragma once

#include <array>
#include <cstdint>

#include "net/protocol.h"
#include "records/records.h"

namespace net {

using PlayerBytes = std::array<uint8_t, kPlayerRecordSize>;
using RoomBytes = std::array<uint8_t, kRoomRecordSize>;

void writePlayerRecord(const PlayerRecord& record, PlayerBytes& out);
void readPlayerRecord(const PlayerBytes& in, PlayerRecord& record);
void writeRoomRecord(const RoomRecord& record, RoomBytes& out);
void readRoomRecord(const RoomBytes& in, RoomRecord& record);

inline PlayerBytes toBytes(const PlayerRecord& record) {
  PlayerBytes bytes{};
  writePlayerRecord(record, bytes);
  return bytes;
}
inline RoomBytes toBytes(const RoomRecord& record) {
  RoomBytes bytes{};
  writeRoomRecord(record, bytes);
  return bytes;
}

}  // namespace net
