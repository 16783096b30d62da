// Rooms found on a local network of the test's own (tests/support/
// lan_namespaces.h): two hosts on one bridge are listed by a guest on it,
// each once, and joined; a host beyond a router is reachable yet not listed.
// The host's beacon answers exact requests only, never with more bytes than
// it was sent, and reads a bounded number of datagrams per frame; a search
// ignores answers that are not exactly for it. Needs root (skipped, saying
// why, without it).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/room_query.h"
#include "support/lan_namespaces.h"
#include "support/net_test_peers.h"

namespace {

using lantest::Inside;
using nettest::Bytes;
using nettest::Lobby;

constexpr uint16_t kSearchPort = 6248;  // UDP, as a peer knows it
constexpr size_t kDatagram = 16;        // request and answer
constexpr int kReadsPerFrame = 8;       // datagrams a host's beacon takes per poll
constexpr uint16_t kPortOne = 23511;
constexpr uint16_t kPortTwo = 23512;
constexpr uint16_t kPortFar = 23513;
constexpr uint32_t kAnswerMs = 2000;

// Written out from the wire format, not taken from net/.
Bytes request(uint32_t nonce) {
  Bytes bytes = {'V', 'L', 'R', 'Q', 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::memcpy(&bytes[8], &nonce, 4);  // little-endian machine, little-endian wire
  return bytes;
}
Bytes answer(uint16_t port, uint32_t nonce) {
  Bytes bytes = {'V', 'L', 'R', 'A', 1, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78};
  std::memcpy(&bytes[6], &port, 2);
  std::memcpy(&bytes[8], &nonce, 4);
  return bytes;
}
bool isExactRequest(const Bytes& b) {
  if (b.size() != kDatagram || std::memcmp(b.data(), "VLRQ", 4) != 0 || b[4] != 1) return false;
  for (size_t i : {5, 6, 7, 12, 13, 14, 15}) {
    if (b[i] != 0) return false;
  }
  return true;
}
uint32_t nonceOf(const Bytes& b) {
  uint32_t nonce = 0;
  if (b.size() >= 12) std::memcpy(&nonce, &b[8], 4);
  return nonce;
}

// A plain UDP socket of the test, made in the namespace current at the time.
class Udp {
 public:
  explicit Udp(uint16_t port = 0) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0)) {
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~Udp() { ::close(fd_); }
  Udp(const Udp&) = delete;
  Udp& operator=(const Udp&) = delete;
  bool bound() const { return bound_; }
  bool send(const Bytes& bytes, const sockaddr_in& to) const {
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                    sizeof to) == static_cast<ssize_t>(bytes.size());
  }
  // One waiting datagram, without waiting; false when none.
  bool receive(Bytes& bytes, sockaddr_in* from = nullptr) const {
    bytes.assign(2048, 0);
    sockaddr_in source{};
    socklen_t size = sizeof source;
    const ssize_t got =
        ::recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&source), &size);
    if (got < 0) return false;
    bytes.resize(static_cast<size_t>(got));
    if (from != nullptr) *from = source;
    return true;
  }

 private:
  int fd_;
  bool bound_ = false;
};

sockaddr_in at(const char* address, uint16_t port) {
  sockaddr_in out{};
  out.sin_family = AF_INET;
  out.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &out.sin_addr);
  return out;
}

// Machines: hosts h1 (10.213.7.1) and h2 (.2), the guest g (.3) and a
// router r (.9) on the bridge; the far host x (10.213.8.2) sits behind r.
class LanDiscovery : public nettest::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    if (!net_.bridge()) GTEST_SKIP() << "cannot make network namespaces here";
    for (const char* role : {"h1", "h2", "g", "r", "x"}) ASSERT_TRUE(net_.machine(role)) << role;
    ASSERT_TRUE(net_.join("h1", "10.213.7.1"));
    ASSERT_TRUE(net_.join("h2", "10.213.7.2"));
    ASSERT_TRUE(net_.join("g", "10.213.7.3"));
    ASSERT_TRUE(net_.join("r", "10.213.7.9"));
    ASSERT_TRUE(net_.link("r", "lanx0", "10.213.8.1", "x", "lane0", "10.213.8.2"));
    ASSERT_TRUE(net_.in("r", "sysctl -qw net.ipv4.ip_forward=1"));
    ASSERT_TRUE(net_.ip("x", "route add default via 10.213.8.1"));
    ASSERT_TRUE(net_.ip("g", "route add 10.213.8.0/24 via 10.213.7.9"));
  }

  bool host(Lobby& lobby, const char* role, uint16_t port, const char* roomName) {
    const Inside in(net_, role);
    if (!in.entered() || !lobby.host(port)) return false;
    copyField(lobby.room.roomName, roomName);
    return true;
  }
  // Runs a refresh from the guest's machine to its end (bounded), the
  // hosts' frames between its steps; `also` runs once per step too.
  bool refresh(net::RoomRefresh& refresh, const RoomRecord* rooms, size_t count, bool search,
               std::initializer_list<Lobby*> hosts, const std::function<void()>& also = {}) {
    const Inside in(net_, "g");
    if (!in.entered()) return false;
    refresh.start(rooms, count, kAnswerMs, search);
    const Uint32 begun = SDL_GetTicks();
    while (!refresh.step()) {
      if (SDL_GetTicks() - begun > 15000) return false;
      for (Lobby* lobby : hosts) lobby->frame();
      if (also) also();
      SDL_Delay(2);
    }
    return true;
  }

  lantest::LanNet net_;
};

