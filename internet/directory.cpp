#include "internet/directory.h"

#include <strophe.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

#include "net/discovery.h"
#include "platform/net_library.h"

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
// Longest wait of one turn of a worker's event loop: how soon it sees a
// request of its owner.
constexpr unsigned long kTurnMs = 20;
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

uint32_t seedFromDevice() {
  std::random_device device;
  return device() ^ net::discoveryRandom();
}

}  // namespace

// What a worker and its owner share. The owner asks (stop, the room to
// announce) and watches the clock; the worker answers (state, outcome) and
// lends the owner a second handle to its connection, so that a call of the
// library blocked on it (a stalled TLS handshake) can be woken.
struct DirectoryWork {
  std::mutex mutex;
  bool stop = false;
  bool finished = false;
  uint64_t wakeAt = 0;  // steady ms from which the owner wakes the connection; 0: never
  platform::Socket wakeHandle;
  // A browse's outcome.
  bool done = false;
  std::string outcome;
  std::vector<AnnouncedRoom> rooms;
  size_t announced = 0;
  size_t ignored = 0;
  bool secured = false;  // the last sign-in went over TLS
  // An announcer's room and state.
  HostedRoom wanted;
  uint32_t wantedVersion = 0;
  DirectoryAnnouncer::State state = DirectoryAnnouncer::State::Joining;

  bool stopping() {
    const std::lock_guard<std::mutex> lock(mutex);
    return stop;
  }
  // The owner's watchdog: wakes the connection once its time is up.
  void watch(uint64_t now) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (wakeAt != 0 && now >= wakeAt) platform::wakeConnection(wakeHandle);
  }
  void setWakeAt(uint64_t at) {
    const std::lock_guard<std::mutex> lock(mutex);
    wakeAt = at;
  }
  void requestStop(uint64_t wakeFrom) {
    const std::lock_guard<std::mutex> lock(mutex);
    stop = true;
    if (wakeAt == 0 || wakeFrom < wakeAt) wakeAt = wakeFrom;
  }
};

