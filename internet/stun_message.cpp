#include "internet/stun_message.h"

#include <cstring>

namespace internet::stun {
namespace {

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}
void put16(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}
void put32(std::string& out, uint32_t value) {
  put16(out, static_cast<uint16_t>(value >> 16));
  put16(out, static_cast<uint16_t>(value & 0xFFFF));
}
void set16(std::string& out, size_t at, uint16_t value) {
  out[at] = static_cast<char>(value >> 8);
  out[at + 1] = static_cast<char>(value & 0xFF);
}
const uint8_t* bytesOf(const std::string& bytes) {
  return reinterpret_cast<const uint8_t*>(bytes.data());
}

// The type field: method bits M11..M0 interleaved with the class bits C1
// (bit 8) and C0 (bit 4) (RFC 5389 6).
uint16_t typeOf(uint16_t method, Class kind) {
  const uint16_t c = static_cast<uint16_t>(kind);
  return static_cast<uint16_t>((method & 0x000F) | (method & 0x0070) << 1 |
                               (method & 0x0F80) << 2 | (c & 1) << 4 | (c & 2) << 7);
}
void splitType(uint16_t type, uint16_t& method, Class& kind) {
  method = static_cast<uint16_t>((type & 0x000F) | (type & 0x00E0) >> 1 | (type & 0x3E00) >> 2);
  kind = static_cast<Class>((type >> 4 & 1) | (type >> 7 & 2));
}

// Attributes below 0x8000 the program knows: those it reads, and those a
// relay may add that change nothing for a client of TCP relays.
bool known(uint16_t type) {
  switch (type) {
    case kMappedAddress:
    case kUsername:
    case kMessageIntegrity:
    case kErrorCode:
    case kUnknownAttributes:
    case kChannelNumber:
    case kLifetime:
    case kXorPeerAddress:
    case kData:
    case kRealm:
    case kNonce:
    case kXorRelayedAddress:
    case kRequestedAddressFamily:
    case kEvenPort:
    case kRequestedTransport:
    case kDontFragment:
    case kXorMappedAddress:
    case kReservationToken:
    case kConnectionId:
      return true;
    default:
      return false;
  }
}

// XOR-MAPPED-ADDRESS and its kin (RFC 5389 15.2): family 1 with 4 bytes,
// family 2 with 16; the port xor'ed with the cookie's top half, the
// address with the cookie (and, for IPv6, the transaction after it).
bool readXorAddress(const uint8_t* value, size_t length, const Transaction& transaction,
                    platform::Address& out) {
  if (length < 4 || value[0] != 0) return false;
  const uint8_t family = value[1];
  if (!((family == 1 && length == 8) || (family == 2 && length == 20))) return false;
  uint8_t mask[16];
  for (int i = 0; i < 4; ++i) mask[i] = static_cast<uint8_t>(kMagicCookie >> (24 - 8 * i));
  std::memcpy(mask + 4, transaction.data(), kTransactionSize);
  platform::Address address;
  address.family = family == 1 ? platform::Family::V4 : platform::Family::V6;
  const size_t size = family == 1 ? 4 : 16;
  for (size_t i = 0; i < size; ++i) address.bytes[i] = value[4 + i] ^ mask[i];
  address.port = static_cast<uint16_t>(read16(value + 2) ^ (kMagicCookie >> 16));
  out = address;
  return true;
}

// The attributes take() reads, each with a bit of its own; -1 for others.
int readSlot(uint16_t type) {
  static constexpr uint16_t kRead[] = {kErrorCode,         kRealm,          kNonce,
                                       kXorMappedAddress,  kXorRelayedAddress, kXorPeerAddress,
                                       kLifetime,          kConnectionId};
  for (int i = 0; i < static_cast<int>(sizeof kRead / sizeof kRead[0]); ++i) {
    if (kRead[i] == type) return i;
  }
  return -1;
}

bool readText(const uint8_t* value, size_t length, std::string& out) {
  if (length > kMaxTextBytes) return false;
  out.assign(reinterpret_cast<const char*>(value), length);
  return true;
}

// One attribute the program reads; false when its value is ill formed.
bool take(uint16_t type, const uint8_t* value, size_t length, Message& m) {
  switch (type) {
    case kErrorCode: {
      // Reserved bits, class (3 to 6) and number (0 to 99), then the reason.
      if (length < 4 || value[0] != 0 || value[1] != 0) return false;
      const int errorClass = value[2] & 0x07;
      const int number = value[3];
      if (errorClass < 3 || errorClass > 6 || number > 99) return false;
      if (!readText(value + 4, length - 4, m.reason)) return false;
      m.errorCode = errorClass * 100 + number;
      return true;
    }
    case kRealm:
      return readText(value, length, m.realm);
    case kNonce:
      return readText(value, length, m.nonce);
    case kXorMappedAddress:
      return (m.hasMapped = readXorAddress(value, length, m.transaction, m.mapped));
    case kXorRelayedAddress:
      return (m.hasRelayed = readXorAddress(value, length, m.transaction, m.relayed));
    case kXorPeerAddress:
      return (m.hasPeer = readXorAddress(value, length, m.transaction, m.peer));
    case kLifetime:
      if (length != 4) return false;
      m.lifetime = read32(value);
      return (m.hasLifetime = true);
    case kConnectionId:
      if (length != 4) return false;
      m.connectionId = read32(value);
      return (m.hasConnectionId = true);
    default:
      return true;  // known, and nothing the program reads
  }
}

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t length) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) {
    crc ^= bytes[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

bool longTermKey(const std::string& username, const std::string& realm,
                 const std::string& password, Key& key) {
  const std::string text = username + ":" + realm + ":" + password;
  return platform::md5(bytesOf(text), text.size(), key);
}

Writer::Writer(uint16_t method, Class kind, const Transaction& transaction)
    : transaction_(transaction) {
  put16(bytes_, typeOf(method, kind));
  put16(bytes_, 0);  // the length, set as attributes are added
  put32(bytes_, kMagicCookie);
  bytes_.append(reinterpret_cast<const char*>(transaction.data()), transaction.size());
}

void Writer::addBytes(uint16_t type, const uint8_t* bytes, size_t length) {
  const size_t padded = (length + 3) & ~size_t{3};
  if (bytes_.size() + 4 + padded > kMaxMessageSize) {
    tooLong_ = true;
    return;
  }
  put16(bytes_, type);
  put16(bytes_, static_cast<uint16_t>(length));
  bytes_.append(reinterpret_cast<const char*>(bytes), length);
  bytes_.append(padded - length, '\0');
  set16(bytes_, 2, static_cast<uint16_t>(bytes_.size() - kHeaderSize));
}

void Writer::addText(uint16_t type, const std::string& text) {
  if (text.size() > kMaxTextBytes) {
    tooLong_ = true;
    return;
  }
  addBytes(type, bytesOf(text), text.size());
}

void Writer::addUint32(uint16_t type, uint32_t value) {
  std::string bytes;
  put32(bytes, value);
  addBytes(type, bytesOf(bytes), bytes.size());
}

void Writer::addXorAddress(uint16_t type, const platform::Address& address) {
  uint8_t value[20] = {0, address.family == platform::Family::V4 ? uint8_t{1} : uint8_t{2}};
  const uint16_t port = static_cast<uint16_t>(address.port ^ (kMagicCookie >> 16));
  value[2] = static_cast<uint8_t>(port >> 8);
  value[3] = static_cast<uint8_t>(port & 0xFF);
  uint8_t mask[16];
  for (int i = 0; i < 4; ++i) mask[i] = static_cast<uint8_t>(kMagicCookie >> (24 - 8 * i));
  std::memcpy(mask + 4, transaction_.data(), kTransactionSize);
  const size_t size = address.family == platform::Family::V4 ? 4 : 16;
  for (size_t i = 0; i < size; ++i) value[4 + i] = address.bytes[i] ^ mask[i];
  addBytes(type, value, 4 + size);
}

std::string Writer::finish(const Key* key) {
  if (tooLong_ || bytes_.size() + 24 + 8 > kMaxMessageSize) return "";
  if (key != nullptr) {
    // The length counts the integrity attribute itself while the HMAC is
    // taken over everything before it (RFC 5389 15.4).
    set16(bytes_, 2, static_cast<uint16_t>(bytes_.size() + 24 - kHeaderSize));
    platform::Sha1Digest mac{};
    if (!platform::hmacSha1(key->data(), key->size(), bytesOf(bytes_), bytes_.size(), mac)) return "";
    addBytes(kMessageIntegrity, mac.data(), mac.size());
  }
  set16(bytes_, 2, static_cast<uint16_t>(bytes_.size() + 8 - kHeaderSize));
  const uint32_t fingerprint = crc32(bytesOf(bytes_), bytes_.size()) ^ kFingerprintXor;
  addUint32(kFingerprint, fingerprint);
  return bytes_;
}

size_t frameLength(const uint8_t* bytes, size_t available, Read& bad) {
  bad = Read::Ok;
  // The first bits and the cookie are checked as soon as they arrive, so
  // that bytes of anything else fail at once instead of being waited for.
  if (available >= 1 && (bytes[0] & 0xC0) != 0) {
    bad = Read::NotStun;
    return 0;
  }
  for (size_t i = 4; i < 8 && i < available; ++i) {
    if (bytes[i] != static_cast<uint8_t>(kMagicCookie >> (8 * (7 - i)))) {
      bad = Read::NotStun;
      return 0;
    }
  }
  if (available < 4) return 0;
  const size_t length = read16(bytes + 2);
  if (length % 4 != 0) {
    bad = Read::NotStun;
    return 0;
  }
  if (kHeaderSize + length > kMaxMessageSize) {
    bad = Read::TooLong;
    return 0;
  }
  return available < kHeaderSize ? 0 : kHeaderSize + length;
}

Read readMessage(const uint8_t* bytes, size_t length, Message& message) {
  Read bad = Read::Ok;
  if (length < kHeaderSize || frameLength(bytes, length, bad) != length) {
    return bad != Read::Ok ? bad : Read::NotStun;
  }
  Message m;
  splitType(read16(bytes), m.method, m.kind);
  std::memcpy(m.transaction.data(), bytes + 8, kTransactionSize);
  size_t at = kHeaderSize;
  size_t count = 0;
  uint32_t seen = 0;  // bit readSlot(type): that attribute already read
  while (at < length) {
    if (length - at < 4 || ++count > kMaxAttributes) return Read::Malformed;
    const uint16_t type = read16(bytes + at);
    const size_t valueLength = read16(bytes + at + 2);
    const size_t padded = (valueLength + 3) & ~size_t{3};
    if (padded > length - at - 4) return Read::Malformed;
    const uint8_t* value = bytes + at + 4;
    if (type == kFingerprint) {
      if (valueLength != 4 || at + 8 != length) return Read::BadFingerprint;
      if ((crc32(bytes, at) ^ kFingerprintXor) != read32(value)) return Read::BadFingerprint;
    } else if (m.integrityAt == 0) {
      if (type < 0x8000 && !known(type)) return Read::UnknownRequired;
      if (type == kMessageIntegrity) {
        if (valueLength != kIntegritySize) return Read::Malformed;
        m.integrityAt = at;
      } else if (const int slot = readSlot(type); slot < 0 || (seen >> slot & 1) == 0) {
        if (!take(type, value, valueLength, m)) return Read::Malformed;
        if (slot >= 0) seen |= 1u << slot;
      }
    }
    at += 4 + padded;
  }
  message = m;
  return Read::Ok;
}

bool integrityHolds(const uint8_t* bytes, size_t length, const Message& message, const Key& key) {
  const size_t at = message.integrityAt;
  if (at < kHeaderSize || at + 4 + kIntegritySize > length) return false;
  std::string copy(reinterpret_cast<const char*>(bytes), at);
  set16(copy, 2, static_cast<uint16_t>(at + 4 + kIntegritySize - kHeaderSize));
  platform::Sha1Digest mac{};
  if (!platform::hmacSha1(key.data(), key.size(), bytesOf(copy), copy.size(), mac)) return false;
  // Every byte compared, whatever differs first.
  uint8_t differs = 0;
  for (size_t i = 0; i < kIntegritySize; ++i) differs |= mac[i] ^ bytes[at + 4 + i];
  return differs == 0;
}

const char* readName(Read read) {
  switch (read) {
    case Read::Ok:
      return "a message";
    case Read::NotStun:
      return "bytes that are no relay's message";
    case Read::TooLong:
      return "a message over its size limit";
    case Read::Malformed:
      return "a malformed message";
    case Read::UnknownRequired:
      return "a message with an attribute it requires and we do not know";
    case Read::BadFingerprint:
      return "a message with a wrong fingerprint";
  }
  return "";
}

}  // namespace internet::stun
