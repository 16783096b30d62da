// What a relay's server sends, as the relay's client reads it: the message
// reader on the whole input (after its first byte, which sets the size of
// the pieces), then the input as the server's byte stream of
// a control conversation and of a data connection's bind, in pieces of any
// size. A message of the input whose transaction begins with 0xFF answers
// the client's last request (its transaction put in), so that the
// conversation gets past its first answer. Nothing read may pass its
// bounds, and what the client holds and sends stays bounded however long
// the server goes on.
#include <cstring>
#include <string>

#include "fuzz/require.h"
#include "internet/turn_client.h"

namespace {

using namespace internet;

void checkRead(const stun::Message& m) {
  require(m.realm.size() <= stun::kMaxTextBytes && m.nonce.size() <= stun::kMaxTextBytes &&
              m.reason.size() <= stun::kMaxTextBytes,
          "a text past its bound was taken");
  require(m.errorCode == 0 || (m.errorCode >= 300 && m.errorCode <= 699),
          "an error code out of its range was taken");
}

// The transaction of the last message in out, if any.
bool lastTransaction(const std::string& out, stun::Transaction& id) {
  size_t at = 0;
  size_t last = std::string::npos;
  while (at + stun::kHeaderSize <= out.size()) {
    last = at;
    at += stun::kHeaderSize +
          (static_cast<uint8_t>(out[at + 2]) << 8 | static_cast<uint8_t>(out[at + 3]));
  }
  if (last == std::string::npos) return false;
  std::memcpy(id.data(), out.data() + last + 8, id.size());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* given, size_t givenSize) {
  // The first byte sets the pieces' size; the rest is the server's.
  if (givenSize == 0) return 0;
  const size_t piece = 1 + given[0] % 64;
  const uint8_t* data = given + 1;
  const size_t size = givenSize - 1;
  stun::Message message;
  if (stun::readMessage(data, size, message) == stun::Read::Ok) checkRead(message);

  turn::Control control({"1700000000", "c2VjcmV0"}, 1);
  control.start(0);
  std::string sent;
  control.takeOutgoing(sent);
  std::string input(reinterpret_cast<const char*>(data), size);
  uint64_t now = 0;
  for (size_t at = 0; at < input.size() && control.state() != turn::Control::State::Failed;) {
    // A whole message starting here that answers the last request.
    stun::Read bad = stun::Read::Ok;
    const size_t length = stun::frameLength(reinterpret_cast<const uint8_t*>(input.data() + at),
                                            input.size() - at, bad);
    stun::Transaction last{};
    if (length != 0 && at + length <= input.size() && static_cast<uint8_t>(input[at + 8]) == 0xFF &&
        lastTransaction(sent, last)) {
      std::memcpy(&input[at + 8], last.data(), last.size());
    }
    const size_t take = std::min(piece, input.size() - at);
    control.receive(reinterpret_cast<const uint8_t*>(input.data() + at), take, now);
    at += take;
    now += 700;
    control.tick(now);
    std::string out;
    control.takeOutgoing(out);
    require(out.size() <= (turn::kMaxPending + 4) * stun::kMaxMessageSize,
            "the client sent more than its requests in flight");
    if (!out.empty()) sent = out;
    if (control.state() == turn::Control::State::Allocated) {
      platform::Address peer = platform::Address::v4(0xC6336409u, 0);
      control.permit(peer, now);
    }
    size_t reports = 0;
    turn::Control::Attempt attempt;
    while (control.takeAttempt(attempt)) ++reports;
    turn::Control::Permit permit;
    while (control.takePermit(permit)) ++reports;
    require(reports <= 2 * turn::kMaxReports, "reports past their bound were kept");
  }

  // The same bytes on a data connection: the bind takes no byte past the
  // end, and none after its success.
  turn::Auth auth;
  turn::Bind bind({"1700000000", "c2VjcmV0"}, auth, 7, 1);
  bind.start(0);
  size_t used = 0;
  bind.receive(data, size, &used, 1);
  require(used <= size, "the bind took bytes past the end");
  require(bind.state() != turn::Bind::State::Binding || used == size,
          "the bind stopped early without being bound or failed");
  bind.tick(turn::kAnswerLimitMs);
  require(bind.state() != turn::Bind::State::Binding, "an unanswered bind outlived its time");
  return 0;
}
