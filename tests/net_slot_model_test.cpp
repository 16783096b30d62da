// The host's slots and player count against a simple model, over random
// sequences of what raw clients do on loopback: connect, Join, PlayerInfo,
// Leave, ignored or impossible messages, room queries, closing and resetting.
// After every step the host's slots, joined guests, count and records, and
// every byte each client was sent, must match the model. The seed is
// printed; to replay or to run longer:
//   net_slot_model_test --seed=N --sequences=M
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/net_socket.h"
#include "support/net_test_peers.h"

namespace {

using nettest::Bytes;
using nettest::guestFrame;
using nettest::hostFrame;
using nettest::Lobby;
using nettest::RawSocket;

constexpr uint16_t kPort = 21100;
constexpr int kMaxClients = 8;
constexpr int kStepsPerSequence = 14;
constexpr unsigned long kDefaultSequences = 2000;

// "--name=value" from the command line, or fallback.
unsigned long argument(const char* name, unsigned long fallback) {
  const std::string prefix = std::string("--") + name + "=";
  for (const std::string& arg : testing::internal::GetArgvs()) {
    if (arg.rfind(prefix, 0) == 0) return std::strtoul(arg.c_str() + prefix.size(), nullptr, 10);
  }
  return fallback;
}

uint16_t localPort(nettest::sys::Native fd) { return nettest::sys::localPort(fd); }

// The far end's port of one of the host's connections (the platform's handle
// is the descriptor, or the SOCKET on Windows).
uint16_t peerPort(const platform::Socket* socket) {
  return nettest::sys::peerPort(static_cast<nettest::sys::Native>(socket->handle()));
}

struct Client {
  RawSocket socket;
  int slot = -1;
  bool joined = false;
  Bytes expected;  // what the host still owes it, in order
};

// What the host should hold: per slot, the client in it, when it was
// accepted, whether it has sent anything and whether it joined; the record
// last applied and whether it is present.
struct Model {
  std::array<int, kPlayerSlots> occupant{-1, -1, -1, -1, -1, -1};
  std::array<int, kPlayerSlots> acceptedAt{};  // order of arrival
  std::array<bool, kPlayerSlots> spoke{};
  std::array<bool, kPlayerSlots> joined{};
  std::array<bool, kPlayerSlots> present{};
  std::array<Bytes, kPlayerSlots> record{};

  int count() const {
    int n = 1;
    for (bool j : joined) n += j;
    return n;
  }
  int freeSlot() const {
    for (int k = 1; k < kPlayerSlots; ++k) {
      if (occupant[k] < 0) return k;
    }
    return -1;
  }
  // The slot of the earliest arrival that has sent nothing, or -1.
  int silentSlot() const {
    int oldest = -1;
    for (int k = 1; k < kPlayerSlots; ++k) {
      if (occupant[k] >= 0 && !spoke[k] && (oldest < 0 || acceptedAt[k] < acceptedAt[oldest])) {
        oldest = k;
      }
    }
    return oldest;
  }
};

class SlotModel : public nettest::NetTest {
 protected:
  void startSequence() {
    host_ = std::make_unique<Lobby>();
    ASSERT_TRUE(host_->host(kPort, "Host"));
    // No time-outs here: the model has no clock. A silent connection gives
    // way as soon as a newcomer finds the room full (each step settles
    // before the next, so nobody's first bytes are still on their way).
    host_->link.setJoinTimeout(UINT32_MAX);
    host_->link.setQuietGrace(0);
    model_ = Model{};
    model_.present[0] = true;
    model_.record[0] = nettest::recordBytes(host_->players[0]);
    for (Client& c : clients_) c = Client{};
  }

  // One frame of the host, then the checks that hold at any frame.
  void frame() {
    host_->frame();
    const int count = host_->room.currentPlayers;
    int joined = 0;
    for (int k = 0; k < kPlayerSlots; ++k) joined += host_->link.slotJoined(static_cast<int8_t>(k));
    ASSERT_GE(count, 1);
    ASSERT_LE(count, kPlayerSlots);
    ASSERT_LE(joined, net::kMaxGuests);
  }

  bool hostMatches() const {
    for (int k = 1; k < kPlayerSlots; ++k) {
      const int who = model_.occupant[k];
      const platform::Socket* peer = host_->link.peerSocket(static_cast<int8_t>(k));
      if ((peer != nullptr) != (who >= 0)) return false;
      if (who >= 0 && peerPort(peer) != localPort(clients_[who].socket.fd())) return false;
      if (host_->link.slotJoined(static_cast<int8_t>(k)) != model_.joined[k]) return false;
      if ((host_->players[k].present != 0) != model_.present[k]) return false;
      if (model_.present[k] && nettest::recordBytes(host_->players[k]) != model_.record[k]) {
        return false;
      }
    }
    return host_->room.currentPlayers == model_.count();
  }

