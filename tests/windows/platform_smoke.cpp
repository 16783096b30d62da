// The Windows platform layer end to end, without SDL or GoogleTest so it
// runs under Wine from a bare cross build: sockets over 127.0.0.1 and ::1,
// a refused connect, datagrams, the numeric address forms and a lookup,
// code page 932 and the fonts folder. Prints each failed check; the exit
// status is the number of them.
#include <shlobj.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/net_socket.h"
#include "platform/platform.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  if (ok) return;
  ++failures;
  std::printf("FAILED: %s (%s)\n", what, platform::socketError());
}

// Ports of their own, away from the Linux tests' 20000-21999.
constexpr uint16_t kPort = 23811;
constexpr uint16_t kClosedPort = 23812;
constexpr uint16_t kDatagramPort = 23813;

platform::Address loopback(bool v6, uint16_t port) {
  platform::Address address;
  platform::parseNumericAddress(v6 ? "::1" : "127.0.0.1", address);
  address.port = port;
  return address;
}

// A connection to the listener, accepted, with bytes each way.
void connectAndTalk(const platform::Socket& listener, bool v6) {
  platform::Socket client = platform::startConnect(loopback(v6, kPort));
  check(client.valid(), "connect starts");
  check(platform::connectState(client, 3000) == platform::ConnectState::Connected, "connected");
  platform::PollItem waiting{&listener};
  check(platform::pollSockets(&waiting, 1, 3000) == 1 && waiting.readable, "listener readable");
  platform::Socket server = platform::acceptWaiting(listener);
  check(server.valid(), "accepted");
  check(platform::sendSome(client, "hello", 5) == 5, "sent");
  platform::PollItem incoming{&server};
  check(platform::pollSockets(&incoming, 1, 3000) == 1 && incoming.readable, "data readable");
  char got[8] = {};
  check(platform::receiveSome(server, got, sizeof got) == 5 && std::memcmp(got, "hello", 5) == 0,
        "received");
  check(platform::receiveSome(server, got, sizeof got) == 0, "nothing more waiting");
  client.close();
  check(platform::pollSockets(&incoming, 1, 3000) == 1, "close seen");
  check(platform::receiveSome(server, got, sizeof got) == -1, "close received as -1");
}

void sockets() {
  {
    platform::Socket listener = platform::listenOn(kPort, 8);
    check(listener.valid(), "listens");
    check(!platform::listenOn(kPort, 8).valid(), "a port in use is refused");
    connectAndTalk(listener, false);
    connectAndTalk(listener, true);
  }
  // Closed and opened again at once, over the old connections' TIME_WAIT.
  check(platform::listenOn(kPort, 8).valid(), "listens again at once");

  platform::Socket refused = platform::startConnect(loopback(false, kClosedPort));
  platform::PollItem item{&refused, true};
  check(platform::pollSockets(&item, 1, 5000) == 1 && item.writable, "refused connect polled");
  check(platform::connectState(refused, 5000) == platform::ConnectState::Failed, "refused");
  check(std::strcmp(platform::socketError(), "Connection refused") == 0, "refusal's text");
}

void datagrams() {
  platform::Socket receiver = platform::openDatagram(kDatagramPort, true);
  platform::Socket sender = platform::openDatagram(0, false);
  check(receiver.valid() && sender.valid(), "datagram sockets");
  // A datagram to nobody first: its "port unreachable" must not fail the
  // receives that follow.
  check(platform::sendDatagram(sender, loopback(false, kClosedPort), "x", 1) == 1, "sent lost");
  char big[100];
  std::memset(big, 'b', sizeof big);
  check(platform::sendDatagram(sender, loopback(false, kDatagramPort), "ping", 4) == 4, "sent");
  check(platform::sendDatagram(sender, loopback(false, kDatagramPort), big, 100) == 100, "sent");
  platform::PollItem item{&receiver};
  check(platform::pollSockets(&item, 1, 3000) == 1, "datagram readable");
  char got[16] = {};
  platform::Address from;
  check(platform::receiveDatagram(receiver, got, sizeof got, from) == 4 &&
            std::memcmp(got, "ping", 4) == 0 && from.v4Host() == 0x7F000001,
        "datagram received with its sender");
  platform::pollSockets(&item, 1, 3000);
  check(platform::receiveDatagram(receiver, got, 10, from) == 10, "long datagram cut");
  check(platform::receiveDatagram(receiver, got, sizeof got, from) == platform::kNoDatagram,
        "no datagram waiting");
  platform::pollSockets(&item, 1, 200);
  check(platform::receiveDatagram(sender, got, sizeof got, from) == platform::kNoDatagram,
        "unreachable report swallowed");

  platform::Address found[8];
  const size_t count = platform::broadcastAddresses(found, 8);
  std::printf("broadcast addresses: %zu\n", count);
  for (size_t i = 0; i < count; ++i) {
    std::printf("  %s\n", platform::formatAddress(found[i]).c_str());
    check(!platform::isLoopback(found[i]), "no loopback broadcast");
  }
}

