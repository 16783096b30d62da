// The room directory's client (internet/directory.h) against real directories,
// Debian's prosody with the shipped configuration (directory/prosody.cfg.lua),
// without TLS, with TLS from a test CA of the test's own, with a certificate
// nobody trusts and one for another name; and against one that plays foul
// (tests/support/fake_directory.py): silent, dropping, stalling, slow, or
// flooding its occupant list with a thousand rooms on one address,
// forbidden addresses, a 100 KB presence and garbage. A host announces, a
// guest refreshes, frame by frame on the test's thread, and what the guest
// asks is counted where it arrives.
//
// Everything runs in one network namespace of the test's own: the test
// makes it, then runs itself again inside (`ip netns exec`, which also binds
// the namespace's /etc/hosts and /etc/ssl: the domains of the test, and the
// system's trust store with the test's CA). Addresses there stand for
// machines on the internet; the connections meant for the rooms of a flood
// are redirected to a sink that writes down where each was meant to go.
// Linux only; needs root, prosody, python3, openssl and iptables (skipped,
// saying why, without them).
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "internet/directory.h"
#include "internet/xmpp_client.h"
#include "net/room_query.h"
#include "support/child_process.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Lobby;

constexpr const char* kInside = "VELLORA_TEST_INSIDE";
bool inside() { return std::getenv(kInside) != nullptr; }

// The machines of the namespace (every address on one pair of links of its
// own, so all of them are this machine's; none is loopback).
constexpr char kPlainAddress[] = "198.51.100.30";  // dir.test: prosody, no TLS
constexpr char kFoulAddress[] = "198.51.100.31";   // foul.test: the fake directory
constexpr char kTlsAddress[] = "198.51.100.32";    // tls.test: prosody, trusted certificate
constexpr char kBadAddress[] = "198.51.100.33";    // bad.test: certificate of an unknown CA
constexpr char kWrongAddress[] = "198.51.100.34";  // wrong.test: tls.test's certificate
constexpr char kHostAddress[] = "198.51.100.11";   // the real room's host
constexpr char kFloodAddress[] = "198.51.100.66";  // a flood's rooms (redirected)
constexpr char kManyPrefix[] = "198.51";           // "many": 198.51.0.1 and up (redirected)
constexpr uint16_t kRoomPort = 23611;
constexpr uint16_t kSinkPort = 29999;
constexpr uint16_t kForbiddenPort = 31999;  // every forbidden address's rooms
// The fake directory's ports, one per behaviour; nothing listens on
// kRefusedPort.
enum FoulPort : uint16_t {
  kSilentPort = 5301,
  kDropPort = 5302,
  kStallPort = 5303,
  kSlowPort = 5304,
  kFloodPort = 5305,
  kManyPort = 5306,
  kBigPort = 5307,
  kDeepPort = 5308,
  kWidePort = 5309,
  kEntityPort = 5310,
  kEndlessPort = 5311,
  kGarbagePort = 5312,
  kRefusedPort = 5399,
};
constexpr uint32_t kAnswerMs = 1000;

// The outside run's process id: names the namespace and the scratch folder.
std::string tag() { return inside() ? std::getenv(kInside) : std::to_string(::getpid()); }
std::string namespaceName() { return "dirt" + tag(); }
std::string scratch() { return "/tmp/vellora-directory-test-" + tag(); }

bool quietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}
bool inNs(const std::string& ns, const std::string& command) {
  return quietly("nsenter --net=/var/run/netns/" + ns + " " + command);
}

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

net::DirectoryServer directory(const char* domain, uint16_t port = 5222) {
  net::DirectoryServer server;
  EXPECT_TRUE(net::parseDirectoryServer((std::string(domain) + ":" + std::to_string(port)).c_str(),
                                        server));
  return server;
}

using Child = testsupport::ChildProcess;

// What the guest asked where it arrived: the sink's lines, "ADDRESS PORT".
class Sink {
 public:
  Sink() : child_({"python3", "tests/support/connection_sink.py", std::to_string(kSinkPort)}) {
    ready_ = child_.waitFor("ready", 5000);
  }
  bool ready() const { return ready_; }
  // The connections that arrived since the last call, waiting a little for
  // stragglers.
  std::vector<std::pair<std::string, uint16_t>> take() {
    std::vector<std::pair<std::string, uint16_t>> arrived;
    for (std::string l; !(l = child_.line(200)).empty();) {
      const size_t space = l.find(' ');
      arrived.emplace_back(l.substr(0, space),
                           static_cast<uint16_t>(std::atoi(l.c_str() + space + 1)));
    }
    return arrived;
  }

