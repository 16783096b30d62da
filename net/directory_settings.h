// directory= of RoomConfig.txt: the room directory (net/directory.h) a
// copy of the program uses as host and as guest; none by default, and then
// the program contacts no server at all.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace net {

inline constexpr uint16_t kDirectoryPort = 5222;
inline constexpr size_t kDirectoryDomainSize = 128;

struct DirectoryServer {
  std::array<char, kDirectoryDomainSize> domain{};  // empty: no directory
  uint16_t port = kDirectoryPort;
  bool configured() const { return domain[0] != '\0'; }
};

// Reads "DOMAIN" or "DOMAIN:PORT": DOMAIN a host name (platform::isHostName),
// PORT 1 to 65535 in plain decimal. False, with server left as none, on
// anything else.
bool parseDirectoryServer(const char* text, DirectoryServer& server);

}  // namespace net
