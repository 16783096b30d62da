// The relay client without a server: the message reader and writer against
// the published STUN test vectors (RFC 5769: MESSAGE-INTEGRITY with a
// long-term credential, FINGERPRINT, XOR-MAPPED-ADDRESS over IPv4 and IPv6)
// and against what no relay's server may send; and the client's
// conversation (internet/turn_client.h) against a server scripted in this
// file byte for byte from the wire format: the 401 and 438 answers, the
// refresh and the permissions' renewal on time, the guests' connections and
// their binds, and a server that sends garbage, forges its answers or
// falls silent.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "internet/turn_client.h"
#include "platform/digest.h"

namespace {

using namespace internet;
using Bytes = std::vector<uint8_t>;

Bytes hex(const char* text) {
  Bytes out;
  int high = -1;
  for (const char* c = text; *c != '\0'; ++c) {
    int v = -1;
    if (*c >= '0' && *c <= '9') v = *c - '0';
    if (*c >= 'a' && *c <= 'f') v = *c - 'a' + 10;
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  return out;
}

// RFC 5769 2.4: a request with a long-term credential; USERNAME "マトリックス"
// (UTF-8), NONCE, REALM "example.org", password "TheMatrIX" (after SASLprep).
const Bytes kLongTerm = hex(
    "00 01 00 60 21 12 a4 42 78 ad 34 33 c6 ad 72 c0 29 da 41 2e"
    "00 06 00 12 e3 83 9e e3 83 88 e3 83 aa e3 83 83 e3 82 af e3 82 b9 00 00"
    "00 15 00 1c 66 2f 2f 34 39 39 6b 39 35 34 64 36 4f 4c 33 34 6f 4c 39 46 53 54 76 79 36 34 73 41"
    "00 14 00 0b 65 78 61 6d 70 6c 65 2e 6f 72 67 00"
    "00 08 00 14 f6 70 24 65 6d d6 4a 3e 02 b8 e0 71 2e 85 c9 a2 8c a8 96 66");
const char kUsername[] = "\xe3\x83\x9e\xe3\x83\x88\xe3\x83\xaa\xe3\x83\x83\xe3\x82\xaf\xe3\x82\xb9";
// 2.2 and 2.3: responses with XOR-MAPPED-ADDRESS, MESSAGE-INTEGRITY (a
// short-term credential) and FINGERPRINT.
const Bytes kIpv4Response = hex(
    "01 01 00 3c 21 12 a4 42 b7 e7 a7 01 bc 34 d6 86 fa 87 df ae"
    "80 22 00 0b 74 65 73 74 20 76 65 63 74 6f 72 20"
    "00 20 00 08 00 01 a1 47 e1 12 a6 43"
    "00 08 00 14 2b 91 f5 99 fd 9e 90 c3 8c 74 89 f9 2a f9 ba 53 f0 6b e7 d7"
    "80 28 00 04 c0 7d 4c 96");
const Bytes kIpv6Response = hex(
    "01 01 00 48 21 12 a4 42 b7 e7 a7 01 bc 34 d6 86 fa 87 df ae"
    "80 22 00 0b 74 65 73 74 20 76 65 63 74 6f 72 20"
    "00 20 00 14 00 02 a1 47 01 13 a9 fa a5 d3 f1 79 bc 25 f4 b5 be d2 b9 d9"
    "00 08 00 14 a3 82 95 4e 4b e6 7b f1 17 84 c9 7c 82 92 c2 75 bf e3 ed 41"
    "80 28 00 04 c8 fb 0b 4c");
// 2.1: a request with PRIORITY (0x0024), which a relay's client does not
// know and must refuse.
const Bytes kIceRequest = hex(
    "00 01 00 58 21 12 a4 42 b7 e7 a7 01 bc 34 d6 86 fa 87 df ae"
    "80 22 00 10 53 54 55 4e 20 74 65 73 74 20 63 6c 69 65 6e 74"
    "00 24 00 04 6e 00 01 ff 80 29 00 08 93 2f f9 b1 51 26 3b 36"
    "00 06 00 09 65 76 74 6a 3a 68 36 76 59 20 20 20"
    "00 08 00 14 9a ea a7 0c bf d8 cb 56 78 1e f2 b5 b2 d3 f2 49 c1 b5 71 a2"
    "80 28 00 04 e5 7a 3b cf");

stun::Read read(const Bytes& bytes, stun::Message& m) {
  return stun::readMessage(bytes.data(), bytes.size(), m);
}

TEST(StunMessage, TheRfcLongTermRequestIsReadCheckedAndMadeAlike) {
  stun::Message m;
  ASSERT_EQ(read(kLongTerm, m), stun::Read::Ok);
  EXPECT_EQ(m.method, stun::kBinding);
  EXPECT_EQ(m.kind, stun::Class::Request);
  EXPECT_EQ(m.realm, "example.org");
  EXPECT_EQ(m.nonce, "f//499k954d6OL34oL9FSTvy64sA");
  stun::Key key{};
  ASSERT_TRUE(stun::longTermKey(kUsername, "example.org", "TheMatrIX", key));
  EXPECT_TRUE(stun::integrityHolds(kLongTerm.data(), kLongTerm.size(), m, key));
  stun::Key wrong{};
  ASSERT_TRUE(stun::longTermKey(kUsername, "example.org", "thematrix", wrong));
  EXPECT_FALSE(stun::integrityHolds(kLongTerm.data(), kLongTerm.size(), m, wrong));

  // Written again: the same bytes up to and with the integrity, then a
  // FINGERPRINT the reader takes.
  stun::Writer writer(stun::kBinding, stun::Class::Request, m.transaction);
  writer.addText(stun::kUsername, kUsername);
  writer.addText(stun::kNonce, m.nonce);
  writer.addText(stun::kRealm, m.realm);
  const std::string made = writer.finish(&key);
  ASSERT_EQ(made.size(), kLongTerm.size() + 8);
  EXPECT_EQ(std::memcmp(made.data() + 4, kLongTerm.data() + 4, kLongTerm.size() - 4), 0);
  stun::Message again;
  EXPECT_EQ(stun::readMessage(reinterpret_cast<const uint8_t*>(made.data()), made.size(), again),
            stun::Read::Ok);
}

TEST(StunMessage, TheRfcResponsesGiveTheirAddresses) {
  stun::Message m;
  ASSERT_EQ(read(kIpv4Response, m), stun::Read::Ok);  // its FINGERPRINT checked
  EXPECT_EQ(m.kind, stun::Class::Success);
  ASSERT_TRUE(m.hasMapped);
  EXPECT_EQ(platform::formatAddress(m.mapped), "192.0.2.1");
  EXPECT_EQ(m.mapped.port, 32853);
  EXPECT_NE(m.integrityAt, 0u);

  ASSERT_EQ(read(kIpv6Response, m), stun::Read::Ok);
  ASSERT_TRUE(m.hasMapped);
  EXPECT_EQ(platform::formatAddress(m.mapped), "2001:db8:1234:5678:11:2233:4455:6677");
  EXPECT_EQ(m.mapped.port, 32853);

  // The writer xors an address the same way.
  stun::Writer writer(stun::kBinding, stun::Class::Success, m.transaction);
  writer.addXorAddress(stun::kXorMappedAddress, m.mapped);
  const std::string made = writer.finish(nullptr);
  EXPECT_EQ(made.substr(20, 24),
            std::string(reinterpret_cast<const char*>(kIpv6Response.data()) + 36, 24));
}

TEST(StunMessage, WhatNoRelaySendsIsRefused) {
  stun::Message m;
  EXPECT_EQ(read(kIceRequest, m), stun::Read::UnknownRequired);

  Bytes flipped = kIpv4Response;
  flipped.back() ^= 1;
  EXPECT_EQ(read(flipped, m), stun::Read::BadFingerprint);

  // FINGERPRINT anywhere but last.
  Bytes notLast = kIpv4Response;
  notLast.insert(notLast.end(), {0x80, 0x22, 0x00, 0x00});
  notLast[3] += 4;
  EXPECT_EQ(read(notLast, m), stun::Read::BadFingerprint);

  // An attribute that runs past the message's end.
  Bytes overrun = kLongTerm;
  overrun[22] = 0x7f;
  EXPECT_EQ(read(overrun, m), stun::Read::Malformed);

  // Values out of their forms: an error class of 7, an address family of 3.
  stun::Transaction id{};
  for (const Bytes& value : {hex("00 00 07 01"), hex("00 00 02 01 41")}) {
    stun::Writer w(stun::kAllocate, stun::Class::Error, id);
    w.addBytes(stun::kErrorCode, value.data(), value.size());
    const std::string bytes = w.finish(nullptr);
    EXPECT_EQ(stun::readMessage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), m),
              stun::Read::Malformed);
  }
  {
    stun::Writer w(stun::kAllocate, stun::Class::Success, id);
    const Bytes family3 = hex("00 03 00 00 01 02 03 04");
    w.addBytes(stun::kXorRelayedAddress, family3.data(), family3.size());
    const std::string bytes = w.finish(nullptr);
    EXPECT_EQ(stun::readMessage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), m),
              stun::Read::Malformed);
  }
  // More attributes than a message of the program's may hold.
  {
    stun::Writer w(stun::kAllocate, stun::Class::Success, id);
    for (int i = 0; i < 40; ++i) w.addUint32(0x8050, 0);
    const std::string bytes = w.finish(nullptr);
    EXPECT_EQ(stun::readMessage(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), m),
              stun::Read::Malformed);
  }

  // The header alone says what is no message: at its first byte, at its
  // cookie, at a length over the bound or not a multiple of four.
  stun::Read bad = stun::Read::Ok;
  const uint8_t http[] = {'H'};
  EXPECT_EQ(stun::frameLength(http, 1, bad), 0u);
  EXPECT_EQ(bad, stun::Read::NotStun);
  const Bytes wrongCookie = hex("01 01 00 00 21 12 a4");
  EXPECT_EQ(stun::frameLength(wrongCookie.data(), 6, bad), 0u);
  EXPECT_EQ(bad, stun::Read::Ok);  // so far, so good
  EXPECT_EQ(stun::frameLength(hex("01 01 00 00 21 12 a5").data(), 7, bad), 0u);
  EXPECT_EQ(bad, stun::Read::NotStun);
  Bytes header(kIpv4Response.begin(), kIpv4Response.begin() + 20);
  header[2] = 0x08;  // 2048 + 20 bytes
  EXPECT_EQ(stun::frameLength(header.data(), header.size(), bad), 0u);
  EXPECT_EQ(bad, stun::Read::TooLong);
  header[2] = 0;
  header[3] = 0x3d;
  EXPECT_EQ(stun::frameLength(header.data(), header.size(), bad), 0u);
  EXPECT_EQ(bad, stun::Read::NotStun);
  EXPECT_EQ(read(Bytes(kIpv4Response.begin(), kIpv4Response.end() - 1), m), stun::Read::NotStun);
}

