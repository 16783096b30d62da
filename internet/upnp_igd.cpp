#include "internet/upnp_igd.h"

#include <miniupnpc/igd_desc_parse.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpreplyparse.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "internet/ssdp_search.h"

namespace internet::upnp {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUserAgent[] = "Vellora UPnP/1.1";
constexpr char kDescription[] = "Vellora room";

// The name/value pairs of a SOAP answer, as miniupnpc parses them.
class SoapValues {
 public:
  explicit SoapValues(const std::string& body) {
    ParseNameValue(body.data(), static_cast<int>(body.size()), &data_);
  }
  ~SoapValues() { ClearNameValueList(&data_); }
  SoapValues(const SoapValues&) = delete;
  SoapValues& operator=(const SoapValues&) = delete;
  // The value of name, or an empty string.
  std::string value(const char* name) {
    const char* found = GetValueFromNameValueList(&data_, name);
    return found != nullptr ? found : "";
  }

 private:
  NameValueParserData data_{};
};

// Keeps the outcome that says most about why no router was found.
void note(Outcome& worst, Outcome seen) {
  const auto rank = [](Outcome o) { return o == Outcome::NoAnswer ? 2 : o == Outcome::BadAnswer; };
  if (rank(seen) > rank(worst)) worst = seen;
}

Outcome fromHttp(HttpOutcome outcome) {
  switch (outcome) {
    case HttpOutcome::Answered:
      return Outcome::Done;
    case HttpOutcome::NoConnection:
    case HttpOutcome::TimedOut:
      return Outcome::NoAnswer;
    case HttpOutcome::Stopped:
      return Outcome::Stopped;
    case HttpOutcome::Malformed:
    case HttpOutcome::TooLarge:
      break;
  }
  return Outcome::BadAnswer;
}

// One exchange within the budget.
Outcome exchange(const HttpUrl& url, const std::string& request, const Budget& budget,
                 HttpAnswer& answer, platform::Address* local = nullptr) {
  if (budget.stopped()) return Outcome::Stopped;
  const uint32_t limitMs = budget.exchangeMs();
  if (limitMs == 0) return Outcome::NoAnswer;
  return fromHttp(httpExchange(url, request, limitMs, budget.stop, answer, local));
}

// Reads the description at where: Done fills router when it is a gateway
// with a WAN connection service whose control URL is on the same device.
Outcome describe(const HttpUrl& where, const Budget& budget, Router& router) {
  const std::string request = "GET " + where.path + " HTTP/1.1\r\nHost: " + where.host +
                              "\r\nUser-Agent: " + kUserAgent + "\r\nConnection: close\r\n\r\n";
  HttpAnswer answer;
  const Outcome got = exchange(where, request, budget, answer, &router.local);
  if (got != Outcome::Done) return got;
  if (answer.status != 200 || router.local.family != platform::Family::V4)
    return Outcome::BadAnswer;
  IGDdatas data{};
  parserootdesc(answer.body.data(), static_cast<int>(answer.body.size()), &data);
  if (!isPlainUrn(data.first.servicetype)) return Outcome::BadAnswer;
  const std::string descUrl = "http://" + where.host + where.path;
  UPNPUrls urls{};
  GetUPNPUrls(&urls, &data, descUrl.c_str(), 0);
  const bool parsed = urls.controlURL != nullptr && parseHttpUrl(urls.controlURL, router.control);
  FreeUPNPUrls(&urls);
  // Commands go to the device that described itself, nowhere else.
  if (!parsed || router.control.address.family != platform::Family::V4 ||
      router.control.address.bytes != where.address.bytes) {
    return Outcome::BadAnswer;
  }
  router.serviceType = data.first.servicetype;
  return Outcome::Done;
}

// One SOAP command of the router's WAN connection service.
Outcome command(const Router& router, const char* action, const std::string& arguments,
                const Budget& budget, std::string* answerBody, int& error) {
  error = 0;
  const std::string body =
      "<?xml version=\"1.0\"?>\r\n"
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:" +
      std::string(action) + " xmlns:u=\"" + router.serviceType + "\">" + arguments +
      "</u:" + action + "></s:Body></s:Envelope>\r\n";
  const std::string request =
      "POST " + router.control.path + " HTTP/1.1\r\nHost: " + router.control.host +
      "\r\nUser-Agent: " + kUserAgent + "\r\nContent-Length: " + std::to_string(body.size()) +
      "\r\nContent-Type: text/xml\r\nSOAPAction: \"" + router.serviceType + "#" + action +
      "\"\r\nConnection: close\r\n\r\n" + body;
  HttpAnswer answer;
  const Outcome got = exchange(router.control, request, budget, answer);
  if (got != Outcome::Done) return got;
  SoapValues values(answer.body);
  const std::string code = values.value("errorCode");
  if (!code.empty()) {
    error = std::atoi(code.c_str());
    return Outcome::Refused;
  }
  if (answer.status != 200) return Outcome::BadAnswer;
  if (answerBody != nullptr) *answerBody = std::move(answer.body);
  return Outcome::Done;
}

// A dotted IPv4 address in full, as a router writes one.
bool parseDottedV4(const std::string& text, platform::Address& address) {
  return std::count(text.begin(), text.end(), '.') == 3 &&
         platform::parseNumericAddress(text.c_str(), address) &&
         address.family == platform::Family::V4;
}

std::string portArguments(uint16_t externalPort) {
  return "<NewRemoteHost></NewRemoteHost><NewExternalPort>" + std::to_string(externalPort) +
         "</NewExternalPort><NewProtocol>TCP</NewProtocol>";
}

bool inRange(const platform::Address& address, uint32_t base, int bits) {
  const uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
  return (address.v4Host() & mask) == (base & mask);
}

}  // namespace

