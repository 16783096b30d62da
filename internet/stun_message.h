// The messages of a relay (STUN, RFC 5389; TURN, RFC 5766; TCP relays,
// RFC 6062) as the program writes and reads them, without sockets: the wire
// format's numbers and sizes, a writer, and a reader that takes a message
// only whole, within its bounds, every attribute the program uses checked
// before anything reads it. Whatever a relay's server sends is untrusted.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/digest.h"
#include "platform/net_socket.h"

namespace internet::stun {

// The header: type, length of the attributes, magic cookie, transaction.
inline constexpr size_t kHeaderSize = 20;
inline constexpr uint32_t kMagicCookie = 0x2112A442;
inline constexpr size_t kTransactionSize = 12;
// A message is at most this long, header included: more than any answer a
// relay gives (a REALM and a NONCE of 763 bytes each and the rest fit). A
// server that announces a longer one loses the connection.
inline constexpr size_t kMaxMessageSize = 2048;
// Attributes read from one message at most.
inline constexpr size_t kMaxAttributes = 32;
// USERNAME, REALM, NONCE and an error's reason: fewer than 128 characters,
// at most 763 bytes (RFC 5389 15.3, 15.6-15.8).
inline constexpr size_t kMaxTextBytes = 763;
// FINGERPRINT: CRC-32 of the message before it, xor this (RFC 5389 15.5).
inline constexpr uint32_t kFingerprintXor = 0x5354554e;
inline constexpr size_t kIntegritySize = 20;  // HMAC-SHA1

// Methods.
inline constexpr uint16_t kBinding = 0x001;
inline constexpr uint16_t kAllocate = 0x003;
inline constexpr uint16_t kRefresh = 0x004;
inline constexpr uint16_t kCreatePermission = 0x008;
inline constexpr uint16_t kConnectionBind = 0x00B;
inline constexpr uint16_t kConnectionAttempt = 0x00C;

enum class Class : uint8_t { Request, Indication, Success, Error };

// Attributes. Below 0x8000 a receiver must understand an attribute (a
// message with one it does not know is refused); from 0x8000 on it may
// ignore it.
inline constexpr uint16_t kMappedAddress = 0x0001;
inline constexpr uint16_t kUsername = 0x0006;
inline constexpr uint16_t kMessageIntegrity = 0x0008;
inline constexpr uint16_t kErrorCode = 0x0009;
inline constexpr uint16_t kUnknownAttributes = 0x000A;
inline constexpr uint16_t kChannelNumber = 0x000C;
inline constexpr uint16_t kLifetime = 0x000D;
inline constexpr uint16_t kXorPeerAddress = 0x0012;
inline constexpr uint16_t kData = 0x0013;
inline constexpr uint16_t kRealm = 0x0014;
inline constexpr uint16_t kNonce = 0x0015;
inline constexpr uint16_t kXorRelayedAddress = 0x0016;
inline constexpr uint16_t kRequestedAddressFamily = 0x0017;
inline constexpr uint16_t kEvenPort = 0x0018;
inline constexpr uint16_t kRequestedTransport = 0x0019;
inline constexpr uint16_t kDontFragment = 0x001A;
inline constexpr uint16_t kXorMappedAddress = 0x0020;
inline constexpr uint16_t kReservationToken = 0x0022;
inline constexpr uint16_t kConnectionId = 0x002A;
inline constexpr uint16_t kFingerprint = 0x8028;

// REQUESTED-TRANSPORT's protocol number for TCP.
inline constexpr uint8_t kTransportTcp = 6;

// Errors a client acts on.
inline constexpr int kUnauthorized = 401;
inline constexpr int kStaleNonce = 438;

using Transaction = std::array<uint8_t, kTransactionSize>;
// The long-term credential's key, MD5(username ":" realm ":" password).
using Key = platform::Md5Digest;

// The key of a long-term credential (RFC 5389 15.4). The credentials a
// directory hands out are ASCII, which SASLprep leaves as it is. False when
// the system cannot compute it.
bool longTermKey(const std::string& username, const std::string& realm,
                 const std::string& password, Key& key);

// One message to send, attribute by attribute, ended by finish.
class Writer {
 public:
  Writer(uint16_t method, Class kind, const Transaction& transaction);
  void addBytes(uint16_t type, const uint8_t* bytes, size_t length);
  void addText(uint16_t type, const std::string& text);
  void addUint32(uint16_t type, uint32_t value);
  // An address xor'ed with the cookie (and the transaction, for IPv6).
  void addXorAddress(uint16_t type, const platform::Address& address);
  // The message's bytes: MESSAGE-INTEGRITY with key when given, then
  // FINGERPRINT. Empty when the message would pass kMaxMessageSize or a
  // digest failed.
  std::string finish(const Key* key);

 private:
  std::string bytes_;
  Transaction transaction_;
  bool tooLong_ = false;
};

// What a received message says. Each attribute the program uses is taken
// once (a repeat is ignored, as RFC 5389 15 has it) and only when its
// value is well formed; attributes after MESSAGE-INTEGRITY, but
// FINGERPRINT, are ignored.
struct Message {
  uint16_t method = 0;
  Class kind = Class::Request;
  Transaction transaction{};
  int errorCode = 0;  // 300 to 699 with an ERROR-CODE, else 0
  std::string reason;
  std::string realm;
  std::string nonce;
  bool hasMapped = false;  // XOR-MAPPED-ADDRESS
  platform::Address mapped;
  bool hasRelayed = false;  // XOR-RELAYED-ADDRESS
  platform::Address relayed;
  bool hasPeer = false;  // XOR-PEER-ADDRESS
  platform::Address peer;
  bool hasLifetime = false;
  uint32_t lifetime = 0;  // seconds
  bool hasConnectionId = false;
  uint32_t connectionId = 0;
  // MESSAGE-INTEGRITY's offset in the message, 0 when it has none.
  size_t integrityAt = 0;
};

enum class Read : uint8_t {
  Ok,
  NotStun,          // no STUN header (first bits, cookie, length)
  TooLong,          // longer than kMaxMessageSize
  Malformed,        // an attribute runs past the end, a value is ill formed
  UnknownRequired,  // an attribute below 0x8000 the program does not know
  BadFingerprint,   // FINGERPRINT wrong, or not last
};

// How long the message that begins at bytes is, header included, once
// available bytes hold its header: 0 while they do not. Sets bad (and
// returns 0) as soon as the bytes available cannot begin a STUN message or
// announce more than kMaxMessageSize.
size_t frameLength(const uint8_t* bytes, size_t available, Read& bad);

// Reads one whole message of exactly length bytes.
Read readMessage(const uint8_t* bytes, size_t length, Message& message);

// Whether the message read from bytes carries a MESSAGE-INTEGRITY that key
// makes (false without one).
bool integrityHolds(const uint8_t* bytes, size_t length, const Message& message, const Key& key);

// A short English name of a read's failure, for console lines.
const char* readName(Read read);

// CRC-32 (the ISO-HDLC one, as zlib's), for FINGERPRINT.
uint32_t crc32(const uint8_t* bytes, size_t length);

}  // namespace internet::stun
