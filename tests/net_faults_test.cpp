// Peers that misbehave or fail, over real loopback sockets: connections
// reset mid-game, connections that never speak, bursts of connections,
// guests that flood or stop reading, hosts that never answer a connection
// attempt; and the platform's socket services under them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "net/room_query.h"
#include "platform/net_socket.h"
#include "platform/worker.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Background;
using nettest::Bytes;
using nettest::frames;
using nettest::guestFrame;
using nettest::hostFrame;
using nettest::joinRaw;
using nettest::kHostHeader;
using nettest::kJoinAnswer;
using nettest::kJoinRequest;
using nettest::kLeaveFrame;
using nettest::kRecordFromHost;
using nettest::kRecordSize;
using nettest::Lobby;
using nettest::player;
using nettest::probe;
using nettest::RawSocket;
using nettest::recordBytes;
using nettest::runUntil;

class Faults : public nettest::NetTest {};

// A connection accepted by the platform layer from a raw client.
struct AcceptedPair {
  platform::Socket listener;
  platform::Socket accepted;
  RawSocket client;

  explicit AcceptedPair(uint16_t port, int clientReceiveBuffer = 0)
      : listener(platform::listenOn(port, 8)) {
    client = RawSocket::connectTo(port, clientReceiveBuffer);
    accepted = nettest::acceptWithin(listener);
  }
};

TEST_F(Faults, SendsNeverWaitAndFailQuietlyOnAResetConnection) {
  AcceptedPair pair(21002, 4096);
  ASSERT_TRUE(pair.accepted.valid());
  const Bytes chunk(4096, 0x5A);
  // The client never reads: the system's buffers fill and sends take 0.
  int lastSent = -2;
  long total = 0;
  for (int i = 0; i < 100000 && lastSent != 0; ++i) {
    lastSent = platform::sendSome(pair.accepted, chunk.data(), chunk.size());
    total += lastSent > 0 ? lastSent : 0;
  }
  EXPECT_EQ(lastSent, 0);
  std::printf("took %ld bytes before the buffers were full\n", total);
  pair.client.closeHard();
  int result = 0;
  for (int i = 0; i < nettest::kMaxSteps && result >= 0; ++i) {
    result = platform::sendSome(pair.accepted, chunk.data(), 16);
    SDL_Delay(1);
  }
  EXPECT_EQ(result, -1);
  uint8_t byte = 0;
  EXPECT_EQ(platform::receiveSome(pair.accepted, &byte, 1), -1);
}

TEST_F(Faults, ListenerHoldsABurstOfConnectionsUntilAccepted) {
  platform::Socket listener = platform::listenOn(21013, net::kListenBacklog);
  ASSERT_TRUE(listener.valid());
  // The port is taken: a second listener fails and says why.
  EXPECT_FALSE(platform::listenOn(21013, net::kListenBacklog).valid());
  EXPECT_STRNE(platform::socketError(), "");
  // Twenty connections are made without anybody accepting them.
  std::array<RawSocket, 20> waiting;
  for (RawSocket& s : waiting) s = RawSocket::startConnect(21013);
  int made = 0;
  for (RawSocket& s : waiting) made += s.ready(true, 1000) ? 1 : 0;
  EXPECT_EQ(made, 20);
}

TEST_F(Faults, ResetConnectionFreesItsSlotOnceAndIsAnnounced) {
  Lobby host;
  ASSERT_TRUE(host.host(21005));
  RawSocket watcher, crashed;
  ASSERT_EQ(joinRaw(host, watcher), 1);
  ASSERT_EQ(joinRaw(host, crashed), 2);
  crashed.closeHard();
  ASSERT_TRUE(runUntil([&] { return host.link.peerSocket(2) == nullptr; }, {&host}));
  host.frames(10);
  EXPECT_EQ(host.leaves[2], 1);
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(watcher.take(kLeaveFrame + kRecordFromHost, frames({&host})),
            nettest::join(hostFrame(2, net::Leave), probe(host)));
}