// A relay's server, scripted: it reads the client's requests and answers
// them with messages put together here from the wire format (RFC 5389 6,
// 15), the integrity made with the platform's HMAC.
class Server {
 public:
  static constexpr char kRealm[] = "relay.test";
  static constexpr char kUser[] = "1700000000";
  static constexpr char kPassword[] = "c2VjcmV0";

  // The requests the client sent since the last call.
  std::vector<Bytes> requests(turn::Control& client) {
    std::string out;
    client.takeOutgoing(out);
    return split(out);
  }
  static std::vector<Bytes> split(const std::string& out) {
    std::vector<Bytes> messages;
    for (size_t at = 0; at + 20 <= out.size();) {
      const size_t length = 20 + (static_cast<uint8_t>(out[at + 2]) << 8 | static_cast<uint8_t>(out[at + 3]));
      messages.emplace_back(out.begin() + static_cast<long>(at), out.begin() + static_cast<long>(at + length));
      at += length;
    }
    return messages;
  }
  static uint16_t type(const Bytes& m) { return static_cast<uint16_t>(m[0] << 8 | m[1]); }
  // The value of attribute `type` in m, or empty.
  static Bytes attribute(const Bytes& m, uint16_t wanted) {
    for (size_t at = 20; at + 4 <= m.size();) {
      const uint16_t t = static_cast<uint16_t>(m[at] << 8 | m[at + 1]);
      const size_t length = static_cast<size_t>(m[at + 2] << 8 | m[at + 3]);
      if (t == wanted) return Bytes(m.begin() + static_cast<long>(at + 4), m.begin() + static_cast<long>(at + 4 + length));
      at += 4 + ((length + 3) & ~size_t{3});
    }
    return {};
  }
  static platform::Md5Digest key() {
    const std::string text = std::string(kUser) + ":" + kRealm + ":" + kPassword;
    platform::Md5Digest digest{};
    platform::md5(reinterpret_cast<const uint8_t*>(text.data()), text.size(), digest);
    return digest;
  }
  // Whether request m carries the credential and an integrity it makes.
  static bool authenticated(const Bytes& m) {
    const Bytes user = attribute(m, 0x0006);
    if (std::string(user.begin(), user.end()) != kUser || attribute(m, 0x0008).size() != 20)
      return false;
    size_t at = 20;
    while (static_cast<uint16_t>(m[at] << 8 | m[at + 1]) != 0x0008)
      at += 4 + ((static_cast<size_t>(m[at + 2] << 8 | m[at + 3]) + 3) & ~size_t{3});
    Bytes signed_(m.begin(), m.begin() + static_cast<long>(at));
    signed_[2] = static_cast<uint8_t>((at + 24 - 20) >> 8);
    signed_[3] = static_cast<uint8_t>((at + 24 - 20) & 0xFF);
    const platform::Md5Digest k = key();
    platform::Sha1Digest mac{};
    platform::hmacSha1(k.data(), k.size(), signed_.data(), signed_.size(), mac);
    return std::memcmp(mac.data(), m.data() + at + 4, 20) == 0;
  }

