// A hosted room relayed through its room directory's relay, in-process,
// against Debian's coturn and prosody with the shipped configurations
// (directory/turnserver.conf, directory/prosody.cfg.lua) on a server
// machine of the test's own, and against relays' servers that play foul
// (tests/support/foul_turn.py): a host that no router opens (upnp=off, the
// default relay=auto) is relayed and announced at the relay; a guest finds
// it, is let through, asks it and joins it over the relay, frame by frame;
// a plain client without a permission is refused by the relay; the relay
// stopped, the host says so and comes back by itself; a guest asking
// permissions for 1,000 addresses gets a few; a server that sends garbage,
// an oversized or endless stream, or nothing costs the host's frames
// nothing, bounded memory and a reason, and the program's end its bound.
//
// Two network namespaces: the server machine (198.51.100.30: dir.test and
// its relay; .31: the foul relays; .32: ej.test, ejabberd with the same
// relay) and this machine (198.51.100.11), where the test runs itself
// again. Linux only; needs root, prosody, coturn, python3 and openssl
// (skipped, saying why, without them; the ejabberd case without ejabberd).
#include <sys/stat.h>
#include <unistd.h>

#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "internet/announcement.h"
#include "internet/directory.h"
#include "internet/room_presence.h"
#include "internet/xmpp_client.h"
#include "net/room_query.h"
#include "platform/worker.h"
#include "support/child_process.h"
#include "support/net_test_peers.h"
#include "text/sjis_strings.h"

namespace {

using nettest::Lobby;
using testsupport::ChildProcess;

constexpr const char* kInside = "VELLORA_TEST_INSIDE";
bool inside() { return std::getenv(kInside) != nullptr; }

constexpr char kServerAddress[] = "198.51.100.30";  // dir.test and its relay
constexpr char kFoulAddress[] = "198.51.100.31";    // the foul relays
constexpr char kEjabberdAddress[] = "198.51.100.32";  // ej.test
constexpr char kThisAddress[] = "198.51.100.11";    // host and guest
constexpr uint16_t kRoomPort = 23711;
enum FoulPort : uint16_t {
  kGarbagePort = 3501,
  kOversizedPort = 3502,
  kEndlessPort = 3503,
  kSilentPort = 3504,
};
constexpr uint32_t kAnswerMs = 1000;
// The lobby's frames go on whatever the relay does: no gap longer than this.
constexpr uint64_t kFrameGapMs = 100;

std::string tag() { return inside() ? std::getenv(kInside) : std::to_string(::getpid()); }
std::string serverNs() { return "rlys" + tag(); }
std::string thisNs() { return "rlyc" + tag(); }
std::string scratch() { return "/tmp/vellora-relay-test-" + tag(); }

bool quietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// The directory with its relay, and the foul relays: started once for all
// the tests inside.
class Servers : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!inside()) return;
    const std::string dir = scratch();
    if (!quietly("bash tests/support/relay.sh secret " + dir + "/relay")) {
      why = "no relay secret";
      return;
    }
    // prosody reads the secret too (through the variable).
    ::setenv("VELLORA_RELAY_SECRET_FILE", (dir + "/relay/relay-secret").c_str(), 1);
    if (!quietly("bash tests/support/directory.sh start " + serverNs() + " dir.test " +
                 kServerAddress + " " + dir + "/data none")) {
      why = "prosody did not start";
      return;
    }
    if (!startRelay()) {
      why = "coturn did not start";
      return;
    }
    // ejabberd for ej.test, handing out credentials for the same relay.
    ejabberd = quietly("command -v ejabberdctl") &&
               quietly(std::string("VELLORA_RELAY_HOST=") + kServerAddress +
                       " bash -c '. tests/support/ejabberd.sh && ejabberd_cluster " + dir +
                       "/ej ej1=" + kEjabberdAddress + " && ejabberd_start " + serverNs() + " " +
                       dir + "/ej/n1 ej1 ej.test none && ejabberd_make_rooms " + dir +
                       "/ej/n1 ej.test'");
    for (const auto& [port, mode] : std::vector<std::pair<FoulPort, const char*>>{
             {kGarbagePort, "garbage"},
             {kOversizedPort, "oversized"},
             {kEndlessPort, "endless"},
             {kSilentPort, "silent"}}) {
      fouls.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
          "nsenter", "--net=/var/run/netns/" + serverNs(), "python3", "tests/support/foul_turn.py",
          kFoulAddress, std::to_string(port), mode}));
      if (!fouls.back()->waitFor("ready", 5000)) {
        why = "the foul relays did not start";
        return;
      }
    }
  }
  void TearDown() override {
    platform::stopAllWorkers(5000);
    fouls.clear();
    if (!inside()) return;
    stopRelay();
    quietly("bash tests/support/directory.sh stop " + scratch() + "/data");
    quietly("bash -c '. tests/support/ejabberd.sh && EJABBERD_DIR=" + scratch() +
            "/ej && ejabberd_stop " + scratch() + "/ej/n1'");
  }
  static bool startRelay() {
    return quietly("bash tests/support/relay.sh start " + serverNs() + " " + kServerAddress +
                   " dir.test " + scratch() + "/relay 198.51.100.0-198.51.100.255");
  }
  static void stopRelay() { quietly("bash tests/support/relay.sh stop " + scratch() + "/relay"); }

  std::string why;
  bool ejabberd = false;
  std::vector<std::unique_ptr<ChildProcess>> fouls;
};

