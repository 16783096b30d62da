// Slots and the player count on a host: which slot a connection gets, when
// it counts, what a room query sees, and that leaving is announced exactly
// once. Raw clients play the guests; a probe record sent to everybody shows
// that nothing else reached a guest before it.
#include <gtest/gtest.h>

#include "net/room_query.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Background;
using nettest::Bytes;
using nettest::frames;
using nettest::guestFrame;
using nettest::hostFrame;
using nettest::joinRaw;
using nettest::kJoinAnswer;
using nettest::kLeaveFrame;
using nettest::kRecordFromHost;
using nettest::kRoomSize;
using nettest::listedRoom;
using nettest::Lobby;
using nettest::player;
using nettest::probe;
using nettest::RawSocket;
using nettest::recordBytes;
using nettest::runUntil;

class Slots : public nettest::NetTest {};

TEST_F(Slots, LowestFreeSlotFirstAndReusedAfterLeaving) {
  Lobby host;
  ASSERT_TRUE(host.host(20201));
  RawSocket a, b, c;
  EXPECT_EQ(joinRaw(host, a), 1);
  EXPECT_EQ(joinRaw(host, b), 2);
  a.close();
  ASSERT_TRUE(runUntil([&] { return host.leaves[1] == 1; }, {&host}));
  EXPECT_EQ(joinRaw(host, c), 1);
  EXPECT_EQ(host.room.currentPlayers, 3);
}

TEST_F(Slots, ANewcomerInALowGapIsSentEveryRecordUpToTheLastSlot) {
  Lobby host;
  ASSERT_TRUE(host.host(20207));
  std::array<RawSocket, 5> guests;
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(joinRaw(host, guests[i]), i + 1);
    const std::string name = "Guest" + std::to_string(i + 1);
    ASSERT_TRUE(guests[i].send(guestFrame(net::PlayerInfo, recordBytes(player(name.c_str())))));
    ASSERT_TRUE(runUntil([&] { return host.arrivals[i + 1] == 1; }, {&host}));
  }
  guests[1].close();
  ASSERT_TRUE(runUntil([&] { return host.leaves[2] == 1; }, {&host}));
  RawSocket newcomer;
  ASSERT_EQ(nettest::joinRaw(host, newcomer, false), 2);
  Bytes expected = hostFrame(0, net::PlayerInfo, recordBytes(host.players[0]));
  for (const int slot : {1, 3, 4, 5}) {
    const std::string name = "Guest" + std::to_string(slot);
    expected = nettest::join(expected, hostFrame(static_cast<uint8_t>(slot), net::PlayerInfo,
                                                 recordBytes(player(name.c_str()))));
  }
  EXPECT_EQ(newcomer.take(expected.size(), frames({&host})), expected);
}

TEST_F(Slots, RoomQueryReportsTheCountAndChangesNothing) {
  Lobby host;
  ASSERT_TRUE(host.host(20202));
  RoomRecord room = listedRoom(20202);
  {
    Background running(host);
    ASSERT_TRUE(net::queryRoom(room, 200, 2));
  }
  EXPECT_EQ(room.currentPlayers, 1);
  EXPECT_EQ(room.maxPlayers, 6);
  EXPECT_STREQ(room.roomName.data(), "Room");
  EXPECT_STREQ(room.hostAddress.data(), "127.0.0.1");  // its own host is kept
  EXPECT_EQ(room.port, 20202);

  RawSocket guest;
  ASSERT_EQ(joinRaw(host, guest), 1);
  {
    Background running(host);
    ASSERT_TRUE(net::queryRoom(room, 200, 2));
  }
  EXPECT_EQ(room.currentPlayers, 2);
  host.frames(5);
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(host.leaves, (std::array<int, kPlayerSlots>{}));
  EXPECT_EQ(guest.take(kRecordFromHost, frames({&host})), probe(host));  // and no Leave before it
}

TEST_F(Slots, AQueryingConnectionGetsTheRoomAloneAndNothingElse) {
  Lobby host;
  ASSERT_TRUE(host.host(20206));
  RawSocket guest;
  ASSERT_EQ(joinRaw(host, guest), 1);
  RawSocket asking = RawSocket::connectTo(20206);
  ASSERT_TRUE(runUntil([&] { return host.link.peerSocket(2) != nullptr; }, {&host}));
  probe(host);  // lobby traffic is for joined guests only
  // A query with a Join behind it in the same send: the Join is never read.
  ASSERT_TRUE(asking.send(nettest::join(Bytes{0, 0, 0}, guestFrame(net::Join))));
  const net::RoomBytes room = net::toBytes(host.room);
  // One byte more is asked for than the room: nothing follows it.
  EXPECT_EQ(asking.take(kRoomSize + 1, frames({&host})), Bytes(room.begin(), room.end()));
  EXPECT_TRUE(asking.waitClosed(frames({&host})));
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(host.leaves[2], 0);
}