TEST_F(Faults, SilentConnectionsAreClosedAndAQuietGuestStays) {
  static_assert(net::kJoinTimeoutMs == 5000);
  Lobby host;
  ASSERT_TRUE(host.host(21006));
  host.link.setJoinTimeout(300);
  RawSocket quiet;
  ASSERT_EQ(joinRaw(host, quiet), 1);
  std::array<RawSocket, 4> silent;
  for (RawSocket& s : silent) s = RawSocket::connectTo(21006);
  // One of them sends a complete message, but never joins.
  ASSERT_TRUE(silent[0].send(guestFrame(net::PlayerInfo, recordBytes(player("Lurker")))));
  ASSERT_TRUE(runUntil([&] { return host.link.peerSocket(5) != nullptr; }, {&host}));
  for (RawSocket& s : silent) EXPECT_TRUE(s.waitClosed(frames({&host})));
  host.frames(20);
  EXPECT_EQ(host.leaves, (std::array<int, kPlayerSlots>{}));
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(quiet.take(kRecordFromHost, frames({&host})),
            probe(host));  // still there, told nothing
  // The slots are free again: the room is served.
  RoomRecord room = nettest::listedRoom(21006);
  {
    Background running(host);
    ASSERT_TRUE(net::queryRoom(room, 200, 2));
  }
  EXPECT_EQ(room.currentPlayers, 2);
}

TEST_F(Faults, BurstOfSilentConnectionsIsShedAndAGuestStillJoins) {
  Lobby host;
  ASSERT_TRUE(host.host(21007));
  host.link.setJoinTimeout(100000);
  std::array<RawSocket, 12> burst;
  for (RawSocket& s : burst) s = RawSocket::startConnect(21007);
  // Each silent connection gives its slot up to one after it once it has
  // been quiet for its grace: after two graces the last five hold the
  // slots, and nobody was told of any of them.
  const Uint32 start = SDL_GetTicks();
  while (SDL_GetTicks() - start < 2 * net::kQuietGraceMs + 200) host.frames(1);
  SDL_Delay(20);
  int closed = 0;
  for (RawSocket& s : burst) closed += s.waitClosed([] {}) ? 1 : 0;
  EXPECT_EQ(closed, 7);
  for (int i = 7; i < 12; ++i) EXPECT_FALSE(burst[i].waitClosed([] {})) << i;
  Lobby guest;
  ASSERT_TRUE(guest.guest(21007, "Real"));
  ASSERT_TRUE(runUntil([&] { return guest.link.ownSlot() != 0; }, {&host, &guest}));
  ASSERT_TRUE(runUntil([&] { return host.arrivals[guest.link.ownSlot()] == 1; }, {&host, &guest}));
  EXPECT_STREQ(host.players[guest.link.ownSlot()].name.data(), "Real");
  EXPECT_EQ(host.room.currentPlayers, 2);
  EXPECT_EQ(host.leaves, (std::array<int, kPlayerSlots>{}));
}

TEST_F(Faults, AConnectionHalfwayThroughItsJoinIsNotPushedOut) {
  Lobby host;
  ASSERT_TRUE(host.host(21016));
  std::array<RawSocket, 4> guests;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(joinRaw(host, guests[i]), i + 1);
  RawSocket slow = RawSocket::connectTo(21016);
  ASSERT_TRUE(slow.send(Bytes{net::Join}));  // the first byte of its Join
  ASSERT_TRUE(runUntil([&] { return host.link.peerSocket(5) != nullptr; }, {&host}));
  for (int i = 0; i < 6; ++i) {
    host.frame();
    SDL_Delay(16);
  }
  // A room query arrives: the room is full, and the slow joiner keeps its slot.
  RawSocket asking = RawSocket::connectTo(21016);
  ASSERT_TRUE(asking.send(Bytes{0, 0, 0}));
  EXPECT_TRUE(asking.waitClosed(frames({&host})));
  EXPECT_EQ(asking.pending(), 0u);
  ASSERT_TRUE(slow.send(Bytes{0, 0}));  // the rest of it
  EXPECT_EQ(slow.take(kJoinAnswer, frames({&host})), (Bytes{5, 1, 1, 0, 5}));
  EXPECT_EQ(host.room.currentPlayers, 6);
}