Servers* environment = nullptr;

net::DirectoryServer directory(const char* domain = "dir.test") {
  net::DirectoryServer server;
  EXPECT_TRUE(net::parseDirectoryServer(domain, server));
  return server;
}

// The relay's address for the room, as the host's presence says.
platform::Address relayedAt(const internet::Reachability& reach) {
  return reach.endpointCount == 1 ? reach.endpoints[0] : platform::Address{};
}

int present(const Lobby& lobby) {
  int count = 0;
  for (const PlayerRecord& p : lobby.players) count += p.present ? 1 : 0;
  return count;
}

class RelayTest : public nettest::NetTest {
 public:
  static std::string skipReason;

 protected:
  void SetUp() override {
    NetTest::SetUp();
    if (!inside()) GTEST_SKIP() << skipReason;
    if (!environment->why.empty()) GTEST_SKIP() << environment->why;
    ASSERT_TRUE(host.host(kRoomPort, "Hana"));
    copyField(host.room.roomName, "HanaRoom");
  }
  void TearDown() override { presence.close(); }

  internet::RoomFacts facts() const {
    internet::RoomFacts room;
    room.port = kRoomPort;
    room.players = host.room.currentPlayers;
    room.maxPlayers = 6;
    room.instance = 0x2468ace0u;
    return room;
  }
  // The room opened as a host of a router that opens nothing: upnp=off,
  // no address=, relay= left at its default.
  void open(const char* domain = "dir.test") {
    net::HostReachSettings settings;
    settings.upnp = false;
    settings.directory = directory(domain);
    presence.open(facts(), settings);
  }
  // One frame of the host's lobby as the scene runs it; the longest gap
  // between two frames is kept.
  void frame() {
    const uint64_t now = nowMs();
    if (lastFrame_ != 0) longestGap = std::max(longestGap, now - lastFrame_);
    lastFrame_ = now;
    host.frame();
    presence.update(facts());
    for (std::string& line : presence.takeConsoleLines()) lines.push_back(std::move(line));
    SDL_Delay(16);
  }
  template <typename Done>
  bool framesUntil(Done done, uint64_t limitMs) {
    const uint64_t until = nowMs() + limitMs;
    while (!done()) {
      if (nowMs() >= until) return false;
      frame();
    }
    return true;
  }
  bool said(const std::string& part) const {
    return std::any_of(lines.begin(), lines.end(),
                       [&part](const std::string& l) { return l.find(part) != std::string::npos; });
  }
  bool relayed() { return presence.reach().reach == internet::Reach::Relayed; }
  // Every console line so far, for a failure's message.
  std::string told() const {
    std::string all;
    for (const std::string& l : lines) all += "\n  " + l;
    return all;
  }
  bool announced() {
    return presence.announcer().state() == internet::DirectoryAnnouncer::State::Announced;
  }

  // One refresh through the directory, the host's lobby framed alongside:
  // the rooms shown.
  std::vector<RoomRecord> refresh(internet::DirectoryBrowse& browse,
                                  const char* domain = "dir.test") {
    net::RoomRefresh refresh;
    refresh.start(nullptr, 0, kAnswerMs, false);
    browse.start(directory(domain));
    refresh.browse(&browse);
    const uint64_t until = nowMs() + 10000;
    while (!refresh.step() && nowMs() < until) frame();
    std::vector<RoomRecord> shown;
    for (size_t i = 0; i < refresh.size(); ++i) {
      if (refresh.answered(i)) shown.push_back(refresh.answer(i));
    }
    return shown;
  }