 private:
  Child child_;
  bool ready_ = false;
};

// The SYNs sent to kForbiddenPort, over both families (iptables counters).
long forbiddenAttempts() {
  long total = 0;
  for (const char* tool : {"iptables", "ip6tables"}) {
    const std::string command = std::string(tool) + " -w -L OUTPUT -v -x -n 2>/dev/null";
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
      char line[512];
      while (std::fgets(line, sizeof line, pipe) != nullptr) {
        if (std::strstr(line, "dpt:31999") != nullptr) total += std::atol(line);
      }
      ::pclose(pipe);
    }
  }
  return total;
}

// Everything the tests inside use: the directories and the sink, started
// once for all of them.
class Directories : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!inside()) return;
    const std::string dir = scratch();
    const std::string ns = namespaceName();
    struct Server {
      const char* domain;
      const char* address;
      std::string certs;
    };
    const std::vector<Server> servers = {
        {"dir.test", kPlainAddress, ""},
        {"tls.test", kTlsAddress, dir + "/tls/certs"},
        {"bad.test", kBadAddress, dir + "/bad/untrusted"},
        {"wrong.test", kWrongAddress, dir + "/wrong"},
    };
    for (const Server& s : servers) {
      const std::string command = "bash tests/support/directory.sh start " + ns + " " + s.domain +
                                  " " + s.address + " " + dir + "/data-" + s.domain + " " +
                                  (s.certs.empty() ? "none" : s.certs);
      if (std::system((command + " >&2").c_str()) != 0) {
        why = std::string("prosody for ") + s.domain + " did not start";
        return;
      }
    }
    const std::vector<std::pair<FoulPort, std::vector<std::string>>> modes = {
        {kSilentPort, {"silent"}},
        {kDropPort, {"drop"}},
        {kStallPort, {"stall"}},
        {kSlowPort, {"slow", kHostAddress, std::to_string(kRoomPort)}},
        {kFloodPort,
         {"flood", kHostAddress, std::to_string(kRoomPort), kFloodAddress,
          std::to_string(kForbiddenPort)}},
        {kManyPort, {"many", kHostAddress, std::to_string(kRoomPort), kManyPrefix, "250"}},
        {kBigPort, {"big"}},
        {kDeepPort, {"deep"}},
        {kWidePort, {"wide"}},
        {kEntityPort, {"entity"}},
        {kEndlessPort, {"endless"}},
        {kGarbagePort, {"garbage"}},
    };
    for (const auto& [port, arguments] : modes) {
      std::vector<std::string> argv = {"python3", "tests/support/fake_directory.py", kFoulAddress,
                                       std::to_string(port), "foul.test"};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      fakes.push_back(std::make_unique<Child>(argv));
      if (!fakes.back()->waitFor("ready", 5000)) {
        why = "the fake directory did not start";
        return;
      }
    }
    sink = std::make_unique<Sink>();
    if (!sink->ready()) why = "the connection sink did not start";
  }
  void TearDown() override {
    platform::stopAllWorkers(5000);
    fakes.clear();
    sink.reset();
    if (!inside()) return;
    for (const char* domain : {"dir.test", "tls.test", "bad.test", "wrong.test"}) {
      quietly("bash tests/support/directory.sh stop " + scratch() + "/data-" + domain);
    }
  }

  std::string why;
  std::vector<std::unique_ptr<Child>> fakes;
  std::unique_ptr<Sink> sink;
};

Directories* environment = nullptr;

class DirectoryTest : public nettest::NetTest {
 public:
  static std::string skipReason;

 protected:
  void SetUp() override {
    NetTest::SetUp();
    if (!inside()) GTEST_SKIP() << skipReason;
    if (!environment->why.empty()) GTEST_SKIP() << environment->why;
    ASSERT_TRUE(host.host(kRoomPort, "Hana"));
    copyField(host.room.roomName, "HanaRoom");
    environment->sink->take();  // nothing left from an earlier test
  }
  void TearDown() override { announcer.close(); }

