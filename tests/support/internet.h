// The internet of tests/support/internet.sh for a C++ test: made by up(),
// removed with everything in it when the object goes (also when the test
// fails). Names carry the test's process id. Needs root and the servers
// that script names.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace inettest {

inline constexpr char kScript[] = "tests/support/internet.sh";
inline constexpr char kWan1[] = "198.51.100.11";
inline constexpr char kWan2[] = "198.51.100.12";
inline constexpr char kHost1[] = "10.221.1.10";
inline constexpr char kHost2[] = "10.221.2.10";

class Internet {
 public:
  Internet() : tag_(std::to_string(::getpid())) {}
  ~Internet() { script("down"); }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;

  // The whole topology with its servers; false when it cannot be made here.
  bool up() { return script("up"); }
  // The namespace of a machine ("h1", "r2"...), for lantest-style entering.
  std::string ns(const std::string& role) const { return "inet" + role + tag_; }
  // Another machine on home 1 or 2's network.
  bool lanMachine(int home, const std::string& role, const std::string& address) {
    return script("lan-machine " + std::to_string(home) + " " + role + " " + address);
  }
  // A shell command inside a machine; true when it exits with 0.
  bool in(const std::string& role, const std::string& command) const {
    return std::system(
               ("nsenter --net=/var/run/netns/" + ns(role) + " " + command + " >/dev/null 2>&1")
                   .c_str()) == 0;
  }
  // Router 1's forwardings, "PORT ADDRESS:PORT" lines (internet_mappings).
  std::string mappings() const { return output("internet_mappings"); }
  // Starts a server inside a machine (internet_start) and waits up to 5 s
  // for "ready" in its log; false when it never said so.
  bool startServer(const std::string& role, const std::string& name, const std::string& command) {
    output("internet_start " + role + " " + name + " " + command);
    for (int i = 0; i < 100; ++i) {
      if (output("cat $(internet_dir)/" + name + ".log").find("ready") != std::string::npos)
        return true;
      ::usleep(50000);
    }
    return false;
  }
  // A function of the script, run with the test's tag; true when it
  // succeeds.
  bool call(const std::string& function) const {
    return std::system(("bash -c '. " + std::string(kScript) + "; INTERNET_TAG=" + tag_ + "; " +
                        function + "' >/dev/null 2>&1")
                           .c_str()) == 0;
  }
  // Standard output of a function of the script, run with the test's tag.
  std::string output(const std::string& function) const {
    const std::string command = "bash -c '. " + std::string(kScript) + "; INTERNET_TAG=" + tag_ +
                                "; " + function + "' 2>/dev/null";
    std::string text;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[256];
      size_t got;
      while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, got);
      ::pclose(pipe);
    }
    return text;
  }

 private:
  bool script(const std::string& arguments) {
    const std::string command =
        std::string("bash ") + kScript + " " + arguments.substr(0, arguments.find(' ')) + " " +
        tag_ +
        (arguments.find(' ') == std::string::npos ? "" : arguments.substr(arguments.find(' '))) +
        " >/dev/null";
    return std::system(command.c_str()) == 0;
  }

  std::string tag_;
};

}  // namespace inettest
