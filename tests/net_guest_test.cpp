// The guest's side: what it takes from the host's bytes (its slot, the
// records, bad frames left unapplied), the loss of the host, and the room
// query client against hosts that answer whole, in pieces, short or never.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "net/room_query.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Bytes;
using nettest::frames;
using nettest::guestFrame;
using nettest::hostFrame;
using nettest::kJoinRequest;
using nettest::kRecordFromGuest;
using nettest::kRecordSize;
using nettest::kRoomSize;
using nettest::Lobby;
using nettest::player;
using nettest::RawSocket;
using nettest::recordBytes;
using nettest::runUntil;

const auto pause = [] { SDL_Delay(1); };

class GuestSide : public nettest::NetTest {
 protected:
  // A guest connected to a raw host that has read its Join.
  void connect(uint16_t port) {
    listener_ = RawSocket::listenOn(port);
    ASSERT_TRUE(listener_.valid());
    ASSERT_TRUE(guest_.guest(port, "Me"));
    host_ = listener_.accept();
    ASSERT_EQ(host_.take(kJoinRequest, pause), (Bytes{1, 0, 0}));
  }
  void frames(int count) { guest_.frames(count); }

  RawSocket listener_;
  RawSocket host_;
  Lobby guest_;
};

TEST_F(GuestSide, LearnsItsSlotAndTheRecordsInPieces) {
  connect(20301);
  const Bytes all =
      nettest::join(nettest::join(hostFrame(3, net::Join, {3}),
                                  hostFrame(0, net::PlayerInfo, recordBytes(player("Host")))),
                    hostFrame(1, net::PlayerInfo, recordBytes(player("Other"))));
  ASSERT_TRUE(host_.send(Bytes(all.begin(), all.begin() + 3)));
  frames(5);
  EXPECT_EQ(guest_.link.ownSlot(), 0);  // half a Join is not applied
  ASSERT_TRUE(host_.send(Bytes(all.begin() + 3, all.begin() + 80)));
  frames(5);
  ASSERT_TRUE(host_.send(Bytes(all.begin() + 80, all.end())));
  ASSERT_TRUE(runUntil([&] { return guest_.arrivals[1] == 1; }, {&guest_}));
  EXPECT_EQ(guest_.link.ownSlot(), 3);
  EXPECT_STREQ(guest_.players[0].name.data(), "Host");
  EXPECT_STREQ(guest_.players[1].name.data(), "Other");
  EXPECT_STREQ(guest_.players[3].name.data(), "Me");
  EXPECT_EQ(guest_.arrivals[3], 1);
  // Its own record goes to the host: 02 8C 00 and 140 bytes.
  EXPECT_EQ(host_.take(kRecordFromGuest, pause),
            guestFrame(net::PlayerInfo, recordBytes(player("Me"))));
}

