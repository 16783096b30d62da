// The digests from the system's BCrypt (Windows Vista and later, Wine too):
// one algorithm handle per digest and per call, closed before returning.
#include <windows.h>

#include <bcrypt.h>

#include <climits>

#include "platform/digest.h"

namespace platform {
namespace {

bool digest(LPCWSTR algorithm, bool keyed, const uint8_t* key, size_t keyLength,
            const uint8_t* bytes, size_t length, uint8_t* out, ULONG outLength) {
  if (keyLength > ULONG_MAX || length > ULONG_MAX) return false;
  BCRYPT_ALG_HANDLE provider = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr,
                                                  keyed ? BCRYPT_ALG_HANDLE_HMAC_FLAG : 0))) {
    return false;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool made =
      BCRYPT_SUCCESS(BCryptCreateHash(provider, &hash, nullptr, 0, const_cast<PUCHAR>(key),
                                      static_cast<ULONG>(keyLength), 0));
  if (made) {
    made = BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<PUCHAR>(bytes),
                                         static_cast<ULONG>(length), 0)) &&
           BCRYPT_SUCCESS(BCryptFinishHash(hash, out, outLength, 0));
    BCryptDestroyHash(hash);
  }
  BCryptCloseAlgorithmProvider(provider, 0);
  return made;
}

}  // namespace

bool md5(const uint8_t* bytes, size_t length, Md5Digest& out) {
  Md5Digest made{};
  if (!digest(BCRYPT_MD5_ALGORITHM, false, nullptr, 0, bytes, length, made.data(),
              static_cast<ULONG>(made.size()))) {
    return false;
  }
  out = made;
  return true;
}

bool hmacSha1(const uint8_t* key, size_t keyLength, const uint8_t* bytes, size_t length,
              Sha1Digest& out) {
  Sha1Digest made{};
  if (!digest(BCRYPT_SHA1_ALGORITHM, true, key, keyLength, bytes, length, made.data(),
              static_cast<ULONG>(made.size()))) {
    return false;
  }
  out = made;
  return true;
}

}  // namespace platform
