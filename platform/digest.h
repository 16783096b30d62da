// Message digests a relay's messages need (internet/stun_message.h): MD5 for
// the long-term key and HMAC-SHA1 for a message's integrity (RFC 5389
// 15.4). One implementation per platform: OpenSSL here (digest_linux.cpp),
// the system's BCrypt on Windows (digest_windows.cpp). Neither keeps state
// between calls or waits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace platform {

using Md5Digest = std::array<uint8_t, 16>;
using Sha1Digest = std::array<uint8_t, 20>;

// False (out untouched) only when the system's library cannot make the
// digest at all.
bool md5(const uint8_t* bytes, size_t length, Md5Digest& out);
bool hmacSha1(const uint8_t* key, size_t keyLength, const uint8_t* bytes, size_t length,
              Sha1Digest& out);

}  // namespace platform