  // An answer (class bits in `classBits`: 0x100 success, 0x110 error) to
  // request m, or an indication when m is empty; attributes as type and
  // raw value; with integrity when signed.
  static std::string answer(const Bytes& request, uint16_t method, uint16_t classBits,
                            const std::vector<std::pair<uint16_t, Bytes>>& attributes,
                            bool signed_) {
    Bytes m = {static_cast<uint8_t>((method | classBits) >> 8),
               static_cast<uint8_t>((method | classBits) & 0xFF), 0, 0, 0x21, 0x12, 0xa4, 0x42};
    if (request.size() >= 20) {
      m.insert(m.end(), request.begin() + 8, request.begin() + 20);
    } else {
      m.insert(m.end(), 12, 0x5a);
    }
    for (const auto& [t, value] : attributes) {
      m.insert(m.end(), {static_cast<uint8_t>(t >> 8), static_cast<uint8_t>(t & 0xFF), 0,
                         static_cast<uint8_t>(value.size())});
      m.insert(m.end(), value.begin(), value.end());
      while (m.size() % 4 != 0) m.push_back(0);
    }
    if (signed_) {
      const size_t length = m.size() + 24 - 20;
      m[2] = static_cast<uint8_t>(length >> 8);
      m[3] = static_cast<uint8_t>(length & 0xFF);
      const platform::Md5Digest k = key();
      platform::Sha1Digest mac{};
      platform::hmacSha1(k.data(), k.size(), m.data(), m.size(), mac);
      m.insert(m.end(), {0x00, 0x08, 0x00, 0x14});
      m.insert(m.end(), mac.begin(), mac.end());
    }
    m[2] = static_cast<uint8_t>((m.size() - 20) >> 8);
    m[3] = static_cast<uint8_t>((m.size() - 20) & 0xFF);
    return std::string(m.begin(), m.end());
  }
  static Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
  static Bytes number(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  }
  static Bytes errorCode(int code) {
    return {0, 0, static_cast<uint8_t>(code / 100), static_cast<uint8_t>(code % 100), 'n', 'o'};
  }
  // 198.51.100.30:port xor'ed with the cookie.
  static Bytes xorAddress(uint8_t last, uint16_t port) {
    return {0, 1, static_cast<uint8_t>((port >> 8) ^ 0x21), static_cast<uint8_t>((port & 0xFF) ^ 0x12),
            198 ^ 0x21, 51 ^ 0x12, 100 ^ 0xa4, static_cast<uint8_t>(last ^ 0x42)};
  }
};