  internet::HostedRoom hosted(uint8_t players = 1) const {
    internet::HostedRoom room;
    room.players = players;
    room.maxPlayers = 6;
    room.instance = 0x12345678u;
    platform::Address reach;
    platform::parseNumericAddress(kHostAddress, reach);
    reach.port = kRoomPort;
    room.reach[room.reachCount++] = reach;
    room.roomPort = kRoomPort;
    return room;
  }
  // Steps the host until the announcer has announced (or failed to).
  bool announced() {
    const uint64_t until = nowMs() + 8000;
    while (nowMs() < until) {
      host.frame();
      if (announcer.state() == internet::DirectoryAnnouncer::State::Announced) return true;
      SDL_Delay(10);
    }
    return false;
  }

  struct Refresh {
    bool ended = false;
    uint64_t ms = 0;
    std::vector<RoomRecord> shown;
    internet::DirectoryBrowse::State directory = internet::DirectoryBrowse::State::Idle;
  };
  // One refresh as the room list runs it: a step per frame (about 60 a
  // second), the host's lobby framed alongside.
  Refresh refresh(const net::DirectoryServer& server, bool listHost = false) {
    Refresh out;
    net::RoomRefresh refresh;
    RoomRecord listed;
    copyField(listed.hostAddress, kHostAddress);
    listed.port = kRoomPort;
    const uint64_t started = nowMs();
    refresh.start(&listed, listHost ? 1 : 0, kAnswerMs, false);
    internet::DirectoryBrowse browse;
    browse.start(server);
    refresh.browse(&browse);
    while (nowMs() - started < 15000) {
      host.frame();
      if (refresh.step()) {
        out.ended = true;
        break;
      }
      SDL_Delay(16);
    }
    out.ms = nowMs() - started;
    for (size_t i = 0; i < refresh.size(); ++i) {
      if (refresh.answered(i)) out.shown.push_back(refresh.answer(i));
    }
    return out;
  }
  static bool shows(const Refresh& r, const char* name) {
    for (const RoomRecord& room : r.shown) {
      if (std::strcmp(room.roomName.data(), name) == 0) return true;
    }
    return false;
  }

  Lobby host;
  internet::DirectoryAnnouncer announcer;
};
std::string DirectoryTest::skipReason = "runs inside its namespace only";

// The presences of one of the directory's shard rooms (the first: where a
// host announces while there are few) as any client of it sees them (XML
// text), read by a plain client of the test's own on the client's
// connection alone (no announcement code).
std::vector<std::string> roomPresences(const char* domain, const char* address,
                                       const char* shard = "vellora-00") {
  const std::string room = std::string(shard) + "@rooms." + domain;
  const std::string nick = "watcher" + std::to_string(nowMs());
  std::vector<std::string> seen;
  bool done = false;
  internet::xmpp::Connection connection(
      domain, internet::xmpp::ConnectionLimits{}, [&](const internet::xml::Element& stanza) {
        const std::string* from = stanza.attribute("from");
        if (stanza.name != "presence" || from == nullptr || from->rfind(room + "/", 0) != 0) return;
        const std::string* type = stanza.attribute("type");
        if (*from == room + "/" + nick || (type != nullptr && *type == "error")) {
          done = true;
          return;
        }
        std::string text;
        internet::xml::write(stanza, "jabber:client", text);
        seen.push_back(text);
      });
  platform::Address server;
  platform::parseNumericAddress(address, server);
  server.port = 5222;
  if (!connection.start(server)) return seen;
  bool joined = false;
  const uint64_t until = nowMs() + 5000;
  while (!done && !connection.ended() && nowMs() < until) {
    connection.turn(20);
    if (!joined && connection.ready()) {
      internet::xml::Element presence("presence", "jabber:client");
      presence.setAttribute("to", room + "/" + nick);
      presence.addChild(internet::xml::Element("x", "http://jabber.org/protocol/muc"));
      connection.send(presence);
      joined = true;
    }
  }
  connection.close();
  return seen;
}

bool holds(const std::vector<std::string>& presences, const std::string& part) {
  for (const std::string& p : presences) {
    if (p.find(part) != std::string::npos) return true;
  }
  return false;
}

