// The room's port forwarded by the home router, on an internet of the
// test's own (tests/support/internet.sh): router 1 runs miniupnpd, router 2
// has no UPnP. The mapping moves to another external port when the room's
// is taken (and is told so), is removed when the room closes, runs out
// after a killed host's lease, and follows a router that restarts with a
// new address; a host without UPnP says which port to forward; devices on
// the LAN that answer badly, or answer the search over and over, cost a
// bounded time while the lobby's frames go on and its room works. A plain
// gateway written from UPnP's wire formats (tests/support/plain_igd.py)
// plays a router behind another NAT and one that takes only forwardings
// without end. Needs root (skipped, saying why, without it); the lookups of
// address= need neither.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "internet/port_mapping.h"
#include "platform/worker.h"
#include "support/internet.h"
#include "support/net_test_peers.h"
#include "text/sjis_strings.h"

namespace {

using Clock = std::chrono::steady_clock;
using inettest::Internet;
using nettest::Lobby;

constexpr uint16_t kRoomPort = 6247;
// Longest a state may take to settle: kAskLimitMs, and a loaded machine's
// scheduling beside it.
constexpr int kSettleMs = 12000;
// The bounds the router's worker keeps: the lobby's line settles within
// 10 s, a closed room's worker is gone within its removal's 1.5 s (plus a
// slice to notice), the program's end takes 2 s at most.
constexpr auto kLineSettles = std::chrono::seconds(10);
constexpr auto kWorkerGone = std::chrono::milliseconds(internet::kRemoveLimitMs + 300);
constexpr auto kProgramEnd = std::chrono::seconds(2);
constexpr char kGateway[] = "10.221.2.20";  // the plain gateway on home 2

long msSince(Clock::time_point since) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

bool settled(const internet::Reachability& state) {
  return state.reach == internet::Reach::Internet || state.reach == internet::Reach::LanOnly;
}

// Steps (a frame of each lobby, say) until done holds or limitMs runs out;
// false then.
bool until(const std::function<bool()>& done, long limitMs,
           const std::function<void()>& step = {}) {
  const Clock::time_point begun = Clock::now();
  while (!done()) {
    if (msSince(begun) > limitMs) return false;
    if (step) step();
    SDL_Delay(10);
  }
  return true;
}

// The state once it has settled (or as it stands after kSettleMs).
internet::Reachability settle(const internet::PortMapping& mapping,
                              const std::function<void()>& step = {}) {
  until([&] { return settled(mapping.state()); }, kSettleMs, step);
  return mapping.state();
}

std::string endpointText(const internet::Reachability& state, size_t i) {
  const platform::Address& endpoint = state.endpoints[i];
  const std::string address = platform::formatAddress(endpoint);
  return (endpoint.family == platform::Family::V6 ? "[" + address + "]" : address) + ":" +
         std::to_string(endpoint.port);
}

int openDescriptors() {
  int count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

// The workers still running or not yet joined, once those finished are.
int liveWorkers() {
  platform::reapWorkers();
  return platform::liveWorkers();
}

// Enters a machine of the internet on the calling thread while it lives;
// threads started meanwhile (a worker) stay in it.
class In {
 public:
  In(const Internet& net, const std::string& role) {
    const int target = ::open(("/var/run/netns/" + net.ns(role)).c_str(), O_RDONLY);
    entered_ = home_ >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
  }
  ~In() {
    if (entered_) ::setns(home_, CLONE_NEWNET);
    if (home_ >= 0) ::close(home_);
  }
  In(const In&) = delete;
  In& operator=(const In&) = delete;
  bool entered() const { return entered_; }

 private:
  int home_ = ::open("/proc/thread-self/ns/net", O_RDONLY);
  bool entered_ = false;
};

class InternetPlay : public nettest::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    if (std::system("command -v miniupnpd stund iptables-legacy >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "miniupnpd, stund or iptables missing (tools/setup.sh installs them)";
    ASSERT_TRUE(net_.up()) << "the test's internet could not be made";
  }

  // The mapping of external port to this test's home-1 host, as router 1
  // holds it ("" when none).
  std::string forwarding(uint16_t port) const {
    const std::string all = net_.mappings();
    const std::string line = std::to_string(port) + " " + inettest::kHost1 + ":";
    const size_t at = all.find(line);
    return at == std::string::npos ? "" : all.substr(at, all.find('\n', at) - at);
  }

  // The plain gateway on home 2 (plain_igd.py with arguments), its table
  // in the test's folder.
  void startGateway(const std::string& name, const std::string& arguments) {
    ASSERT_TRUE(net_.lanMachine(2, name, kGateway));
    ASSERT_TRUE(net_.startServer(name, name,
                                 "python3 -u tests/support/plain_igd.py " + std::string(kGateway) +
                                     " " + gatewayTable() + " " + arguments))
        << net_.output("cat $(internet_dir)/" + name + ".log");
  }
  // A file in the internet's folder (removed with it).
  std::string file(const std::string& name) const {
    std::string dir = net_.output("internet_dir");
    while (!dir.empty() && dir.back() == '\n') dir.pop_back();
    return dir + "/" + name;
  }
  std::string gatewayTable() const { return file("igd.json"); }
  std::string gatewayHolds() const { return net_.output("cat " + gatewayTable()); }

  Internet net_;
};

TEST_F(InternetPlay, AnExternalPortTakenOnTheRouterGivesAnotherOneThatIsTold) {
  ASSERT_TRUE(net_.lanMachine(1, "h1b", "10.221.1.11"));
  ASSERT_TRUE(net_.in("h1b", "upnpc -i -e other -a 10.221.1.11 6247 6247 TCP"));
  ASSERT_NE(net_.mappings().find("6247 10.221.1.11:6247"), std::string::npos);
  internet::PortMapping mapping;
  {
    const In in(net_, "h1");
    mapping.start(kRoomPort, net::HostReachSettings{});
  }
  const internet::Reachability state = settle(mapping);
  ASSERT_EQ(state.reach, internet::Reach::Internet) << internet::reachConsoleLine(state);
  // A documentation-range address is public to the address policy: the
  // test's internet is made of them.
  EXPECT_EQ(state.note, internet::ReachNote::RouterMapped);
  EXPECT_STREQ(state.address.data(), inettest::kWan1);
  EXPECT_NE(state.port, kRoomPort);
  ASSERT_EQ(state.endpointCount, 1);
  EXPECT_EQ(endpointText(state, 0),
            std::string(inettest::kWan1) + ":" + std::to_string(state.port));
  EXPECT_NE(internet::reachLobbyLine(state).find(std::to_string(state.port)), std::string::npos);
  EXPECT_EQ(forwarding(state.port), std::to_string(state.port) + " 10.221.1.10:6247");
  mapping.stop();
  EXPECT_TRUE(until([&] { return forwarding(state.port).empty(); }, 5000))
      << "the mapping outlived the closed room";
  EXPECT_NE(net_.mappings().find("6247 10.221.1.11:6247"), std::string::npos)
      << "another machine's mapping was touched";
}

TEST_F(InternetPlay, AKilledHostsShortLeaseRunsOut) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const In in(net_, "h1");
    internet::PortMapping mapping;
    mapping.setLeaseSeconds(4);
    mapping.start(kRoomPort, net::HostReachSettings{});
    const char mapped = settle(mapping).routerMapped ? 'y' : 'n';
    (void)!::write(ready[1], &mapped, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char mapped = 'n';
  (void)!::read(ready[0], &mapped, 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_EQ(mapped, 'y');
  ASSERT_NE(forwarding(kRoomPort), "") << "the killed host's mapping is not on the router";
  EXPECT_TRUE(until([&] { return forwarding(kRoomPort).empty(); }, 20000))
      << "the lease did not run out";
}

TEST_F(InternetPlay, HomeTwoSaysWhichPortToForward) {
  internet::PortMapping mapping;
  {
    const In in(net_, "h2");
    mapping.start(kRoomPort, net::HostReachSettings{});
  }
  const internet::Reachability state = settle(mapping);
  EXPECT_EQ(state.reach, internet::Reach::LanOnly);
  EXPECT_EQ(state.note, internet::ReachNote::NoRouter);
  EXPECT_EQ(state.endpointCount, 0);
  EXPECT_NE(internet::reachConsoleLine(state).find("forward TCP port 6247"), std::string::npos);
  EXPECT_NE(internet::reachLobbyLine(state).find("6247"), std::string::npos);
}

TEST_F(InternetPlay, BadDevicesOnTheLanCostBoundedTimeWhileTheRoomWorks) {
  ASSERT_TRUE(net_.lanMachine(2, "d2", "10.221.2.20"));
  ASSERT_TRUE(net_.lanMachine(2, "g2", "10.221.2.11"));
  const struct {
    const char* mode;
    internet::ReachNote note;
  } kDevices[] = {{"garbage", internet::ReachNote::NoRouter},
                  {"silent", internet::ReachNote::NoAnswer},
                  {"endless", internet::ReachNote::NoAnswer},
                  {"flood", internet::ReachNote::BadAnswer}};
  uint16_t port = 6300;
  for (const auto& device : kDevices) {
    SCOPED_TRACE(device.mode);
    const std::string name = std::string("hostile-") + device.mode;
    ASSERT_TRUE(net_.startServer("d2", name,
                                 "python3 -u tests/support/hostile_upnp.py " +
                                     std::string(device.mode) + " 10.221.2.20 40"));
    Lobby host, guest;
    internet::PortMapping mapping;
    {
      const In in(net_, "h2");
      ASSERT_TRUE(host.host(++port));
      mapping.start(port, net::HostReachSettings{});
    }
    {
      const In in(net_, "g2");
      ASSERT_TRUE(guest.guest(port, "Guest", inettest::kHost2));
    }
    Clock::time_point last = Clock::now();
    Clock::duration longest{};
    const internet::Reachability state = settle(mapping, [&] {
      host.frame();
      guest.frame();
      const Clock::time_point now = Clock::now();
      longest = std::max(longest, now - last);
      last = now;
    });
    EXPECT_EQ(state.reach, internet::Reach::LanOnly) << internet::reachConsoleLine(state);
    EXPECT_EQ(state.note, device.note) << internet::reachConsoleLine(state);
    // Generous: only a frame held up by the network comes near it.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count(), 1000);
    EXPECT_EQ(host.room.currentPlayers, 2) << "the guest on the LAN did not join";
    net_.output("internet_stop " + name);
  }
}

// A device beside router 1 that sends its search answer again every 0.5 s
// (which keeps a search that restarts its wait on every answer going for
// good): the line settles, closing the room costs the frame loop nothing,
// the worker is gone within its bound leaving no socket, and the program's
// end removes the forwarding within 2 s while the device goes on.
TEST_F(InternetPlay, ARepeatingDeviceHoldsUpNeitherTheLineNorTheEnd) {
  ASSERT_TRUE(net_.lanMachine(1, "d1", "10.221.1.20"));
  ASSERT_TRUE(net_.startServer("d1", "repeat",
                               "python3 -u tests/support/hostile_upnp.py repeat 10.221.1.20 90"));
  Lobby host;
  internet::PortMapping mapping;
  {
    const In in(net_, "h1");
    ASSERT_TRUE(host.host(kRoomPort));
  }
  const int descriptors = openDescriptors();
  Clock::time_point begun = Clock::now();
  {
    const In in(net_, "h1");
    mapping.start(kRoomPort, net::HostReachSettings{});
  }
  const internet::Reachability state = settle(mapping, [&] { host.frame(); });
  EXPECT_LT(msSince(begun), std::chrono::milliseconds(kLineSettles).count());
  ASSERT_EQ(state.reach, internet::Reach::Internet) << internet::reachConsoleLine(state);
  ASSERT_NE(forwarding(kRoomPort), "");

  // The room closes between two frames.
  long longestGap = 0;
  Clock::time_point last = Clock::now();
  for (int frame = 0; frame < 20; ++frame) {
    host.frame();
    if (frame == 10) mapping.stop();
    longestGap = std::max(longestGap, msSince(last));
    last = Clock::now();
    SDL_Delay(10);
  }
  EXPECT_LT(longestGap, 100) << "closing the room held up a frame";
  EXPECT_EQ(mapping.state().reach, internet::Reach::NotHosting);
  begun = Clock::now();
  EXPECT_TRUE(
      until([] { return liveWorkers() == 0; }, std::chrono::milliseconds(kWorkerGone).count()))
      << "the worker outlived its bound";
  EXPECT_EQ(forwarding(kRoomPort), "") << "the closed room's forwarding stayed";
  EXPECT_EQ(openDescriptors(), descriptors) << "the closed room left a socket behind";

  // The program's end, while the device keeps answering.
  {
    const In in(net_, "h1");
    mapping.start(kRoomPort, net::HostReachSettings{});
  }
  ASSERT_EQ(settle(mapping, [&] { host.frame(); }).reach, internet::Reach::Internet);
  ASSERT_NE(forwarding(kRoomPort), "");
  begun = Clock::now();
  mapping.stop();
  EXPECT_TRUE(platform::stopAllWorkers(1800));
  EXPECT_LT(msSince(begun), std::chrono::milliseconds(kProgramEnd).count());
  EXPECT_EQ(forwarding(kRoomPort), "") << "the forwarding outlived the program";
  EXPECT_NE(net_.output("cat $(internet_dir)/repeat.log"), "") << "the device had ended";
}

// Router 1 restarts with its forwardings gone and a new address from its
// provider: the router that stopped answering is noticed, and within a
// minute the room is forwarded again, told and announced at the new
// address, and a guest from home 2 joins there.
TEST_F(InternetPlay, ARouterThatRestartsWithANewAddressIsFollowed) {
  constexpr char kNewWan[] = "198.51.100.21";
  Lobby host, guest;
  internet::PortMapping mapping;
  mapping.setCheckSeconds(2);
  {
    const In in(net_, "h1");
    ASSERT_TRUE(host.host(kRoomPort));
    mapping.start(kRoomPort, net::HostReachSettings{});
  }
  internet::Reachability state = settle(mapping, [&] { host.frame(); });
  ASSERT_EQ(state.note, internet::ReachNote::RouterMapped) << internet::reachConsoleLine(state);
  ASSERT_EQ(state.endpointCount, 1);
  EXPECT_EQ(endpointText(state, 0), std::string(inettest::kWan1) + ":6247");

  // While it is down the line says so; once it is back it is found again.
  net_.output("internet_stop miniupnpd");
  EXPECT_TRUE(until([&] { return mapping.state().note == internet::ReachNote::NoRouter; }, 20000,
                    [&] { host.frame(); }))
      << internet::reachConsoleLine(mapping.state());
  ASSERT_TRUE(net_.call(std::string("internet_restart_router1 ") + kNewWan))
      << net_.output("cat $(internet_dir)/miniupnpd.log");
  const bool followed = until(
      [&] {
        state = mapping.state();
        return std::string(state.address.data()) == kNewWan && !forwarding(kRoomPort).empty();
      },
      60000, [&] { host.frame(); });
  ASSERT_TRUE(followed) << internet::reachConsoleLine(state);
  EXPECT_EQ(state.reach, internet::Reach::Internet);
  ASSERT_EQ(state.endpointCount, 1);
  EXPECT_EQ(endpointText(state, 0), std::string(kNewWan) + ":6247");
  {
    const In in(net_, "h2");
    ASSERT_TRUE(guest.guest(kRoomPort, "Far", kNewWan));
  }
  EXPECT_TRUE(until([&] { return host.room.currentPlayers == 2; }, 10000,
                    [&] {
                      host.frame();
                      guest.frame();
                    }))
      << "home 2 did not join at the new address";
}

// A router whose own external address is a provider's shared one: the room
// is told as reachable on this network only, with why and what to do, and
// nothing is announced; address= then gives what to announce.
TEST_F(InternetPlay, ARouterBehindAnotherNatAnnouncesNothing) {
  ASSERT_NO_FATAL_FAILURE(startGateway("igd", "--external 100.64.0.7"));
  internet::PortMapping mapping;
  {
    const In in(net_, "h2");
    mapping.start(kRoomPort, net::HostReachSettings{});
  }
  internet::Reachability state = settle(mapping);
  EXPECT_EQ(state.reach, internet::Reach::LanOnly) << internet::reachConsoleLine(state);
  EXPECT_EQ(state.note, internet::ReachNote::RouterPrivate);
  EXPECT_EQ(state.endpointCount, 0);
  EXPECT_TRUE(state.routerMapped);
  EXPECT_NE(gatewayHolds().find("\"6247\": {\"client\": \"10.221.2.10\""), std::string::npos)
      << gatewayHolds();
  const std::string line = internet::reachLobbyLine(state);
  EXPECT_NE(line.find(sjis::kReachOuterNat), std::string::npos);
  EXPECT_NE(line.find("6247"), std::string::npos);
  EXPECT_EQ(internet::reachConsoleLine(state),
            "Room: reachable on this network only: the router forwards port 6247, but its "
            "external address 100.64.0.7 is shared (a provider's NAT): a second router or the "
            "provider's NAT stands in front of it; forward TCP port 6247 there too, or put "
            "address= in RoomConfig.txt");

  net::HostReachSettings settings;
  std::snprintf(settings.address.data(), settings.address.size(), "203.0.113.50");
  {
    const In in(net_, "h2");
    mapping.start(kRoomPort, settings);
  }
  state = settle(mapping);
  EXPECT_EQ(state.note, internet::ReachNote::ConfigAddress);
  ASSERT_EQ(state.endpointCount, 1);
  EXPECT_EQ(endpointText(state, 0), "203.0.113.50:6247");
}

// A router that keeps only forwardings without end (UPnP error 725): the
// room gets one, written down while it stands; a closed room removes both;
// the one a killed game left is removed at the next start.
TEST_F(InternetPlay, AForwardingWithoutEndIsRemovedEvenAfterAKill) {
  ASSERT_NO_FATAL_FAILURE(startGateway("igd", "--permanent-only"));
  const std::string record = file("RouterPorts.txt");
  const auto recorded = [&] { return net_.output("cat " + record + " 2>/dev/null"); };
  const auto held = [&] { return gatewayHolds().find("\"6247\"") != std::string::npos; };
  {
    internet::PortMapping mapping;
    mapping.setRecordPath(record);
    {
      const In in(net_, "h2");
      mapping.start(kRoomPort, net::HostReachSettings{});
    }
    const internet::Reachability state = settle(mapping);
    ASSERT_EQ(state.note, internet::ReachNote::RouterMapped) << internet::reachConsoleLine(state);
    EXPECT_NE(gatewayHolds().find("\"lease\": 0"), std::string::npos) << gatewayHolds();
    EXPECT_NE(recorded().find(" 6247 10.221.2.10 6247\n"), std::string::npos) << recorded();
    mapping.stop();
    EXPECT_TRUE(until([&] { return !held() && recorded().empty(); }, 5000))
        << gatewayHolds() << recorded();
  }

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const In in(net_, "h2");
    internet::PortMapping mapping;
    mapping.setRecordPath(record);
    mapping.start(kRoomPort, net::HostReachSettings{});
    const char mapped = settle(mapping).routerMapped ? 'y' : 'n';
    (void)!::write(ready[1], &mapped, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char mapped = 'n';
  (void)!::read(ready[0], &mapped, 1);
  ::close(ready[0]);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ASSERT_EQ(mapped, 'y');
  ASSERT_TRUE(held()) << "the killed game's forwarding is not on the router";
  ASSERT_NE(recorded(), "") << "the killed game's forwarding was not written down";

  // The next start.
  {
    const In in(net_, "h2");
    internet::removeRecordedMappings(record);
  }
  EXPECT_TRUE(until([&] { return !held() && recorded().empty(); }, 5000))
      << gatewayHolds() << recorded() << net_.output("cat $(internet_dir)/igd.log");
  EXPECT_TRUE(until(
      [] {
        return internet::recordedRemoval()->await(internet::upnp::budgetOf(nullptr, 0)) &&
               liveWorkers() == 0;
      },
      2000));
}

// address= as a name is looked up at every check, also with upnp=off: the
// endpoints follow what it stands for, public addresses only, with the
// room's port; a failed lookup keeps the last answer until the next one.
std::atomic<int> lookups{0};
bool changingName(const char* name, platform::LookupAnswer& answer) {
  if (std::string(name) != "room.example") return false;
  const int call = lookups++;
  if (call == 0 || call == 2) return false;
  const char* found[] = {call == 1 ? "203.0.113.7" : "203.0.113.8", "10.0.0.5", "2001:db8::7"};
  for (const char* text : found)
    platform::parseNumericAddress(text, answer.addresses[answer.count++]);
  return true;
}

TEST(AddressLookups, ANameIsFollowedAtEveryCheck) {
  internet::PortMapping mapping;
  mapping.setCheckSeconds(1);
  mapping.setNameLookup(changingName);
  net::HostReachSettings settings;
  settings.upnp = false;
  std::snprintf(settings.address.data(), settings.address.size(), "room.example");
  mapping.start(kRoomPort, settings);
  internet::Reachability state = mapping.state();
  EXPECT_EQ(state.note, internet::ReachNote::ConfigAddress);
  EXPECT_STREQ(state.address.data(), "room.example");
  EXPECT_EQ(state.endpointCount, 0);
  const auto shows = [&](const char* first) {
    return until(
        [&] {
          state = mapping.state();
          return state.endpointCount == 2 && endpointText(state, 0) == first;
        },
        8000);
  };
  ASSERT_TRUE(shows("203.0.113.7:6247")) << "the lookup was not tried again";
  EXPECT_EQ(endpointText(state, 1), "[2001:db8::7]:6247");
  ASSERT_TRUE(shows("203.0.113.8:6247")) << "a new answer was not followed";
  EXPECT_GE(lookups.load(), 4);
  mapping.stop();
  EXPECT_TRUE(until([] { return liveWorkers() == 0; }, 2000));
}

}  // namespace
