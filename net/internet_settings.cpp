#include "net/internet_settings.h"

#include <cstring>

#include "platform/net_socket.h"

namespace net {

bool parseDirectoryServer(const char* text, DirectoryServer& server) {
  server = DirectoryServer{};
  if (text == nullptr) return false;
  const char* colon = std::strchr(text, ':');
  const size_t length = colon != nullptr ? static_cast<size_t>(colon - text) : std::strlen(text);
  if (length == 0 || length >= kDirectoryDomainSize) return false;
  std::array<char, kDirectoryDomainSize> domain{};
  std::memcpy(domain.data(), text, length);
  if (!platform::isHostName(domain.data())) return false;
  uint16_t port = kDirectoryPort;
  if (colon != nullptr) {
    const char* digits = colon + 1;
    uint32_t value = 0;
    if (*digits == '\0' || (*digits == '0')) return false;
    for (const char* c = digits; *c != '\0'; ++c) {
      if (*c < '0' || *c > '9' || c - digits >= 5) return false;
      value = value * 10 + static_cast<uint32_t>(*c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
  }
  server.domain = domain;
  server.port = port;
  return true;
}

}  // namespace net
