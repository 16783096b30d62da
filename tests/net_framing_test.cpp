// The lobby protocol on the wire, over real loopback sockets: the exact bytes
// of joining, relaying and leaving; messages that TCP splits or joins;
// declared lengths that can never fit; sends to peers that have gone away.
#include <gtest/gtest.h>

#include "support/net_test_peers.h"

namespace {

using nettest::Bytes;
using nettest::frames;
using nettest::guestFrame;
using nettest::hostFrame;
using nettest::kJoinAnswer;
using nettest::kJoinRequest;
using nettest::kLeaveFrame;
using nettest::kRecordFromHost;
using nettest::kRecordSize;
using nettest::Lobby;
using nettest::player;
using nettest::RawSocket;
using nettest::recordBytes;
using nettest::runUntil;

class Framing : public nettest::NetTest {
 protected:
  // Joins a raw guest; the records that follow the Join answer stay unread.
  int joinRaw(Lobby& host, RawSocket& client) { return nettest::joinRaw(host, client, false); }
};

TEST_F(Framing, GuestJoinIsThreeBytes) {
  RawSocket listener = RawSocket::listenOn(20101);
  ASSERT_TRUE(listener.valid());
  Lobby guest;
  ASSERT_TRUE(guest.guest(20101, "Guest"));
  RawSocket host = listener.accept();
  EXPECT_EQ(host.take(kJoinRequest, [] { SDL_Delay(1); }), (Bytes{0x01, 0x00, 0x00}));
}

TEST_F(Framing, JoinAnswerRecordsInSlotOrderAndRelayOnce) {
  Lobby host;
  ASSERT_TRUE(host.host(20102, "Host"));
  RawSocket alice = RawSocket::connectTo(20102);
  ASSERT_TRUE(alice.send(guestFrame(net::Join)));
  // k 01 01 00 k, then the host's own record from slot 0.
  EXPECT_EQ(alice.take(kJoinAnswer, frames({&host})), (Bytes{1, 1, 1, 0, 1}));
  EXPECT_EQ(alice.take(kRecordFromHost, frames({&host})),
            hostFrame(0, net::PlayerInfo, recordBytes(host.players[0])));
  ASSERT_TRUE(alice.send(guestFrame(net::PlayerInfo, recordBytes(player("Alice")))));
  ASSERT_TRUE(runUntil([&] { return host.arrivals[1] == 1; }, {&host}));
  EXPECT_STREQ(host.players[1].name.data(), "Alice");

  RawSocket bob = RawSocket::connectTo(20102);
  ASSERT_TRUE(bob.send(guestFrame(net::Join)));
  EXPECT_EQ(bob.take(kJoinAnswer, frames({&host})), (Bytes{2, 1, 1, 0, 2}));
  EXPECT_EQ(bob.take(2 * kRecordFromHost, frames({&host})),
            nettest::join(hostFrame(0, net::PlayerInfo, recordBytes(host.players[0])),
                          hostFrame(1, net::PlayerInfo, recordBytes(player("Alice")))));
  ASSERT_TRUE(bob.send(guestFrame(net::PlayerInfo, recordBytes(player("Bob")))));
  // Alice gets Bob's record once, then Bob's Leave when his socket closes.
  EXPECT_EQ(alice.take(kRecordFromHost, frames({&host})),
            hostFrame(2, net::PlayerInfo, recordBytes(player("Bob"))));
  bob.close();
  EXPECT_EQ(alice.take(kLeaveFrame, frames({&host})), hostFrame(2, net::Leave));
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(host.players[2].present, 0);
}

TEST_F(Framing, SplitAndJoinedMessagesAreHandledOnceInOrder) {
  Lobby host;
  ASSERT_TRUE(host.host(20103));
  RawSocket watcher;  // sees every record the host takes in, as relays
  ASSERT_EQ(joinRaw(host, watcher), 1);
  watcher.take(kRecordFromHost, frames({&host}));
  RawSocket client = RawSocket::connectTo(20103);
  // Join and a record in one send.
  ASSERT_TRUE(client.send(nettest::join(guestFrame(net::Join),
                                        guestFrame(net::PlayerInfo, recordBytes(player("One"))))));
  EXPECT_EQ(client.take(kJoinAnswer, frames({&host})), (Bytes{2, 1, 1, 0, 2}));
  EXPECT_EQ(watcher.take(kRecordFromHost, frames({&host})),
            hostFrame(2, net::PlayerInfo, recordBytes(player("One"))));

  // A record in three pieces, sent frames apart, its end joined with two
  // more records.
  const Bytes two = guestFrame(net::PlayerInfo, recordBytes(player("Two")));
  ASSERT_TRUE(client.send(Bytes(two.begin(), two.begin() + 2)));
  host.frames(5);
  ASSERT_TRUE(client.send(Bytes(two.begin() + 2, two.begin() + 100)));
  host.frames(5);
  EXPECT_STREQ(host.players[2].name.data(), "One");  // a partial message waits
  ASSERT_TRUE(client.send(
      nettest::join(Bytes(two.begin() + 100, two.end()),
                    nettest::join(guestFrame(net::PlayerInfo, recordBytes(player("Three"))),
                                  guestFrame(net::PlayerInfo, recordBytes(player("Four")))))));
  Bytes expected = hostFrame(2, net::PlayerInfo, recordBytes(player("Two")));
  expected = nettest::join(expected, hostFrame(2, net::PlayerInfo, recordBytes(player("Three"))));
  expected = nettest::join(expected, hostFrame(2, net::PlayerInfo, recordBytes(player("Four"))));
  EXPECT_EQ(watcher.take(3 * kRecordFromHost, frames({&host})), expected);
  // Nothing was taken in twice: the next bytes are the Leave of slot 2.
  client.close();
  EXPECT_EQ(watcher.take(kLeaveFrame, frames({&host})), hostFrame(2, net::Leave));
  EXPECT_STREQ(host.players[2].name.data(), "Four");
  EXPECT_EQ(host.room.currentPlayers, 2);
}

TEST_F(Framing, DeclaredLengthThatCanNeverFitClosesTheGuest) {
  Lobby host;
  ASSERT_TRUE(host.host(20104));
  RawSocket other;
  RawSocket liar;
  ASSERT_EQ(joinRaw(host, other), 1);
  ASSERT_EQ(joinRaw(host, liar), 2);
  other.take(kRecordFromHost, frames({&host}));  // the host's record
  ASSERT_TRUE(liar.send(Bytes{net::PlayerInfo, 0xFF, 0xFF, 'x'}));
  EXPECT_TRUE(liar.waitClosed(frames({&host})));
  EXPECT_EQ(other.take(kLeaveFrame, frames({&host})), hostFrame(2, net::Leave));
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(host.link.peerSocket(2), nullptr);
}

TEST_F(Framing, SendsToVanishedPeersDoNotEndTheProgram) {
  Lobby host;
  ASSERT_TRUE(host.host(20105));
  RawSocket client;
  ASSERT_EQ(joinRaw(host, client), 1);
  client.closeHard();
  // Without polling, the link still believes in the peer and keeps sending.
  const Bytes record = recordBytes(player("x"));
  for (int i = 0; i < 5; ++i) {
    host.link.queueMessage(net::PlayerInfo, kRecordSize, record.data(), 0, net::ToAll, 0);
    host.link.flush();
    host.link.sendRaw(1, record.data(), kRecordSize);
    SDL_Delay(1);
  }
  EXPECT_FALSE(host.link.sendRaw(1, record.data(), kRecordSize));
  // The failed send dropped the guest: nothing stays queued for it, and its
  // Leave, pushed by the next poll, is handled once.
  EXPECT_EQ(host.link.queuedCount(), 0);
  EXPECT_EQ(host.link.peerSocket(1), nullptr);
  host.frames(3);
  EXPECT_EQ(host.leaves[1], 1);
  EXPECT_EQ(host.room.currentPlayers, 1);
}

TEST_F(Framing, QueueAndPushRefuseWhatDoesNotFit) {
  net::NetLink link;
  link.reset();
  link.setMode(net::Host);
  const Bytes big(10000, 0x41);
  EXPECT_TRUE(link.queueMessage(net::PlayerInfo, 5000, big.data(), 0, net::ToAll, 0));
  EXPECT_TRUE(link.queueMessage(net::PlayerInfo, 5000, big.data(), 0, net::ToAll, 0));
  EXPECT_FALSE(link.queueMessage(net::PlayerInfo, 5000, big.data(), 0, net::ToAll, 0));
  EXPECT_EQ(link.sendLength(), 10008);
  EXPECT_FALSE(link.queueMessage(net::PlayerInfo, 10, nullptr, 0, net::ToAll, 0));
  EXPECT_TRUE(link.pushLocal(1, net::PlayerInfo, 10000, big.data()));
  EXPECT_FALSE(link.pushLocal(1, net::Leave, 300, big.data()));
  EXPECT_TRUE(link.nextMessage());
  EXPECT_EQ(link.messageLength(), 10000);
  EXPECT_FALSE(link.nextMessage());

  net::NetLink many;
  many.reset();
  many.setMode(net::Guest);
  int queued = 0;
  for (int i = 0; i < 1000 && many.queueMessage(net::Leave, 0, nullptr, 0, net::ToAll, 0); ++i) {
    ++queued;
  }
  EXPECT_EQ(queued, 255);
  many.flush();  // no socket: the queue is emptied all the same
  EXPECT_TRUE(many.queueMessage(net::Leave, 0, nullptr, 0, net::ToAll, 0));
}

}  // namespace