TEST_F(DirectoryTest, AHostsRoomIsListedAndItsCountFollows) {
  announcer.open(directory("dir.test"), hosted(1));
  ASSERT_TRUE(announced());
  EXPECT_FALSE(announcer.secured());  // this server offers no TLS

  // What every occupant sees: the announcement in the program's namespace.
  std::vector<std::string> seen = roomPresences("dir.test", kPlainAddress);
  EXPECT_TRUE(holds(seen, "xmlns='urn:x-vellora:room'")) << seen.size() << " presences";
  EXPECT_TRUE(holds(seen, "players='1'"));
  EXPECT_TRUE(holds(seen, "instance='305419896'"));
  EXPECT_TRUE(holds(seen, "address='198.51.100.11'"));
  EXPECT_TRUE(holds(seen, "port='23611'"));

  const Refresh r = refresh(directory("dir.test"));
  ASSERT_TRUE(r.ended);
  ASSERT_EQ(r.shown.size(), 1u);
  // The room's record comes from the room itself, over TCP.
  EXPECT_STREQ(r.shown[0].roomName.data(), "HanaRoom");
  EXPECT_STREQ(r.shown[0].hostAddress.data(), kHostAddress);
  EXPECT_EQ(r.shown[0].port, kRoomPort);

  // A second player: the announcement follows within its update interval.
  announcer.update(hosted(2));
  const uint64_t until = nowMs() + internet::kAnnouncerUpdateMs + 3000;
  bool followed = false;
  while (!followed && nowMs() < until) {
    host.frames(5);
    followed = holds(roomPresences("dir.test", kPlainAddress), "players='2'");
  }
  EXPECT_TRUE(followed);
}

// A room with no address the internet reaches is not announced; once it has
// one it is, and when it loses it again it leaves, signed in all along.
TEST_F(DirectoryTest, OnlyARoomWithAnAddressIsAnnounced) {
  internet::HostedRoom nowhere = hosted(1);
  nowhere.reachCount = 0;
  announcer.open(directory("dir.test"), nowhere);
  using State = internet::DirectoryAnnouncer::State;
  bool dropped = false;  // a sign-in ended at some point
  const auto settles = [this, &dropped](State wanted) {
    const uint64_t until = nowMs() + 5000;
    while (announcer.state() != wanted && nowMs() < until) {
      dropped = dropped || announcer.state() == State::Retrying;
      SDL_Delay(10);
    }
    return announcer.state() == wanted;
  };
  EXPECT_TRUE(settles(State::Nowhere));
  announcer.update(hosted(1));
  EXPECT_TRUE(settles(State::Announced));
  announcer.update(nowhere);
  EXPECT_TRUE(settles(State::Nowhere));
  // The server has passed the leaving on (so its echo has come back to the
  // host too), and the room goes back in on the same sign-in: its own
  // leaving was no drop.
  EXPECT_FALSE(holds(roomPresences("dir.test", kPlainAddress), "instance='305419896'"));
  announcer.update(hosted(1));
  EXPECT_TRUE(settles(State::Announced));
  EXPECT_FALSE(dropped) << announcer.lastFailure();
}

TEST_F(DirectoryTest, AnEndedRoomIsNotListedByTheNextRefresh) {
  announcer.open(directory("dir.test"), hosted(1));
  ASSERT_TRUE(announced());
  ASSERT_TRUE(shows(refresh(directory("dir.test")), "HanaRoom"));
  const uint64_t closed = nowMs();
  announcer.close();
  // The leave goes out at once and the server passes it on: the room's
  // presence is gone within the announcer's time to leave.
  bool gone = false;
  while (!gone && nowMs() - closed < internet::kAnnouncerLeaveLimitMs + 1000) {
    gone = !holds(roomPresences("dir.test", kPlainAddress), "instance='305419896'");
  }
  EXPECT_TRUE(gone) << "the ended room's presence stays in the directory";
  // The room still answers over TCP: only the directory has let it go.
  const Refresh r = refresh(directory("dir.test"));
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(r.shown.empty());
}

TEST_F(DirectoryTest, ARoomListedAndAnnouncedIsAskedAndShownOnce) {
  announcer.open(directory("dir.test"), hosted(1));
  ASSERT_TRUE(announced());
  const Refresh r = refresh(directory("dir.test"), true);
  ASSERT_TRUE(r.ended);
  EXPECT_EQ(r.shown.size(), 1u);
}

