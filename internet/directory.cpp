#include "internet/directory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <utility>

#include "internet/address_policy.h"
#include "internet/relay_link.h"
#include "internet/xmpp_client.h"
#include "platform/net_local.h"

namespace internet {
namespace {

uint64_t nowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

constexpr char kMucNamespace[] = "http://jabber.org/protocol/muc";
constexpr char kMucUserNamespace[] = "http://jabber.org/protocol/muc#user";
constexpr char kPingNamespace[] = "urn:xmpp:ping";
constexpr char kDiscoInfoNamespace[] = "http://jabber.org/protocol/disco#info";
constexpr char kDataFormsNamespace[] = "jabber:x:data";
// Longest wait of one turn of a worker's loop: how soon it sees its
// owner's wishes.
constexpr uint32_t kTurnMs = 20;
// After its own presence came back, how long a browse lets its leaving and
// its stream's end go out before it closes the connection.
constexpr uint64_t kBrowseLeaveMs = 200;
// After an announcement goes out, the host's ping follows this much later.
constexpr uint64_t kPingAfterUpdateMs = 200;

std::string lowercase(const char* text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

// A nickname of the program's own choosing: "v" and 15 letters or digits.
std::string randomNick(std::mt19937& random) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uniform_int_distribution<size_t> pick(0, sizeof kAlphabet - 2);
  std::string nick = "v";
  for (int i = 0; i < 15; ++i) nick += kAlphabet[pick(random)];
  return nick;
}

uint32_t freshSeed() {
  std::random_device device;
  return device() ^ static_cast<uint32_t>(nowMs());
}

// Plain decimal 1 to 65535.
bool readPort(const std::string* text, uint16_t& port) {
  if (text == nullptr || text->empty() || text->size() > 5 || (*text)[0] == '0' ||
      text->find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long value = std::atol(text->c_str());
  if (value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// The relay a directory's server offers in its answer to a services
// question (XEP-0215): the first TURN service over TCP with a usable host,
// port and credentials (each within its bound). False when it offers none.
bool readRelayService(const xml::Element& answer, RelayOffer& offer) {
  constexpr size_t kMaxCredentialBytes = 256;
  const std::string* type = answer.attribute("type");
  const xml::Element* services = answer.child("services", kServicesNamespace);
  if (type == nullptr || *type != "result" || services == nullptr) return false;
  for (const xml::Element& service : services->children) {
    const std::string* kind = service.attribute("type");
    const std::string* transport = service.attribute("transport");
    const std::string* host = service.attribute("host");
    const std::string* username = service.attribute("username");
    const std::string* password = service.attribute("password");
    platform::Address numeric;
    uint16_t port = 0;
    if (service.name != "service" || kind == nullptr || *kind != "turn" ||
        transport == nullptr || *transport != "tcp" || host == nullptr ||
        (!platform::isHostName(host->c_str()) &&
         !platform::parseNumericAddress(host->c_str(), numeric)) ||
        !readPort(service.attribute("port"), port) || username == nullptr ||
        password == nullptr || username->empty() || password->empty() ||
        username->size() > kMaxCredentialBytes || password->size() > kMaxCredentialBytes) {
      continue;
    }
    offer.host = *host;
    offer.port = port;
    offer.credentials = turn::Credentials{*username, *password};
    offer.receivedAt = relayClockMs();
    return true;
  }
  return false;
}

}  // namespace

// What a worker and its owner share: the owner asks (the room to announce),
// the worker answers (state, outcome).
struct DirectoryWork {
  std::mutex mutex;
  bool finished = false;
  // A browse's outcome.
  bool done = false;
  std::string outcome;
  std::vector<AnnouncedRoom> rooms;
  size_t announced = 0;
  size_t ignored = 0;
  uint64_t bytesRead = 0;
  size_t relayed = 0;
  size_t permitted = 0;
  bool secured = false;  // the last sign-in went over TLS
  // An announcer's room and state.
  HostedRoom wanted;
  uint32_t wantedVersion = 0;
  DirectoryAnnouncer::State state = DirectoryAnnouncer::State::Joining;
  std::string lastFailure;
  // The host's meeting point with its relay (internet/room_relay.h).
  std::shared_ptr<RelayDesk> desk;

  void setState(DirectoryAnnouncer::State next) {
    const std::lock_guard<std::mutex> lock(mutex);
    state = next;
  }
};

namespace {

// Looks the directory's domain up within deadline (numeric addresses at
// once). False when it has no address, or the time ran out.
bool lookUpDomain(const platform::StopToken& token, const DirectoryServer& server,
                  uint64_t deadline, platform::LookupAnswer& addresses, std::string& why) {
  platform::HostLookup lookup;
  lookup.start(server.domain.data());
  for (;;) {
    const platform::Lookup result = lookup.result(addresses, kTurnMs);
    if (result == platform::Lookup::Found) break;
    if (result == platform::Lookup::NotFound || result == platform::Lookup::TimedOut) {
      why = "its name has no address";
      return false;
    }
    if (token.stopRequested() || nowMs() >= deadline) {
      why = "its name was not looked up in time";
      return false;
    }
  }
  for (size_t i = 0; i < addresses.count; ++i) addresses.addresses[i].port = server.port;
  return addresses.count > 0;
}

// One sign-in on one of the directory's addresses, among its shard rooms.
class Client {
 public:
  Client(DirectoryWork& work, const DirectoryServer& server, xmpp::ConnectionLimits limits,
         std::mt19937& random)
      : work_(work),
        random_(random),
        domain_(lowercase(server.domain.data())),
        nick_(randomNick(random)),
        connection_(domain_, limits, [this](const xml::Element& stanza) { onStanza(stanza); }) {}
  virtual ~Client() = default;
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool reached() const { return connection_.reached(); }
  // Why the sign-in ended or failed; empty when it did neither.
  std::string why() const { return why_.empty() ? connection_.failure() : why_; }
  uint64_t bytesRead() const { return connection_.bytesRead(); }

 protected:
  // A shard's occupant count as its room tells it; kNoShard when it does not
  // exist or did not say.
  static constexpr int kNoShard = -1;

  bool start(const platform::Address& address) {
    if (connection_.start(address)) return true;
    fail(connection_.failure());
    return false;
  }
  // One turn of the connection, waiting at most kTurnMs.
  void turn() {
    connection_.turn(kTurnMs);
    if (!signedIn_ && connection_.ready()) {
      signedIn_ = true;
      {
        const std::lock_guard<std::mutex> lock(work_.mutex);
        work_.secured = connection_.secured();
      }
      onSignedIn();
    }
  }
  bool signedIn() const { return signedIn_ && connection_.ready(); }
  bool ended() const { return connection_.ended(); }

  // The connection is up and signed in.
  virtual void onSignedIn() = 0;
  // A presence from shard room `shard` (own: about this client).
  virtual void onPresence(const xml::Element& presence, int shard, bool own) = 0;
  // How many occupants shard room `shard` holds (kNoShard: none said).
  virtual void onCount(int shard, int occupants) = 0;
  virtual void onAnyStanza() {}
  // A stanza from anyone but the shard rooms (the server, another client).
  virtual void onOther(const xml::Element& /*stanza*/, const std::string& /*from*/) {}

  std::string shardJid(int shard) const {
    const char digits[] = {static_cast<char>('0' + shard / 10 % 10),
                           static_cast<char>('0' + shard % 10), 0};
    return std::string(kDirectoryShardPrefix) + digits + "@rooms." + domain_;
  }
  // Asks one shard room (or every one, with -1) how many occupants it holds.
  void askCount(int shard) {
    for (int i = shard < 0 ? 0 : shard; i < (shard < 0 ? kDirectoryShards : shard + 1); ++i) {
      xml::Element iq("iq", xmpp::kClientNamespace);
      iq.setAttribute("type", "get");
      iq.setAttribute("id", "n" + std::to_string(i));
      iq.setAttribute("to", shardJid(i));
      iq.addChild(xml::Element("query", kDiscoInfoNamespace));
      connection_.send(iq);
    }
  }
  // <presence to="shard/nick"> with the chat room's element when joining,
  // and extra when given.
  void sendPresence(int shard, bool join, const xml::Element* extra) {
    xml::Element presence("presence", xmpp::kClientNamespace);
    presence.setAttribute("to", shardJid(shard) + "/" + nick_);
    if (join) {
      xml::Element& x = presence.addChild(xml::Element("x", kMucNamespace));
      x.addChild(xml::Element("history", kMucNamespace)).setAttribute("maxstanzas", "0");
    }
    if (extra != nullptr) presence.addChild(*extra);
    connection_.send(presence);
  }
  void sendLeave(int shard) {
    xml::Element presence("presence", xmpp::kClientNamespace);
    presence.setAttribute("to", shardJid(shard) + "/" + nick_);
    presence.setAttribute("type", "unavailable");
    connection_.send(presence);
  }
  void sendPing() {
    xml::Element iq("iq", xmpp::kClientNamespace);
    iq.setAttribute("type", "get");
    iq.setAttribute("id", "p" + std::to_string(++pings_));
    iq.setAttribute("to", domain_);
    iq.addChild(xml::Element("ping", kPingNamespace));
    connection_.send(iq);
  }
  // Asks the server for its services (a relay, XEP-0215); the answer is an
  // iq result from the domain with isServicesAnswer's id.
  void askServices() {
    xml::Element iq("iq", xmpp::kClientNamespace);
    iq.setAttribute("type", "get");
    iq.setAttribute("id", "s" + std::to_string(++services_));
    iq.setAttribute("to", domain_);
    iq.addChild(xml::Element("services", kServicesNamespace));
    connection_.send(iq);
  }
  bool isServicesAnswer(const xml::Element& stanza, const std::string& from) const {
    const std::string* id = stanza.attribute("id");
    return stanza.name == "iq" && lowercase(from.c_str()) == domain_ && id != nullptr &&
           services_ > 0 &&
           *id == "s" + std::to_string(services_);
  }
  void sendStanza(const xml::Element& stanza) { connection_.send(stanza); }
  const std::string& ownJid() const { return connection_.jid(); }
  const std::string& domain() const { return domain_; }
  void disconnect() { connection_.close(); }
  void newNick() { nick_ = randomNick(random_); }
  void fail(const std::string& why) {
    if (why_.empty()) why_ = why;
  }

  DirectoryWork& work_;
  std::mt19937& random_;

 private:
  // The shard a bare room address names, or kNoShard.
  int shardOf(const std::string& bare) const {
    const std::string prefix = kDirectoryShardPrefix;
    const std::string suffix = "@rooms." + domain_;
    if (bare.size() != prefix.size() + 2 + suffix.size() ||
        bare.compare(0, prefix.size(), prefix) != 0 ||
        bare.compare(prefix.size() + 2, std::string::npos, suffix) != 0) {
      return kNoShard;
    }
    const char tens = bare[prefix.size()];
    const char ones = bare[prefix.size() + 1];
    if (tens < '0' || tens > '9' || ones < '0' || ones > '9') return kNoShard;
    const int shard = (tens - '0') * 10 + (ones - '0');
    return shard < kDirectoryShards ? shard : kNoShard;
  }

  void onStanza(const xml::Element& stanza) {
    onAnyStanza();
    const std::string* from = stanza.attribute("from");
    if (from == nullptr) return;
    const std::string sender = lowercase(from->c_str());
    const size_t slash = sender.find('/');
    const int shard = shardOf(sender.substr(0, slash));
    if (shard == kNoShard) {
      onOther(stanza, *from);  // not one of the directory's rooms
      return;
    }
    if (stanza.name == "iq") {
      const std::string* id = stanza.attribute("id");
      if (slash == std::string::npos && id != nullptr && *id == "n" + std::to_string(shard))
        onCount(shard, occupantsOf(stanza));
      return;
    }
    if (stanza.name != "presence" || slash == std::string::npos) return;
    // The nick as the room gave it (case kept).
    bool own = from->compare(slash + 1, std::string::npos, nick_) == 0;
    if (const xml::Element* x = stanza.child("x", kMucUserNamespace)) {
      for (const xml::Element& status : x->children) {
        const std::string* code = status.attribute("code");
        own = own || (status.name == "status" && code != nullptr && *code == "110");
      }
    }
    onPresence(stanza, shard, own);
  }

  // muc#roominfo_occupants of a room's disco#info answer (XEP-0045 6.4).
  static int occupantsOf(const xml::Element& answer) {
    const std::string* type = answer.attribute("type");
    const xml::Element* query = answer.child("query", kDiscoInfoNamespace);
    const xml::Element* form = query != nullptr ? query->child("x", kDataFormsNamespace) : nullptr;
    if (type == nullptr || *type != "result" || form == nullptr) return kNoShard;
    for (const xml::Element& field : form->children) {
      const std::string* var = field.attribute("var");
      const xml::Element* value = field.child("value", kDataFormsNamespace);
      if (field.name != "field" || var == nullptr || *var != "muc#roominfo_occupants" ||
          value == nullptr) {
        continue;
      }
      const std::string& text = value->text;
      if (text.empty() || text.size() > 6 ||
          text.find_first_not_of("0123456789") != std::string::npos)
        return kNoShard;
      return std::atoi(text.c_str());
    }
    return kNoShard;
  }

  std::string domain_;
  std::string nick_;
  std::string why_;
  xmpp::Connection connection_;
  uint32_t pings_ = 0;
  uint32_t services_ = 0;
  bool signedIn_ = false;
};

// A guest's browse: asks every shard room how many it holds, joins a few
// of them chosen at random (each with a chance by its count, so that every
// announced room has about the same chance), samples the announcements of
// their occupant lists, and chooses the rooms once its own presence has
// come back from each.
class Browser : public Client {
 public:
  Browser(DirectoryWork& work, const DirectoryServer& server, std::mt19937& random)
      : Client(work, server, xmpp::ConnectionLimits{kBrowseBytesMax, 0}, random),
        sample_(random()) {
    counts_.fill(kUnasked);
  }

  // Runs until the rooms are chosen, the connection ends, the owner stops
  // it or deadline passes. True with rooms chosen.
  bool run(const platform::Address& address, uint64_t deadline, const platform::StopToken& token) {
    if (!start(address)) return false;
    // Shards that have not told their count by then are left out.
    const uint64_t countsBy = deadline - (deadline - nowMs()) / 3;
    uint64_t leaveBy = 0;
    // The relayed rooms' hosts have until then to let this machine through,
    // which leaves the time to leave before the refresh's limit.
    permitsBy_ = deadline - kBrowseLeaveMs - kTurnMs;
    for (;;) {
      const uint64_t now = nowMs();
      if (ended() || token.stopRequested()) break;
      if (!joining_ && signedIn() && now >= countsBy) joinShards();
      if (permitting_) permit(now);
      if (chosen_ && leaveBy == 0) leaveBy = now + kBrowseLeaveMs;
      if (chosen_ && now >= leaveBy) break;
      if (!chosen_ && now >= deadline) {
        fail(reached() ? "the room list did not come in time" : "no answer in time");
        break;
      }
      turn();
    }
    if (!chosen_ && why().empty()) fail("the connection ended");
    return chosen_;
  }

  std::vector<AnnouncedRoom> rooms;
  size_t ignored = 0;
  size_t announced() const { return sample_.seen(); }
  size_t relayed() const { return relayed_.size(); }
  size_t permitted() const { return permitted_; }

 protected:
  static constexpr int kUnasked = -2;

  void onSignedIn() override {
    askCount(-1);
    askServices();  // where the relay is, should a relayed room come
  }

  // The server's relay, looked up at once; and the grants of the hosts of
  // relayed rooms.
  void onOther(const xml::Element& stanza, const std::string& from) override {
    if (isServicesAnswer(stanza, from)) {
      RelayOffer offer;
      if (readRelayService(stanza, offer)) {
        relayPort_ = offer.port;
        relayLookup_.start(offer.host.c_str());
      }
      servicesAnswered_ = true;
      return;
    }
    bool granted = false;
    platform::Address address;
    if (!permitting_ || stanza.name != "message" || !readPermitMessage(stanza, granted, address) ||
        !granted || probe_.state() != StunProbe::State::Done ||
        !sameAddress(address, probe_.publicAddress())) {
      return;
    }
    for (Relayed& room : relayed_) {
      if (!room.asked || room.granted || room.chosen.jid != from) continue;
      room.granted = true;
      ++permitted_;
    }
  }

  void onCount(int shard, int occupants) override {
    if (joining_ || counts_[shard] != kUnasked) return;
    counts_[shard] = occupants;
    if (++answered_ == kDirectoryShards) joinShards();
  }

  void onPresence(const xml::Element& presence, int shard, bool own) override {
    if (chosen_ || !joined_[shard]) return;
    const std::string* type = presence.attribute("type");
    if (own) {
      // Our own presence ends the shard's occupant list (or its refusal
      // ends our look at it).
      joined_[shard] = false;
      if (type == nullptr) sendLeave(shard);
      if (--pending_ == 0) choose();
      return;
    }
    if (type != nullptr) return;  // unavailable or an error: no room
    Announcement announcement;
    if (readAnnouncement(presence, announcement)) {
      sample_.offer(std::move(announcement));
    } else {
      ++ignored;
    }
  }

 private:
  // Joins shards in a random order weighted by their counts (each key
  // u^(1/count), largest first) until they hold kBrowseAnnouncements;
  // flooded shards (over kShardCap) are left out.
  void joinShards() {
    joining_ = true;
    std::vector<std::pair<double, int>> order;
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int shard = 0; shard < kDirectoryShards; ++shard) {
      const int count = counts_[shard];
      if (count <= 0 || count > kShardCap) continue;
      order.emplace_back(std::pow(unit(random_), 1.0 / count), shard);
    }
    std::sort(order.begin(), order.end(), std::greater<>());
    size_t held = 0;
    for (const auto& [key, shard] : order) {
      if (held >= kBrowseAnnouncements || pending_ == static_cast<int>(kBrowseShardsMax)) break;
      held += static_cast<size_t>(counts_[shard]);
      joined_[shard] = true;
      ++pending_;
      sendPresence(shard, true, nullptr);
    }
    if (pending_ == 0) choose();  // nothing announced anywhere
  }

  void choose() {
    rooms = chooseRooms(sample_.kept(), random_);
    for (RelayedRoom& room : chooseRelayedRooms(sample_.kept(), random_)) {
      // Only the directory's own relay, and hosts of the directory's own
      // domain: an announcer cannot send a guest anywhere else.
      if (jidDomain(room.jid) == domain()) relayed_.push_back(Relayed{std::move(room)});
    }
    if (relayed_.empty()) {
      finish();
      return;
    }
    permitting_ = true;
  }

  void finish() {
    for (const Relayed& room : relayed_) {
      if (room.granted && rooms.size() < kMaxAnnouncedRooms) rooms.push_back(room.chosen.room);
    }
    permitting_ = false;
    chosen_ = true;
    disconnect();
  }

  // The relayed rooms' turn, step by step: the relay's addresses, this
  // machine's public address as the relay sees it, then each host asked
  // and its grant waited for.
  void permit(uint64_t now) {
    if (now >= permitsBy_) {
      finish();
      return;
    }
    if (!servicesAnswered_) return;
    if (relayPort_ == 0) {
      finish();  // the server offers no relay: no relayed room can be asked
      return;
    }
    if (!relayKnown_) {
      const platform::Lookup found = relayLookup_.result(relayAddresses_);
      if (found == platform::Lookup::Pending) return;
      relayKnown_ = true;
      if (found != platform::Lookup::Found) relayAddresses_.count = 0;
      dropForeignRelays();
      if (relayed_.empty()) {
        finish();
        return;
      }
      platform::Address server = relayed_.front().chosen.room.endpoints.addresses[0];
      server.port = relayPort_;
      probe_.start(server, random_());
    }
    if (probe_.step() == StunProbe::State::Failed) {
      finish();
      return;
    }
    if (probe_.state() != StunProbe::State::Done) return;
    if (!asked_) {
      asked_ = true;
      permitsBy_ = std::min<uint64_t>(permitsBy_, now + kPermitWaitMs);
      for (Relayed& room : relayed_) {
        sendStanza(permitMessage(room.chosen.jid, probe_.publicAddress(), false));
        room.asked = true;
      }
    }
    if (std::all_of(relayed_.begin(), relayed_.end(), [](const Relayed& r) { return r.granted; }))
      finish();
  }

  // A relayed room counts only at an address of the directory's relay (and
  // of the family the first one has, which the probe asks over).
  void dropForeignRelays() {
    relayed_.erase(
        std::remove_if(relayed_.begin(), relayed_.end(),
                       [this](const Relayed& r) {
                         const platform::Address& at = r.chosen.room.endpoints.addresses[0];
                         bool ours = false;
                         for (size_t i = 0; i < relayAddresses_.count; ++i)
                           ours = ours || sameAddress(relayAddresses_.addresses[i], at);
                         return !ours;
                       }),
        relayed_.end());
    if (relayed_.empty()) return;
    const platform::Family family = relayed_.front().chosen.room.endpoints.addresses[0].family;
    relayed_.erase(std::remove_if(relayed_.begin(), relayed_.end(),
                                  [family](const Relayed& r) {
                                    return r.chosen.room.endpoints.addresses[0].family != family;
                                  }),
                   relayed_.end());
  }

  static bool sameAddress(const platform::Address& a, const platform::Address& b) {
    platform::Address x = plainForm(a);
    platform::Address y = plainForm(b);
    x.port = y.port = 0;
    x.scope = y.scope = 0;
    return x == y;
  }

  struct Relayed {
    RelayedRoom chosen;
    bool asked = false;
    bool granted = false;
  };

  AnnouncementSample sample_;
  std::array<int, kDirectoryShards> counts_{};
  std::array<bool, kDirectoryShards> joined_{};
  int answered_ = 0;
  int pending_ = 0;  // shards joined whose lists have not ended
  bool joining_ = false;
  bool chosen_ = false;
  // Relayed rooms chosen, and what asking their hosts needs.
  std::vector<Relayed> relayed_;
  bool permitting_ = false;
  bool servicesAnswered_ = false;
  uint16_t relayPort_ = 0;
  platform::HostLookup relayLookup_;
  platform::LookupAnswer relayAddresses_;
  bool relayKnown_ = false;
  StunProbe probe_;
  bool asked_ = false;
  size_t permitted_ = 0;
  uint64_t permitsBy_ = 0;
};

void runBrowse(const platform::StopToken& token, const std::shared_ptr<DirectoryWork>& work,
               const DirectoryServer& server, uint32_t seed) {
  std::mt19937 random(seed);
  // A little short of the owner's limit, so that the outcome is the
  // worker's own.
  const uint64_t deadline = nowMs() + kDirectoryLimitMs - 4 * kTurnMs;
  platform::LookupAnswer addresses;
  std::string why;
  bool done = false;
  std::vector<AnnouncedRoom> rooms;
  size_t announced = 0;
  size_t ignored = 0;
  size_t relayed = 0;
  size_t permitted = 0;
  uint64_t bytes = 0;
  if (lookUpDomain(token, server, deadline, addresses, why)) {
    for (size_t i = 0; i < addresses.count && !done; ++i) {
      if (token.stopRequested() || nowMs() >= deadline) break;
      Browser browser(*work, server, random);
      done = browser.run(addresses.addresses[i], deadline, token);
      why = done ? "" : browser.why();
      rooms = std::move(browser.rooms);
      announced = browser.announced();
      ignored = browser.ignored;
      relayed = browser.relayed();
      permitted = browser.permitted();
      bytes += browser.bytesRead();
      if (browser.reached()) break;  // the server answered: no other address
    }
  }
  const std::lock_guard<std::mutex> lock(work->mutex);
  work->done = done;
  work->outcome = why;
  work->rooms = std::move(rooms);
  work->announced = announced;
  work->ignored = ignored;
  work->bytesRead = bytes;
  work->relayed = relayed;
  work->permitted = permitted;
  work->finished = true;
}

// The endpoints a host announces: where the internet reaches its room, then
// the machine's public IPv6 addresses with the room's port; each allowed by
// the address policy, each once, at most kMaxEndpoints. A relayed room:
// the relay's address alone, with the host's own address in the directory.
void fillEndpoints(const HostedRoom& room, const std::string& ownJid,
                   Announcement& announcement) {
  announcement.endpointCount = 0;
  const auto add = [&announcement](const platform::Address& endpoint) {
    if (!isAskable(endpoint) || announcement.endpointCount == kMaxEndpoints) return;
    for (size_t i = 0; i < announcement.endpointCount; ++i) {
      if (announcement.endpoints[i] == endpoint) return;
    }
    announcement.endpoints[announcement.endpointCount++] = endpoint;
  };
  announcement.relayJid.clear();
  if (room.relayed) {
    if (room.reachCount > 0 && isRelayJid(ownJid)) {
      add(room.reach[0]);
      announcement.relayJid = ownJid;
    }
    return;
  }
  for (size_t i = 0; i < room.reachCount && i < kMaxEndpoints; ++i) add(room.reach[i]);
  std::array<platform::Address, kMaxEndpoints> own{};
  const size_t count = platform::announceableIpv6Addresses(own.data(), own.size());
  for (size_t i = 0; i < count; ++i) {
    own[i].port = room.roomPort;
    if (isGlobalIpv6(own[i])) add(own[i]);
  }
}

// A host's session in the directory: asks every shard room how many it
// holds, joins the first with room for it (kShardFill) with its
// announcement, keeps it current, pings, moves when its shard fills up
// past kShardCap, and leaves when told to stop.
class Announcer : public Client {
 public:
  Announcer(DirectoryWork& work, const DirectoryServer& server, std::mt19937& random)
      : Client(work, server, xmpp::ConnectionLimits{kAnnouncerBytesMax, kAnnouncerBytesPerSecond},
               random) {
    counts_.fill(kNoShard);
  }

  // Runs until the connection ends or the owner stops it (after leaving).
  // True when the room was announced at some point.
  bool run(const platform::Address& address, const platform::StopToken& token) {
    const uint64_t started = nowMs();
    if (!start(address)) return false;
    lastHeard_ = started;
    uint64_t leaveBy = 0;
    for (;;) {
      const uint64_t now = nowMs();
      if (ended()) break;
      if (leaveBy == 0 && token.stopRequested()) {
        if (!signedIn()) break;  // nothing to leave: signing in was not done
        leaveBy = now + kAnnouncerLeaveLimitMs;
        if (signedIn() && joined_) sendLeave(shard_);
        disconnect();
      }
      if (leaveBy != 0 && now >= leaveBy) break;
      if (leaveBy == 0 && signedIn()) keepUp(now);
      // Shards that have not told their count by now are left out.
      if (leaveBy == 0 && finding_ && now - countsAskedAt_ >= kAnnouncerCountsWaitMs) takeShard();
      // The sign-in, and then each join, has its time; nothing to announce
      // is no join.
      if (leaveBy == 0 && ((!signedIn() && now - started >= kAnnouncerJoinLimitMs) ||
                           (askedAt_ != 0 && now - askedAt_ >= kAnnouncerJoinLimitMs))) {
        fail("it did not let us in in time");
        break;
      }
      if (leaveBy == 0 && now - lastHeard_ >= kAnnouncerSilenceMs) {
        fail("it fell silent");
        break;
      }
      turn();
    }
    if (why().empty() && leaveBy == 0) fail("the connection ended");
    return announcedOnce_;
  }

 protected:
  void onSignedIn() override {
    lastHeard_ = lastPing_ = lastCheck_ = nowMs();
    if (work_.desk != nullptr) askServices();
    findShard();
  }

  void onAnyStanza() override { lastHeard_ = nowMs(); }

  // The server's relay, for the desk; and guests' requests for permissions
  // (from clients of this directory's domain alone).
  void onOther(const xml::Element& stanza, const std::string& from) override {
    if (work_.desk == nullptr) return;
    if (isServicesAnswer(stanza, from)) {
      RelayOffer offer;
      if (readRelayService(stanza, offer)) {
        work_.desk->putOffer(offer);
      } else {
        work_.desk->putNoOffer();
      }
      return;
    }
    bool granted = true;
    PermitRequest request;
    if (stanza.name == "message" && readPermitMessage(stanza, granted, request.address) &&
        !granted && isRelayJid(from) && jidDomain(from) == domain()) {
      request.from = from;
      work_.desk->request(request);
    }
  }

  void onCount(int shard, int occupants) override {
    if (finding_) {
      counts_[shard] = occupants;
      if (++answered_ == kDirectoryShards) takeShard();
    } else if (shard == shard_ && joined_ && occupants > kShardCap) {
      // Flooded: guests no longer look here. Somewhere else.
      sendLeave(shard_);
      joined_ = false;
      findShard();
    }
  }

  void onPresence(const xml::Element& presence, int shard, bool own) override {
    if (!own || shard != shard_) return;
    const std::string* type = presence.attribute("type");
    if (type != nullptr && *type == "error") {
      joined_ = false;
      askedAt_ = 0;
      const xml::Element* error = presence.child("error", xmpp::kClientNamespace);
      const bool nickTaken = error != nullptr && error->child("conflict") != nullptr;
      if (nickTaken && ++refusals_ <= 1) {
        newNick();  // a nickname in use: another one, once
        refresh(true);
        return;
      }
      // Full, or closed to us: the next shard with room.
      counts_[shard_] = kNoShard;
      takeShard();
      return;
    }
    if (type != nullptr && *type == "unavailable") {
      // Our own leaving (nothing left to announce, a move) comes back too;
      // anything else means the room put us out.
      if (joined_) {
        fail("its room put us out");
        joined_ = false;
        disconnect();
      }
      return;
    }
    if (!joined_ && askedAt_ != 0) {
      joined_ = announcedOnce_ = true;
      askedAt_ = 0;
      work_.setState(DirectoryAnnouncer::State::Announced);
    }
  }

 private:
  // again: a new round of the same search, within the time the first one
  // started.
  void findShard(bool again = false) {
    finding_ = true;
    answered_ = 0;
    counts_.fill(kNoShard);
    countsAskedAt_ = nowMs();
    if (!again) askedAt_ = countsAskedAt_;
    askCount(-1);
  }

  // The first shard with fewer than kShardFill occupants, else the first
  // under kShardCap; none: the directory is full for now.
  void takeShard() {
    finding_ = false;
    const bool noneAnswered =
        std::all_of(counts_.begin(), counts_.end(), [](int count) { return count == kNoShard; });
    if (noneAnswered && nowMs() - askedAt_ + kAnnouncerCountsWaitMs < kAnnouncerJoinLimitMs) {
      // Signed in, and not one room told its count: a node of a cluster
      // bringing back the rooms another node held, say. Asked again while
      // the join has time, rather than a pause that doubles.
      findShard(true);
      return;
    }
    askedAt_ = 0;
    shard_ = kNoShard;
    for (const int limit : {kShardFill, kShardCap}) {
      for (int i = 0; i < kDirectoryShards && shard_ == kNoShard; ++i) {
        if (counts_[i] != kNoShard && counts_[i] < limit) shard_ = i;
      }
      if (shard_ != kNoShard) break;
    }
    if (shard_ == kNoShard) {
      fail("it has no room with space for us");
      disconnect();
      return;
    }
    refresh(true);
  }

  void keepUp(uint64_t now) {
    if (work_.desk != nullptr) {
      if (work_.desk->takeOfferWanted()) askServices();
      PermitRequest grant;
      while (work_.desk->takeGrant(grant)) sendStanza(permitMessage(grant.from, grant.address, true));
    }
    if (now - lastPing_ >= kAnnouncerPingMs || (pingAt_ != 0 && now >= pingAt_)) {
      lastPing_ = now;
      pingAt_ = 0;
      sendPing();
    }
    if (joined_ && now - lastCheck_ >= kAnnouncerShardCheckMs) {
      lastCheck_ = now;
      askCount(shard_);
    }
    uint32_t version = 0;
    {
      const std::lock_guard<std::mutex> lock(work_.mutex);
      version = work_.wantedVersion;
    }
    if (shard_ != kNoShard && !finding_ && version != sentVersion_ &&
        now - lastSent_ >= kAnnouncerUpdateMs) {
      refresh(false);
    }
  }

  // Sends the room as wanted now: a join when not in the shard yet (or
  // again), an update otherwise; leaves when there is nothing to announce.
  void refresh(bool join) {
    HostedRoom room;
    {
      const std::lock_guard<std::mutex> lock(work_.mutex);
      room = work_.wanted;
      sentVersion_ = work_.wantedVersion;
    }
    lastSent_ = nowMs();
    Announcement announcement;
    announcement.instance = room.instance;
    announcement.maxPlayers = room.maxPlayers;
    announcement.players = std::min(room.players, room.maxPlayers);
    fillEndpoints(room, ownJid(), announcement);
    xml::Element element;
    if (!buildAnnouncement(announcement, element)) {
      if (joined_) sendLeave(shard_);
      joined_ = false;
      askedAt_ = 0;
      work_.setState(DirectoryAnnouncer::State::Nowhere);
      return;
    }
    if (join || !joined_) {
      sendPresence(shard_, true, &element);
      askedAt_ = lastSent_;
    } else {
      sendPresence(shard_, false, &element);
    }
    // A small stanza of its own soon after: the directory's server then
    // last read a small one, which keeps its read timer (how it notices a
    // vanished host) going; see directory/prosody.cfg.lua.
    pingAt_ = lastSent_ + kPingAfterUpdateMs;
  }

  std::array<int, kDirectoryShards> counts_{};
  int answered_ = 0;
  int shard_ = kNoShard;  // the shard announced in, or about to be
  bool finding_ = false;
  uint64_t lastHeard_ = 0;
  uint64_t lastPing_ = 0;
  uint64_t lastCheck_ = 0;
  uint64_t lastSent_ = 0;
  uint64_t pingAt_ = 0;   // a ping due after an update; 0: none
  uint64_t askedAt_ = 0;  // counts or a join not answered yet; 0: none
  uint64_t countsAskedAt_ = 0;
  uint32_t sentVersion_ = 0;
  int refusals_ = 0;
  bool joined_ = false;
  bool announcedOnce_ = false;
};

void runAnnouncer(const platform::StopToken& token, const std::shared_ptr<DirectoryWork>& work,
                  const DirectoryServer& server, uint32_t seed) {
  std::mt19937 random(seed);
  uint32_t pause = kAnnouncerRetryMs;
  while (!token.stopRequested()) {
    work->setState(DirectoryAnnouncer::State::Joining);
    platform::LookupAnswer addresses;
    std::string why;
    bool announced = false;
    if (lookUpDomain(token, server, nowMs() + kAnnouncerJoinLimitMs, addresses, why)) {
      for (size_t i = 0; i < addresses.count && !token.stopRequested(); ++i) {
        Announcer announcer(*work, server, random);
        announced = announcer.run(addresses.addresses[i], token);
        why = announcer.why();
        // One that took the connection and did not let us in (a node of a
        // cluster that is stopping, say) is no reason to wait before the
        // next address.
        if (announced) break;
      }
    }
    if (token.stopRequested()) break;
    {
      const std::lock_guard<std::mutex> lock(work->mutex);
      work->lastFailure = why;
      work->state = DirectoryAnnouncer::State::Retrying;
    }
    pause = announced ? kAnnouncerRetryMs : std::min(pause * 2, kAnnouncerRetryMaxMs);
    token.sleepFor(pause);
  }
  const std::lock_guard<std::mutex> lock(work->mutex);
  work->state = DirectoryAnnouncer::State::Off;
  work->finished = true;
}

}  // namespace

bool HostedRoom::operator==(const HostedRoom& other) const {
  return instance == other.instance && players == other.players && maxPlayers == other.maxPlayers &&
         reachCount == other.reachCount && reach == other.reach && roomPort == other.roomPort &&
         relayed == other.relayed;
}

void DirectoryBrowse::start(const DirectoryServer& server) {
  cancel();
  if (!server.configured()) return;
  auto work = std::make_shared<DirectoryWork>();
  rooms_.clear();
  outcome_.clear();
  announced_ = ignored_ = 0;
  relayed_ = permitted_ = 0;
  bytesRead_ = 0;
  secured_ = false;
  startedAt_ = nowMs();
  const uint32_t seed = freshSeed();
  if (!worker_.start([work, server, seed](const platform::StopToken& token) {
        runBrowse(token, work, server, seed);
      })) {
    state_ = State::Failed;
    outcome_ = "no thread to ask it on";
    return;
  }
  work_ = std::move(work);
  state_ = State::Asking;
}

DirectoryBrowse::State DirectoryBrowse::poll() {
  if (state_ != State::Asking) return state_;
  {
    const std::lock_guard<std::mutex> lock(work_->mutex);
    if (work_->finished) {
      state_ = work_->done ? State::Done : State::Failed;
      rooms_ = std::move(work_->rooms);
      outcome_ = work_->outcome;
      announced_ = work_->announced;
      ignored_ = work_->ignored;
      secured_ = work_->secured;
      bytesRead_ = work_->bytesRead;
      relayed_ = work_->relayed;
      permitted_ = work_->permitted;
      if (state_ == State::Done) {
        const std::string relayedText =
            relayed_ == 0 ? ""
                          : ", " + std::to_string(relayed_) + " relayed of which " +
                                std::to_string(permitted_) + " let us through";
        // How long the look took tells how close it came to its limit.
        outcome_ = std::to_string(announced_) + " rooms announced, " +
                   std::to_string(rooms_.size()) + " to ask" + relayedText + " (" +
                   std::to_string((bytesRead_ + 1023) / 1024) + " KiB read in " +
                   std::to_string(nowMs() - startedAt_) + " ms" + (secured_ ? ", TLS)" : ")");
      }
    }
  }
  if (state_ == State::Asking && nowMs() - startedAt_ >= kDirectoryLimitMs) {
    state_ = State::Failed;
    outcome_ = "no answer in time";
  }
  if (state_ != State::Asking) {
    worker_.release();  // finished, or asked to end by itself
    work_.reset();
  }
  return state_;
}

std::vector<AnnouncedRoom> DirectoryBrowse::takeRooms() { return std::move(rooms_); }

void DirectoryBrowse::cancel() {
  worker_.release();
  work_.reset();
  state_ = State::Idle;
}

void DirectoryAnnouncer::open(const DirectoryServer& server, const HostedRoom& room,
                              std::shared_ptr<RelayDesk> desk) {
  close();
  if (!server.configured()) return;
  auto work = std::make_shared<DirectoryWork>();
  work->desk = std::move(desk);
  work->wanted = last_ = room;
  work->wantedVersion = 1;
  const uint32_t seed = freshSeed();
  if (!worker_.start([work, server, seed](const platform::StopToken& token) {
        runAnnouncer(token, work, server, seed);
      })) {
    return;  // no thread: the room is not announced (state Off)
  }
  work_ = std::move(work);
}

void DirectoryAnnouncer::update(const HostedRoom& room) {
  if (work_ == nullptr || room == last_) return;
  last_ = room;
  const std::lock_guard<std::mutex> lock(work_->mutex);
  work_->wanted = room;
  ++work_->wantedVersion;
}

bool DirectoryAnnouncer::secured() const {
  if (work_ == nullptr) return false;
  const std::lock_guard<std::mutex> lock(work_->mutex);
  return work_->secured;
}

std::string DirectoryAnnouncer::lastFailure() const {
  if (work_ == nullptr) return "";
  const std::lock_guard<std::mutex> lock(work_->mutex);
  return work_->lastFailure;
}

DirectoryAnnouncer::State DirectoryAnnouncer::state() const {
  if (work_ == nullptr) return State::Off;
  const std::lock_guard<std::mutex> lock(work_->mutex);
  return work_->state;
}

void DirectoryAnnouncer::close() {
  worker_.release();
  work_.reset();
}

}  // namespace internet
