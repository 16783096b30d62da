// Peers whose link goes down without a word (a cable pulled, Wi-Fi gone): no
// FIN and no reset ever arrives, yet the other side must notice. Each
// machine is a network namespace of its own, joined by veth pairs with
// addresses that exist only inside the test; taking one end of a pair down
// cuts that link. Needs root (skipped, saying why, without it).
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/net_test_peers.h"

namespace {

using nettest::Lobby;

constexpr uint16_t kPort = 23401;

bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// The ip command run inside a namespace. nsenter enters the network
// namespace alone; `ip -n` would also remount /sys in a mount namespace of
// its own, which fails where / is not a mount point (a chroot).
bool ipIn(const std::string& ns, const std::string& arguments) {
  return run("nsenter --net=/var/run/netns/" + ns + " ip " + arguments);
}

// Runs the calling thread in a namespace while it lives; sockets made
// meanwhile belong to that namespace for good.
class InNamespace {
 public:
  explicit InNamespace(const std::string& name)
      : home_(::open("/proc/thread-self/ns/net", O_RDONLY)) {
    const int target = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY);
    entered_ = target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
  }
  ~InNamespace() {
    if (entered_) ::setns(home_, CLONE_NEWNET);
    ::close(home_);
  }
  bool entered() const { return entered_; }

 private:
  int home_;
  bool entered_ = false;
};

// Machines: a host with a guest on a live link and a guest whose link goes
// down; a second host, whose own link goes down, with its guest.
class VanishedPeer : public nettest::NetTest {
 protected:
  void SetUp() override {
    NetTest::SetUp();
    const std::string tag = std::to_string(::getpid());
    for (const char* role : {"h1", "q", "x", "h2", "y"})
      names_.push_back(std::string("vl") + role + tag);
    if (::geteuid() != 0) GTEST_SKIP() << "network namespaces need root";
    for (const std::string& name : names_) {
      if (!run("ip netns add " + name)) GTEST_SKIP() << "cannot make network namespaces here";
    }
    ASSERT_TRUE(link(ns("h1"), "toq", "10.201.1.1", ns("q"), "up0", "10.201.1.2"));
    ASSERT_TRUE(link(ns("h1"), "tox", "10.201.2.1", ns("x"), "up0", "10.201.2.2"));
    ASSERT_TRUE(link(ns("h2"), "toy", "10.201.3.1", ns("y"), "up0", "10.201.3.2"));
  }
  void TearDown() override {
    for (const std::string& name : names_) run("ip netns del " + name);
  }

  std::string ns(const std::string& role) const { return "vl" + role + std::to_string(::getpid()); }
  static bool link(const std::string& a, const char* aEnd, const char* aAddress,
                   const std::string& b, const char* bEnd, const char* bAddress) {
    return run("ip link add " + std::string(aEnd) + " netns " + a + " type veth peer name " + bEnd +
               " netns " + b) &&
           ipIn(a, "addr add " + std::string(aAddress) + "/24 dev " + aEnd) &&
           ipIn(b, "addr add " + std::string(bAddress) + "/24 dev " + bEnd) &&
           ipIn(a, "link set " + std::string(aEnd) + " up") &&
           ipIn(b, "link set " + std::string(bEnd) + " up");
  }
  bool host(Lobby& lobby, const std::string& role) {
    const InNamespace in(ns(role));
    return in.entered() && lobby.host(kPort);
  }
  bool guest(Lobby& lobby, const std::string& role, const char* name, const char* hostAddress) {
    const InNamespace in(ns(role));
    return in.entered() && lobby.guest(kPort, name, hostAddress);
  }

  std::vector<std::string> names_;
};

TEST_F(VanishedPeer, EachSideNoticesWithinThirtySecondsAndAQuietLivePeerStays) {
  Lobby host1, quiet, cut, host2, orphan;
  ASSERT_TRUE(host(host1, "h1"));
  ASSERT_TRUE(host(host2, "h2"));
  ASSERT_TRUE(guest(quiet, "q", "Quiet", "10.201.1.1"));
  ASSERT_TRUE(guest(cut, "x", "Cut", "10.201.2.1"));
  ASSERT_TRUE(guest(orphan, "y", "Orphan", "10.201.3.1"));
  ASSERT_TRUE(
      nettest::runUntil([&] { return host1.arrivals[1] && host1.arrivals[2] && host2.arrivals[1]; },
                        {&host1, &quiet, &cut, &host2, &orphan}));
  const int cutSlot = cut.link.ownSlot();
  const int quietSlot = quiet.link.ownSlot();
  ASSERT_EQ(host1.room.currentPlayers, 3);

  ASSERT_TRUE(ipIn(ns("x"), "link set up0 down"));   // the guest's link
  ASSERT_TRUE(ipIn(ns("h2"), "link set toy down"));  // the other host's link
  const Uint32 cutAt = SDL_GetTicks();
  Uint32 guestGone = 0;
  Uint32 hostGone = 0;
  // The game's pace is kept loosely (20 frames a second) for 40 s at most,
  // and at least until the keep-alive of the live link has had its turns.
  while (SDL_GetTicks() - cutAt < 40000 &&
         (guestGone == 0 || hostGone == 0 || SDL_GetTicks() - cutAt < 25000)) {
    for (Lobby* lobby : {&host1, &quiet, &cut, &host2, &orphan}) lobby->frame();
    if (guestGone == 0 && host1.leaves[cutSlot] == 1) guestGone = SDL_GetTicks() - cutAt;
    if (hostGone == 0 && orphan.hostLost == 1) hostGone = SDL_GetTicks() - cutAt;
    SDL_Delay(50);
  }
  std::printf(
      "the host freed the cut guest's slot after %u ms; the guest of the cut host "
      "noticed after %u ms\n",
      guestGone, hostGone);
  ASSERT_NE(guestGone, 0u) << "the host kept the slot of a guest whose link went down";
  ASSERT_NE(hostGone, 0u) << "the guest kept waiting for a host whose link went down";
  EXPECT_LE(guestGone, 30000u);
  EXPECT_LE(hostGone, 30000u);
  EXPECT_EQ(host1.room.currentPlayers, 2);
  EXPECT_EQ(host1.players[cutSlot].present, 0);
  // The quiet guest on a live link is still there, on both sides.
  EXPECT_TRUE(host1.link.slotJoined(static_cast<int8_t>(quietSlot)));
  EXPECT_EQ(host1.leaves[quietSlot], 0);
  EXPECT_EQ(quiet.hostLost, 0);
}

}  // namespace