TEST_F(LanDiscovery, GuestListsEachHostOfItsSegmentOnceAndJoinsOne) {
  Lobby one, two, far;
  ASSERT_TRUE(host(one, "h1", kPortOne, "Ame"));
  ASSERT_TRUE(host(two, "h2", kPortTwo, "Kaze"));
  ASSERT_TRUE(host(far, "x", kPortFar, "Tooi"));

  // The far room answers when asked by address, so distance alone keeps it
  // off the list.
  const RoomRecord farListed = nettest::listedRoom(kPortFar, "10.213.8.2");
  net::RoomRefresh byAddress;
  ASSERT_TRUE(refresh(byAddress, &farListed, 1, false, {&one, &two, &far}));
  ASSERT_TRUE(byAddress.answered(0)) << "the far host is not reachable through the router";
  EXPECT_STREQ(byAddress.answer(0).roomName.data(), "Tooi");

  // No room file: the search alone lists both rooms of the segment.
  net::RoomRefresh found;
  ASSERT_TRUE(refresh(found, nullptr, 0, true, {&one, &two, &far}));
  std::map<std::string, const RoomRecord*> listed;  // "address:port", each once
  for (size_t i = 0; i < found.size(); ++i) {
    if (!found.answered(i)) continue;
    const RoomRecord& room = found.answer(i);
    const std::string key = std::string(room.hostAddress.data()) + ":" + std::to_string(room.port);
    EXPECT_TRUE(listed.emplace(key, &room).second) << key << " listed twice";
  }
  ASSERT_EQ(listed.size(), 2u) << "rooms found: " << found.size();
  ASSERT_EQ(listed.count("10.213.7.1:" + std::to_string(kPortOne)), 1u);
  ASSERT_EQ(listed.count("10.213.7.2:" + std::to_string(kPortTwo)), 1u);
  const RoomRecord& kaze = *listed["10.213.7.2:" + std::to_string(kPortTwo)];
  const RoomRecord& ame = *listed["10.213.7.1:" + std::to_string(kPortOne)];
  EXPECT_STREQ(ame.roomName.data(), "Ame");
  EXPECT_EQ(ame.currentPlayers, 1);
  EXPECT_STREQ(kaze.roomName.data(), "Kaze");
  EXPECT_EQ(kaze.currentPlayers, 1);

  // A room in the file (by address) that the search finds too is listed once.
  const RoomRecord fileRoom = nettest::listedRoom(kPortOne, "10.213.7.1");
  net::RoomRefresh both;
  ASSERT_TRUE(refresh(both, &fileRoom, 1, true, {&one, &two, &far}));
  int ameListed = 0;
  int answered = 0;
  for (size_t i = 0; i < both.size(); ++i) {
    answered += both.answered(i);
    ameListed += both.answered(i) && std::strcmp(both.answer(i).roomName.data(), "Ame") == 0;
  }
  EXPECT_TRUE(both.answered(0));
  EXPECT_EQ(ameListed, 1);
  EXPECT_EQ(answered, 2);

  // Joining the room found, at the address and port the search gave.
  Lobby guest;
  {
    const Inside in(net_, "g");
    ASSERT_TRUE(in.entered());
    ASSERT_TRUE(guest.guest(kaze.port, "Tabi", kaze.hostAddress.data()));
  }
  ASSERT_TRUE(nettest::runUntil(
      [&] {
        return guest.link.ownSlot() > 0 && guest.arrivals[0] > 0 && two.room.currentPlayers == 2;
      },
      {&one, &two, &far, &guest}))
      << "slot " << int(guest.link.ownSlot()) << ", host's record " << guest.arrivals[0]
      << ", players " << int(two.room.currentPlayers);
  EXPECT_STREQ(guest.players[0].name.data(), "Host");
  EXPECT_EQ(one.room.currentPlayers, 1);
}