TEST_F(DirectoryTest, ADirectoryThatFailsCostsTheRefreshAtMostItsLimit) {
  for (const auto& [what, port] : std::vector<std::pair<const char*, uint16_t>>{
           {"refuses", kRefusedPort},
           {"never answers", kSilentPort},
           {"drops every connection", kDropPort},
           {"stalls after the stream's start", kStallPort},
           {"sends its list too slowly", kSlowPort}}) {
    const Refresh r = refresh(directory("foul.test", port), true);
    EXPECT_TRUE(r.ended) << what;
    EXPECT_LE(r.ms, internet::kDirectoryLimitMs + 500) << what;
    // The listed room is still shown.
    EXPECT_TRUE(shows(r, "HanaRoom")) << what;
  }
  // A name with no address at all.
  const Refresh r = refresh(directory("nowhere.test"), true);
  EXPECT_TRUE(r.ended);
  EXPECT_LE(r.ms, internet::kDirectoryLimitMs + 500);
  EXPECT_TRUE(shows(r, "HanaRoom"));
}

// Resident memory of this process, in KiB.
long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// A server that answers the stream's start with what would take a parser's
// stack, memory or time: the guest's refresh ends within its limit with the
// listed room shown, a host announcing there keeps trying without harm, and
// this process's memory stays where it was.
TEST_F(DirectoryTest, AHostileServerCostsABoundedTimeAndNoMemory) {
  const long before = residentKiB();
  for (const auto& [what, port] :
       std::vector<std::pair<const char*, uint16_t>>{{"a 100 KB presence", kBigPort},
                                                     {"a stanza 300,000 deep", kDeepPort},
                                                     {"a stanza with 200,000 children", kWidePort},
                                                     {"an entity expansion", kEntityPort},
                                                     {"a stanza that never ends", kEndlessPort},
                                                     {"100 MB of garbage", kGarbagePort}}) {
    internet::DirectoryAnnouncer hostile;
    hostile.open(directory("foul.test", port), hosted(1));
    const Refresh r = refresh(directory("foul.test", port), true);
    EXPECT_TRUE(r.ended) << what;
    EXPECT_LE(r.ms, internet::kDirectoryLimitMs + 500) << what;
    EXPECT_TRUE(shows(r, "HanaRoom")) << what;
    EXPECT_NE(hostile.state(), internet::DirectoryAnnouncer::State::Announced) << what;
    hostile.close();
    EXPECT_LT(residentKiB() - before, 16 * 1024) << what;
  }
}

TEST_F(DirectoryTest, AFloodGetsItsShareAndTheRealRoomIsListedEveryTime) {
  const long forbiddenBefore = forbiddenAttempts();
  for (int round = 0; round < 3; ++round) {
    const Refresh r = refresh(directory("foul.test", kFloodPort));
    ASSERT_TRUE(r.ended) << "round " << round;
    EXPECT_TRUE(shows(r, "HanaRoom")) << "round " << round;
    std::map<std::string, std::set<uint16_t>> asked;
    size_t connections = 0;
    for (const auto& [address, port] : environment->sink->take()) {
      asked[address].insert(port);
      ++connections;
    }
    EXPECT_LE(asked[kFloodAddress].size(), internet::kRoomsPerAddress) << "round " << round;
    EXPECT_GE(asked[kFloodAddress].size(), 1u) << "round " << round;
    EXPECT_EQ(connections, asked[kFloodAddress].size()) << "each address and port once";
    EXPECT_LE(connections, net::kMaxAnnouncedRooms);
  }
  EXPECT_EQ(forbiddenAttempts(), forbiddenBefore) << "a forbidden address was asked";
}

TEST_F(DirectoryTest, AtMostNRoomsAreAskedPerRefresh) {
  const Refresh r = refresh(directory("foul.test", kManyPort));
  ASSERT_TRUE(r.ended);
  std::set<std::pair<std::string, uint16_t>> asked;
  size_t connections = 0;
  for (const auto& arrived : environment->sink->take()) {
    asked.insert(arrived);
    ++connections;
  }
  EXPECT_EQ(connections, asked.size()) << "each address and port once";
  // 251 rooms announced, all askable: N asked, the real room among them or
  // not by the guest's own draw.
  const size_t real = shows(r, "HanaRoom") ? 1 : 0;
  EXPECT_EQ(asked.size() + real, net::kMaxAnnouncedRooms);
}

