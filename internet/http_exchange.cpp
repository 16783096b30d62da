#include "internet/http_exchange.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/net_local.h"

namespace internet {

namespace {

using Clock = std::chrono::steady_clock;

// How often a wait looks at the stop token.
constexpr uint32_t kSliceMs = 20;

bool startsWithNoCase(const std::string& text, size_t at, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (at + i >= text.size()) return false;
    char c = text[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A decimal number of at most 9 digits; false on anything else.
bool readDecimal(const std::string& text, size_t begin, size_t end, size_t& value) {
  while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
  while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (begin == end || end - begin > 9) return false;
  value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<size_t>(text[i] - '0');
  }
  return true;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The body of a chunked answer from bytes[at]; chunk extensions and
// trailers are skipped.
HttpParse readChunked(const std::string& bytes, size_t at, bool ended, std::string& body) {
  body.clear();
  for (;;) {
    const size_t lineEnd = bytes.find("\r\n", at);
    if (lineEnd == std::string::npos) {
      if (bytes.size() - at > 64) return HttpParse::Malformed;
      return ended ? HttpParse::Malformed : HttpParse::Incomplete;
    }
    size_t size = 0;
    size_t digits = 0;
    for (size_t i = at; i < lineEnd && hexDigit(bytes[i]) >= 0; ++i, ++digits) {
      if (digits == 7) return HttpParse::TooLarge;
      size = size * 16 + static_cast<size_t>(hexDigit(bytes[i]));
    }
    if (digits == 0) return HttpParse::Malformed;
    if (size == 0) return HttpParse::Complete;
    if (body.size() + size > kHttpBodyMax) return HttpParse::TooLarge;
    const size_t data = lineEnd + 2;
    if (bytes.size() < data + size + 2) return ended ? HttpParse::Malformed : HttpParse::Incomplete;
    if (bytes.compare(data + size, 2, "\r\n") != 0) return HttpParse::Malformed;
    body.append(bytes, data, size);
    at = data + size + 2;
  }
}

}  // namespace

bool parseHttpUrl(const std::string& text, HttpUrl& url) {
  static constexpr char kScheme[] = "http://";
  if (text.size() > 1024 || !startsWithNoCase(text, 0, kScheme)) return false;
  for (const char c : text) {
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) return false;
  }
  const size_t begin = sizeof kScheme - 1;
  const size_t slash = text.find('/', begin);
  const std::string authority =
      text.substr(begin, slash == std::string::npos ? slash : slash - begin);
  url.path = slash == std::string::npos ? "/" : text.substr(slash);
  std::string host = authority;
  std::string port = "80";
  const size_t bracket = authority.rfind(']');
  const size_t colon = authority.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  size_t portNumber = 0;
  if (!readDecimal(port, 0, port.size(), portNumber) || portNumber == 0 || portNumber > 65535)
    return false;
  const bool bracketed = !host.empty() && host.front() == '[';
  if (bracketed != (!host.empty() && host.back() == ']')) return false;
  // Numeric only, and dotted IPv4 in full: "10.1" is not taken for 10.0.0.1.
  if (!bracketed && std::count(host.begin(), host.end(), '.') != 3) return false;
  if (!platform::parseNumericAddress(host.c_str(), url.address)) return false;
  if (bracketed != (url.address.family == platform::Family::V6)) return false;
  url.address.port = static_cast<uint16_t>(portNumber);
  url.host = host + ":" + std::to_string(portNumber);
  return true;
}

HttpParse parseHttpAnswer(const std::string& bytes, bool ended, HttpAnswer& answer) {
  const size_t headEnd = bytes.find("\r\n\r\n");
  if (headEnd == std::string::npos) {
    if (bytes.size() > kHttpHeadMax) return HttpParse::TooLarge;
    return ended ? HttpParse::Malformed : HttpParse::Incomplete;
  }
  if (headEnd > kHttpHeadMax) return HttpParse::TooLarge;
  // "HTTP/1.x NNN"
  size_t status = 0;
  if (!startsWithNoCase(bytes, 0, "http/1.") || bytes.size() < 12 || bytes[8] != ' ' ||
      !readDecimal(bytes, 9, 12, status) || status < 100) {
    return HttpParse::Malformed;
  }
  bool chunked = false;
  bool sized = false;
  size_t length = 0;
  for (size_t line = bytes.find("\r\n") + 2; line < headEnd;) {
    const size_t next = bytes.find("\r\n", line);
    if (startsWithNoCase(bytes, line, "content-length:")) {
      if (!readDecimal(bytes, line + 15, next, length)) return HttpParse::Malformed;
      sized = true;
    } else if (startsWithNoCase(bytes, line, "transfer-encoding:")) {
      const std::string value = bytes.substr(line + 18, next - line - 18);
      chunked = value.find("chunked") != std::string::npos;
    }
    line = next + 2;
  }
  const size_t bodyStart = headEnd + 4;
  answer.status = static_cast<int>(status);
  if (chunked) return readChunked(bytes, bodyStart, ended, answer.body);
  if (sized) {
    if (length > kHttpBodyMax) return HttpParse::TooLarge;
    if (bytes.size() - bodyStart < length) {
      return ended ? HttpParse::Malformed : HttpParse::Incomplete;
    }
    answer.body = bytes.substr(bodyStart, length);
    return HttpParse::Complete;
  }
  if (bytes.size() - bodyStart > kHttpBodyMax) return HttpParse::TooLarge;
  if (!ended) return HttpParse::Incomplete;
  answer.body = bytes.substr(bodyStart);
  return HttpParse::Complete;
}

HttpOutcome httpExchange(const HttpUrl& url, const std::string& request, uint32_t limitMs,
                         const platform::StopToken* stop, HttpAnswer& answer,
                         platform::Address* local) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(limitMs);
  const auto left = [&end]() -> uint32_t {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return ms.count() <= 0 ? 0
                           : static_cast<uint32_t>(ms.count() < kSliceMs ? ms.count() : kSliceMs);
  };
  const auto stopped = [stop] { return stop != nullptr && stop->stopRequested(); };
  const platform::Socket connection = platform::startConnect(url.address);
  if (!connection.valid()) return HttpOutcome::NoConnection;
  for (;;) {
    if (stopped()) return HttpOutcome::Stopped;
    const uint32_t slice = left();
    if (slice == 0) return HttpOutcome::TimedOut;
    const platform::ConnectState state = platform::connectState(connection, slice);
    if (state == platform::ConnectState::Failed) return HttpOutcome::NoConnection;
    if (state == platform::ConnectState::Connected) break;
  }
  if (local != nullptr) platform::localAddressOf(connection, *local);
  for (size_t sent = 0; sent < request.size();) {
    const int taken = platform::sendSome(connection, request.data() + sent, request.size() - sent);
    if (taken < 0) return HttpOutcome::NoConnection;
    sent += static_cast<size_t>(taken);
    if (sent == request.size()) break;
    if (stopped()) return HttpOutcome::Stopped;
    const uint32_t slice = left();
    if (slice == 0) return HttpOutcome::TimedOut;
    std::this_thread::sleep_for(std::chrono::milliseconds(slice));
  }
  std::string received;
  char buffer[4096];
  for (;;) {
    if (stopped()) return HttpOutcome::Stopped;
    const uint32_t slice = left();
    if (slice == 0) return HttpOutcome::TimedOut;
    platform::PollItem item;
    item.socket = &connection;
    platform::pollSockets(&item, 1, slice);
    const int got = platform::receiveSome(connection, buffer, sizeof buffer);
    if (got == 0) continue;
    const bool ended = got < 0;
    if (!ended) received.append(buffer, static_cast<size_t>(got));
    switch (parseHttpAnswer(received, ended, answer)) {
      case HttpParse::Complete:
        return HttpOutcome::Answered;
      case HttpParse::Malformed:
        return received.empty() ? HttpOutcome::NoConnection : HttpOutcome::Malformed;
      case HttpParse::TooLarge:
        return HttpOutcome::TooLarge;
      case HttpParse::Incomplete:
        break;
    }
  }
}

}  // namespace internet