// A room hosted on the guest's own machine is found by the search at the
// machine's address on the segment; listed as 127.0.0.1 and as localhost,
// and found, it is still one room: shown once per listed line, never a
// third time for the search.
TEST_F(LanDiscovery, ARoomOnThisMachineListedAndFoundShowsOncePerLine) {
  Lobby own;
  ASSERT_TRUE(host(own, "g", kPortOne, "Uchi"));
  const std::string here = "10.213.7.3";
  // Runs a refresh from g of the listed lines; returns the names shown, in
  // order, and how many rooms the search found.
  const auto shown = [&](std::vector<RoomRecord> lines, size_t& found) {
    net::RoomRefresh refresh;
    std::vector<std::string> names;
    if (!this->refresh(refresh, lines.data(), lines.size(), true, {&own})) return names;
    found = refresh.size() - lines.size();
    for (size_t i = 0; i < refresh.size(); ++i) {
      if (!refresh.answered(i)) continue;
      names.push_back(std::string(refresh.answer(i).roomName.data()) + "@" +
                      refresh.answer(i).hostAddress.data());
    }
    return names;
  };
  using Names = std::vector<std::string>;
  size_t found = 0;
  // Found alone, at the machine's own address.
  EXPECT_EQ(shown({}, found), Names{"Uchi@" + here});
  ASSERT_EQ(found, 1u) << "the search did not find the room on its own machine";
  // Listed on two lines as two names of this machine: both lines, no more.
  const RoomRecord byAddress = nettest::listedRoom(kPortOne, "127.0.0.1");
  const RoomRecord byName = nettest::listedRoom(kPortOne, "localhost");
  found = 0;
  EXPECT_EQ(shown({byAddress, byName}, found), (Names{"Uchi@127.0.0.1", "Uchi@localhost"}));
  EXPECT_EQ(found, 1u);
  // Listed once, in any form: once.
  for (const char* line : {"127.0.0.1", "localhost", "::1"}) {
    found = 0;
    EXPECT_EQ(shown({nettest::listedRoom(kPortOne, line)}, found),
              Names{std::string("Uchi@") + line})
        << line;
    EXPECT_EQ(found, 1u) << line;
  }
  // The same line twice: twice, as listed.
  EXPECT_EQ(shown({byAddress, byAddress}, found), (Names{"Uchi@127.0.0.1", "Uchi@127.0.0.1"}));
  // Another port of this machine is another room.
  Lobby other;
  ASSERT_TRUE(host(other, "g", kPortTwo, "Tonari"));
  net::RoomRefresh both;
  ASSERT_TRUE(refresh(both, &byAddress, 1, true, {&own, &other}));
  std::map<std::string, int> rooms;
  for (size_t i = 0; i < both.size(); ++i) {
    if (both.answered(i)) ++rooms[both.answer(i).roomName.data()];
  }
  EXPECT_EQ(rooms, (std::map<std::string, int>{{"Uchi", 1}, {"Tonari", 1}}));
}

// Sends each datagram from the guest's machine to the host's beacon,
// followed by an exact request with a marker nonce; what arrives before the
// marker's answer was caused by that datagram.
struct Probe {
  const Udp& udp;
  Lobby& host;
  sockaddr_in beacon;
  uint32_t marker = 0xA5000000u;

  // The answers to bytes; fails the test when the marker is never answered.
  std::vector<Bytes> answers(const Bytes& bytes) {
    const uint32_t mark = ++marker;
    std::vector<Bytes> got;
    EXPECT_TRUE(udp.send(bytes, beacon) && udp.send(request(mark), beacon));
    Bytes in;
    for (int i = 0; i < nettest::kMaxSteps; ++i) {
      host.frame();
      while (udp.receive(in)) {
        if (in.size() == kDatagram && nonceOf(in) == mark) return got;
        got.push_back(in);
      }
      SDL_Delay(1);
    }
    ADD_FAILURE() << "the beacon never answered an exact request";
    return got;
  }
};