  Lobby host;
  internet::RoomPresence presence;
  std::vector<std::string> lines;
  uint64_t longestGap = 0;

 private:
  uint64_t lastFrame_ = 0;
};
std::string RelayTest::skipReason = "runs inside its namespaces only";

// A plain client of the relayed address, written from the room query's wire
// format: three bytes out, 712 back. Returns the bytes it got before the
// connection ended or 3 s passed.
size_t plainQuery(const platform::Address& at) {
  platform::Socket socket = platform::startConnect(at);
  if (!socket.valid() || platform::connectState(socket, 1500) != platform::ConnectState::Connected)
    return 0;
  const uint8_t query[3] = {0, 0, 0};
  platform::sendSome(socket, query, sizeof query);
  size_t got = 0;
  const uint64_t until = nowMs() + 3000;
  while (nowMs() < until && got < 712) {
    uint8_t buffer[1024];
    platform::PollItem item{&socket};
    platform::pollSockets(&item, 1, 50);
    const int n = platform::receiveSome(socket, buffer, sizeof buffer);
    if (n < 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

TEST_F(RelayTest, AGuestFindsARelayedRoomAndPlaysThroughTheRelay) {
  open();
  ASSERT_TRUE(framesUntil([&] { return relayed() && announced(); }, 20000)) << told();
  const platform::Address relay = relayedAt(presence.reach());
  EXPECT_EQ(platform::formatAddress(relay), kServerAddress);
  EXPECT_TRUE(said("Room: reachable through the relay at 198.51.100.30:" +
                   std::to_string(relay.port)));
  EXPECT_EQ(internet::reachLobbyLine(presence.reach()),
            std::string(sjis::kReachRelayed) + "198.51.100.30:" + std::to_string(relay.port));

  // Without a permission the relay refuses a client (as it refuses a room
  // listed in RoomList.txt at a relayed address).
  EXPECT_EQ(plainQuery(relay), 0u);

  // The guest's refresh: let through, the room asked over the relay.
  internet::DirectoryBrowse browse;
  const std::vector<RoomRecord> shown = refresh(browse);
  ASSERT_EQ(shown.size(), 1u) << browse.outcome();
  EXPECT_STREQ(shown[0].roomName.data(), "HanaRoom");
  EXPECT_STREQ(shown[0].hostAddress.data(), kServerAddress);
  EXPECT_EQ(shown[0].port, relay.port);
  EXPECT_EQ(browse.relayed(), 1u);
  EXPECT_EQ(browse.permitted(), 1u);

  // The guest joins there, exactly as any room: two on both sides, and one
  // once it leaves.
  {
    Lobby guest;
    ASSERT_TRUE(guest.guest(relay.port, "Kai", kServerAddress));
    EXPECT_TRUE(framesUntil(
        [&] {
          guest.frame();
          return host.room.currentPlayers == 2 && present(guest) == 2;
        },
        10000));
    EXPECT_GE(presence.relay().status().bridges, 1u);
  }
  EXPECT_TRUE(framesUntil([&] { return host.room.currentPlayers == 1; }, 10000));

  // The relay stops: the line says it is gone; started again, the room is
  // relayed again by itself.
  EXPECT_LE(longestGap, kFrameGapMs);
  Servers::stopRelay();
  EXPECT_TRUE(framesUntil(
      [&] { return said("Room: reachable on this network only: the relay is gone ("); }, 10000));
  EXPECT_EQ(presence.reach().note, internet::ReachNote::RelayGone);
  const std::string gone = internet::reachLobbyLine(presence.reach());
  EXPECT_NE(gone.find(sjis::kReachRelayGone), std::string::npos);
  ASSERT_TRUE(Servers::startRelay());
  EXPECT_TRUE(framesUntil([&] { return relayed() && announced(); },
                          internet::kRelayRetryMs * 4 + 10000));
}

// The host's address in the directory, as any occupant of its shard reads
// it from the announcement.
std::string hostJid() {
  const std::string room = "vellora-00@rooms.dir.test";
  const std::string nick = "reader" + std::to_string(nowMs());
  std::string jid;
  bool done = false;
  internet::xmpp::Connection connection(
      "dir.test", internet::xmpp::ConnectionLimits{}, [&](const internet::xml::Element& stanza) {
        internet::Announcement a;
        if (stanza.name == "presence" && internet::readAnnouncement(stanza, a)) jid = a.relayJid;
        const std::string* from = stanza.attribute("from");
        done = done || (from != nullptr && *from == room + "/" + nick);
      });
  platform::Address server;
  platform::parseNumericAddress(kServerAddress, server);
  server.port = 5222;
  if (!connection.start(server)) return jid;
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
  return jid;
}

TEST_F(RelayTest, AGuestAskingForAThousandAddressesGetsAFew) {
  open();
  ASSERT_TRUE(framesUntil([&] { return relayed() && announced(); }, 20000));
  const std::string jid = hostJid();
  ASSERT_TRUE(internet::isRelayJid(jid)) << jid;
  const long before = residentKiB();

  // A hostile guest of the directory asks for 1,000 addresses, while the
  // host's lobby goes on.
  bool sent = false;
  internet::xmpp::Connection hostile("dir.test", internet::xmpp::ConnectionLimits{},
                                     [](const internet::xml::Element&) {});
  platform::Address server;
  platform::parseNumericAddress(kServerAddress, server);
  server.port = 5222;
  ASSERT_TRUE(hostile.start(server));
  longestGap = 0;
  const uint64_t until = nowMs() + 15000;
  while (nowMs() < until && !hostile.ended()) {
    hostile.turn(0);
    if (!sent && hostile.ready()) {
      for (int i = 0; i < 1000; ++i) {
        platform::Address address = platform::Address::v4(0xC6336400u | static_cast<uint32_t>(i % 250), 0);
        address.bytes[2] = static_cast<uint8_t>(i / 250);  // 198.51.0-3.x
        hostile.send(internet::permitMessage(jid, address, false));
        if (i % 50 == 49) hostile.turn(0);
      }
      sent = true;
    }
    frame();
    if (sent && presence.relay().status().refused >= 900) break;
  }
  const internet::RoomRelay::Status status = presence.relay().status();
  EXPECT_LE(status.granted, internet::kPermitsPerGuestPerMinute);
  EXPECT_GE(status.refused, 900u);
  EXPECT_TRUE(framesUntil([&] { return said("requests for a permission refused"); }, 12000));
  EXPECT_LE(longestGap, kFrameGapMs);
  EXPECT_LT(residentKiB() - before, 16 * 1024);
  hostile.close();

  // An honest guest is still let through.
  internet::DirectoryBrowse browse;
  const std::vector<RoomRecord> shown = refresh(browse);
  EXPECT_EQ(shown.size(), 1u) << browse.outcome();
}

// ejabberd's external service discovery hands out credentials the same
// relay takes.
TEST_F(RelayTest, AnEjabberdDirectoryOffersTheSameRelay) {
  if (!environment->ejabberd) GTEST_SKIP() << "no ejabberd (tools/setup.sh installs it)";
  open("ej.test");
  ASSERT_TRUE(framesUntil([&] { return relayed() && announced(); }, 20000)) << told();
  internet::DirectoryBrowse browse;
  const std::vector<RoomRecord> shown = refresh(browse, "ej.test");
  ASSERT_EQ(shown.size(), 1u) << browse.outcome();
  EXPECT_STREQ(shown[0].roomName.data(), "HanaRoom");
  EXPECT_EQ(browse.permitted(), 1u);
}

TEST_F(RelayTest, ARelaysServerThatPlaysFoulCostsTheHostNothingButItsRelay) {
  struct Case {
    FoulPort port;
    const char* reason;
  };
  const long before = residentKiB();
  for (const Case& c : {Case{kGarbagePort, "bytes that are no relay's message"},
                        Case{kOversizedPort, "a message over its size limit"},
                        Case{kEndlessPort, "more than a relay's server may"},
                        Case{kSilentPort, "no answer in time"}}) {
    internet::RelayOffer offer;
    offer.host = kFoulAddress;
    offer.port = c.port;
    offer.credentials = {"1700000000", "c2VjcmV0"};
    internet::RoomRelay relay;
    relay.start(offer, kRoomPort, std::make_shared<internet::RelayDesk>());
    longestGap = 0;
    EXPECT_TRUE(framesUntil(
        [&] { return relay.status().state == internet::RoomRelay::State::Failed; }, 10000))
        << c.reason;
    EXPECT_NE(relay.status().failure.find(c.reason), std::string::npos)
        << relay.status().failure;
    EXPECT_LE(longestGap, kFrameGapMs) << c.reason;
  }
  EXPECT_LT(residentKiB() - before, 16 * 1024);

  // In the middle of a silent or endless conversation, the program's end
  // still takes its bound.
  std::vector<std::unique_ptr<internet::RoomRelay>> relays;
  for (const FoulPort port : {kSilentPort, kEndlessPort}) {
    internet::RelayOffer offer;
    offer.host = kFoulAddress;
    offer.port = port;
    offer.credentials = {"1700000000", "c2VjcmV0"};
    relays.push_back(std::make_unique<internet::RoomRelay>());
    relays.back()->start(offer, kRoomPort, std::make_shared<internet::RelayDesk>());
  }
  for (int i = 0; i < 30; ++i) frame();
  const uint64_t ending = nowMs();
  EXPECT_TRUE(platform::stopAllWorkers(1800));
  EXPECT_LT(nowMs() - ending, 2000u);
}

// The two machines and what the run inside needs from outside: their links
// and addresses, and the directory's name.
class Machines {
 public:
  ~Machines() {
    for (const std::string& ns : made_) {
      quietly("ip netns pids " + ns + " | xargs -r kill -9");
      quietly("ip netns del " + ns);
    }
    quietly("rm -rf /etc/netns/" + thisNs() + " " + scratch());
    ::rmdir("/etc/netns");  // only when empty
  }
  std::string make() {
    if (::geteuid() != 0) return "network namespaces need root";
    for (const char* tool : {"prosody", "turnserver", "python3", "openssl", "setpriv"}) {
      if (!quietly(std::string("command -v ") + tool)) return std::string(tool) + " is missing";
    }
    if (!quietly("getent passwd prosody")) return "the prosody user is missing";
    for (const std::string& ns : {serverNs(), thisNs()}) {
      if (!quietly("ip netns add " + ns)) return "cannot make network namespaces here";
      made_.push_back(ns);
    }
    const std::string s = "nsenter --net=/var/run/netns/" + serverNs() + " ";
    const std::string t = "nsenter --net=/var/run/netns/" + thisNs() + " ";
    if (!quietly("ip link add rv0 netns " + serverNs() + " type veth peer name rv1 netns " +
                 thisNs()) ||
        !quietly(s + "sh -c 'ip link set lo up && ip addr add " + kServerAddress +
                 "/24 dev rv0 && ip addr add " + kFoulAddress + "/24 dev rv0 && ip addr add " +
                 kEjabberdAddress + "/24 dev rv0 && ip link set rv0 up'") ||
        !quietly(t + "sh -c 'ip link set lo up && ip addr add " + kThisAddress +
                 "/24 dev rv1 && ip link set rv1 up'")) {
      return "cannot set the machines' links up";
    }
    ::mkdir("/etc/netns", 0755);
    ::mkdir(("/etc/netns/" + thisNs()).c_str(), 0755);
    std::ofstream("/etc/netns/" + thisNs() + "/hosts")
        << "127.0.0.1 localhost\n"
        << kServerAddress << " dir.test rooms.dir.test\n"
        << kEjabberdAddress << " ej.test rooms.ej.test\n";
    return quietly("mkdir -p " + scratch() + " && chmod 755 " + scratch())
               ? ""
               : "cannot make the scratch folder";
  }
  // This program again, inside this machine, with the same arguments.
  int runInside(int argc, char** argv) const {
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    std::string command =
        std::string(kInside) + "=" + tag() + " ip netns exec " + thisNs() + " " + self;
    for (int i = 1; i < argc; ++i) command += std::string(" '") + argv[i] + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
  }

 private:
  std::vector<std::string> made_;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> given(argv, argv + argc);
  ::testing::InitGoogleTest(&argc, argv);
  if (!inside()) {
    Machines machines;
    const std::string why = machines.make();
    if (why.empty()) return machines.runInside(static_cast<int>(given.size()), given.data());
    RelayTest::skipReason = why;
  }
  environment = static_cast<Servers*>(::testing::AddGlobalTestEnvironment(new Servers));
  return RUN_ALL_TESTS();
}