  // Runs frames until the host holds what the model says, then checks every
  // client's bytes (and that closed ones were closed).
  void settle(const std::string& step) {
    SCOPED_TRACE(step);
    // Bytes sent over loopback are there to be read at once: two frames
    // take in what the step sent even when it changes nothing.
    for (int i = 0; i < 2; ++i) ASSERT_NO_FATAL_FAILURE(frame());
    for (int i = 0; i < nettest::kMaxSteps && !hostMatches(); ++i) {
      ASSERT_NO_FATAL_FAILURE(frame());
      if (i > 10) SDL_Delay(1);
    }
    ASSERT_TRUE(hostMatches()) << "host state differs from the model";
    int frames = 0;
    const auto waitStep = [this, &frames] {
      frame();
      if (++frames > 10) SDL_Delay(1);
    };
    for (int id = 0; id < kMaxClients; ++id) {
      Client& c = clients_[id];
      if (!c.socket.valid()) continue;
      const Bytes got = c.socket.take(c.expected.size(), waitStep);
      ASSERT_EQ(got, c.expected) << "client " << id;
      c.expected.clear();
      if (c.slot < 0) {
        ASSERT_TRUE(c.socket.waitClosed(waitStep)) << "client " << id;
      }
      ASSERT_EQ(c.socket.pending(), 0u) << "client " << id << " was sent more";
      if (c.slot < 0) c = Client{};
    }
  }

  void relay(int from, const Bytes& frameBytes) {
    for (int k = 1; k < kPlayerSlots; ++k) {
      if (k != from && model_.joined[k]) {
        Bytes& e = clients_[model_.occupant[k]].expected;
        e.insert(e.end(), frameBytes.begin(), frameBytes.end());
      }
    }
  }

  // The slot of client id is freed; a joined one is announced to the rest.
  void freeSlot(int id) {
    Client& c = clients_[id];
    if (c.joined) {
      relay(c.slot, hostFrame(static_cast<uint8_t>(c.slot), net::Leave));
      model_.present[c.slot] = false;
    }
    model_.occupant[c.slot] = -1;
    model_.joined[c.slot] = false;
    model_.spoke[c.slot] = false;
    c.slot = -1;
    c.joined = false;
  }

  std::string connect() {
    int id = 0;
    while (id < kMaxClients && clients_[id].socket.valid()) ++id;
    if (id == kMaxClients) return "";
    Client& c = clients_[id];
    c.socket = RawSocket::connectTo(kPort);
    std::string pushedOut;
    c.slot = model_.freeSlot();
    if (c.slot < 0) {
      // A full room: the earliest connection that has sent nothing gives
      // its slot up without a word; without one the newcomer is closed.
      c.slot = model_.silentSlot();
      if (c.slot > 0) {
        pushedOut = ", pushing out client " + std::to_string(model_.occupant[c.slot]);
        freeSlot(model_.occupant[c.slot]);
      }
    }
    if (c.slot > 0) {
      model_.occupant[c.slot] = id;
      model_.acceptedAt[c.slot] = ++arrivals_;
    }
    return "client " + std::to_string(id) + " connects, slot " + std::to_string(c.slot) + pushedOut;
  }

  void join(int id) {
    Client& c = clients_[id];
    EXPECT_TRUE(c.socket.send(guestFrame(net::Join))) << "a send failed";
    if (c.joined) return;  // a second Join changes nothing
    c.joined = true;
    model_.joined[c.slot] = true;
    const auto k = static_cast<uint8_t>(c.slot);
    c.expected = nettest::join(c.expected, hostFrame(k, net::Join, {k}));
    for (int i = 0; i < kPlayerSlots; ++i) {
      if (i != k && model_.present[i]) {
        c.expected = nettest::join(
            c.expected, hostFrame(static_cast<uint8_t>(i), net::PlayerInfo, model_.record[i]));
      }
    }
  }

  void playerInfo(int id, std::mt19937& random) {
    Client& c = clients_[id];
    PlayerRecord record = nettest::player(("c" + std::to_string(random() % 1000)).c_str(),
                                          static_cast<uint16_t>(random() % 1001));
    record.present = random() % 5 == 0 ? 0 : 1;
    const Bytes bytes = nettest::recordBytes(record);
    EXPECT_TRUE(c.socket.send(guestFrame(net::PlayerInfo, bytes))) << "a send failed";
    if (!c.joined) return;  // not a guest of the lobby yet: ignored
    model_.record[c.slot] = bytes;
    model_.present[c.slot] = record.present != 0;
    relay(c.slot, hostFrame(static_cast<uint8_t>(c.slot), net::PlayerInfo, bytes));
  }