TEST_F(LanDiscovery, BeaconAnswersExactRequestsOnlyAndNeverWithMoreBytes) {
  Lobby one;
  ASSERT_TRUE(host(one, "h1", kPortOne, "Ame"));
  const Inside in(net_, "g");
  ASSERT_TRUE(in.entered());
  const Udp udp;
  ASSERT_TRUE(udp.bound());
  Probe probe{udp, one, at("10.213.7.1", kSearchPort)};

  const unsigned seed = std::random_device{}();
  std::printf("random datagrams from seed %u\n", seed);
  std::mt19937 random(seed);
  std::vector<Bytes> sent;
  for (size_t size = 0; size <= 80; ++size) {  // a request cut or padded to every size
    Bytes bytes = request(0x01020304u);
    bytes.resize(size, 0);
    sent.push_back(bytes);
  }
  for (int i = 0; i < 200; ++i) {  // random bytes, half behind a request's header
    Bytes bytes(random() % 81);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    if (i % 2 == 1 && bytes.size() >= 5) std::memcpy(bytes.data(), "VLRQ\x01", 5);
    sent.push_back(bytes);
  }
  for (size_t at = 0; at < kDatagram; ++at) {  // one byte of a request changed
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      Bytes bytes = request(0x0A0B0C0Du);
      bytes[at] ^= flip;
      sent.push_back(bytes);
    }
  }
  int exact = 0;
  for (const Bytes& bytes : sent) {
    const std::vector<Bytes> got = probe.answers(bytes);
    const bool expected = isExactRequest(bytes);
    exact += expected;
    ASSERT_EQ(got.size(), expected ? 1u : 0u) << "datagram of " << bytes.size() << " bytes";
    if (!expected) continue;
    ASSERT_LE(got[0].size(), bytes.size());
    EXPECT_EQ(got[0].size(), kDatagram);
    EXPECT_EQ(Bytes(got[0].begin(), got[0].begin() + 8),
              Bytes({'V', 'L', 'R', 'A', 1, 0, kPortOne & 0xFF, kPortOne >> 8}));
    EXPECT_EQ(nonceOf(got[0]), nonceOf(bytes));
  }
  EXPECT_GE(exact, 13);  // size 16, and the nonce's bytes changed

  // A flood, nine requests in ten: the beacon takes at most kReadsPerFrame
  // datagrams a frame, so a few frames answer at most that many each; the
  // room still takes a guest meanwhile.
  constexpr int kFlood = 10000;
  int requests = 0;
  for (int i = 0; i < kFlood; ++i) {
    const bool valid = i % 10 != 0;
    requests += valid;
    udp.send(valid ? request(static_cast<uint32_t>(i)) : Bytes(40, 0x56), probe.beacon);
  }
  constexpr int kFrames = 5;
  one.frames(kFrames);
  SDL_Delay(100);  // every answer of those frames has arrived
  int answers = 0;
  Bytes got;
  while (udp.receive(got)) answers += got.size() == kDatagram;
  std::printf("%d datagrams sent (%d requests): %d answered in %d frames\n", kFlood, requests,
              answers, kFrames);
  EXPECT_GT(answers, 0);
  EXPECT_LE(answers, kFrames * kReadsPerFrame);
  Lobby guest;
  ASSERT_TRUE(guest.guest(kPortOne, "Tabi", "10.213.7.1"));
  EXPECT_TRUE(nettest::runUntil([&] { return one.room.currentPlayers == 2; }, {&one, &guest}));
}

TEST_F(LanDiscovery, SearchIgnoresAnswersToOtherNoncesAndMalformedOnes) {
  Lobby one;
  ASSERT_TRUE(host(one, "h1", kPortOne, "Ame"));
  // A responder of the test's on h2 answers every request it hears with
  // what a search must not take, then with one exact answer for a port
  // where nothing listens (found, yet never answering over TCP).
  Udp* fake = nullptr;
  {
    const Inside in(net_, "h2");
    ASSERT_TRUE(in.entered());
    fake = new Udp(kSearchPort);
  }
  const std::unique_ptr<Udp> owner(fake);
  ASSERT_TRUE(fake->bound());
  int heard = 0;
  const auto respond = [&] {
    Bytes in;
    sockaddr_in from{};
    while (fake->receive(in, &from)) {
      if (!isExactRequest(in)) continue;
      ++heard;
      const uint32_t nonce = nonceOf(in);
      Bytes cut = answer(40002, nonce);
      cut.pop_back();
      Bytes longer = answer(40003, nonce);
      longer.push_back(0);
      Bytes magic = answer(40004, nonce);
      magic[3] = 'B';
      Bytes version = answer(40005, nonce);
      version[4] = 2;
      Bytes padding = answer(40006, nonce);
      padding[5] = 1;
      for (const Bytes& wrong : {answer(40001, nonce ^ 1u), cut, longer, magic, version, padding,
                                 answer(0, nonce), request(nonce), answer(40007, nonce)}) {
        fake->send(wrong, from);
      }
    }
  };
  net::RoomRefresh found;
  ASSERT_TRUE(refresh(found, nullptr, 0, true, {&one}, respond));
  ASSERT_EQ(heard, 1) << "the search's request did not reach the test's responder once";
  std::map<uint16_t, std::string> ports;
  for (size_t i = 0; i < found.size(); ++i) {
    ports[found.answer(i).port] = found.answer(i).hostAddress.data();
  }
  EXPECT_EQ(ports.size(), 2u) << "a search took an answer not made for it";
  EXPECT_EQ(ports[kPortOne], "10.213.7.1");
  EXPECT_EQ(ports[40007], "10.213.7.2");
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found.answered(i), found.answer(i).port == kPortOne);
  }
}

}  // namespace