TEST_F(DirectoryTest, HostileOccupantsOfARealDirectory) {
  announcer.open(directory("dir.test"), hosted(1));
  ASSERT_TRUE(announced());
  Child hostile({"python3", "tests/support/hostile_occupants.py", kPlainAddress, "dir.test",
                 kFloodAddress, "40", std::to_string(kForbiddenPort)});
  std::string big;
  for (std::string l; (l = hostile.line(30000)) != "ready" && !l.empty();) {
    if (l.rfind("big: ", 0) == 0) big = l;
  }
  // The server ends the stream of a presence over its stanza limit.
  EXPECT_EQ(big.rfind("big: closed by the server", 0), 0u) << big;
  const long forbiddenBefore = forbiddenAttempts();
  environment->sink->take();
  for (int round = 0; round < 2; ++round) {
    const Refresh r = refresh(directory("dir.test"));
    ASSERT_TRUE(r.ended);
    EXPECT_TRUE(shows(r, "HanaRoom")) << "round " << round;
    std::set<uint16_t> flood;
    for (const auto& [address, port] : environment->sink->take()) {
      if (address == kFloodAddress) flood.insert(port);
    }
    EXPECT_LE(flood.size(), internet::kRoomsPerAddress);
  }
  EXPECT_EQ(forbiddenAttempts(), forbiddenBefore) << "a forbidden address was asked";
}

TEST_F(DirectoryTest, TlsWhenOfferedWithTheCertificateChecked) {
  announcer.open(directory("tls.test"), hosted(1));
  ASSERT_TRUE(announced());
  EXPECT_TRUE(announcer.secured());
  internet::DirectoryBrowse browse;
  browse.start(directory("tls.test"));
  const uint64_t until = nowMs() + 3000;
  while (browse.poll() == internet::DirectoryBrowse::State::Asking && nowMs() < until)
    SDL_Delay(10);
  EXPECT_EQ(browse.poll(), internet::DirectoryBrowse::State::Done) << browse.outcome();
  EXPECT_TRUE(browse.secured());
  EXPECT_TRUE(shows(refresh(directory("tls.test")), "HanaRoom"));

  // A certificate from a CA nobody here trusts, and a trusted one for
  // another name: no sign-in at all, and no falling back to plain text.
  for (const char* domain : {"bad.test", "wrong.test"}) {
    internet::DirectoryBrowse refused;
    refused.start(directory(domain));
    const uint64_t limit = nowMs() + 3000;
    while (refused.poll() == internet::DirectoryBrowse::State::Asking && nowMs() < limit) {
      SDL_Delay(10);
    }
    EXPECT_EQ(refused.poll(), internet::DirectoryBrowse::State::Failed) << domain;
    internet::DirectoryAnnouncer other;
    other.open(directory(domain), hosted(1));
    const uint64_t settleBy = nowMs() + 5000;
    while (other.state() != internet::DirectoryAnnouncer::State::Retrying && nowMs() < settleBy)
      SDL_Delay(10);
    EXPECT_EQ(other.state(), internet::DirectoryAnnouncer::State::Retrying) << domain;
    EXPECT_NE(other.lastFailure().find("certificate"), std::string::npos)
        << domain << ": " << other.lastFailure();
    other.close();
  }
}

