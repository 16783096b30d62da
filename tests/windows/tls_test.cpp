// TLS through Schannel end to end, against the Linux servers of
// tests/support/tls_peer.py (run by tests/windows/tls_test.sh, which makes a
// test CA that this side trusts): text both ways, fed one byte at a time;
// an untrusted CA, a trusted certificate for another name, garbage, an
// oversized record, and a server that sends one byte of its handshake every
// 1.9 s. The socket loop is this test's own, with a deadline for each
// session. Prints each failed check; the exit status is the number of them.
// Usage: tls_test.exe ADDRESS (the servers' address, their ports fixed).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/net_socket.h"
#include "platform/tls.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::TlsState;

// tests/support/tls_peer.py's ports.
constexpr uint16_t kEchoPort = 24431;       // the trusted CA's certificate
constexpr uint16_t kUntrustedPort = 24432;  // another CA's, for the same name
constexpr uint16_t kGarbagePort = 24433;
constexpr uint16_t kHugeRecordPort = 24434;
constexpr uint16_t kSlowPort = 24435;
constexpr const char* kName = "tls.test";

// Longer than a record holds, so the text goes both ways in several.
constexpr size_t kLineLength = 40000;

int failures = 0;

void check(bool ok, const std::string& what) {
  if (ok) return;
  ++failures;
  std::printf("FAILED: %s\n", what.c_str());
}

const char* stateName(TlsState state) {
  switch (state) {
    case TlsState::Handshaking:
      return "Handshaking";
    case TlsState::Open:
      return "Open";
    case TlsState::Closed:
      return "Closed";
    case TlsState::Failed:
      return "Failed";
  }
  return "?";
}

struct Session {
  TlsState state = TlsState::Handshaking;
  std::string failure;
  std::string plain;         // the text received
  size_t received = 0;       // bytes from the server
  double longestCallMs = 0;  // of any one call to the TLS client
  double seconds = 0;        // from the connection to the end of the loop
};

// One session with the server at address:port, for serverName. With a
// line, sends it once Open, closes once as many bytes came back, and goes
// on until the server's close. Ends at Closed, at Failed, when the server
// drops the connection, or at the deadline.
Session run(const platform::Address& server, const char* serverName, const std::string& line,
            bool oneByteAtATime, double deadlineSeconds) {
  Session session;
  platform::Socket socket = platform::startConnect(server);
  if (!socket.valid() ||
      platform::connectState(socket, 3000) != platform::ConnectState::Connected) {
    session.failure = std::string("no connection: ") + platform::socketError();
    session.state = TlsState::Failed;
    return session;
  }
  const Clock::time_point began = Clock::now();
  auto timed = [&session](auto call) {
    const Clock::time_point before = Clock::now();
    call();
    const std::chrono::duration<double, std::milli> took = Clock::now() - before;
    session.longestCallMs = std::max(session.longestCallMs, took.count());
  };
  std::unique_ptr<platform::TlsClient> tls;
  timed([&] { tls = platform::startTls(serverName); });
  if (!tls) {
    session.failure = "startTls gave no client";
    session.state = TlsState::Failed;
    return session;
  }
  std::string outgoing;
  bool written = false;
  bool closed = false;
  while (std::chrono::duration<double>(Clock::now() - began).count() < deadlineSeconds) {
    timed([&] { tls->takeToSend(outgoing); });
    while (!outgoing.empty()) {
      const int sent = platform::sendSome(socket, outgoing.data(), outgoing.size());
      if (sent <= 0) break;
      outgoing.erase(0, static_cast<size_t>(sent));
    }
    if (session.state == TlsState::Closed || session.state == TlsState::Failed) break;

    platform::PollItem item{&socket};
    platform::pollSockets(&item, 1, 20);
    uint8_t bytes[4096];
    const int got = platform::receiveSome(socket, bytes, sizeof bytes);
    if (got < 0) break;
    for (int i = 0; i < got;) {
      const int count = oneByteAtATime ? 1 : got;
      timed([&] { tls->putReceived(bytes + i, static_cast<size_t>(count)); });
      i += count;
      session.received += static_cast<size_t>(count);
      timed([&] { session.state = tls->advance(); });
      for (size_t n = 1; n > 0;) {
        uint8_t text[1000];
        timed([&] { n = tls->readPlain(text, sizeof text); });
        session.plain.append(reinterpret_cast<const char*>(text), n);
      }
      timed([&] { session.state = tls->advance(); });
    }
    if (session.state == TlsState::Open && !line.empty() && !written) {
      timed([&] {
        written = tls->writePlain(reinterpret_cast<const uint8_t*>(line.data()), line.size());
      });
    }
    if (session.state == TlsState::Open && written && !closed &&
        session.plain.size() >= line.size()) {
      // An orderly end from this side; the server's close_notify still
      // comes in.
      timed([&] { tls->close(); });
      closed = true;
    }
  }
  if (session.state == TlsState::Failed) session.failure = tls->failure();
  session.seconds = std::chrono::duration<double>(Clock::now() - began).count();
  return session;
}

