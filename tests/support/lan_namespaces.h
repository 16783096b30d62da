// A local network made by a test: network namespaces as machines, each
// member joined by a veth pair to one bridge that lives in a namespace of
// its own, plus point-to-point links for machines beyond a router. The
// addresses exist only inside these namespaces, so no traffic leaves them.
// Every name starts with "lan" and carries the test's process id; all of it
// is removed when the object goes (deleting a namespace deletes its ends of
// the pairs, and a veth pair dies with either end). Needs root.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace lantest {

inline bool run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class LanNet {
 public:
  LanNet() : tag_(std::to_string(::getpid())) {}
  ~LanNet() {
    for (const std::string& name : made_) run("ip netns del " + name);
  }
  LanNet(const LanNet&) = delete;
  LanNet& operator=(const LanNet&) = delete;

  // The namespace of a machine ("h1", "g", ...), by the name ip knows it.
  std::string ns(const std::string& role) const { return "lan" + role + tag_; }

  // Makes the machine's namespace with its loopback up; false when
  // namespaces cannot be made here.
  bool machine(const std::string& role) {
    if (!run("ip netns add " + ns(role))) return false;
    made_.push_back(ns(role));
    return ip(role, "link set lo up");
  }
  // Makes the bridge's namespace and its bridge "lanbr0".
  bool bridge() {
    return machine("br") && ip("br", "link add lanbr0 type bridge") &&
           ip("br", "link set lanbr0 up");
  }
  // Puts a machine on the bridge as "lane0" with address/24.
  bool join(const std::string& role, const std::string& address) {
    const std::string port = "lanp" + std::to_string(++ports_);
    return run("ip link add " + port + " netns " + ns("br") + " type veth peer name lane0 netns " +
               ns(role)) &&
           ip("br", "link set " + port + " master lanbr0") &&
           ip("br", "link set " + port + " up") &&
           ip(role, "addr add " + address + "/24 dev lane0") && ip(role, "link set lane0 up");
  }
  // A point-to-point link between two machines, ends a and b.
  bool link(const std::string& a, const std::string& aEnd, const std::string& aAddress,
            const std::string& b, const std::string& bEnd, const std::string& bAddress) {
    return run("ip link add " + aEnd + " netns " + ns(a) + " type veth peer name " + bEnd +
               " netns " + ns(b)) &&
           ip(a, "addr add " + aAddress + "/24 dev " + aEnd) &&
           ip(b, "addr add " + bAddress + "/24 dev " + bEnd) && ip(a, "link set " + aEnd + " up") &&
           ip(b, "link set " + bEnd + " up");
  }
  // The ip command inside a machine. nsenter enters the network namespace
  // alone; `ip -n` would also remount /sys, which fails in a chroot.
  bool ip(const std::string& role, const std::string& arguments) const {
    return in(role, "ip " + arguments);
  }
  bool in(const std::string& role, const std::string& command) const {
    return run("nsenter --net=/var/run/netns/" + ns(role) + " " + command);
  }

 private:
  std::string tag_;
  std::vector<std::string> made_;
  int ports_ = 0;
};

// Runs the calling thread in a machine's namespace while it lives; sockets
// made meanwhile belong to that namespace for good, whichever thread later
// uses them.
class Inside {
 public:
  Inside(const LanNet& net, const std::string& role)
      : home_(::open("/proc/thread-self/ns/net", O_RDONLY)) {
    const int target = ::open(("/var/run/netns/" + net.ns(role)).c_str(), O_RDONLY);
    entered_ = home_ >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
  }
  ~Inside() {
    if (entered_) ::setns(home_, CLONE_NEWNET);
    if (home_ >= 0) ::close(home_);
  }
  Inside(const Inside&) = delete;
  Inside& operator=(const Inside&) = delete;
  bool entered() const { return entered_; }

 private:
  int home_;
  bool entered_ = false;
};

}  // namespace lantest