TEST_F(Faults, FloodIsTakenInAtABoundedRateInOrderAndOnce) {
  Lobby host;
  ASSERT_TRUE(host.host(21008));
  RawSocket watcher, flooder;
  ASSERT_EQ(joinRaw(host, watcher), 1);
  ASSERT_EQ(joinRaw(host, flooder), 2);
  constexpr int kRecords = 60;
  Bytes flood;
  Bytes expected;
  for (int i = 0; i < kRecords; ++i) {
    const Bytes record = recordBytes(player(("Flood" + std::to_string(i)).c_str()));
    flood = nettest::join(flood, guestFrame(net::PlayerInfo, record));
    expected = nettest::join(expected, hostFrame(2, net::PlayerInfo, record));
  }
  ASSERT_TRUE(flooder.send(flood));
  SDL_Delay(20);
  host.frame();
  // One frame takes in at most the per-guest budget of messages.
  SDL_Delay(20);
  EXPECT_LE(watcher.pending(), kRecordFromHost * net::kMessageBudgetPerPoll);
  EXPECT_GT(watcher.pending(), 0u);
  EXPECT_EQ(watcher.take(expected.size(), frames({&host})), expected);
  host.frames(10);
  EXPECT_EQ(watcher.pending(), 0u);
  EXPECT_STREQ(host.players[2].name.data(), "Flood59");
}

// Host frames from a stream of host frames: (from, type) in order.
std::vector<std::pair<uint8_t, uint8_t>> framesIn(const Bytes& stream) {
  std::vector<std::pair<uint8_t, uint8_t>> out;
  for (size_t at = 0; at + kHostHeader <= stream.size();
       at += kHostHeader + (stream[at + 2] | stream[at + 3] << 8)) {
    out.emplace_back(stream[at], stream[at + 1]);
  }
  return out;
}

TEST_F(Faults, AFloodingGuestThatLeavesIsGoneWithinTwoSecondsAndNothingOfItFollowsItsLeave) {
  Lobby host;
  ASSERT_TRUE(host.host(21015));
  RawSocket watcher, flooder;
  ASSERT_EQ(joinRaw(host, watcher), 1);
  ASSERT_EQ(joinRaw(host, flooder), 2);
  // Records as fast as the connection takes them for 0.2 s, then gone,
  // while the host runs at the game's pace.
  std::atomic<Uint32> leftAt{0};
  std::atomic<long> flooded{0};
  std::thread flood([&] {
    Bytes burst;
    for (int i = 0; i < 64; ++i) {
      burst = nettest::join(burst, guestFrame(net::PlayerInfo, recordBytes(player("Flood"))));
    }
    const Uint32 start = SDL_GetTicks();
    while (SDL_GetTicks() - start < 200) {
      const long sent = flooder.sendNow(burst);
      if (sent > 0) flooded += sent;
    }
    flooder.close();
    leftAt = SDL_GetTicks();
  });
  Bytes seen;
  Uint32 goneAfter = 0;
  for (int frame = 0; frame < 600 && goneAfter == 0; ++frame) {
    host.frame();
    watcher.drain();
    if (leftAt != 0 && host.leaves[2] == 1) goneAfter = SDL_GetTicks() - leftAt;
    SDL_Delay(16);
  }
  flood.join();
  std::printf("flooded %ld bytes; its slot was free %u ms after it left\n", flooded.load(),
              goneAfter);
  ASSERT_NE(goneAfter, 0u) << "the flooding guest was still counted 10 s later";
  EXPECT_LE(goneAfter, 2000u);
  EXPECT_EQ(host.room.currentPlayers, 2);
  host.frames(30);
  const auto relayed = framesIn(watcher.take(watcher.pending(), [] {}));
  const auto leave =
      std::find(relayed.begin(), relayed.end(), std::make_pair(uint8_t{2}, uint8_t{net::Leave}));
  ASSERT_NE(leave, relayed.end());
  EXPECT_EQ(std::count(leave, relayed.end(), std::make_pair(uint8_t{2}, uint8_t{net::PlayerInfo})),
            0)
      << "a record of the guest reached the others after its Leave";
}

