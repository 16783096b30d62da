// The room record read: a host's answer to a room query, arriving in any
// pieces, short, late or on a connection that closes or fails. A whole
// answer becomes a record whose text fields are terminated inside their
// fields and which keeps its own host address; anything less leaves the
// record as it was. The record read straight from bytes keeps every field
// but the last byte of each text.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fuzz/fake_transport.h"
#include "fuzz/require.h"
#include "net/room_query.h"
#include "net/wire.h"
#include "records/records.h"

namespace {

template <size_t N>
bool terminated(const std::array<char, N>& field) {
  return std::memchr(field.data(), '\0', N) != nullptr;
}

RoomRecord readDirectly(const net::RoomBytes& bytes) {
  RoomRecord room;
  net::readRoomRecord(bytes, room);
  require(terminated(room.hostAddress) && terminated(room.roomName) && terminated(room.comment),
          "unterminated text field");
  net::RoomBytes back{};
  net::writeRoomRecord(room, back);
  for (size_t i = 0; i < back.size(); ++i) {
    const bool lastOfText = i == net::kRoomNameOffset - 1 || i == net::kRoomCommentOffset - 1 ||
                            i == net::kRoomCurrentPlayersOffset - 1;
    require(lastOfText || back[i] == bytes[i], "a field changed on the way through");
  }
  return room;
}

bool same(const RoomRecord& a, const RoomRecord& b) { return net::toBytes(a) == net::toBytes(b); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fake::reset();
  fake::Input in(data, size);
  const uint8_t setup = in.byte();  // unreachable, unknown host, polls
  const uint8_t piece = in.byte();
  const uint8_t ending = in.byte();  // the host closes / fails after its bytes
  const bool reachable = (setup & 0x80) == 0;
  const bool known = (setup & 0x40) == 0;
  const uint8_t polls = setup & 0x3F;
  const std::vector<uint8_t> answer = in.bytes(size);
  fake::setReachable(reachable);
  fake::Connection& next = fake::nextConnection();
  next.inbound.assign(answer.begin(), answer.end());
  next.recvPiece = piece;
  next.peerClosed = (ending & 1) != 0;
  next.failed = (ending & 2) != 0;

  RoomRecord room;
  copyField(room.hostAddress, known ? "10.0.0.9" : "unknown.invalid");
  copyField(room.roomName, "before");
  room.port = 6247;
  const RoomRecord before = room;
  const bool answered = net::queryRoom(room, polls, 1);

  const size_t receives = piece == 0 ? 1 : (net::kRoomRecordSize + piece - 1) / piece;
  const bool whole = answer.size() >= net::kRoomRecordSize;
  require(answered == (reachable && known && !next.failed && whole && polls >= receives),
          "answered when it should not be, or the other way round");
  if (answered) {
    net::RoomBytes bytes{};
    std::memcpy(bytes.data(), answer.data(), bytes.size());
    RoomRecord expected = readDirectly(bytes);
    expected.hostAddress = before.hostAddress;
    require(same(room, expected), "answer not taken as sent");
  } else {
    require(same(room, before), "unanswered query changed the record");
  }
  if (fake::connection() != nullptr) {
    // Without time to answer (no polls) the query is not even sent.
    const std::vector<uint8_t> sent =
        next.failed || polls == 0 ? std::vector<uint8_t>{} : std::vector<uint8_t>{0, 0, 0};
    require(fake::connection()->outbound == sent, "query not 00 00 00");
  }
  if (answer.size() >= net::kRoomRecordSize) {
    net::RoomBytes bytes{};
    std::memcpy(bytes.data(), answer.data(), bytes.size());
    readDirectly(bytes);
  }
  return 0;
}
