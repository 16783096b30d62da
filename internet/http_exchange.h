// One HTTP/1.1 request and its answer over a connection of its own, to a
// device on the local network (a router's description and its SOAP
// commands). Bounded in time and in bytes whatever the device sends: an
// answer that never ends, never comes, or is not HTTP costs at most the
// given time and kHttpAnswerMax bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/net_socket.h"
#include "platform/worker.h"

namespace internet {

// Largest answer taken: its status line and headers, and its body.
inline constexpr size_t kHttpHeadMax = 16 * 1024;
inline constexpr size_t kHttpBodyMax = 128 * 1024;

// "http://ADDRESS[:PORT][/PATH]": a numeric IPv4 address, or an IPv6 one in
// brackets (no names: a device that names a host is not asked for it).
struct HttpUrl {
  platform::Address address;  // port included (80 when not given)
  std::string host;           // "ADDRESS:PORT" as the Host header gives it
  std::string path;           // "/" when not given
};
// False on anything else (another scheme, a name, a port out of range,
// bytes that cannot be part of a URL).
bool parseHttpUrl(const std::string& text, HttpUrl& url);

struct HttpAnswer {
  int status = 0;    // 200, 500...
  std::string body;  // without chunk framing
};

enum class HttpParse : uint8_t { Incomplete, Complete, Malformed, TooLarge };
// Reads an answer from the bytes received so far (ended: the device closed
// the connection). Complete fills answer; Incomplete wants more bytes.
HttpParse parseHttpAnswer(const std::string& bytes, bool ended, HttpAnswer& answer);

enum class HttpOutcome : uint8_t {
  Answered,      // a whole answer arrived (any status)
  NoConnection,  // the connection could not be made or broke
  TimedOut,      // limitMs ran out first
  Malformed,     // what arrived is not an HTTP answer
  TooLarge,      // more than kHttpHeadMax or kHttpBodyMax
  Stopped,       // the worker was asked to stop
};

// Connects to url.address, sends request whole and reads the answer, all
// within limitMs; looks at stop (when given) every few milliseconds. local,
// when given, receives the connection's own address.
HttpOutcome httpExchange(const HttpUrl& url, const std::string& request, uint32_t limitMs,
                         const platform::StopToken* stop, HttpAnswer& answer,
                         platform::Address* local = nullptr);

}  // namespace internet
