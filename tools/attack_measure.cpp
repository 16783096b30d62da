// Measures a host under attack on loopback, and prints the figures:
//   attack_measure [port] [seconds]
// A host lobby (a child process of its own, paced at 60 frames per second as
// the game's loop is) is hit, in this order, by 64 connections that connect
// and then say nothing (kept open as long as the host keeps them), one guest
// that joins and then floods records as fast as the host takes them without
// ever reading, and, two seconds in, a real guest (the program's own
// NetLink) that joins, then another a second later. Printed: how long a
// real guest took to be given its slot (first without any attack), how long
// the host kept the flooding guest, the host's frames per second and the
// work of its slowest frame, the host's peak resident memory.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <SDL.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "net/lobby_protocol.h"
#include "net/wire.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kIdleConnections = 64;
constexpr double kFrameMs = 1000.0 / 60.0;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

PlayerRecord player(const char* name) {
  PlayerRecord record;
  record.present = 1;
  copyField(record.name, name);
  record.stats = {500, 400, 300, 200};
  return record;
}

int connectRaw(uint16_t port, bool block) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | (block ? 0 : SOCK_NONBLOCK), 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  return fd;
}

// The host: a lobby loop paced to 60 frames per second; prints its figures.
int runHost(uint16_t port, int seconds) {
  net::NetLink link;
  std::array<PlayerRecord, kPlayerSlots> players{};
  RoomRecord room{};
  link.reset();
  link.setMode(net::Host);
  room.maxPlayers = kPlayerSlots;
  room.currentPlayers = 1;
  room.port = port;
  players[0] = player("Host");
  if (!net::openLobby(link, room)) return 1;
  const Clock::time_point start = Clock::now();
  long frames = 0;
  double slowest = 0;
  double totalWork = 0;
  while (msSince(start) < seconds * 1000.0) {
    const Clock::time_point frameStart = Clock::now();
    net::handleLobbyMessages(link, players, room);
    link.flush();
    const double work = msSince(frameStart);
    slowest = work > slowest ? work : slowest;
    totalWork += work;
    ++frames;
    const double next = frames * kFrameMs;
    const double now = msSince(start);
    if (next > now) SDL_Delay(static_cast<Uint32>(next - now));
  }
  const double elapsed = msSince(start) / 1000.0;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  int joined = 0;
  for (int k = 0; k < kPlayerSlots; ++k) joined += link.slotJoined(static_cast<int8_t>(k));
  std::printf("host: %.1f frames per second over %.1f s (paced to 60)\n", frames / elapsed,
              elapsed);
  std::printf("host: frame work %.3f ms on average, %.3f ms at most\n", totalWork / frames,
              slowest);
  std::printf("host: peak resident memory %ld kB\n", usage.ru_maxrss);
  std::printf("host: %d players at the end, %d joined guests\n", room.currentPlayers, joined);
  net::closeLobby(link);
  return 0;
}

// Keeps kIdleConnections connections open and silent; one the host closes
// is opened again 100 ms later.
void idleAttack(uint16_t port, const std::atomic<bool>& stop, std::atomic<long>& reopened) {
  std::vector<int> fds(kIdleConnections);
  std::vector<Clock::time_point> closedAt(kIdleConnections);
  for (int& fd : fds) fd = connectRaw(port, false);
  while (!stop) {
    for (int i = 0; i < kIdleConnections; ++i) {
      if (fds[i] < 0) {
        if (msSince(closedAt[i]) >= 100) {
          fds[i] = connectRaw(port, false);
          ++reopened;
        }
        continue;
      }
      char byte = 0;
      const ssize_t got = ::recv(fds[i], &byte, 1, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN)) {
        ::close(fds[i]);
        fds[i] = -1;
        closedAt[i] = Clock::now();
      }
    }
    SDL_Delay(5);
  }
  for (int fd : fds) {
    if (fd >= 0) ::close(fd);
  }
}

// Joins, then sends records as fast as the host takes them; never reads.
// Notes how long the host kept it (-1: to the end).
void floodAttack(uint16_t port, const std::atomic<bool>& stop, std::atomic<long>& sent,
                 std::atomic<double>& keptMs) {
  const int fd = connectRaw(port, true);
  const uint8_t join[3] = {net::Join, 0, 0};
  ::send(fd, join, sizeof join, MSG_NOSIGNAL);
  std::vector<uint8_t> burst;
  for (int i = 0; i < 64; ++i) {
    const net::PlayerBytes record = net::toBytes(player("Flood"));
    burst.push_back(net::PlayerInfo);
    burst.push_back(static_cast<uint8_t>(net::kPlayerRecordSize));
    burst.push_back(0);
    burst.insert(burst.end(), record.begin(), record.end());
  }
  const Clock::time_point start = Clock::now();
  while (!stop) {
    const ssize_t n = ::send(fd, burst.data(), burst.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) sent += n;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      keptMs = msSince(start);  // the host closed the connection
      break;
    }
    if (n <= 0) SDL_Delay(1);
  }
  ::close(fd);
}

// The real guest: the time from its connection attempt to its slot.
double realGuestJoin(uint16_t port) {
  net::NetLink link;
  std::array<PlayerRecord, kPlayerSlots> players{};
  RoomRecord room{};
  link.reset();
  link.setMode(net::Guest);
  copyField(room.hostAddress, "127.0.0.1");
  room.port = port;
  room.maxPlayers = kPlayerSlots;
  players[0] = player("Real");
  const Clock::time_point start = Clock::now();
  double joinedAfter = -1;
  if (net::openLobby(link, room)) {
    while (msSince(start) < 10000) {
      const net::LobbyChanges changes = net::handleLobbyMessages(link, players, room);
      link.flush();
      if (link.ownSlot() != 0) {
        joinedAfter = msSince(start);
        break;
      }
      if (changes.hostLost) break;
      SDL_Delay(1);
    }
  }
  net::closeLobby(link);
  return joinedAfter;
}

}  // namespace

int main(int argc, char** argv) {
  const auto port = static_cast<uint16_t>(argc > 1 ? std::atoi(argv[1]) : 21900);
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 8;
  std::signal(SIGPIPE, SIG_IGN);
  const pid_t host = fork();
  if (host == 0) return runHost(port, seconds);
  SDL_Delay(300);  // the host listens
  const double quiet = realGuestJoin(port);
  std::atomic<bool> stop{false};
  std::atomic<long> reopened{0};
  std::atomic<long> flooded{0};
  std::atomic<double> floodKept{-1};
  std::thread idle(idleAttack, port, std::cref(stop), std::ref(reopened));
  SDL_Delay(700);
  std::thread flood(floodAttack, port, std::cref(stop), std::ref(flooded), std::ref(floodKept));
  SDL_Delay(1000);
  const double first = realGuestJoin(port);
  SDL_Delay(1000);
  const double second = realGuestJoin(port);
  SDL_Delay(static_cast<Uint32>(seconds * 1000 - 3500 > 0 ? seconds * 1000 - 3500 : 0));
  stop = true;
  idle.join();
  flood.join();
  int status = 0;
  waitpid(host, &status, 0);
  std::printf("attack: %d idle connections (reopened %ld times), flood of %ld bytes\n",
              kIdleConnections, reopened.load(), flooded.load());
  std::printf("real guest: given its slot after %.1f ms without attack\n", quiet);
  std::printf(
      "real guest: given its slot after %.1f ms under attack; a second one after %.1f ms%s\n",
      first, second, first < 0 || second < 0 ? " (-1: never)" : "");
  std::printf("flooding guest: dropped by the host %.0f ms after it started (-1: never)\n",
              floodKept.load());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
