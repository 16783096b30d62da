// Set-up of the tests that look host names up through a name server of
// their own: a scratch network namespace whose resolv.conf names it (the
// test process runs itself again inside), the slow name server
// (slow_dns.py) as a child process, and stand-in rooms that count what
// reaches each port. Linux only; namespaces need root.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "net/wire.h"
#include "records/records.h"
#include "support/net_test_peers.h"

namespace nettest {

// Set in the copy of the test process that runs inside a scratch namespace.
inline constexpr const char* kInsideVariable = "VELLORA_TEST_INSIDE";
inline bool insideNamespace() { return std::getenv(kInsideVariable) != nullptr; }

inline bool quietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// A network namespace "dns<role><pid>" with its loopback up and
// /etc/netns/NAME/resolv.conf naming 127.0.0.1 (what `ip netns exec` shows
// as /etc/resolv.conf inside); all of it removed when destroyed.
class ScratchNamespace {
 public:
  explicit ScratchNamespace(const std::string& role)
      : name_("dns" + role + std::to_string(::getpid())), folder_("/etc/netns/" + name_) {
    if (::geteuid() != 0) {
      why_ = "network namespaces need root";
      return;
    }
    if (!quietly("ip netns add " + name_)) {
      why_ = "cannot make network namespaces here";
      return;
    }
    made_ = true;
    if (!quietly("nsenter --net=/var/run/netns/" + name_ + " ip link set lo up")) {
      why_ = "cannot bring the namespace's loopback up";
      return;
    }
    ::mkdir("/etc/netns", 0755);
    ::mkdir(folder_.c_str(), 0755);
    std::ofstream(folder_ + "/resolv.conf") << "nameserver 127.0.0.1\noptions timeout:2\n";
  }
  ~ScratchNamespace() {
    std::remove((folder_ + "/resolv.conf").c_str());
    ::rmdir(folder_.c_str());
    ::rmdir("/etc/netns");  // only when empty: other namespaces' files stay
    if (made_) quietly("ip netns del " + name_);
  }
  ScratchNamespace(const ScratchNamespace&) = delete;
  ScratchNamespace& operator=(const ScratchNamespace&) = delete;

  // Empty when the namespace is ready; otherwise why it is not.
  const std::string& whyNot() const { return why_; }
  const std::string& name() const { return name_; }

  // Runs this test program again inside the namespace, with only the
  // current test; true when that run passed. Its output is this run's.
  bool runCurrentTestInside() const {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    char self[4096] = {};
    if (::readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return false;
    const std::string command = std::string(kInsideVariable) + "=1 ip netns exec " + name_ + " " +
                                self + " --gtest_filter=" + test->test_suite_name() + "." +
                                test->name();
    return std::system(command.c_str()) == 0;
  }

 private:
  std::string name_;
  std::string folder_;
  std::string why_;
  bool made_ = false;
};

// Runs the calling thread in the network namespace name while it lives;
// sockets made meanwhile belong to that namespace for good.
class ThreadInNamespace {
 public:
  explicit ThreadInNamespace(const std::string& name)
      : home_(::open("/proc/thread-self/ns/net", O_RDONLY)) {
    const int target = ::open(("/var/run/netns/" + name).c_str(), O_RDONLY);
    entered_ = target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (target >= 0) ::close(target);
  }
  ~ThreadInNamespace() {
    if (entered_) ::setns(home_, CLONE_NEWNET);
    ::close(home_);
  }
  ThreadInNamespace(const ThreadInNamespace&) = delete;
  ThreadInNamespace& operator=(const ThreadInNamespace&) = delete;
  bool entered() const { return entered_; }

