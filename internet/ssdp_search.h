// The search for a home router on the local network (SSDP, UPnP's
// discovery), over the platform's datagram sockets: M-SEARCH requests for an
// Internet Gateway Device sent to the group 239.255.255.250:1900, and the
// answers read until one deadline, whatever arrives and however often. An
// answer is untrusted: it counts only as an HTTP 200 answer whose LOCATION
// is an http:// URL on the sender's own address, a local network's; each
// location is taken once, a bounded number of them, and a bounded number of
// datagrams is read at all.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "internet/http_exchange.h"
#include "platform/net_socket.h"
#include "platform/worker.h"

namespace internet::ssdp {

// The whole search, at most.
inline constexpr uint32_t kSearchLimitMs = 2500;
// Once something answered, the search ends this long after it began: the
// requests ask for answers within a second (MX: 1), and every device that
// answers is heard by then.
inline constexpr uint32_t kAnswerWindowMs = 1300;
// The requests go out again once after this, should a datagram be lost.
inline constexpr uint32_t kResendMs = 400;
// Devices taken from one search, and datagrams read in one search.
inline constexpr size_t kMaxLocations = 4;
inline constexpr int kMaxDatagrams = 64;
// Longest answer read; a longer one is cut there.
inline constexpr size_t kDatagramMax = 1500;

// Reads one answer from `from`: an HTTP/1.x 200 status line and a LOCATION
// header whose URL names from's address (IPv4, a local network's). False on
// anything else.
bool parseAnswer(const char* bytes, size_t length, const platform::Address& from,
                 HttpUrl& location);

enum class Found : uint8_t { Answered, Nothing, Stopped };

// Searches until the earlier of `end` and kSearchLimitMs from now (checking
// stop every few tens of milliseconds, when given); fills locations in the
// order they arrived, each once.
Found search(const platform::StopToken* stop, std::chrono::steady_clock::time_point end,
             std::vector<HttpUrl>& locations);

}  // namespace internet::ssdp