TEST_F(Faults, GuestThatStopsReadingIsDroppedAndHoldsNobodyUp) {
  Lobby host;
  ASSERT_TRUE(host.host(21009));
  RawSocket watcher, flooder;
  ASSERT_EQ(joinRaw(host, watcher), 1);
  ASSERT_EQ(joinRaw(host, flooder), 2);
  RawSocket stalled = RawSocket::connectTo(21009, 4096);
  ASSERT_TRUE(stalled.send(guestFrame(net::Join)));
  ASSERT_TRUE(runUntil([&] { return host.link.slotJoined(3); }, {&host}));
  // The stalled guest reads nothing from here on. Every frame the flooder's
  // records are relayed to it; the frame loop must go on regardless.
  const Bytes record = guestFrame(net::PlayerInfo, recordBytes(player("Flood")));
  Bytes perFrame;
  for (int i = 0; i < net::kMessageBudgetPerPoll; ++i) perFrame = nettest::join(perFrame, record);
  int frame = 0;
  for (; frame < 100000 && host.link.peerSocket(3) != nullptr; ++frame) {
    ASSERT_TRUE(flooder.send(perFrame));
    host.frame();
    watcher.drain();
  }
  std::printf("dropped after %d frames\n", frame);
  ASSERT_EQ(host.link.peerSocket(3), nullptr);
  host.frames(3);
  EXPECT_EQ(host.leaves[3], 1);
  EXPECT_EQ(host.room.currentPlayers, 3);
  EXPECT_NE(host.link.peerSocket(1), nullptr);
  EXPECT_NE(host.link.peerSocket(2), nullptr);
}

// A listening socket whose backlog is full: the system drops further
// connection requests, as a host behind a silent firewall does.
TEST_F(Faults, ConnectionAttemptsToASilentHostGiveUp) {
  RawSocket listener = RawSocket::listenOn(21010, 0);
  ASSERT_TRUE(listener.valid());
  RawSocket filler = RawSocket::connectTo(21010);
  ASSERT_TRUE(filler.valid());
  testing::internal::CaptureStderr();
  const Uint32 start = SDL_GetTicks();
  EXPECT_FALSE(net::connectTo("127.0.0.1", 21010).valid());
  RoomRecord room = nettest::listedRoom(21010);
  EXPECT_FALSE(net::queryRoom(room, 60, 1));
  Lobby guest;
  EXPECT_FALSE(guest.guest(21010, "Me"));
  const std::string errors = testing::internal::GetCapturedStderr();
  std::printf("three attempts returned after %u ms\n", SDL_GetTicks() - start);
  EXPECT_NE(errors.find("SDLNet_TCP_Open: "), std::string::npos);
}

// A stand-in for the system's resolver that answers only when the test lets
// it (or gives up after ten seconds, so a failing test cannot hang).
struct StalledResolver {
  std::mutex mutex;
  std::condition_variable released;
  bool open = false;
  int calls = 0;
};
StalledResolver stalled;

bool answerWith(platform::LookupAnswer& answer, uint32_t host) {
  answer = platform::LookupAnswer{};
  answer.addresses[0] = platform::Address::v4(host, 0);
  answer.count = 1;
  return true;
}

bool stalledLookup(const char*, platform::LookupAnswer& answer) {
  std::unique_lock<std::mutex> lock(stalled.mutex);
  ++stalled.calls;
  stalled.released.wait_for(lock, std::chrono::seconds(10), [] { return stalled.open; });
  return answerWith(answer, 0x7F000001);
}

bool countingLookup(const char* name, platform::LookupAnswer& answer) {
  const std::lock_guard<std::mutex> lock(stalled.mutex);
  ++stalled.calls;
  return std::strcmp(name, "known.example") == 0 && answerWith(answer, 0x0A000002);
}

