// The two records on the wire: sizes, field offsets, byte order, and text
// fields terminated inside their fields when read back.
#include <gtest/gtest.h>

#include <cstring>

#include "net/protocol.h"
#include "net/wire.h"

namespace {

PlayerRecord samplePlayer() {
  PlayerRecord player;
  player.present = 1;
  player.isCpu = 1;
  copyField(player.name, "\x83\x76\x83\x8D name");  // Shift-JIS bytes pass unchanged
  player.stats = {550, 430, 0x1234, 1000};
  player.reserved = {0xAB, 0xCD};
  return player;
}

RoomRecord sampleRoom() {
  RoomRecord room;
  copyField(room.hostAddress, "example.host");
  copyField(room.roomName, "482\x83\x76\x83\x8D");
  copyField(room.comment, "comment text");
  room.currentPlayers = 2;
  room.maxPlayers = 6;
  room.ownerSlot = 0;
  room.reserved1 = 0x77;
  room.port = 6247;
  room.reserved2 = {0x11, 0x22};
  return room;
}

TEST(Wire, PlayerRecordIs140BytesAtItsOffsets) {
  const net::PlayerBytes bytes = net::toBytes(samplePlayer());
  ASSERT_EQ(bytes.size(), 140u);
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 1);
  EXPECT_EQ(std::memcmp(&bytes[2], "\x83\x76\x83\x8D name", 10), 0);
  EXPECT_EQ(bytes[12], 0);
  EXPECT_EQ(bytes[129], 0);
  // Stats, little-endian: 550 = 0x0226, 430 = 0x01AE, 0x1234, 1000 = 0x03E8.
  const uint8_t stats[8] = {0x26, 0x02, 0xAE, 0x01, 0x34, 0x12, 0xE8, 0x03};
  EXPECT_EQ(std::memcmp(&bytes[130], stats, 8), 0);
  EXPECT_EQ(bytes[138], 0xAB);
  EXPECT_EQ(bytes[139], 0xCD);
}

TEST(Wire, RoomRecordIs712BytesAtItsOffsets) {
  const net::RoomBytes bytes = net::toBytes(sampleRoom());
  ASSERT_EQ(bytes.size(), 712u);
  EXPECT_STREQ(reinterpret_cast<const char*>(&bytes[0]), "example.host");
  EXPECT_STREQ(reinterpret_cast<const char*>(&bytes[128]), "482\x83\x76\x83\x8D");
  EXPECT_STREQ(reinterpret_cast<const char*>(&bytes[192]), "comment text");
  EXPECT_EQ(bytes[704], 2);
  EXPECT_EQ(bytes[705], 6);
  EXPECT_EQ(bytes[706], 0);
  EXPECT_EQ(bytes[707], 0x77);
  EXPECT_EQ(bytes[708], 0x67);  // 6247 = 0x1867
  EXPECT_EQ(bytes[709], 0x18);
  EXPECT_EQ(bytes[710], 0x11);
  EXPECT_EQ(bytes[711], 0x22);
}

TEST(Wire, RecordsSurviveTheRoundTrip) {
  PlayerRecord player;
  net::readPlayerRecord(net::toBytes(samplePlayer()), player);
  EXPECT_EQ(net::toBytes(player), net::toBytes(samplePlayer()));
  RoomRecord room;
  net::readRoomRecord(net::toBytes(sampleRoom()), room);
  EXPECT_EQ(net::toBytes(room), net::toBytes(sampleRoom()));
  EXPECT_EQ(room.port, 6247);
}

TEST(WireBadInput, UnterminatedTextIsTerminatedInsideItsField) {
  net::PlayerBytes playerBytes;
  playerBytes.fill('A');
  PlayerRecord player;
  net::readPlayerRecord(playerBytes, player);
  EXPECT_EQ(std::strlen(player.name.data()), 127u);

  net::RoomBytes roomBytes;
  roomBytes.fill('B');
  RoomRecord room;
  net::readRoomRecord(roomBytes, room);
  EXPECT_EQ(std::strlen(room.hostAddress.data()), 127u);
  EXPECT_EQ(std::strlen(room.roomName.data()), 63u);
  EXPECT_EQ(std::strlen(room.comment.data()), 511u);
  EXPECT_EQ(room.port, 0x4242);
}

}  // namespace
