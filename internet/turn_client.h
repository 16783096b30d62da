// The program's own client of a relay's server (TURN over TCP, RFC 5766,
// with TCP relays, RFC 6062), without sockets: bytes from the server go in,
// bytes for it come out, and the time is the caller's. One Control speaks
// on the control connection: it allocates a relayed TCP address with the
// credentials a room directory handed out (the first Allocate is refused
// with 401 and the realm and nonce, the second carries the long-term
// credential), refreshes the allocation before its lifetime ends, asks and
// renews permissions for guests' addresses, and reports the connections
// guests make to the relayed address (ConnectionAttempt). One Bind speaks
// on each data connection until its ConnectionBind succeeds; from then on
// the connection carries the guest's bytes unchanged.
//
// Every message is read whole within the bounds of internet/stun_message.h
// before it is used; a success that answers an authenticated request counts
// only with a MESSAGE-INTEGRITY that the key makes; a request unanswered
// for kAnswerLimitMs, a message that cannot be read, or a refused
// allocation ends the conversation with one reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "internet/stun_message.h"
#include "platform/net_socket.h"

namespace internet::turn {

// A request not answered within this ends the conversation.
inline constexpr uint32_t kAnswerLimitMs = 5000;
// The allocation's lifetime asked for; the server may give less (and never
// gives less than it likes). It is refreshed when half of what the server
// gave has run, but never more often than every kMinRefreshMs.
inline constexpr uint32_t kRequestedLifetimeS = 600;
inline constexpr uint32_t kMinRefreshMs = 5000;
// A permission lasts 300 s (RFC 5766 8); one kept is renewed after this.
inline constexpr uint32_t kPermissionRenewMs = 240000;
// Requests in flight at once, and reports waiting to be taken, at most;
// past those a permission asked for is refused at once and a connection
// attempt is left to time out on the server.
inline constexpr size_t kMaxPending = 16;
inline constexpr size_t kMaxReports = 16;
// A 401 or 438 answered with a new realm or nonce, at most, per request.
inline constexpr int kAuthRetries = 2;

// A directory's credentials for its relay (internet/room_relay.h).
struct Credentials {
  std::string username;
  std::string password;
};

// What authenticates a request once the server has named its realm and
// nonce: the control connection's, shared by its data connections.
struct Auth {
  std::string username;
  std::string realm;
  std::string nonce;
  stun::Key key{};
  bool ready = false;
};

// Messages taken whole from one connection's bytes.
class MessageStream {
 public:
  enum class Next : uint8_t { None, Message, Failed };
  // Reads from bytes[*used..length), stopping after one whole message; adds
  // to *used what it took. Failed is sticky (failure() says why).
  Next read(const uint8_t* bytes, size_t length, size_t* used);
  const stun::Message& message() const { return message_; }
  const std::string& raw() const { return raw_; }
  stun::Read failure() const { return failure_; }

 private:
  std::string raw_;  // the message being read, at most kMaxMessageSize
  bool complete_ = false;
  stun::Message message_;
  stun::Read failure_ = stun::Read::Ok;
};

// A request in flight, and what to send it again with.
struct Pending {
  stun::Transaction transaction{};
  uint16_t method = 0;
  uint32_t lifetime = 0;     // Allocate, Refresh
  platform::Address peer;    // CreatePermission
  uint32_t connectionId = 0; // ConnectionBind
  uint64_t sentAt = 0;
  int retries = 0;
  bool authenticated = false;
};

class Control {
 public:
  enum class State : uint8_t { Allocating, Allocated, Released, Failed };

  Control(Credentials credentials, uint32_t seed);
  // Sends the first Allocate.
  void start(uint64_t now);
  // Bytes from the server, in order.
  void receive(const uint8_t* bytes, size_t length, uint64_t now);
  // Refreshes and renewals that are due; requests that ran out of time.
  void tick(uint64_t now);
  // Appends what is to be sent to the server to out.
  void takeOutgoing(std::string& out);

  // Allocated: asks for a permission for peer's address (its port plays
  // no part), kept and renewed until forget; the outcome comes through
  // takePermit. False when too many requests are in flight.
  bool permit(const platform::Address& peer, uint64_t now);
  void forget(const platform::Address& peer);
  // Ends the allocation (a Refresh with lifetime 0); Released once the
  // server has answered.
  void release(uint64_t now);

  State state() const { return state_; }
  const std::string& failure() const { return failure_; }
  // No request is waiting for its answer.
  bool idle() const { return pending_.empty(); }
  // Allocated: the relayed address guests connect to, and the lifetime the
  // server gave, in seconds.
  const platform::Address& relayed() const { return relayed_; }
  uint32_t lifetime() const { return lifetime_; }
  const Auth& auth() const { return auth_; }

  // A guest connected to the relayed address (ConnectionAttempt).
  struct Attempt {
    uint32_t connectionId = 0;
    platform::Address peer;
  };
  bool takeAttempt(Attempt& attempt);
  // The server's answer to a permission asked for.
  struct Permit {
    platform::Address peer;
    bool granted = false;
    int errorCode = 0;  // refused: the server's error, 0 when it timed out
  };
  bool takePermit(Permit& permit);

 private:
  void send(Pending pending, uint64_t now);
  void onMessage(uint64_t now);
  void onAnswer(const stun::Message& m, Pending pending, uint64_t now);
  void fail(const std::string& why);

  Credentials credentials_;
  std::mt19937 random_;
  Auth auth_;
  MessageStream stream_;
  std::string outgoing_;
  std::vector<Pending> pending_;
  State state_ = State::Allocating;
  std::string failure_;
  platform::Address relayed_;
  uint32_t lifetime_ = 0;
  uint64_t refreshAt_ = 0;
  struct Kept {
    platform::Address peer;
    uint64_t renewAt = 0;
  };
  std::vector<Kept> kept_;
  std::deque<Attempt> attempts_;
  std::deque<Permit> permits_;
};

// One data connection's ConnectionBind, authenticated as its control
// connection is.
class Bind {
 public:
  enum class State : uint8_t { Binding, Bound, Failed };

  Bind(Credentials credentials, const Auth& auth, uint32_t connectionId, uint32_t seed);
  void start(uint64_t now);
  // Bytes from the server. Once Bound, *used stops right after the
  // success: the bytes after it are the guest's.
  void receive(const uint8_t* bytes, size_t length, size_t* used, uint64_t now);
  void tick(uint64_t now);
  void takeOutgoing(std::string& out);
  State state() const { return state_; }
  const std::string& failure() const { return failure_; }

 private:
  void send(uint64_t now);
  void fail(const std::string& why);

  Credentials credentials_;
  Auth auth_;
  std::mt19937 random_;
  MessageStream stream_;
  Pending pending_;
  std::string outgoing_;
  State state_ = State::Binding;
  std::string failure_;
};

// The server's error, in a few printable words: "486 Allocation Quota
// Reached" (its reason with anything but printable ASCII left out).
std::string errorText(int code, const std::string& reason);

}  // namespace internet::turn
