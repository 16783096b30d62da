#include "internet/turn_client.h"

#include <algorithm>
#include <cstring>

namespace internet::turn {
namespace {

stun::Transaction newTransaction(std::mt19937& random) {
  stun::Transaction id{};
  for (uint8_t& byte : id) byte = static_cast<uint8_t>(random() & 0xFF);
  return id;
}

// A request's bytes: its own attributes, then the credential once the
// server has named its realm and nonce.
std::string build(const Pending& p, const Auth& auth) {
  stun::Writer writer(p.method, stun::Class::Request, p.transaction);
  switch (p.method) {
    case stun::kAllocate: {
      const uint8_t transport[4] = {stun::kTransportTcp, 0, 0, 0};
      writer.addBytes(stun::kRequestedTransport, transport, sizeof transport);
      writer.addUint32(stun::kLifetime, p.lifetime);
      break;
    }
    case stun::kRefresh:
      writer.addUint32(stun::kLifetime, p.lifetime);
      break;
    case stun::kCreatePermission:
      writer.addXorAddress(stun::kXorPeerAddress, p.peer);
      break;
    case stun::kConnectionBind:
      writer.addUint32(stun::kConnectionId, p.connectionId);
      break;
    default:
      break;
  }
  if (!p.authenticated) return writer.finish(nullptr);
  writer.addText(stun::kUsername, auth.username);
  writer.addText(stun::kRealm, auth.realm);
  writer.addText(stun::kNonce, auth.nonce);
  return writer.finish(&auth.key);
}

enum class AuthStep : uint8_t { Again, Refused, None };

// A 401 or 438 names the realm and nonce to use: the request goes again
// with them (a few times at most). A 401 to a request that already carried
// the same realm and nonce means the credentials themselves were refused.
AuthStep authStep(const stun::Message& m, Pending& p, const Credentials& credentials, Auth& auth) {
  if (m.errorCode != stun::kUnauthorized && m.errorCode != stun::kStaleNonce) return AuthStep::None;
  if (m.nonce.empty() || (m.realm.empty() && auth.realm.empty())) return AuthStep::Refused;
  const std::string realm = m.realm.empty() ? auth.realm : m.realm;
  if (m.errorCode == stun::kUnauthorized && p.authenticated && realm == auth.realm &&
      m.nonce == auth.nonce) {
    return AuthStep::Refused;
  }
  if (++p.retries > kAuthRetries) return AuthStep::Refused;
  if (realm != auth.realm || !auth.ready) {
    if (!stun::longTermKey(credentials.username, realm, credentials.password, auth.key))
      return AuthStep::Refused;
  }
  auth.username = credentials.username;
  auth.realm = realm;
  auth.nonce = m.nonce;
  auth.ready = true;
  p.authenticated = true;
  return AuthStep::Again;
}

// A success to an authenticated request counts only when the server proves
// it holds the key.
bool trusted(const MessageStream& stream, const Pending& p, const Auth& auth) {
  if (!p.authenticated) return true;
  const std::string& raw = stream.raw();
  return stream.message().integrityAt != 0 &&
         stun::integrityHolds(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(),
                              stream.message(), auth.key);
}

bool sameHost(const platform::Address& a, const platform::Address& b) {
  const size_t size = a.family == platform::Family::V4 ? 4 : 16;
  return a.family == b.family && std::memcmp(a.bytes.data(), b.bytes.data(), size) == 0;
}

}  // namespace

std::string errorText(int code, const std::string& reason) {
  std::string text = std::to_string(code);
  std::string shown;
  for (const char c : reason) {
    if (c >= 0x20 && c < 0x7F && shown.size() < 64) shown += c;
  }
  return shown.empty() ? text : text + " " + shown;
}

MessageStream::Next MessageStream::read(const uint8_t* bytes, size_t length, size_t* used) {
  if (failure_ != stun::Read::Ok) return Next::Failed;
  if (complete_) {
    raw_.clear();
    complete_ = false;
  }
  while (*used < length) {
    const auto* held = reinterpret_cast<const uint8_t*>(raw_.data());
    stun::Read bad = stun::Read::Ok;
    const size_t total = raw_.size() < stun::kHeaderSize
                             ? stun::kHeaderSize
                             : stun::frameLength(held, raw_.size(), bad);
    const size_t take = std::min(total - raw_.size(), length - *used);
    raw_.append(reinterpret_cast<const char*>(bytes + *used), take);
    *used += take;
    held = reinterpret_cast<const uint8_t*>(raw_.data());
    // The first bytes are checked as they come, so that what is no
    // message fails at once instead of being waited for.
    const size_t framed = stun::frameLength(held, raw_.size(), bad);
    if (bad != stun::Read::Ok) {
      failure_ = bad;
      return Next::Failed;
    }
    if (framed == 0 || raw_.size() < framed) continue;
    const stun::Read result = stun::readMessage(held, raw_.size(), message_);
    if (result != stun::Read::Ok) {
      failure_ = result;
      return Next::Failed;
    }
    complete_ = true;
    return Next::Message;
  }
  return Next::None;
}

Control::Control(Credentials credentials, uint32_t seed)
    : credentials_(std::move(credentials)), random_(seed) {}

void Control::fail(const std::string& why) {
  if (state_ == State::Failed) return;
  state_ = State::Failed;
  failure_ = why;
  // Permissions asked for and not answered are refused.
  for (const Pending& p : pending_) {
    if (p.method == stun::kCreatePermission && permits_.size() < kMaxReports)
      permits_.push_back(Permit{p.peer, false, 0});
  }
  pending_.clear();
}

void Control::send(Pending pending, uint64_t now) {
  pending.transaction = newTransaction(random_);
  pending.sentAt = now;
  const std::string bytes = build(pending, auth_);
  if (bytes.empty()) {
    fail("a message to it could not be made");
    return;
  }
  outgoing_ += bytes;
  pending_.push_back(pending);
}

void Control::start(uint64_t now) {
  Pending allocate;
  allocate.method = stun::kAllocate;
  allocate.lifetime = kRequestedLifetimeS;
  send(allocate, now);
}

void Control::receive(const uint8_t* bytes, size_t length, uint64_t now) {
  size_t used = 0;
  while (used < length && state_ != State::Failed) {
    switch (stream_.read(bytes, length, &used)) {
      case MessageStream::Next::None:
        break;
      case MessageStream::Next::Message:
        onMessage(now);
        break;
      case MessageStream::Next::Failed:
        fail(std::string("it sent ") + stun::readName(stream_.failure()));
        break;
    }
  }
}

void Control::onMessage(uint64_t now) {
  const stun::Message& m = stream_.message();
  if (m.kind == stun::Class::Indication) {
    // A guest's connection to the relayed address; one the caller has not
    // taken yet in time is left to the server's own time-out.
    if (m.method == stun::kConnectionAttempt && m.hasConnectionId && m.hasPeer &&
        state_ == State::Allocated && attempts_.size() < kMaxReports) {
      attempts_.push_back(Attempt{m.connectionId, m.peer});
    }
    return;
  }
  if (m.kind == stun::Class::Request) return;  // a client serves nothing
  const auto it = std::find_if(pending_.begin(), pending_.end(), [&m](const Pending& p) {
    return p.transaction == m.transaction && p.method == m.method;
  });
  if (it == pending_.end()) return;  // an answer to nothing asked: ignored
  Pending pending = *it;
  if (m.kind == stun::Class::Success && !trusted(stream_, pending, auth_)) return;
  pending_.erase(it);
  onAnswer(m, pending, now);
}

void Control::onAnswer(const stun::Message& m, Pending pending, uint64_t now) {
  if (m.kind == stun::Class::Error) {
    switch (authStep(m, pending, credentials_, auth_)) {
      case AuthStep::Again:
        send(pending, now);
        return;
      case AuthStep::Refused:
        if (pending.method != stun::kCreatePermission) {
          fail("it refused our credentials (" + errorText(m.errorCode, m.reason) + ")");
          return;
        }
        break;
      case AuthStep::None:
        break;
    }
    switch (pending.method) {
      case stun::kAllocate:
        fail("it refused the relay (" + errorText(m.errorCode, m.reason) + ")");
        return;
      case stun::kRefresh:
        if (state_ == State::Released) return;
        fail("it ended the relay (" + errorText(m.errorCode, m.reason) + ")");
        return;
      case stun::kCreatePermission:
        forget(pending.peer);
        if (permits_.size() < kMaxReports) permits_.push_back(Permit{pending.peer, false, m.errorCode});
        return;
      default:
        return;
    }
  }
  switch (pending.method) {
    case stun::kAllocate:
      if (!m.hasRelayed || !m.hasLifetime || m.lifetime == 0) {
        fail("it gave no relayed address");
        return;
      }
      state_ = State::Allocated;
      relayed_ = m.relayed;
      [[fallthrough]];
    case stun::kRefresh:
      if (state_ == State::Released) return;
      if (m.hasLifetime) lifetime_ = m.lifetime;
      refreshAt_ = now + std::max<uint64_t>(kMinRefreshMs, uint64_t{lifetime_} * 1000 / 2);
      return;
    case stun::kCreatePermission:
      // The permission runs from when it was asked for.
      for (Kept& kept : kept_) {
        if (sameHost(kept.peer, pending.peer)) kept.renewAt = pending.sentAt + kPermissionRenewMs;
      }
      if (permits_.size() < kMaxReports) permits_.push_back(Permit{pending.peer, true, 0});
      return;
    default:
      return;
  }
}

void Control::tick(uint64_t now) {
  if (state_ == State::Failed) return;
  for (const Pending& p : pending_) {
    if (now - p.sentAt >= kAnswerLimitMs) {
      fail(state_ == State::Allocating ? "no answer in time" : "it stopped answering");
      return;
    }
  }
  if (state_ != State::Allocated) return;
  if (now >= refreshAt_) {
    Pending refresh;
    refresh.method = stun::kRefresh;
    refresh.lifetime = kRequestedLifetimeS;
    refresh.authenticated = true;
    refreshAt_ = now + kAnswerLimitMs;  // again only if this one is lost
    send(refresh, now);
  }
  for (Kept& kept : kept_) {
    if (now < kept.renewAt || pending_.size() >= kMaxPending) continue;
    Pending renew;
    renew.method = stun::kCreatePermission;
    renew.peer = kept.peer;
    renew.authenticated = true;
    kept.renewAt = now + kPermissionRenewMs;
    send(renew, now);
  }
}

void Control::takeOutgoing(std::string& out) {
  out += outgoing_;
  outgoing_.clear();
}

bool Control::permit(const platform::Address& peer, uint64_t now) {
  if (state_ != State::Allocated || pending_.size() >= kMaxPending) return false;
  platform::Address bare = peer;
  bare.port = 0;
  bare.scope = 0;
  const bool isKept = std::any_of(kept_.begin(), kept_.end(),
                                  [&bare](const Kept& k) { return sameHost(k.peer, bare); });
  if (!isKept) kept_.push_back(Kept{bare, now + kPermissionRenewMs});
  Pending permission;
  permission.method = stun::kCreatePermission;
  permission.peer = bare;
  permission.authenticated = true;
  send(permission, now);
  return true;
}

void Control::forget(const platform::Address& peer) {
  kept_.erase(std::remove_if(kept_.begin(), kept_.end(),
                             [&peer](const Kept& k) { return sameHost(k.peer, peer); }),
              kept_.end());
}

void Control::release(uint64_t now) {
  if (state_ != State::Allocated) return;
  state_ = State::Released;
  kept_.clear();
  Pending refresh;
  refresh.method = stun::kRefresh;
  refresh.lifetime = 0;
  refresh.authenticated = true;
  send(refresh, now);
}

bool Control::takeAttempt(Attempt& attempt) {
  if (attempts_.empty()) return false;
  attempt = attempts_.front();
  attempts_.pop_front();
  return true;
}

bool Control::takePermit(Permit& permit) {
  if (permits_.empty()) return false;
  permit = permits_.front();
  permits_.pop_front();
  return true;
}

Bind::Bind(Credentials credentials, const Auth& auth, uint32_t connectionId, uint32_t seed)
    : credentials_(std::move(credentials)), auth_(auth), random_(seed) {
  pending_.method = stun::kConnectionBind;
  pending_.connectionId = connectionId;
  pending_.authenticated = auth.ready;
}

void Bind::fail(const std::string& why) {
  if (state_ != State::Binding) return;
  state_ = State::Failed;
  failure_ = why;
}

void Bind::send(uint64_t now) {
  pending_.transaction = newTransaction(random_);
  pending_.sentAt = now;
  const std::string bytes = build(pending_, auth_);
  if (bytes.empty()) {
    fail("a message to it could not be made");
    return;
  }
  outgoing_ += bytes;
}

void Bind::start(uint64_t now) { send(now); }

void Bind::receive(const uint8_t* bytes, size_t length, size_t* used, uint64_t now) {
  while (*used < length && state_ == State::Binding) {
    const MessageStream::Next next = stream_.read(bytes, length, used);
    if (next == MessageStream::Next::Failed) {
      fail(std::string("it sent ") + stun::readName(stream_.failure()));
      return;
    }
    if (next == MessageStream::Next::None) return;
    const stun::Message& m = stream_.message();
    if (m.transaction != pending_.transaction || m.method != stun::kConnectionBind ||
        (m.kind != stun::Class::Success && m.kind != stun::Class::Error)) {
      continue;  // nothing asked: ignored
    }
    if (m.kind == stun::Class::Success) {
      if (trusted(stream_, pending_, auth_)) state_ = State::Bound;
      continue;
    }
    if (authStep(m, pending_, credentials_, auth_) == AuthStep::Again) {
      send(now);
    } else {
      fail("it refused the connection's bind (" + errorText(m.errorCode, m.reason) + ")");
    }
  }
}

void Bind::tick(uint64_t now) {
  if (state_ == State::Binding && now - pending_.sentAt >= kAnswerLimitMs)
    fail("no answer in time");
}

void Bind::takeOutgoing(std::string& out) {
  out += outgoing_;
  outgoing_.clear();
}

}  // namespace internet::turn