std::string describe(const char* name, const Session& session) {
  char text[160];
  std::snprintf(text, sizeof text,
                "%s: %s after %.1f s, %zu bytes in, %zu of text, longest call %.1f ms", name,
                stateName(session.state), session.seconds, session.received, session.plain.size(),
                session.longestCallMs);
  std::string line = text;
  if (!session.failure.empty()) line += " (" + session.failure + ")";
  std::printf("%s\n", line.c_str());
  return line;
}

platform::Address at(const platform::Address& host, uint16_t port) {
  platform::Address address = host;
  address.port = port;
  return address;
}

void textBothWays(const platform::Address& host) {
  std::string line(kLineLength, '\0');
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<char>('a' + i * 7 % 26);
  line += '\n';
  const Session session = run(at(host, kEchoPort), kName, line, true, 20);
  const std::string said = describe("text both ways", session);
  // The server answers with the line reversed, then closes in order.
  std::string expected(line.rbegin() + 1, line.rend());
  expected += '\n';
  check(session.state == TlsState::Closed, said + ": not closed in order");
  check(session.plain == expected, said + ": the text that came back is not the line reversed");
}

void refusedCertificates(const platform::Address& host) {
  const Session untrusted = run(at(host, kUntrustedPort), kName, "hello\n", false, 10);
  const std::string said = describe("an untrusted CA", untrusted);
  check(untrusted.state == TlsState::Failed, said + ": not refused");
  check(untrusted.failure.find("certificate not trusted") == 0, said + ": not the certificate");
  check(untrusted.plain.empty(), said + ": text arrived");

  const Session otherName = run(at(host, kEchoPort), "elsewhere.test", "hello\n", false, 10);
  const std::string saidOther = describe("another name", otherName);
  check(otherName.state == TlsState::Failed, saidOther + ": not refused");
  check(otherName.failure.find("elsewhere.test") != std::string::npos,
        saidOther + ": the reason does not name the name");
  check(otherName.plain.empty(), saidOther + ": text arrived");
}

// Both servers keep the connection open, so only the bytes can end these.
void notTls(const platform::Address& host) {
  for (const auto& [name, port] :
       {std::pair{"garbage", kGarbagePort}, std::pair{"an oversized record", kHugeRecordPort}}) {
    const Session session = run(at(host, port), kName, "hello\n", false, 10);
    const std::string said = describe(name, session);
    check(session.state == TlsState::Failed && session.received > 0, said + ": not refused");
    check(session.seconds < 5, said + ": refused only at the deadline");
    check(session.plain.empty(), said + ": text arrived");
  }
}

// The server sends its real handshake one byte every 1.9 s: every call
// returns at once, and this side's own deadline ends the session.
void slowServer(const platform::Address& host) {
  const double deadline = 5;
  const Session session = run(at(host, kSlowPort), kName, "hello\n", false, deadline);
  const std::string said = describe("one byte every 1.9 s", session);
  check(session.state == TlsState::Handshaking, said + ": no longer handshaking");
  check(session.received >= 2, said + ": the server's bytes did not come");
  check(session.longestCallMs < 1000, said + ": a call waited");
  check(session.seconds < deadline + 1, said + ": the deadline did not end it");
}

}  // namespace

int main(int argc, char** argv) {
  platform::Address host;
  if (argc != 2 || !platform::parseNumericAddress(argv[1], host)) {
    std::printf("usage: tls_test.exe ADDRESS\n");
    return 100;
  }
  check(!platform::startTls(""), "a client for no name");
  textBothWays(host);
  refusedCertificates(host);
  notTls(host);
  slowServer(host);
  std::printf("%d failed\n", failures);
  return failures;
}