 private:
  int home_;
  bool entered_ = false;
};

// tests/support/slow_dns.py on 127.0.0.1:53 of the current namespace,
// answering each A query for roomNN.vellora.test after delayMs. Stopped
// when destroyed.
class SlowNameServer {
 public:
  explicit SlowNameServer(int delayMs) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      const std::string delay = std::to_string(delayMs);
      ::execlp("python3", "python3", "tests/support/slow_dns.py", "53", delay.c_str(),
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
    ready_ = readLine(5000) == "ready";
  }
  ~SlowNameServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  SlowNameServer(const SlowNameServer&) = delete;
  SlowNameServer& operator=(const SlowNameServer&) = delete;

  bool ready() const { return ready_; }
  // The queries received so far, "A name" or "AAAA name", counted.
  std::map<std::string, int> queries() {
    for (std::string line; !(line = readLine(50)).empty();) ++queries_[line];
    return queries_;
  }

 private:
  // One line of the server's output, waiting at most ms for each byte;
  // empty when none came.
  std::string readLine(int ms) {
    std::string line;
    for (;;) {
      pollfd p{out_, POLLIN, 0};
      char c = 0;
      if (::poll(&p, 1, ms) <= 0 || ::read(out_, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool ready_ = false;
  std::map<std::string, int> queries_;
};

// Stand-in rooms on 127.0.0.1, ports first..first+count-1, served on a
// thread of their own: each takes connections, answers a room query
// (00 00 00) with a 712-byte record named "RoomNN" and closes. Counts, per
// room, the connections taken and the queries answered.
class CountingRooms {
 public:
  static constexpr int kMaxRooms = 64;
  CountingRooms(uint16_t first, int count) : first_(first) {
    if (count > kMaxRooms) count = kMaxRooms;
    for (int i = 0; i < count; ++i) {
      listeners_.push_back(RawSocket::listenOn(static_cast<uint16_t>(first + i), 64));
      ready_ = ready_ && listeners_.back().valid();
    }
    thread_ = std::thread([this] { serve(); });
  }
  ~CountingRooms() {
    stop_ = true;
    thread_.join();
  }
  CountingRooms(const CountingRooms&) = delete;
  CountingRooms& operator=(const CountingRooms&) = delete;

  bool ready() const { return ready_; }
  int taken(int room) const { return taken_[room]; }
  int asked(int room) const { return asked_[room]; }
  static std::string name(int room) {
    char text[16];
    std::snprintf(text, sizeof text, "Room%02d", room);
    return text;
  }

 private:
  struct Open {
    RawSocket socket;
    int room;
  };
  void serve() {
    std::vector<Open> open;
    while (!stop_) {
      std::vector<pollfd> polls;
      for (const RawSocket& listener : listeners_) polls.push_back({listener.fd(), POLLIN, 0});
      for (const Open& o : open) polls.push_back({o.socket.fd(), POLLIN, 0});
      if (::poll(polls.data(), polls.size(), 5) <= 0) continue;
      for (size_t i = 0; i < listeners_.size(); ++i) {
        if ((polls[i].revents & POLLIN) == 0) continue;
        RawSocket s(::accept(listeners_[i].fd(), nullptr, nullptr));
        if (!s.valid()) continue;
        ++taken_[i];
        open.push_back({std::move(s), static_cast<int>(i)});
      }
      for (auto it = open.begin(); it != open.end();) {
        // A connection that has not sent its three bytes yet waits.
        if (it->socket.pending() < 3) {
          ++it;
          continue;
        }
        const Bytes query = it->socket.take(3, [] {});
        if (query == Bytes{0, 0, 0}) {
          ++asked_[it->room];
          RoomRecord room;
          copyField(room.roomName, name(it->room).c_str());
          room.maxPlayers = 6;
          room.currentPlayers = 1;
          room.port = static_cast<uint16_t>(first_ + it->room);
          const net::RoomBytes bytes = net::toBytes(room);
          it->socket.send(Bytes(bytes.begin(), bytes.end()));
        }
        it = open.erase(it);
      }
    }
  }

  uint16_t first_;
  std::vector<RawSocket> listeners_;
  std::atomic<int> taken_[kMaxRooms]{};
  std::atomic<int> asked_[kMaxRooms]{};
  bool ready_ = true;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace nettest