bool waitForNoPendingLookups() {
  for (int i = 0; i < 1000 && platform::pendingLookups() > 0; ++i) SDL_Delay(10);
  return platform::pendingLookups() == 0;
}

platform::Lookup lookUp(const char* name, uint32_t& host, uint32_t waitMs,
                        platform::NameLookup lookup = platform::systemNameLookup) {
  platform::HostLookup pending;
  pending.start(name, lookup);
  platform::LookupAnswer answer;
  const platform::Lookup result = pending.result(answer, waitMs);
  host = answer.count > 0 ? answer.addresses[0].v4Host() : 0;
  return result;
}

TEST_F(Faults, NameLookupsAreBoundedInTime) {
  uint32_t host = 0;
  // Numeric addresses, in every form inet_aton takes, need no lookup.
  stalled.calls = 0;
  EXPECT_EQ(lookUp("192.168.1.20", host, 0, countingLookup), platform::Lookup::Found);
  EXPECT_EQ(host, 0xC0A80114u);
  EXPECT_EQ(lookUp("127.1", host, 0, countingLookup), platform::Lookup::Found);
  EXPECT_EQ(host, 0x7F000001u);
  EXPECT_EQ(lookUp("255.255.255.255", host, 0, countingLookup), platform::Lookup::Found);
  EXPECT_EQ(host, 0xFFFFFFFFu);
  EXPECT_EQ(lookUp("", host, 1000, countingLookup), platform::Lookup::NotFound);
  EXPECT_EQ(stalled.calls, 0);

  // Names are looked up; an answer in time is taken, a failure reported.
  EXPECT_EQ(lookUp("known.example", host, 5000, countingLookup), platform::Lookup::Found);
  EXPECT_EQ(host, 0x0A000002u);
  EXPECT_EQ(lookUp("unknown.invalid", host, 5000, countingLookup), platform::Lookup::NotFound);
  EXPECT_EQ(stalled.calls, 2);
  EXPECT_TRUE(waitForNoPendingLookups());

  // The system's own resolver finds this machine's name (IPv4 or IPv6).
  platform::HostLookup local;
  local.start("localhost");
  platform::LookupAnswer answer;
  ASSERT_EQ(local.result(answer, 5000), platform::Lookup::Found);
  ASSERT_GE(answer.count, 1u);
  EXPECT_TRUE(platform::isLoopback(answer.addresses[0]));
  EXPECT_TRUE(waitForNoPendingLookups());
}

TEST_F(Faults, ResolverThatStopsAnsweringHoldsNobodyUp) {
  stalled.calls = 0;
  stalled.open = false;
  // More lookups than threads: each thread holds one stalled lookup, the
  // rest wait in the queue. All give up after their time, none is lost to
  // the queue's length, and the threads stay bounded.
  constexpr int kStarted = platform::kLookupThreads + 4;
  std::array<platform::HostLookup, kStarted> lookups;
  for (platform::HostLookup& lookup : lookups) lookup.start("stalled.example", stalledLookup);
  platform::LookupAnswer answer;
  EXPECT_EQ(lookups[0].result(answer, 0), platform::Lookup::Pending);
  const Uint32 start = SDL_GetTicks();
  for (platform::HostLookup& lookup : lookups) {
    EXPECT_EQ(lookup.result(answer, 5000), platform::Lookup::TimedOut);
  }
  const Uint32 took = SDL_GetTicks() - start;
  EXPECT_LT(took, 4000u) << "lookups that never answered were waited for";
  std::printf("%d stalled lookups gave up after %u ms\n", kStarted, took);
  uint32_t host = 0;
  EXPECT_EQ(lookUp("192.168.1.20", host, 0, stalledLookup), platform::Lookup::Found);
  {
    const std::lock_guard<std::mutex> lock(stalled.mutex);
    EXPECT_EQ(stalled.calls, platform::kLookupThreads);
    EXPECT_EQ(platform::pendingLookups(), platform::kLookupThreads);
    // They run on workers, which the program's end waits for its bound and
    // no longer.
    EXPECT_EQ(platform::liveWorkers(), platform::kLookupThreads);
    EXPECT_FALSE(platform::stopAllWorkers(200));
    stalled.open = true;
  }
  stalled.released.notify_all();
  ASSERT_TRUE(waitForNoPendingLookups());
  // Answered again: lookups start once more.
  EXPECT_EQ(lookUp("stalled.example", host, 5000, stalledLookup), platform::Lookup::Found);
  EXPECT_EQ(host, 0x7F000001u);
  EXPECT_TRUE(waitForNoPendingLookups());
  // Left idle, the workers end by themselves.
  for (int i = 0; i < 300 && (platform::reapWorkers(), platform::liveWorkers() > 0); ++i) {
    SDL_Delay(10);
  }
  EXPECT_EQ(platform::liveWorkers(), 0);

  // A room list entry whose name cannot be found is an unanswered room,
  // reported as a failed lookup.
  testing::internal::CaptureStderr();
  RoomRecord room = nettest::listedRoom(21014, "unknown.invalid");
  EXPECT_FALSE(net::queryRoom(room, 5, 1));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("SDLNet_ResolveHost: "), std::string::npos);
}

