#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <climits>

#include "platform/digest.h"

namespace platform {

bool md5(const uint8_t* bytes, size_t length, Md5Digest& out) {
  unsigned int size = 0;
  Md5Digest digest{};
  if (EVP_Digest(bytes, length, digest.data(), &size, EVP_md5(), nullptr) != 1 ||
      size != digest.size()) {
    return false;
  }
  out = digest;
  return true;
}

bool hmacSha1(const uint8_t* key, size_t keyLength, const uint8_t* bytes, size_t length,
              Sha1Digest& out) {
  if (keyLength > INT_MAX) return false;
  unsigned int size = 0;
  Sha1Digest digest{};
  if (HMAC(EVP_sha1(), key, static_cast<int>(keyLength), bytes, length, digest.data(), &size) ==
          nullptr ||
      size != digest.size()) {
    return false;
  }
  out = digest;
  return true;
}

}  // namespace platform