void give(turn::Control& client, const std::string& bytes, uint64_t now) {
  client.receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), now);
}

// Allocates: the first request without the credential, the 401 with realm
// and nonce, the second with them; returns the client allocated at time 0.
void allocate(turn::Control& client, Server& server) {
  client.start(0);
  std::vector<Bytes> sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(Server::type(sent[0]), 0x0003);
  EXPECT_TRUE(Server::attribute(sent[0], 0x0006).empty());  // no USERNAME yet
  EXPECT_EQ(Server::attribute(sent[0], 0x0019), Bytes({6, 0, 0, 0}));  // TCP
  give(client,
       Server::answer(sent[0], 0x003, 0x110,
                      {{0x0009, Server::errorCode(401)}, {0x0014, Server::text(Server::kRealm)},
                       {0x0015, Server::text("nonce-1")}},
                      false),
       10);
  sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_TRUE(Server::authenticated(sent[0]));
  give(client,
       Server::answer(sent[0], 0x003, 0x100,
                      {{0x0016, Server::xorAddress(30, 49200)}, {0x000D, Server::number(600)},
                       {0x0020, Server::xorAddress(12, 40000)}},
                      true),
       20);
  ASSERT_EQ(client.state(), turn::Control::State::Allocated) << client.failure();
}