void addresses() {
  platform::Address address;
  check(platform::parseNumericAddress("127.1", address) && address.v4Host() == 0x7F000001, "127.1");
  check(platform::parseNumericAddress("0x7f.1", address) && address.v4Host() == 0x7F000001,
        "0x7f.1");
  check(platform::parseNumericAddress("255.255.255.255", address) && address.v4Host() == 0xFFFFFFFF,
        "255.255.255.255");
  check(platform::parseNumericAddress("[::1]", address) && platform::isLoopback(address) &&
            platform::formatAddress(address) == "::1",
        "[::1]");
  check(!platform::parseNumericAddress("1.2.3.256", address), "1.2.3.256 refused");
  check(!platform::parseNumericAddress("08.1.1.1", address), "08.1.1.1 refused");
  check(!platform::parseNumericAddress("localhost", address), "a name is not numeric");
  platform::LookupAnswer answer;
  check(platform::systemNameLookup("localhost", answer) && answer.count > 0 &&
            platform::isLoopback(answer.addresses[0]),
        "localhost looked up");
}

void codePage() {
  const char* utf8 = "\xE3\x83\x8D\xE3\x83\x83\xE3\x83\x88\xE5\xAF\xBE\xE6\x88\xA6";  // ネット対戦
  const char sjis[] = "\x83\x6C\x83\x62\x83\x67\x91\xCE\x90\xED";
  char out[32] = {};
  check(platform::convertCodePage(utf8, std::strlen(utf8), nullptr, 0, false) == 10, "measured");
  check(platform::convertCodePage(utf8, std::strlen(utf8), out, sizeof out, false) == 10 &&
            std::memcmp(out, sjis, 10) == 0,
        "UTF-8 to Shift-JIS");
  check(platform::convertCodePage(sjis, 10, out, sizeof out, true) == 15 &&
            std::memcmp(out, utf8, 15) == 0,
        "Shift-JIS to UTF-8");
  check(platform::convertCodePage("a\x83 b\x83", 5, out, sizeof out, true) == 5 &&
            std::memcmp(out, "a? b?", 5) == 0,
        "broken lead bytes become '?'");
  check(platform::convertCodePage(sjis, 10, out, 4, true) == 15, "full length past the end");
}

void fonts() {
  check(platform::fontFilePath("MSGOTHIC.TTC").empty(), "no font in a fresh prefix");
  char folder[MAX_PATH] = {};
  check(SHGetSpecialFolderPathA(nullptr, folder, CSIDL_FONTS, FALSE) != FALSE, "fonts folder");
  const std::string meiryo = std::string(folder) + "\\meiryo.ttc";
  const std::string gothic = std::string(folder) + "\\MSGOTHIC.TTC";
  CloseHandle(CreateFileA(meiryo.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  check(platform::fontFilePath("MSGOTHIC.TTC") == meiryo, "Meiryo stands in");
  CloseHandle(CreateFileA(gothic.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  check(platform::fontFilePath("msgothic.ttc") == std::string(folder) + "\\msgothic.ttc" ||
            platform::fontFilePath("MSGOTHIC.TTC") == gothic,
        "MS Gothic first");
  DeleteFileA(meiryo.c_str());
  DeleteFileA(gothic.c_str());
}

}  // namespace

int main() {
  sockets();
  datagrams();
  addresses();
  codePage();
  fonts();
  std::printf("%d failed\n", failures);
  return failures;
}
