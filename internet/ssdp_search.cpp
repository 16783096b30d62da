#include "internet/ssdp_search.h"

#include <algorithm>
#include <array>
#include <string>

#include "internet/upnp_igd.h"

namespace internet::ssdp {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at the stop token.
constexpr uint32_t kSliceMs = 20;
constexpr uint32_t kGroup = 0xEFFFFFFA;  // 239.255.255.250
constexpr uint16_t kSsdpPort = 1900;
// The kinds of device asked for: a gateway of either version.
constexpr const char* kSearchTargets[] = {
    "urn:schemas-upnp-org:device:InternetGatewayDevice:1",
    "urn:schemas-upnp-org:device:InternetGatewayDevice:2",
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool startsWithNoCase(const std::string& text, const char* prefix) {
  size_t i = 0;
  for (; prefix[i] != '\0'; ++i) {
    if (i >= text.size() || lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

std::string trimmed(const std::string& text) {
  const size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r") + 1 - begin);
}

void sendSearches(const platform::Socket& socket) {
  const platform::Address group = platform::Address::v4(kGroup, kSsdpPort);
  for (const char* target : kSearchTargets) {
    const std::string request =
        std::string("M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\n") +
        "MAN: \"ssdp:discover\"\r\nMX: 1\r\nST: " + target + "\r\n\r\n";
    platform::sendDatagram(socket, group, request.data(), request.size());
  }
}

}  // namespace

bool parseAnswer(const char* bytes, size_t length, const platform::Address& from,
                 HttpUrl& location) {
  const std::string text(bytes, std::min(length, kDatagramMax));
  // "HTTP/1.x 200"
  if (!startsWithNoCase(text, "http/1.") || text.size() < 12 || text.compare(8, 4, " 200") != 0)
    return false;
  for (size_t line = text.find('\n'); line != std::string::npos;) {
    const size_t next = text.find('\n', line + 1);
    const std::string header =
        text.substr(line + 1, next == std::string::npos ? std::string::npos : next - line - 1);
    line = next;
    if (!startsWithNoCase(header, "location:")) continue;
    // The device's own description, on a local network: it may not point
    // this machine's requests at a third one.
    return parseHttpUrl(trimmed(header.substr(9)), location) &&
           location.address.family == platform::Family::V4 && from.family == platform::Family::V4 &&
           location.address.v4Host() == from.v4Host() && upnp::isLocalNetworkAddress(from);
  }
  return false;
}

Found search(const platform::StopToken* stop, Clock::time_point end,
             std::vector<HttpUrl>& locations) {
  locations.clear();
  const Clock::time_point begun = Clock::now();
  end = std::min(end, begun + std::chrono::milliseconds(kSearchLimitMs));
  const Clock::time_point resendAt = begun + std::chrono::milliseconds(kResendMs);
  const Clock::time_point windowEnd = begun + std::chrono::milliseconds(kAnswerWindowMs);
  const platform::Socket socket = platform::openDatagram(0, false);
  if (!socket.valid()) return Found::Nothing;
  sendSearches(socket);
  bool resent = false;
  int datagrams = 0;
  std::array<char, kDatagramMax> buffer;
  for (;;) {
    if (stop != nullptr && stop->stopRequested()) return Found::Stopped;
    const Clock::time_point now = Clock::now();
    if (now >= end || (!locations.empty() && now >= windowEnd)) break;
    if (!resent && now >= resendAt && locations.empty()) {
      sendSearches(socket);
      resent = true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count();
    platform::PollItem item;
    item.socket = &socket;
    platform::pollSockets(&item, 1, static_cast<uint32_t>(std::min<int64_t>(left, kSliceMs)));
    platform::Address from;
    int got;
    while (datagrams < kMaxDatagrams &&
           (got = platform::receiveDatagram(socket, buffer.data(), buffer.size(), from)) !=
               platform::kNoDatagram) {
      ++datagrams;
      HttpUrl location;
      if (!parseAnswer(buffer.data(), static_cast<size_t>(got), from, location)) continue;
      const bool known = std::any_of(locations.begin(), locations.end(), [&](const HttpUrl& seen) {
        return seen.address == location.address && seen.path == location.path;
      });
      if (!known) locations.push_back(location);
      if (locations.size() == kMaxLocations) return Found::Answered;
    }
    // A device that floods the search has said all it may: what it sent so
    // far is read, the rest is not.
    if (datagrams >= kMaxDatagrams) break;
  }
  return locations.empty() ? Found::Nothing : Found::Answered;
}

}  // namespace internet::ssdp