TEST(TurnControl, KeepsItsRelayOnTimeAndBindsEachGuest) {
  Server server;
  turn::Control client({Server::kUser, Server::kPassword}, 7);
  ASSERT_NO_FATAL_FAILURE(allocate(client, server));
  EXPECT_EQ(platform::formatAddress(client.relayed()), "198.51.100.30");
  EXPECT_EQ(client.relayed().port, 49200);
  EXPECT_EQ(client.lifetime(), 600u);

  // A permission, granted; renewed before its 300 s run out.
  platform::Address guest;
  ASSERT_TRUE(platform::parseNumericAddress("198.51.100.11", guest));
  ASSERT_TRUE(client.permit(guest, 1000));
  std::vector<Bytes> sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Server::type(sent[0]), 0x0008);
  EXPECT_TRUE(Server::authenticated(sent[0]));
  give(client, Server::answer(sent[0], 0x008, 0x100, {}, true), 1010);
  turn::Control::Permit permit;
  ASSERT_TRUE(client.takePermit(permit));
  EXPECT_TRUE(permit.granted);
  client.tick(1000 + 239000);
  EXPECT_TRUE(server.requests(client).empty());
  client.tick(1000 + 240000);
  sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Server::type(sent[0]), 0x0008);
  give(client, Server::answer(sent[0], 0x008, 0x100, {}, true), 241100);

  // The refresh at half the lifetime; a stale nonce (438) is followed at
  // once with the new one.
  client.tick(299000);
  EXPECT_TRUE(server.requests(client).empty());
  client.tick(300020);
  sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  ASSERT_EQ(Server::type(sent[0]), 0x0004);
  give(client,
       Server::answer(sent[0], 0x004, 0x110,
                      {{0x0009, Server::errorCode(438)}, {0x0015, Server::text("nonce-2")}}, false),
       300030);
  sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Server::attribute(sent[0], 0x0015), Server::text("nonce-2"));
  EXPECT_TRUE(Server::authenticated(sent[0]));
  give(client, Server::answer(sent[0], 0x004, 0x100, {{0x000D, Server::number(600)}}, true),
       300040);
  client.tick(300050 + turn::kAnswerLimitMs);
  EXPECT_EQ(client.state(), turn::Control::State::Allocated) << client.failure();

  // A guest connects: the attempt, then a bind on a data connection with
  // the same credential; what follows the bind's success is the guest's.
  give(client,
       Server::answer({}, 0x00C, 0x010,
                      {{0x002A, Server::number(77)}, {0x0012, Server::xorAddress(11, 50123)}}, false),
       300100);
  turn::Control::Attempt attempt;
  ASSERT_TRUE(client.takeAttempt(attempt));
  EXPECT_EQ(attempt.connectionId, 77u);
  EXPECT_EQ(platform::formatAddress(attempt.peer), "198.51.100.11");
  turn::Bind bind({Server::kUser, Server::kPassword}, client.auth(), attempt.connectionId, 9);
  bind.start(300100);
  std::string out;
  bind.takeOutgoing(out);
  sent = Server::split(out);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Server::type(sent[0]), 0x000B);
  EXPECT_EQ(Server::attribute(sent[0], 0x002A), Server::number(77));
  EXPECT_TRUE(Server::authenticated(sent[0]));
  const std::string bound =
      Server::answer(sent[0], 0x00B, 0x100, {}, true) + std::string("\x01\x00\x00", 3);
  size_t used = 0;
  bind.receive(reinterpret_cast<const uint8_t*>(bound.data()), bound.size(), &used, 300110);
  EXPECT_EQ(bind.state(), turn::Bind::State::Bound) << bind.failure();
  EXPECT_EQ(bound.size() - used, 3u);

  // The room closes: the allocation is released.
  client.release(300200);
  sent = server.requests(client);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(Server::attribute(sent[0], 0x000D), Server::number(0));
}