TEST_F(Faults, AFullRoomStaysFullAndTurnsNewcomersAway) {
  Lobby host;
  ASSERT_TRUE(host.host(21011));
  std::array<RawSocket, 4> guests;
  for (int i = 0; i < 4; ++i) ASSERT_EQ(joinRaw(host, guests[i]), i + 1);
  Lobby last;
  ASSERT_TRUE(last.guest(21011, "Last"));
  ASSERT_TRUE(runUntil([&] { return last.link.ownSlot() == 5; }, {&host, &last}));
  ASSERT_TRUE(runUntil([&] { return host.arrivals[5] == 1; }, {&host, &last}));
  EXPECT_EQ(host.room.currentPlayers, 6);
  // The others saw the newcomer's record and nothing else.
  EXPECT_EQ(guests[0].take(kRecordFromHost, frames({&host, &last})),
            hostFrame(5, net::PlayerInfo, recordBytes(player("Last"))));

  // Full: a further guest is turned away, a query is not served.
  Lobby extra;
  if (extra.guest(21011, "Extra")) {
    ASSERT_TRUE(runUntil([&] { return extra.hostLost > 0; }, {&host, &last, &extra}));
  }
  RoomRecord room = nettest::listedRoom(21011);
  {
    Background running(host);
    EXPECT_FALSE(net::queryRoom(room, 30, 2));
  }
  host.frames(10);
  EXPECT_EQ(host.room.currentPlayers, 6);
  EXPECT_EQ(host.leaves, (std::array<int, kPlayerSlots>{}));
  EXPECT_EQ(extra.link.ownSlot(), 0);
  EXPECT_EQ(guests[0].take(kRecordFromHost, frames({&host})), probe(host));
}

TEST_F(Faults, GuestSendingToAVanishedHostDoesNotEndTheProgram) {
  RawSocket listener = RawSocket::listenOn(21012);
  Lobby guest;
  ASSERT_TRUE(guest.guest(21012, "Me"));
  RawSocket host = listener.accept();
  ASSERT_EQ(host.take(kJoinRequest, [] { SDL_Delay(1); }), (Bytes{1, 0, 0}));
  host.closeHard();
  SDL_Delay(20);
  // Sends before the loss is noticed by a receive, then frames.
  const Bytes record = recordBytes(player("Me"));
  for (int i = 0; i < 20; ++i) {
    guest.link.queueMessage(net::PlayerInfo, kRecordSize, record.data(), 0, net::ToAll, 0);
    guest.link.flush();
  }
  guest.frames(5);
  EXPECT_EQ(guest.hostLost, 1);
  net::closeLobby(guest.link);
  guest.link.queueMessage(net::PlayerInfo, kRecordSize, record.data(), 0, net::ToAll, 0);
  guest.frame();
}

}  // namespace
