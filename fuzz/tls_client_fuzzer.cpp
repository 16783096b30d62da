// What comes back to the directory's TLS client after its first handshake
// message (platform/tls.h over OpenSSL here): records of any kind, in
// pieces of any size. It fails or waits, never crashes, never hands over
// plain text before the handshake is done (no certificate can be checked
// from fuzzed bytes), and keeps no more than it was given.
#include <string>

#include "fuzz/require.h"
#include "platform/tls.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  auto tls = platform::startTls("dir.test");
  require(tls != nullptr, "no TLS client");
  std::string out;
  tls->takeToSend(out);
  require(!out.empty(), "no handshake began");
  const size_t piece = 1 + data[0] % 200;
  for (size_t at = 1; at < size; at += piece) {
    const size_t length = size - at < piece ? size - at : piece;
    tls->putReceived(data + at, length);
    const platform::TlsState state = tls->advance();
    out.clear();
    tls->takeToSend(out);
    uint8_t plain[512];
    require(state == platform::TlsState::Open || tls->readPlain(plain, sizeof plain) == 0,
            "plain text before the handshake was done");
    if (state == platform::TlsState::Failed) {
      require(!tls->failure().empty(), "a failure without a reason");
      break;
    }
    require(state != platform::TlsState::Open,
            "a handshake succeeded without a trusted certificate");
  }
  return 0;
}