namespace {

// Workers whose owners have let them go: joined once finished (reaped),
// and all of them by stopDirectoryWorkers.
struct Retired {
  std::mutex mutex;
  std::vector<std::pair<std::thread, std::shared_ptr<DirectoryWork>>> workers;
};

Retired& retired() {
  static Retired* const list = new Retired;
  return *list;
}

void reapRetired() {
  Retired& list = retired();
  std::vector<std::thread> finished;
  {
    const std::lock_guard<std::mutex> lock(list.mutex);
    const uint64_t now = nowMs();
    for (auto it = list.workers.begin(); it != list.workers.end();) {
      it->second->watch(now);
      bool done = false;
      {
        const std::lock_guard<std::mutex> workLock(it->second->mutex);
        done = it->second->finished;
      }
      if (done) {
        finished.push_back(std::move(it->first));
        it = list.workers.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (std::thread& worker : finished) worker.join();
}

void retire(std::thread& worker, std::shared_ptr<DirectoryWork>& work, uint64_t wakeFrom) {
  if (!worker.joinable()) return;
  work->requestStop(wakeFrom);
  {
    Retired& list = retired();
    const std::lock_guard<std::mutex> lock(list.mutex);
    list.workers.emplace_back(std::move(worker), work);
  }
  work.reset();
  reapRetired();
}

// Joins whatever is still running when the program ends, before the TLS
// library's own clean-up at exit (made after the library started, so it
// goes first).
struct EndOfProgram {
  ~EndOfProgram() { stopDirectoryWorkers(); }
};

void startLibrary() {
  static std::once_flag started;
  std::call_once(started, [] {
    xmpp_initialize();
    static EndOfProgram end;
  });
}

// The worker whose library calls run on this thread, for the socket
// callback (which has no user data of its own).
thread_local DirectoryWork* currentWork = nullptr;

// Every connection the library makes: the platform's settings, and a
// second handle for the owner's watchdog.
int tuneSocket(xmpp_conn_t*, void* socket) {
  const platform::SocketHandle handle = platform::librarySocket(socket);
  platform::tuneLibraryConnection(handle);
  if (currentWork != nullptr) {
    platform::Socket second = platform::duplicateConnection(handle);
    const std::lock_guard<std::mutex> lock(currentWork->mutex);
    currentWork->wakeHandle = std::move(second);
  }
  return 0;
}

// Looks the directory's domain up within deadline (numeric addresses at
// once). False when it has no address, or the time ran out.
bool lookUpDomain(DirectoryWork& work, const DirectoryServer& server, uint64_t deadline,
                  platform::LookupAnswer& addresses, std::string& why) {
  platform::HostLookup lookup;
  lookup.start(server.domain.data());
  for (;;) {
    const platform::Lookup result = lookup.result(addresses, 20);
    if (result == platform::Lookup::Found) break;
    if (result == platform::Lookup::NotFound || result == platform::Lookup::TimedOut) {
      why = "its name has no address";
      return false;
    }
    if (work.stopping() || nowMs() >= deadline) {
      why = "its name was not looked up in time";
      return false;
    }
  }
  for (size_t i = 0; i < addresses.count; ++i) addresses.addresses[i].port = server.port;
  return addresses.count > 0;
}

// One sign-in on one of the directory's addresses: the library's context
// and connection, released with the object.
class Client {
 public:
  Client(DirectoryWork& work, const DirectoryServer& server, std::mt19937& random)
      : work_(work),
        random_(random),
        domain_(lowercase(server.domain.data())),
        room_(std::string(kDirectoryRoomName) + "@rooms." + domain_) {
    ctx_ = xmpp_ctx_new(nullptr, nullptr);
    if (ctx_ != nullptr) conn_ = xmpp_conn_new(ctx_);
    nick_ = randomNick(random_);
  }
  virtual ~Client() {
    currentWork = &work_;
    if (conn_ != nullptr) xmpp_conn_release(conn_);
    if (ctx_ != nullptr) xmpp_ctx_free(ctx_);
    currentWork = nullptr;
    const std::lock_guard<std::mutex> lock(work_.mutex);
    work_.wakeHandle.close();
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Starts connecting; false when the library refused at once.
  bool connect(const platform::Address& address) {
    if (conn_ == nullptr) return false;
    xmpp_conn_set_jid(conn_, domain_.c_str());  // a domain alone: SASL ANONYMOUS
    xmpp_conn_set_flags(conn_, 0);              // TLS when offered, certificate checked
    xmpp_conn_set_sockopt_callback(conn_, tuneSocket);
    const std::string host = platform::formatAddress(address);
    currentWork = &work_;
    const int result = xmpp_connect_client(conn_, host.c_str(), address.port, onConnection, this);
    currentWork = nullptr;
    return result == XMPP_EOK;
  }

  // One turn of the event loop, waiting at most ms.
  void turn(unsigned long ms) {
    currentWork = &work_;
    xmpp_run_once(ctx_, ms);
    currentWork = nullptr;
  }

  bool connected() const { return connected_; }
  bool ended() const { return ended_; }
  // Whether the server ever answered: a connection was made.
  bool reached() const { return reached_; }
  const std::string& why() const { return why_; }

 protected:
  // The connection is up and signed in.
  virtual void onSignedIn() = 0;
  // A presence from the directory's room: from its occupant nick.
  virtual void onPresence(xmpp_stanza_t* presence, const std::string& nick, bool own) = 0;
  virtual void onAnyStanza() {}

  // <presence to="room/nick"> with the chat room's element, and extra when
  // given (ownership passes to the stanza).
  void sendJoin(xmpp_stanza_t* extra) {
    xmpp_stanza_t* presence = xmpp_presence_new(ctx_);
    xmpp_stanza_set_to(presence, (room_ + "/" + nick_).c_str());
    xmpp_stanza_t* x = xmpp_stanza_new(ctx_);
    xmpp_stanza_set_name(x, "x");
    xmpp_stanza_set_ns(x, kMucNamespace);
    xmpp_stanza_t* history = xmpp_stanza_new(ctx_);
    xmpp_stanza_set_name(history, "history");
    xmpp_stanza_set_attribute(history, "maxstanzas", "0");
    xmpp_stanza_add_child(x, history);
    xmpp_stanza_release(history);
    xmpp_stanza_add_child(presence, x);
    xmpp_stanza_release(x);
    if (extra != nullptr) {
      xmpp_stanza_add_child(presence, extra);
      xmpp_stanza_release(extra);
    }
    xmpp_send(conn_, presence);
    xmpp_stanza_release(presence);
  }
  // A presence update in the room (no chat room element), with extra.
  void sendPresence(xmpp_stanza_t* extra) {
    xmpp_stanza_t* presence = xmpp_presence_new(ctx_);
    xmpp_stanza_set_to(presence, (room_ + "/" + nick_).c_str());
    if (extra != nullptr) {
      xmpp_stanza_add_child(presence, extra);
      xmpp_stanza_release(extra);
    }
    xmpp_send(conn_, presence);
    xmpp_stanza_release(presence);
  }
  void sendLeave() {
    xmpp_stanza_t* presence = xmpp_presence_new(ctx_);
    xmpp_stanza_set_to(presence, (room_ + "/" + nick_).c_str());
    xmpp_stanza_set_type(presence, "unavailable");
    xmpp_send(conn_, presence);
    xmpp_stanza_release(presence);
  }
  void sendPing() {
    const std::string id = "p" + std::to_string(++pings_);
    xmpp_stanza_t* iq = xmpp_iq_new(ctx_, "get", id.c_str());
    xmpp_stanza_set_to(iq, domain_.c_str());
    xmpp_stanza_t* ping = xmpp_stanza_new(ctx_);
    xmpp_stanza_set_name(ping, "ping");
    xmpp_stanza_set_ns(ping, kPingNamespace);
    xmpp_stanza_add_child(iq, ping);
    xmpp_stanza_release(ping);
    xmpp_send(conn_, iq);
    xmpp_stanza_release(iq);
  }
  void disconnect() {
    if (connected_) xmpp_disconnect(conn_);
  }
  void newNick() { nick_ = randomNick(random_); }
  void fail(const std::string& why) {
    if (why_.empty()) why_ = why;
  }

  DirectoryWork& work_;
  std::mt19937& random_;
  xmpp_ctx_t* ctx_ = nullptr;
  xmpp_conn_t* conn_ = nullptr;

 private:
  static void onConnection(xmpp_conn_t* conn, xmpp_conn_event_t event, int error,
                           xmpp_stream_error_t* streamError, void* data) {
    auto* self = static_cast<Client*>(data);
    if (event == XMPP_CONN_CONNECT) {
      self->connected_ = self->reached_ = true;
      self->secured_ = xmpp_conn_is_secured(conn) != 0;
      {
        const std::lock_guard<std::mutex> lock(self->work_.mutex);
        self->work_.secured = self->secured_;
      }
      xmpp_handler_add(conn, onPresenceStanza, nullptr, "presence", nullptr, self);
      xmpp_handler_add(conn, onStanza, nullptr, nullptr, nullptr, self);
      self->onSignedIn();
      return;
    }
    if (event == XMPP_CONN_RAW_CONNECT) return;
    // The library has closed its socket: so does the watchdog's handle.
    {
      const std::lock_guard<std::mutex> lock(self->work_.mutex);
      self->work_.wakeHandle.close();
    }
    if (self->connected_) {
      self->fail("the connection ended");
    } else if (streamError != nullptr) {
      self->reached_ = true;
      self->fail("it refused the sign-in");
    } else if (error != 0) {
      self->fail("the connection failed (" + std::string(std::strerror(error)) + ")");
    } else {
      self->fail("the connection failed (refused, or TLS with a certificate not trusted)");
    }
    self->connected_ = false;
    self->ended_ = true;
  }

  static int onStanza(xmpp_conn_t*, xmpp_stanza_t*, void* data) {
    static_cast<Client*>(data)->onAnyStanza();
    return 1;
  }

  static int onPresenceStanza(xmpp_conn_t*, xmpp_stanza_t* stanza, void* data) {
    auto* self = static_cast<Client*>(data);
    const char* from = xmpp_stanza_get_from(stanza);
    if (from == nullptr) return 1;
    const std::string sender = lowercase(from);
    const std::string prefix = self->room_ + "/";
    if (sender.compare(0, prefix.size(), prefix) != 0) return 1;  // not from the room
    // The nick as the room gave it (case kept).
    const std::string nick(from + prefix.size());
    bool own = nick == self->nick_;
    xmpp_stanza_t* x = xmpp_stanza_get_child_by_name_and_ns(stanza, "x", kMucUserNamespace);
    for (xmpp_stanza_t* child = x != nullptr ? xmpp_stanza_get_children(x) : nullptr;
         child != nullptr; child = xmpp_stanza_get_next(child)) {
      const char* name = xmpp_stanza_get_name(child);
      const char* code = xmpp_stanza_get_attribute(child, "code");
      if (name != nullptr && std::strcmp(name, "status") == 0 && code != nullptr &&
          std::strcmp(code, "110") == 0) {
        own = true;
      }
    }
    self->onPresence(stanza, nick, own);
    return 1;
  }

  std::string domain_;
  std::string room_;
  std::string nick_;
  std::string why_;
  uint32_t pings_ = 0;
  bool connected_ = false;
  bool ended_ = false;
  bool reached_ = false;
  bool secured_ = false;
};

// A guest's browse: joins, samples the announcements of the occupant list,
// and chooses the rooms once its own presence comes back.
class Browser : public Client {
 public:
  Browser(DirectoryWork& work, const DirectoryServer& server, std::mt19937& random)
      : Client(work, server, random), sample_(random()) {}

  // Runs until the rooms are chosen, the connection ends, the owner stops
  // it or deadline passes. True with rooms chosen.
  bool run(const platform::Address& address, uint64_t deadline) {
    if (!connect(address)) {
      fail("the connection could not be started");
      return false;
    }
    uint64_t leaveBy = 0;
    for (;;) {
      const uint64_t now = nowMs();
      if (ended() || work_.stopping()) break;
      if (chosen_ && leaveBy == 0) leaveBy = now + kBrowseLeaveMs;
      if (chosen_ && now >= leaveBy) break;
      if (!chosen_ && now >= deadline) {
        fail(connected() ? "the room list did not come in time" : "no answer in time");
        break;
      }
      turn(kTurnMs);
    }
    return chosen_;
  }

  std::vector<AnnouncedRoom> rooms;
  size_t ignored = 0;
  size_t announced() const { return sample_.seen(); }

 protected:
  void onSignedIn() override { sendJoin(nullptr); }

  void onPresence(xmpp_stanza_t* presence, const std::string&, bool own) override {
    if (chosen_) return;
    const char* type = xmpp_stanza_get_type(presence);
    if (type != nullptr && std::strcmp(type, "error") == 0) {
      // Only an error about our own joining ends the browse.
      if (own) {
        fail("its room refused to let us in");
        disconnect();
      }
      return;
    }
    if (own) {
      rooms = chooseRooms(sample_.kept(), random_);
      chosen_ = true;
      sendLeave();
      disconnect();
      return;
    }
    if (type != nullptr) return;  // unavailable: gone already
    Announcement announcement;
    if (readAnnouncement(presence, announcement)) {
      sample_.offer(std::move(announcement));
    } else {
      ++ignored;
    }
  }

 private:
  AnnouncementSample sample_;
  bool chosen_ = false;
};

void runBrowse(std::shared_ptr<DirectoryWork> work, DirectoryServer server, uint32_t seed) {
  platform::shieldLibraryThread();
  startLibrary();
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
  if (lookUpDomain(*work, server, deadline, addresses, why)) {
    for (size_t i = 0; i < addresses.count && !done; ++i) {
      if (work->stopping() || nowMs() >= deadline) break;
      Browser browser(*work, server, random);
      done = browser.run(addresses.addresses[i], deadline);
      why = done ? "" : browser.why();
      rooms = std::move(browser.rooms);
      announced = browser.announced();
      ignored = browser.ignored;
      if (browser.reached()) break;  // the server answered: no other address
    }
  }
  const std::lock_guard<std::mutex> lock(work->mutex);
  work->done = done;
  work->outcome = why;
  work->rooms = std::move(rooms);
  work->announced = announced;
  work->ignored = ignored;
  work->finished = true;
}

// The endpoints a host announces: its reach address (looked up when it is a
// name) with the reach port, then its global IPv6 addresses with the room's
// port; each askable, each once, at most kMaxEndpoints.
class Endpoints {
 public:
  // Fills announcement's endpoints for room; may wait up to a lookup's
  // limit for a name.
  void fill(const HostedRoom& room, DirectoryWork& work, Announcement& announcement) {
    announcement.endpointCount = 0;
    if (!room.reachAddress.empty() && room.reachPort != 0) {
      if (room.reachAddress != resolvedName_) {
        resolvedName_ = room.reachAddress;
        resolved_ = platform::LookupAnswer{};
        platform::HostLookup lookup;
        lookup.start(room.reachAddress.c_str());
        for (;;) {
          const platform::Lookup result = lookup.result(resolved_, 20);
          if (result != platform::Lookup::Pending || work.stopping()) break;
        }
      }
      for (size_t i = 0; i < resolved_.count; ++i) {
        platform::Address endpoint = resolved_.addresses[i];
        endpoint.port = room.reachPort;
        add(announcement, endpoint);
      }
    }
    std::array<platform::Address, kMaxEndpoints> own{};
    const size_t count = platform::globalIpv6Addresses(own.data(), own.size());
    for (size_t i = 0; i < count; ++i) {
      own[i].port = room.roomPort;
      add(announcement, own[i]);
    }
  }

 private:
  static void add(Announcement& announcement, const platform::Address& endpoint) {
    if (!isAskable(endpoint) || announcement.endpointCount == kMaxEndpoints) return;
    for (size_t i = 0; i < announcement.endpointCount; ++i) {
      if (announcement.endpoints[i] == endpoint) return;
    }
    announcement.endpoints[announcement.endpointCount++] = endpoint;
  }

  std::string resolvedName_;
  platform::LookupAnswer resolved_;
};

// A host's session in the directory: joins with its announcement, keeps it
// current, pings, and leaves when told to stop.
class Announcer : public Client {
 public:
  Announcer(DirectoryWork& work, const DirectoryServer& server, std::mt19937& random,
            Endpoints& endpoints)
      : Client(work, server, random), endpoints_(endpoints) {}

  // Runs until the connection ends or the owner stops it (after leaving).
  // True when the room was announced at some point.
  bool run(const platform::Address& address) {
    const uint64_t started = nowMs();
    work_.setWakeAt(started + kAnnouncerJoinLimitMs);
    if (!connect(address)) {
      fail("the connection could not be started");
      return false;
    }
    lastHeard_ = started;
    uint64_t leaveBy = 0;
    for (;;) {
      const uint64_t now = nowMs();
      if (ended()) break;
      if (leaveBy == 0 && work_.stopping()) {
        leaveBy = now + kAnnouncerLeaveLimitMs;
        if (connected()) {
          if (joined_) sendLeave();
          disconnect();
        }
      }
      if (leaveBy != 0 && now >= leaveBy) break;
      if (leaveBy == 0 && connected()) keepUp(now);
      // The sign-in, and then each join, has its time; nothing to announce
      // is no join.
      if (leaveBy == 0 && ((!connected() && now - started >= kAnnouncerJoinLimitMs) ||
                           (joinSentAt_ != 0 && now - joinSentAt_ >= kAnnouncerJoinLimitMs))) {
        fail("it did not let us in in time");
        break;
      }
      if (leaveBy == 0 && now - lastHeard_ >= kAnnouncerSilenceMs) {
        fail("it fell silent");
        break;
      }
      turn(kTurnMs);
    }
    return announcedOnce_;
  }

 protected:
  void onSignedIn() override {
    lastHeard_ = lastPing_ = nowMs();
    work_.setWakeAt(0);  // past TLS: nothing of the library's blocks any more
    refresh(true);
  }

  void onAnyStanza() override { lastHeard_ = nowMs(); }

  void onPresence(xmpp_stanza_t* presence, const std::string&, bool own) override {
    if (!own) return;
    const char* type = xmpp_stanza_get_type(presence);
    if (type != nullptr && std::strcmp(type, "error") == 0) {
      // A nickname in use, most likely: another one, once.
      joined_ = false;
      if (++refusals_ > 1) {
        fail("its room refused to let us in");
        disconnect();
        return;
      }
      newNick();
      refresh(true);
      return;
    }
    if (type != nullptr && std::strcmp(type, "unavailable") == 0) {
      // Our own leaving (nothing left to announce) comes back too; anything
      // else means the room put us out.
      if (joined_) {
        fail("its room put us out");
        joined_ = false;
        disconnect();
      }
      return;
    }
    if (!joined_) {
      joined_ = announcedOnce_ = true;
      joinSentAt_ = 0;
      setState(DirectoryAnnouncer::State::Announced);
    }
  }

 private:
  void keepUp(uint64_t now) {
    if (now - lastPing_ >= kAnnouncerPingMs || (pingAt_ != 0 && now >= pingAt_)) {
      lastPing_ = now;
      pingAt_ = 0;
      sendPing();
    }
    uint32_t version = 0;
    {
      const std::lock_guard<std::mutex> lock(work_.mutex);
      version = work_.wantedVersion;
    }
    if (version != sentVersion_ && now - lastSent_ >= kAnnouncerUpdateMs) refresh(false);
  }

  // Sends the room as wanted now: a join when not in the room yet (or
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
    announcement.name = room.name.substr(0, kMaxNameBytes);
    announcement.comment = room.comment.substr(0, kMaxCommentBytes);
    announcement.instance = room.instance;
    announcement.maxPlayers = room.maxPlayers;
    announcement.players = std::min(room.players, room.maxPlayers);
    endpoints_.fill(room, work_, announcement);
    xmpp_stanza_t* element = buildAnnouncement(ctx_, announcement);
    if (element == nullptr) {
      if (joined_) sendLeave();
      joined_ = false;
      joinSentAt_ = 0;
      setState(DirectoryAnnouncer::State::Nowhere);
      return;
    }
    if (join || !joined_) {
      sendJoin(element);
      joinSentAt_ = lastSent_;
    } else {
      sendPresence(element);
    }
    // A small stanza of its own soon after: the directory's server then
    // last read a small one, which keeps its read timer (how it notices a
    // vanished host) going; see directory/prosody.cfg.lua.
    pingAt_ = lastSent_ + kPingAfterUpdateMs;
  }

  void setState(DirectoryAnnouncer::State state) {
    const std::lock_guard<std::mutex> lock(work_.mutex);
    work_.state = state;
  }

  Endpoints& endpoints_;
  uint64_t lastHeard_ = 0;
  uint64_t lastPing_ = 0;
  uint64_t lastSent_ = 0;
  uint64_t pingAt_ = 0;      // a ping due after an update; 0: none
  uint64_t joinSentAt_ = 0;  // a join not answered yet; 0: none
  uint32_t sentVersion_ = 0;
  int refusals_ = 0;
  bool joined_ = false;
  bool announcedOnce_ = false;
};

void setAnnouncerState(DirectoryWork& work, DirectoryAnnouncer::State state) {
  const std::lock_guard<std::mutex> lock(work.mutex);
  work.state = state;
}

void runAnnouncer(std::shared_ptr<DirectoryWork> work, DirectoryServer server, uint32_t seed) {
  platform::shieldLibraryThread();
  startLibrary();
  std::mt19937 random(seed);
  Endpoints endpoints;
  uint32_t pause = kAnnouncerRetryMs;
  while (!work->stopping()) {
    setAnnouncerState(*work, DirectoryAnnouncer::State::Joining);
    platform::LookupAnswer addresses;
    std::string why;
    bool announced = false;
    if (lookUpDomain(*work, server, nowMs() + kAnnouncerJoinLimitMs, addresses, why)) {
      for (size_t i = 0; i < addresses.count && !work->stopping(); ++i) {
        Announcer announcer(*work, server, random, endpoints);
        announced = announcer.run(addresses.addresses[i]);
        if (announced || announcer.reached()) break;
      }
    }
    work->setWakeAt(0);
    if (work->stopping()) break;
    setAnnouncerState(*work, DirectoryAnnouncer::State::Retrying);
    pause = announced ? kAnnouncerRetryMs : std::min(pause * 2, kAnnouncerRetryMaxMs);
    const uint64_t until = nowMs() + pause;
    while (nowMs() < until && !work->stopping())
      std::this_thread::sleep_for(std::chrono::milliseconds(kTurnMs));
  }
  const std::lock_guard<std::mutex> lock(work->mutex);
  work->state = DirectoryAnnouncer::State::Off;
  work->finished = true;
}

}  // namespace

bool HostedRoom::operator==(const HostedRoom& other) const {
  return name == other.name && comment == other.comment && instance == other.instance &&
         players == other.players && maxPlayers == other.maxPlayers &&
         reachAddress == other.reachAddress && reachPort == other.reachPort &&
         roomPort == other.roomPort;
}

void DirectoryBrowse::start(const DirectoryServer& server) {
  cancel();
  if (!server.configured()) return;
  work_ = std::make_shared<DirectoryWork>();
  rooms_.clear();
  outcome_.clear();
  announced_ = ignored_ = 0;
  secured_ = false;
  startedAt_ = static_cast<uint32_t>(nowMs());
  work_->setWakeAt(nowMs() + kDirectoryLimitMs);
  worker_ = std::thread(runBrowse, work_, server, seedFromDevice());
  state_ = State::Asking;
}

DirectoryBrowse::State DirectoryBrowse::poll() {
  if (state_ != State::Asking) return state_;
  const uint64_t now = nowMs();
  work_->watch(now);
  {
    const std::lock_guard<std::mutex> lock(work_->mutex);
    if (work_->finished) {
      state_ = work_->done ? State::Done : State::Failed;
      rooms_ = std::move(work_->rooms);
      outcome_ = work_->outcome;
      announced_ = work_->announced;
      ignored_ = work_->ignored;
      secured_ = work_->secured;
    }
  }
  if (state_ != State::Asking) {
    worker_.join();  // it has finished
    work_.reset();
  } else if (static_cast<uint32_t>(now) - startedAt_ >= kDirectoryLimitMs) {
    // Given up: the worker is left to end by itself, its connection shut.
    state_ = State::Failed;
    outcome_ = "no answer in time";
    retire(worker_, work_, now);
  }
  reapRetired();
  return state_;
}

std::vector<AnnouncedRoom> DirectoryBrowse::takeRooms() { return std::move(rooms_); }

void DirectoryBrowse::cancel() {
  if (worker_.joinable()) retire(worker_, work_, nowMs());
  work_.reset();
  state_ = State::Idle;
}

void DirectoryAnnouncer::open(const DirectoryServer& server, const HostedRoom& room) {
  close();
  if (!server.configured()) return;
  work_ = std::make_shared<DirectoryWork>();
  work_->wanted = last_ = room;
  work_->wantedVersion = 1;
  worker_ = std::thread(runAnnouncer, work_, server, seedFromDevice());
}

void DirectoryAnnouncer::update(const HostedRoom& room) {
  if (!worker_.joinable()) return;
  work_->watch(nowMs());
  if (room != last_) {
    last_ = room;
    const std::lock_guard<std::mutex> lock(work_->mutex);
    work_->wanted = room;
    ++work_->wantedVersion;
  }
  reapRetired();
}

bool DirectoryAnnouncer::secured() const {
  if (!worker_.joinable()) return false;
  const std::lock_guard<std::mutex> lock(work_->mutex);
  return work_->secured;
}

DirectoryAnnouncer::State DirectoryAnnouncer::state() const {
  if (!worker_.joinable()) return State::Off;
  const std::lock_guard<std::mutex> lock(work_->mutex);
  return work_->state;
}

void DirectoryAnnouncer::close() {
  if (worker_.joinable()) retire(worker_, work_, nowMs() + kAnnouncerLeaveLimitMs);
  work_.reset();
}

void stopDirectoryWorkers() {
  Retired& list = retired();
  std::vector<std::pair<std::thread, std::shared_ptr<DirectoryWork>>> all;
  {
    const std::lock_guard<std::mutex> lock(list.mutex);
    all.swap(list.workers);
  }
  for (auto& entry : all) {
    entry.second->requestStop(nowMs());
    entry.second->watch(nowMs());
  }
  for (auto& entry : all) entry.first.join();
}

}  // namespace internet