// The namespace and what the tests inside need from outside of it: its
// links and addresses, its names (/etc/netns/NAME/hosts), its trust store
// (/etc/netns/NAME/ssl), the redirection to the sink and the counters of
// forbidden attempts, the test CA and certificates.
class Namespace {
 public:
  Namespace() : ns_(namespaceName()), etc_("/etc/netns/" + ns_), dir_(scratch()) {}
  ~Namespace() {
    // Whatever the run inside left (it may have crashed before its own
    // clean-up): the servers and stand-ins it started end with it.
    if (made_) quietly("ip netns pids " + ns_ + " | xargs -r kill -9");
    quietly("rm -rf " + etc_ + " " + dir_);
    ::rmdir("/etc/netns");  // only when empty
    if (made_) quietly("ip netns del " + ns_);
  }
  std::string make() {
    if (::geteuid() != 0) return "network namespaces need root";
    for (const char* tool : {"prosody", "python3", "openssl", "iptables", "ip6tables", "setpriv"}) {
      if (!quietly(std::string("command -v ") + tool)) return std::string(tool) + " is missing";
    }
    if (!quietly("getent passwd prosody")) return "the prosody user is missing";
    if (!quietly("ip netns add " + ns_)) return "cannot make network namespaces here";
    made_ = true;
    std::string addresses;
    for (const char* a :
         {kPlainAddress, kFoulAddress, kTlsAddress, kBadAddress, kWrongAddress, kHostAddress}) {
      addresses += std::string(" && ip addr add ") + a + "/24 dev dv0";
    }
    if (!inNs(ns_, "sh -c 'ip link set lo up && ip link add dv0 type veth peer name dv1" +
                       addresses + " && ip addr add " + kFloodAddress +
                       "/24 dev dv1 && ip link set dv0 up && ip link set dv1 up && "
                       "ip route add 198.51.0.0/24 dev dv1 && "
                       "iptables -w -t nat -A OUTPUT -p tcp -d " +
                       kFloodAddress +
                       " -j REDIRECT --to-ports 29999 && "
                       "iptables -w -t nat -A OUTPUT -p tcp -d 198.51.0.0/24 -j REDIRECT "
                       "--to-ports 29999 && "
                       "iptables -w -A OUTPUT -p tcp --syn --dport 31999 -j ACCEPT && "
                       "ip6tables -w -A OUTPUT -p tcp --syn --dport 31999 -j ACCEPT'")) {
      return "cannot set the namespace's links up";
    }
    ::mkdir("/etc/netns", 0755);
    ::mkdir(etc_.c_str(), 0755);
    std::ofstream(etc_ + "/hosts") << "127.0.0.1 localhost\n"
                                   << kPlainAddress << " dir.test rooms.dir.test\n"
                                   << kFoulAddress << " foul.test\n"
                                   << kTlsAddress << " tls.test\n"
                                   << kBadAddress << " bad.test\n"
                                   << kWrongAddress << " wrong.test\n";
    // A test CA (tls/), one nobody trusts (bad/untrusted), and wrong.test
    // served with tls.test's certificate.
    if (!quietly("mkdir -p " + dir_ + " && chmod 755 " + dir_) ||
        !quietly("bash tests/support/directory.sh ca " + dir_ + "/tls tls.test") ||
        !quietly("bash tests/support/directory.sh ca " + dir_ + "/bad bad.test") ||
        !quietly("mkdir -p " + dir_ + "/wrong && cp " + dir_ + "/tls/certs/tls.test.crt " + dir_ +
                 "/wrong/wrong.test.crt && cp " + dir_ + "/tls/certs/tls.test.key " + dir_ +
                 "/wrong/wrong.test.key && chmod -R a+rX " + dir_ + "/wrong") ||
        !quietly("bash tests/support/directory.sh trust " + ns_ + " " + dir_ + "/tls/ca.pem")) {
      return "cannot make the test's certificates";
    }
    return "";
  }
  // This program again, inside, with the same arguments.
  int runInside(int argc, char** argv) const {
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    std::string command = std::string(kInside) + "=" + tag() + " ip netns exec " + ns_ + " " + self;
    for (int i = 1; i < argc; ++i) command += std::string(" '") + argv[i] + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }

 private:
  std::string ns_;
  std::string etc_;
  std::string dir_;
  bool made_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  // The arguments as given, for the run inside (InitGoogleTest takes its
  // own out of argv).
  std::vector<char*> given(argv, argv + argc);
  ::testing::InitGoogleTest(&argc, argv);
  if (inside()) {
    environment = static_cast<Directories*>(::testing::AddGlobalTestEnvironment(new Directories));
    return RUN_ALL_TESTS();
  }
  // Outside: make the namespace and run everything in it; without one,
  // every test is skipped with the reason.
  {
    Namespace space;
    const std::string why = space.make();
    if (why.empty()) return space.runInside(static_cast<int>(given.size()), given.data());
    DirectoryTest::skipReason = why;
  }
  environment = static_cast<Directories*>(::testing::AddGlobalTestEnvironment(new Directories));
  return RUN_ALL_TESTS();
}