uint32_t Budget::exchangeMs() const {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
  if (left.count() <= 0) return 0;
  return static_cast<uint32_t>(std::min<int64_t>(left.count(), kExchangeLimitMs));
}

Budget budgetOf(const platform::StopToken* stop, uint32_t limitMs) {
  return Budget{stop, Clock::now() + std::chrono::milliseconds(limitMs)};
}

bool isPlainUrn(const char* text) {
  if (text[0] == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                       (*c >= '0' && *c <= '9') || *c == ':' || *c == '-' || *c == '.';
    if (!plain) return false;
  }
  return true;
}

bool isLocalNetworkAddress(const platform::Address& address) {
  if (address.family == platform::Family::V6) {
    const uint8_t first = address.bytes[0];
    return (first & 0xFE) == 0xFC || (first == 0xFE && (address.bytes[1] & 0xC0) == 0x80);
  }
  return inRange(address, 0x0A000000, 8) || inRange(address, 0xAC100000, 12) ||
         inRange(address, 0xC0A80000, 16) || inRange(address, 0x64400000, 10) ||
         inRange(address, 0xA9FE0000, 16);
}

Outcome findRouter(const Budget& budget, Router& router) {
  std::vector<HttpUrl> locations;
  const ssdp::Found found = ssdp::search(budget.stop, budget.end, locations);
  if (found == ssdp::Found::Stopped) return Outcome::Stopped;
  Outcome worst = Outcome::NoRouter;
  for (const HttpUrl& location : locations) {
    const Outcome got = describe(location, budget, router);
    if (got == Outcome::Done || got == Outcome::Stopped) return got;
    note(worst, got);
  }
  return budget.stopped() ? Outcome::Stopped : worst;
}

Outcome externalAddress(const Router& router, const Budget& budget,
                        std::optional<platform::Address>& address, int& error) {
  address.reset();
  std::string body;
  const Outcome got = command(router, "GetExternalIPAddress", "", budget, &body, error);
  if (got != Outcome::Done) return got;
  SoapValues values(body);
  const std::string text = values.value("NewExternalIPAddress");
  if (text.empty()) return Outcome::Done;  // not connected
  platform::Address parsed;
  if (!parseDottedV4(text, parsed)) return Outcome::BadAnswer;
  if (!platform::isWildcardOrBroadcast(parsed)) address = parsed;
  return Outcome::Done;
}

Outcome addMapping(const Router& router, uint16_t externalPort, uint16_t internalPort,
                   uint32_t leaseSeconds, const Budget& budget, int& error) {
  const std::string arguments =
      portArguments(externalPort) + "<NewInternalPort>" + std::to_string(internalPort) +
      "</NewInternalPort><NewInternalClient>" + platform::formatAddress(router.local) +
      "</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>" + kDescription +
      "</NewPortMappingDescription><NewLeaseDuration>" + std::to_string(leaseSeconds) +
      "</NewLeaseDuration>";
  return command(router, "AddPortMapping", arguments, budget, nullptr, error);
}

Outcome mappingEntry(const Router& router, uint16_t externalPort, const Budget& budget,
                     MappingEntry& entry, int& error) {
  std::string body;
  const Outcome got = command(router, "GetSpecificPortMappingEntry", portArguments(externalPort),
                              budget, &body, error);
  if (got != Outcome::Done) return got;
  SoapValues values(body);
  const std::string port = values.value("NewInternalPort");
  const int internalPort = std::atoi(port.c_str());
  if (!parseDottedV4(values.value("NewInternalClient"), entry.client) || port.size() > 5 ||
      internalPort <= 0 || internalPort > 65535) {
    return Outcome::BadAnswer;
  }
  entry.client.port = 0;
  entry.internalPort = static_cast<uint16_t>(internalPort);
  return Outcome::Done;
}

Outcome deleteMapping(const Router& router, uint16_t externalPort, const Budget& budget,
                      int& error) {
  return command(router, "DeletePortMapping", portArguments(externalPort), budget, nullptr, error);
}

}  // namespace internet::upnp