  // Messages that change nothing: unknown types, and records too long to
  // be applied.
  void ignored(int id, std::mt19937& random) {
    const bool longRecord = random() % 2 == 0;
    const auto type =
        longRecord ? uint8_t{net::PlayerInfo} : static_cast<uint8_t>(4 + random() % 252);
    const size_t length = longRecord ? 141 + random() % 300 : random() % 300;
    Bytes payload(length);
    for (uint8_t& b : payload) b = static_cast<uint8_t>(random());
    EXPECT_TRUE(clients_[id].socket.send(guestFrame(type, payload))) << "a send failed";
  }

  std::string act(int id, std::mt19937& random) {
    Client& c = clients_[id];
    const std::string who = "client " + std::to_string(id) + " (slot " + std::to_string(c.slot) +
                            (c.joined ? ", joined) " : ") ");
    const int action = static_cast<int>(random() % 9);
    if (action < 8) model_.spoke[c.slot] = true;  // every action but the last sends
    switch (action) {
      case 0:
      case 1:
        join(id);
        return who + "joins";
      case 2:
      case 3:
        playerInfo(id, random);
        return who + "sends its record";
      case 4:
        EXPECT_TRUE(c.socket.send(guestFrame(net::Leave))) << "a send failed";
        if (c.joined) freeSlot(id);
        return who + "leaves";
      case 5:
        ignored(id, random);
        return who + "sends a message that changes nothing";
      case 6: {
        // 00 00 00: a guest asking for the room has left; anybody else is
        // sent the room and closed.
        EXPECT_TRUE(c.socket.send(Bytes{0, 0, 0})) << "a send failed";
        if (!c.joined) {
          RoomRecord room = host_->room;
          room.currentPlayers = static_cast<uint8_t>(model_.count());
          const net::RoomBytes bytes = net::toBytes(room);
          c.expected = Bytes(bytes.begin(), bytes.end());
        }
        freeSlot(id);
        return who + "asks for the room";
      }
      case 7:
        EXPECT_TRUE(c.socket.send(Bytes{net::PlayerInfo, 0xFF, 0xFF})) << "a send failed";
        freeSlot(id);
        return who + "declares a length that can never fit";
      default: {
        const bool reset = random() % 2 == 0;
        if (reset) {
          c.socket.closeHard();
        } else {
          c.socket.close();
        }
        freeSlot(id);
        c = Client{};
        return who + (reset ? "resets" : "closes");
      }
    }
  }

  void runSequence(std::mt19937& random) {
    ASSERT_NO_FATAL_FAILURE(startSequence());
    for (int step = 0; step < kStepsPerSequence; ++step) {
      std::vector<int> connected;
      for (int id = 0; id < kMaxClients; ++id) {
        if (clients_[id].slot > 0) connected.push_back(id);
      }
      std::string done;
      if (connected.empty() || random() % 4 == 0) {
        done = connect();
      } else {
        done = act(connected[random() % connected.size()], random);
      }
      if (!done.empty()) log_.push_back(done);
      ASSERT_NO_FATAL_FAILURE(settle(done));
    }
    for (int i = 0; i < 5; ++i) ASSERT_NO_FATAL_FAILURE(frame());
    for (int id = 0; id < kMaxClients; ++id) {
      if (clients_[id].socket.valid()) {
        ASSERT_EQ(clients_[id].socket.pending(), 0u) << id;
      }
    }
    host_.reset();
    for (Client& c : clients_) c = Client{};
  }

  std::unique_ptr<Lobby> host_;
  Model model_;
  std::array<Client, kMaxClients> clients_;
  std::vector<std::string> log_;
  int arrivals_ = 0;
};

TEST_F(SlotModel, RandomSequencesKeepSlotsAndCountRight) {
  const unsigned long seed = argument("seed", std::random_device{}());
  const unsigned long sequences = argument("sequences", kDefaultSequences);
  std::printf("slot model: --seed=%lu --sequences=%lu\n", seed, sequences);
  std::mt19937 random(static_cast<std::mt19937::result_type>(seed));
  for (unsigned long i = 0; i < sequences; ++i) {
    log_.clear();
    runSequence(random);
    if (HasFatalFailure()) {
      std::string steps;
      for (const std::string& s : log_) steps += "  " + s + "\n";
      FAIL() << "sequence " << i << " of seed " << seed << ":\n" << steps;
    }
  }
}

}  // namespace