TEST_F(GuestSide, BadFramesAreNotApplied) {
  connect(20302);
  Bytes longName = recordBytes(player(""));
  std::memset(&longName[2], 'A', 128);  // no terminator inside the field
  Bytes tooLong = recordBytes(player("TooLong"));
  tooLong.push_back(0);
  Bytes frames_ = hostFrame(6, net::PlayerInfo, recordBytes(player("Six")));
  frames_ = nettest::join(frames_, hostFrame(255, net::Leave));  // only a local 255 counts
  frames_ = nettest::join(frames_, hostFrame(2, net::PlayerInfo, tooLong));
  frames_ = nettest::join(frames_, hostFrame(1, net::RoomQuery));
  frames_ = nettest::join(frames_, hostFrame(1, 9, {1, 2, 3}));
  frames_ = nettest::join(frames_, hostFrame(1, net::Join, {}));
  frames_ = nettest::join(frames_, hostFrame(1, net::Join, {7}));
  frames_ = nettest::join(frames_, hostFrame(1, net::PlayerInfo, longName));
  ASSERT_TRUE(host_.send(frames_));
  ASSERT_TRUE(runUntil([&] { return guest_.arrivals[1] == 1; }, {&guest_}));
  EXPECT_EQ(std::strlen(guest_.players[1].name.data()), 127u);
  EXPECT_EQ(guest_.players[2].present, 0);
  EXPECT_EQ(guest_.hostLost, 0);
  EXPECT_EQ(guest_.link.ownSlot(), 0);
  EXPECT_EQ(guest_.arrivals, (std::array<int, kPlayerSlots>{0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(host_.pending(), 0u);  // no record was sent back: no valid Join came
}

TEST_F(GuestSide, DeclaredLengthThatCanNeverFitLosesTheHost) {
  connect(20303);
  ASSERT_TRUE(host_.send(Bytes{0, net::PlayerInfo, 0xFF, 0xFF, 1, 2, 3}));
  ASSERT_TRUE(runUntil([&] { return guest_.hostLost > 0; }, {&guest_}));
  frames(5);
  EXPECT_EQ(guest_.hostLost, 1);
}

class GuestsOfAHost : public nettest::NetTest {};

TEST_F(GuestsOfAHost, RecordsMeetAndClosingTheRoomGivesEachALocalLeave) {
  Lobby host, a, b;
  ASSERT_TRUE(host.host(20304, "Host"));
  ASSERT_TRUE(a.guest(20304, "Alice"));
  ASSERT_TRUE(runUntil([&] { return a.link.ownSlot() == 1; }, {&host, &a}));
  ASSERT_TRUE(b.guest(20304, "Bob"));
  ASSERT_TRUE(runUntil(
      [&] { return std::strcmp(a.players[2].name.data(), "Bob") == 0 && b.arrivals[1] > 0; },
      {&host, &a, &b}));
  EXPECT_EQ(b.link.ownSlot(), 2);
  EXPECT_STREQ(b.players[0].name.data(), "Host");
  EXPECT_STREQ(b.players[1].name.data(), "Alice");
  EXPECT_STREQ(host.players[2].name.data(), "Bob");
  EXPECT_EQ(host.room.currentPlayers, 3);

  net::closeLobby(host.link);
  ASSERT_TRUE(runUntil([&] { return a.hostLost > 0 && b.hostLost > 0; }, {&a, &b}));
  for (int i = 0; i < 5; ++i) {
    a.frame();
    b.frame();
  }
  EXPECT_EQ(a.hostLost, 1);
  EXPECT_EQ(b.hostLost, 1);
  // Sending to the closed host fails quietly.
  a.link.queueMessage(net::PlayerInfo, kRecordSize, recordBytes(a.players[0]).data(), 0, net::ToAll,
                      0);
  a.frame();
}

// A raw host on a thread that answers one room query with `answer`, sent in
// pieces of `piece` bytes a few milliseconds apart, then waits until told to
// hang up.
class QueryServer {
 public:
  QueryServer(uint16_t port, Bytes answer, size_t piece)
      : listener_(RawSocket::listenOn(port)), thread_([this, answer, piece] {
          RawSocket peer = listener_.accept();
          query_ = peer.take(kJoinRequest, pause);
          for (size_t at = 0; at < answer.size(); at += piece) {
            const size_t end = at + piece < answer.size() ? at + piece : answer.size();
            peer.send(Bytes(answer.begin() + static_cast<long>(at),
                            answer.begin() + static_cast<long>(end)));
            SDL_Delay(5);
          }
          while (!done_) SDL_Delay(1);
        }) {}
  ~QueryServer() { hangUp(); }
  // The bytes the server was sent, once it has hung up.
  Bytes query() {
    hangUp();
    return query_;
  }

 private:
  void hangUp() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }

  RawSocket listener_;
  Bytes query_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

RoomRecord listed(const char* host, uint16_t port) {
  RoomRecord room;
  copyField(room.hostAddress, host);
  room.port = port;
  copyField(room.roomName, "old");
  return room;
}

TEST_F(GuestSide, RoomQueryCollectsAnAnswerInPiecesAndTerminatesItsText) {
  Bytes answer(kRoomSize, 'A');
  answer[704] = 3;
  answer[705] = 6;
  answer[708] = 0x39;  // port 6201, little-endian
  answer[709] = 0x18;
  RoomRecord room = listed("127.0.0.1", 20305);
  bool answered = false;
  {
    QueryServer server(20305, answer, 300);
    answered = net::queryRoom(room, 200, 2);
  }
  ASSERT_TRUE(answered);
  EXPECT_STREQ(room.hostAddress.data(), "127.0.0.1");
  EXPECT_EQ(std::strlen(room.roomName.data()), 63u);
  EXPECT_EQ(std::strlen(room.comment.data()), 511u);
  EXPECT_EQ(room.currentPlayers, 3);
  EXPECT_EQ(room.maxPlayers, 6);
  EXPECT_EQ(room.port, 6201);
}

TEST_F(GuestSide, ShortOrMissingAnswersLeaveTheRoomUnanswered) {
  for (const size_t length : {size_t{700}, size_t{0}}) {
    RoomRecord room = listed("127.0.0.1", 20306);
    QueryServer server(20306, Bytes(length, 'B'), 350);
    EXPECT_FALSE(net::queryRoom(room, 40, 2));
    EXPECT_EQ(server.query(), (Bytes{0, 0, 0}));
    EXPECT_STREQ(room.roomName.data(), "old");
    EXPECT_EQ(room.port, 20306);
  }
}

TEST_F(GuestSide, AnyAndBroadcastAddressesAreUnreachable) {
  for (const char* host : {"0.0.0.0", "255.255.255.255", ""}) {
    RoomRecord room = listed(host, 20307);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(net::queryRoom(room, 5, 1));
    Lobby guest;
    EXPECT_FALSE(guest.guest(20307, "Me", host));
    EXPECT_FALSE(guest.link.isOpen());
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("SDLNet_ResolveHost: "), std::string::npos) << host;
    EXPECT_EQ(errors.find("SDLNet_TCP_Open"), std::string::npos) << host;
  }
  // Nothing listens on the port now: a connection there is refused.
  EXPECT_FALSE(RawSocket::connectTo(20307).valid());
}

}  // namespace
