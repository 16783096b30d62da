// The search datagrams of the local network: whatever bytes arrive, a
// request or an answer is taken only in its exact form, and what is taken
// writes back to the same bytes; an answer is never larger than a request.
#include <cstring>

#include "fuzz/require.h"
#include "net/discovery.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t nonce = 0;
  if (net::readDiscoveryRequest(data, size, nonce)) {
    require(size == net::kDiscoverySize, "a request of the wrong size was taken");
    require(std::memcmp(net::discoveryRequest(nonce).data(), data, size) == 0,
            "a request was taken that does not write back to its bytes");
    net::DiscoveryAnswer reply{6247, nonce, 1};
    require(net::discoveryAnswer(reply).size() <= size, "an answer outgrew its request");
  }
  net::DiscoveryAnswer answer;
  if (net::readDiscoveryAnswer(data, size, answer)) {
    require(size == net::kDiscoverySize && answer.port != 0, "a malformed answer was taken");
    require(std::memcmp(net::discoveryAnswer(answer).data(), data, size) == 0,
            "an answer was taken that does not write back to its bytes");
  }
  return 0;
}