TEST(TurnControl, AServerThatPlaysFoulEndsTheRelayWithAReason) {
  Server server;
  // Garbage, a message longer than any relay's, one announced over the bound.
  for (const std::string& foul : {std::string("HTTP/1.1 400 Bad Request\r\n\r\n"),
                                  std::string("\x01\x13\x7f\xfc\x21\x12\xa4\x42", 8)}) {
    turn::Control client({Server::kUser, Server::kPassword}, 1);
    client.start(0);
    give(client, foul, 5);
    EXPECT_EQ(client.state(), turn::Control::State::Failed);
    EXPECT_NE(client.failure().find("it sent"), std::string::npos) << client.failure();
  }
  // Silence: the request's time runs out.
  {
    turn::Control client({Server::kUser, Server::kPassword}, 1);
    client.start(0);
    client.tick(turn::kAnswerLimitMs - 1);
    EXPECT_EQ(client.state(), turn::Control::State::Allocating);
    client.tick(turn::kAnswerLimitMs);
    EXPECT_EQ(client.failure(), "no answer in time");
  }
  // A forged success (no integrity the key makes) counts for nothing.
  {
    turn::Control client({Server::kUser, Server::kPassword}, 2);
    client.start(0);
    std::vector<Bytes> sent = server.requests(client);
    give(client,
         Server::answer(sent[0], 0x003, 0x110,
                        {{0x0009, Server::errorCode(401)}, {0x0014, Server::text(Server::kRealm)},
                         {0x0015, Server::text("n")}},
                        false),
         1);
    sent = server.requests(client);
    give(client,
         Server::answer(sent[0], 0x003, 0x100,
                        {{0x0016, Server::xorAddress(30, 49200)}, {0x000D, Server::number(600)}},
                        false),
         2);
    EXPECT_EQ(client.state(), turn::Control::State::Allocating);
  }
  // The same realm and nonce refused again: the credentials are wrong.
  {
    turn::Control client({Server::kUser, Server::kPassword}, 3);
    client.start(0);
    for (int round = 0; round < 2; ++round) {
      const std::vector<Bytes> sent = server.requests(client);
      ASSERT_EQ(sent.size(), 1u);
      give(client,
           Server::answer(sent[0], 0x003, 0x110,
                          {{0x0009, Server::errorCode(401)}, {0x0014, Server::text(Server::kRealm)},
                           {0x0015, Server::text("n")}},
                          false),
           1);
    }
    EXPECT_NE(client.failure().find("refused our credentials (401"), std::string::npos)
        << client.failure();
  }
  // A quota reached: the server's own words, printable only.
  {
    turn::Control client({Server::kUser, Server::kPassword}, 4);
    client.start(0);
    const std::vector<Bytes> sent = server.requests(client);
    Bytes code = {0, 0, 4, 86};
    const std::string reason = "Quota\x1b[31m";
    code.insert(code.end(), reason.begin(), reason.end());
    give(client, Server::answer(sent[0], 0x003, 0x110, {{0x0009, code}}, false), 1);
    EXPECT_EQ(client.failure(), "it refused the relay (486 Quota[31m)");
  }
  // A flood of guests' connections: a bounded number waits to be taken.
  {
    turn::Control client({Server::kUser, Server::kPassword}, 5);
    ASSERT_NO_FATAL_FAILURE(allocate(client, server));
    std::string flood;
    for (uint32_t i = 0; i < 1000; ++i) {
      flood += Server::answer({}, 0x00C, 0x010,
                              {{0x002A, Server::number(i)}, {0x0012, Server::xorAddress(11, 1)}},
                              false);
    }
    give(client, flood, 30);
    size_t taken = 0;
    for (turn::Control::Attempt a; client.takeAttempt(a);) ++taken;
    EXPECT_EQ(taken, turn::kMaxReports);
    EXPECT_EQ(client.state(), turn::Control::State::Allocated);
  }
}

}  // namespace
