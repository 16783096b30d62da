// A helper program a test starts (a stand-in server, a script), with its
// standard output in a pipe the test reads line by line within a bound;
// ended (SIGTERM, then waited for) when the object goes, however the test
// ends. Linux only.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace testsupport {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int out[2];
    if (::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(out[1]);
    out_ = out[0];
  }
  ~ChildProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // One line of output, waiting at most ms for each byte; empty when none.
  std::string line(int ms) {
    std::string text;
    for (;;) {
      pollfd p{out_, POLLIN, 0};
      char c = 0;
      if (::poll(&p, 1, ms) <= 0 || ::read(out_, &c, 1) != 1 || c == '\n') return text;
      text += c;
    }
  }
  // Reads lines until one is `wanted`; false after ms in all.
  bool waitFor(const std::string& wanted, int ms) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until) {
      if (line(ms) == wanted) return true;
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

}  // namespace testsupport