TEST_F(Slots, RoomQueryThatArrivesWithItsConnectionIsAnsweredInThatFrame) {
  Lobby host;
  ASSERT_TRUE(host.host(20209));
  RawSocket asking = RawSocket::connectTo(20209);
  ASSERT_TRUE(asking.send(Bytes{0, 0, 0}));
  SDL_Delay(20);  // both the connection and the query are waiting now
  host.frame();
  const net::RoomBytes room = net::toBytes(host.room);
  EXPECT_EQ(asking.take(kRoomSize, [] { SDL_Delay(1); }), Bytes(room.begin(), room.end()));
}

TEST_F(Slots, SixthConnectionIsClosedAtOnce) {
  Lobby host;
  ASSERT_TRUE(host.host(20203));
  std::array<RawSocket, 5> guests;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(joinRaw(host, guests[i]), i + 1);
  RawSocket sixth = RawSocket::connectTo(20203);
  ASSERT_TRUE(sixth.send(guestFrame(net::Join)));
  EXPECT_TRUE(sixth.waitClosed(frames({&host})));
  EXPECT_EQ(sixth.pending(), 0u);  // no slot, no Join answer
  EXPECT_EQ(host.room.currentPlayers, 6);
  RoomRecord room = listedRoom(20203);
  {
    Background running(host);
    EXPECT_FALSE(net::queryRoom(room, 50, 2));  // a full room is not served
  }
  EXPECT_EQ(guests[0].take(kRecordFromHost, frames({&host})), probe(host));
}

TEST_F(Slots, OnlyAJoinedConnectionCountsAndSpeaks) {
  Lobby host;
  ASSERT_TRUE(host.host(20204));
  RawSocket x = RawSocket::connectTo(20204);
  // A record and a Leave before joining are ignored.
  ASSERT_TRUE(x.send(nettest::join(guestFrame(net::PlayerInfo, recordBytes(player("Early"))),
                                   guestFrame(net::Leave))));
  host.frames(10);
  EXPECT_EQ(host.players[1].present, 0);
  EXPECT_EQ(host.leaves[1], 0);
  EXPECT_EQ(host.room.currentPlayers, 1);
  // The same connection joins once; its second Join changes nothing.
  ASSERT_TRUE(x.send(guestFrame(net::Join)));
  EXPECT_EQ(x.take(kJoinAnswer, frames({&host})), (Bytes{1, 1, 1, 0, 1}));
  x.take(kRecordFromHost, frames({&host}));
  ASSERT_TRUE(x.send(guestFrame(net::Join)));
  host.frames(10);
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(x.take(kRecordFromHost, frames({&host})), probe(host));
  // A connection that closes before joining goes silently.
  RawSocket quiet = RawSocket::connectTo(20204);
  ASSERT_TRUE(runUntil([&] { return host.link.peerSocket(2) != nullptr; }, {&host}));
  quiet.close();
  ASSERT_TRUE(runUntil([&] { return host.link.peerSocket(2) == nullptr; }, {&host}));
  EXPECT_EQ(host.leaves[2], 0);
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(x.take(kRecordFromHost, frames({&host})), probe(host));
}

TEST_F(Slots, LeaveIsAnnouncedOnceWhateverFollows) {
  Lobby host;
  ASSERT_TRUE(host.host(20205));
  RawSocket x, y, z;
  ASSERT_EQ(joinRaw(host, x), 1);
  ASSERT_EQ(joinRaw(host, y), 2);
  ASSERT_EQ(joinRaw(host, z), 3);
  // A Leave over the wire, then the connection closes.
  ASSERT_TRUE(y.send(guestFrame(net::Leave)));
  EXPECT_EQ(x.take(kLeaveFrame, frames({&host})), hostFrame(2, net::Leave));
  y.close();
  host.frames(10);
  EXPECT_EQ(host.leaves[2], 1);
  EXPECT_EQ(host.room.currentPlayers, 3);
  const Bytes probed = probe(host);
  EXPECT_EQ(x.take(kRecordFromHost, frames({&host})), probed);
  EXPECT_EQ(z.take(kLeaveFrame + kRecordFromHost, frames({&host})),
            nettest::join(hostFrame(2, net::Leave), probed));
  // A joined guest asking for the room is taken as gone: its slot is freed
  // and announced, and it gets no room record.
  ASSERT_TRUE(z.send(Bytes{0, 0, 0}));
  EXPECT_TRUE(z.waitClosed(frames({&host})));
  EXPECT_EQ(z.pending(), 0u);
  EXPECT_EQ(x.take(kLeaveFrame, frames({&host})), hostFrame(3, net::Leave));
  EXPECT_EQ(host.room.currentPlayers, 2);
  // The count never drops below the host itself.
  host.link.pushLocal(1, net::Leave, 0, nullptr);
  host.frame();
  host.link.pushLocal(1, net::Leave, 0, nullptr);
  host.frame();
  EXPECT_EQ(host.room.currentPlayers, 1);
}

}  // namespace
