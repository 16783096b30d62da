// The lobby protocol's wire format: message codes, frame layouts, record
// layouts and buffer capacities. Nothing else lives here. All integers are
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace net {

enum MessageType : uint8_t {
  RoomQuery = 0,   // client -> host, unframed answer: a raw RoomRecord
  Join = 1,        // guest -> host: empty; host -> guest: 1 byte, the slot
  PlayerInfo = 2,  // a PlayerRecord
  Leave = 3,       // empty
};

enum Target : uint8_t { ToAll = 0, ToSlot = 1, ToAllExcept = 2 };

// Guest -> host frame: type, length (u16), payload.
inline constexpr size_t kGuestHeaderSize = 3;
inline constexpr size_t kGuestTypeOffset = 0;
inline constexpr size_t kGuestLengthOffset = 1;

// Host -> guest frame, and the header of every message in the receive
// buffer: from, type, length (u16), payload.
inline constexpr size_t kHostHeaderSize = 4;
inline constexpr size_t kHostFromOffset = 0;
inline constexpr size_t kHostTypeOffset = 1;
inline constexpr size_t kHostLengthOffset = 2;

// `from` of the guest's local Leave when the host connection is lost.
inline constexpr uint8_t kFromHostLost = 255;

// PlayerRecord, 140 bytes.
inline constexpr size_t kPlayerRecordSize = 140;
inline constexpr size_t kPlayerPresentOffset = 0;
inline constexpr size_t kPlayerIsCpuOffset = 1;
inline constexpr size_t kPlayerNameOffset = 2;
inline constexpr size_t kPlayerNameWidth = 128;
inline constexpr size_t kPlayerStatsOffset = 130;  // four u16
inline constexpr size_t kPlayerReservedOffset = 138;
inline constexpr size_t kPlayerReservedWidth = 2;

// RoomRecord, 712 bytes, sent raw as the answer to a RoomQuery.
inline constexpr size_t kRoomRecordSize = 712;
inline constexpr size_t kRoomHostAddressOffset = 0;
inline constexpr size_t kRoomHostAddressWidth = 128;
inline constexpr size_t kRoomNameOffset = 128;
inline constexpr size_t kRoomNameWidth = 64;
inline constexpr size_t kRoomCommentOffset = 192;
inline constexpr size_t kRoomCommentWidth = 512;
inline constexpr size_t kRoomCurrentPlayersOffset = 704;
inline constexpr size_t kRoomMaxPlayersOffset = 705;
inline constexpr size_t kRoomOwnerSlotOffset = 706;
inline constexpr size_t kRoomReserved1Offset = 707;
inline constexpr size_t kRoomPortOffset = 708;
inline constexpr size_t kRoomReserved2Offset = 710;
inline constexpr size_t kRoomReserved2Width = 2;

// The room query as a client sends it: a guest frame of type RoomQuery with
// an empty payload.
inline constexpr uint8_t kRoomQueryBytes[3] = {0, 0, 0};

// Payload sizes each message type may carry, per direction, indexed by type.
// The link checks every frame against them where it cuts frames from the
// stream, and lets through only what they allow: a frame of a known type
// whose payload lies outside its range, or of an unknown type, is read past
// and not applied. (A frame too long for the link's stream buffer to ever
// hold cannot be read past, and ends the connection.) A range with max
// below min marks a type that direction never carries.
struct PayloadRange {
  uint16_t min;
  uint16_t max;
};
inline constexpr size_t kMessageTypes = 4;
inline constexpr PayloadRange kPayloadToHost[kMessageTypes] = {
    {0, 0},                  // RoomQuery
    {0, 0},                  // Join
    {0, kPlayerRecordSize},  // PlayerInfo: a shorter one overwrites the record's start
    {0, 0},                  // Leave
};
inline constexpr PayloadRange kPayloadToGuest[kMessageTypes] = {
    {1, 0},                  // RoomQuery: answered only by a host
    {1, 1},                  // Join: the guest's slot
    {0, kPlayerRecordSize},  // PlayerInfo
    {0, 0},                  // Leave
};
inline bool payloadAllowed(const PayloadRange (&table)[kMessageTypes], uint8_t type,
                           uint16_t length) {
  return type < kMessageTypes && length >= table[type].min && length <= table[type].max;
}

// Capacities of the link's fixed buffers.
inline constexpr size_t kBufferSize = 10240;
inline constexpr size_t kMaxQueuedMessages = 255;  // queuedCount is 8-bit
inline constexpr size_t kHostReceiveStop = 8192;   // stop reading guests past this
inline constexpr int kMaxGuests = 5;
inline constexpr uint16_t kDefaultPort = 6247;

// Finding rooms on the local network: UDP datagrams on a port of their own,
// beside the TCP lobby, which they leave as it is. A guest broadcasts a
// request on kDiscoveryPort; every host there answers, to the sender, with
// its room's TCP port; the guest then asks each room over TCP as it asks a
// listed one. An answer is never larger than the request it answers, so a
// host cannot be used to multiply a spoofed sender's traffic.
//
// Request (kDiscoverySize bytes):
//   0 4 magic "VLRQ"   4 1 version   5 3 zero   8 4 nonce (u32)   12 4 zero
// Answer (kDiscoverySize bytes):
//   0 4 magic "VLRA"   4 1 version   5 1 zero   6 2 room port (u16)
//   8 4 the request's nonce (u32)   12 4 host instance (u32, random per room)
inline constexpr uint16_t kDiscoveryPort = 6248;
inline constexpr size_t kDiscoverySize = 16;
inline constexpr uint8_t kDiscoveryVersion = 1;
inline constexpr char kDiscoveryRequestMagic[4] = {'V', 'L', 'R', 'Q'};
inline constexpr char kDiscoveryAnswerMagic[4] = {'V', 'L', 'R', 'A'};
inline constexpr size_t kDiscoveryVersionOffset = 4;
inline constexpr size_t kDiscoveryPortOffset = 6;
inline constexpr size_t kDiscoveryNonceOffset = 8;
inline constexpr size_t kDiscoveryInstanceOffset = 12;
// Datagrams a host reads per poll, answered or not; the rest wait in the
// system's buffer (which drops what overflows it).
inline constexpr int kDiscoveryReadsPerPoll = 8;

inline void putU16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value & 0xFF);
  out[1] = static_cast<uint8_t>(value >> 8);
}
inline uint16_t getU16(const uint8_t* in) { return static_cast<uint16_t>(in[0] | (in[1] << 8)); }
inline void putU32(uint8_t* out, uint32_t value) {
  putU16(out, static_cast<uint16_t>(value & 0xFFFF));
  putU16(out + 2, static_cast<uint16_t>(value >> 16));
}
inline uint32_t getU32(const uint8_t* in) {
  return static_cast<uint32_t>(getU16(in)) | static_cast<uint32_t>(getU16(in + 2)) << 16;
}

}  // namespace net
