#include "internet/upnp_igd.h"

#include <miniupnpc/igd_desc_parse.h>
#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpreplyparse.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/net_local.h"

namespace internet::upnp {

namespace {

constexpr char kUserAgent[] = "Vellora UPnP/1.1";
constexpr char kDescription[] = "Vellora room";

struct DeviceListFree {
  void operator()(UPNPDev* list) const { freeUPNPDevlist(list); }
};
using DeviceList = std::unique_ptr<UPNPDev, DeviceListFree>;

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

// Text from a device that goes into our requests: a service type
// ("urn:schemas-upnp-org:service:WANIPConnection:1") has nothing else.
bool isPlainUrn(const char* text) {
  if (text[0] == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                       (*c >= '0' && *c <= '9') || *c == ':' || *c == '-' || *c == '.';
    if (!plain) return false;
  }
  return true;
}

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

// Reads one device's description: Done fills router when it is a gateway
// with a WAN connection service whose control URL is on the same device.
Outcome describe(const UPNPDev& device, const std::atomic<bool>& stop, Router& router) {
  HttpUrl where;
  if (!parseHttpUrl(device.descURL, where) || where.address.family != platform::Family::V4 ||
      !isLocalNetworkAddress(where.address)) {
    return Outcome::BadAnswer;
  }
  const std::string request = "GET " + where.path + " HTTP/1.1\r\nHost: " + where.host +
                              "\r\nUser-Agent: " + kUserAgent + "\r\nConnection: close\r\n\r\n";
  HttpAnswer answer;
  const Outcome got =
      fromHttp(httpExchange(where, request, kExchangeLimitMs, &stop, answer, &router.local));
  if (got != Outcome::Done) return got;
  if (answer.status != 200 || router.local.family != platform::Family::V4)
    return Outcome::BadAnswer;
  IGDdatas data{};
  parserootdesc(answer.body.data(), static_cast<int>(answer.body.size()), &data);
  if (!isPlainUrn(data.first.servicetype)) return Outcome::BadAnswer;
  UPNPUrls urls{};
  GetUPNPUrls(&urls, &data, device.descURL, device.scope_id);
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
                uint32_t limitMs, const std::atomic<bool>* stop, std::string* answerBody,
                int& error) {
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
  const Outcome got = fromHttp(httpExchange(router.control, request, limitMs, stop, answer));
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

bool inRange(const platform::Address& address, uint32_t base, int bits) {
  const uint32_t mask = bits == 0 ? 0 : 0xFFFFFFFFu << (32 - bits);
  return (address.v4Host() & mask) == (base & mask);
}

}  // namespace

bool isLocalNetworkAddress(const platform::Address& address) {
  if (address.family == platform::Family::V6) {
    const uint8_t first = address.bytes[0];
    return (first & 0xFE) == 0xFC || (first == 0xFE && (address.bytes[1] & 0xC0) == 0x80);
  }
  return inRange(address, 0x0A000000, 8) || inRange(address, 0xAC100000, 12) ||
         inRange(address, 0xC0A80000, 16) || inRange(address, 0x64400000, 10) ||
         inRange(address, 0xA9FE0000, 16);
}

bool isPrivateExternal(const platform::Address& address) {
  if (address.family != platform::Family::V4) return true;
  static constexpr struct {
    uint32_t base;
    int bits;
  } kRanges[] = {
      {0x00000000, 8},  {0x0A000000, 8},  {0x64400000, 10}, {0x7F000000, 8},  {0xA9FE0000, 16},
      {0xAC100000, 12}, {0xC0000000, 24}, {0xC0000200, 24}, {0xC0A80000, 16}, {0xC6120000, 15},
      {0xC6336400, 24}, {0xCB007100, 24}, {0xE0000000, 3},
  };
  return std::any_of(std::begin(kRanges), std::end(kRanges),
                     [&](const auto& r) { return inRange(address, r.base, r.bits); });
}

Outcome findRouter(const std::atomic<bool>& stop, Router& router) {
  if (!platform::startSocketLibrary()) return Outcome::NoRouter;
  int error = 0;
  const DeviceList devices(
      upnpDiscover(kSearchWaitMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error));
  Outcome worst = Outcome::NoRouter;
  std::vector<std::string> asked;
  for (const UPNPDev* device = devices.get(); device != nullptr; device = device->pNext) {
    if (stop.load()) return Outcome::Stopped;
    const std::string url = device->descURL;
    if (std::find(asked.begin(), asked.end(), url) != asked.end()) continue;
    if (asked.size() == static_cast<size_t>(kMaxDevices)) break;
    asked.push_back(url);
    const Outcome got = describe(*device, stop, router);
    if (got == Outcome::Done || got == Outcome::Stopped) return got;
    note(worst, got);
  }
  return stop.load() ? Outcome::Stopped : worst;
}

Outcome externalAddress(const Router& router, const std::atomic<bool>& stop, std::string& address,
                        int& error) {
  address.clear();
  std::string body;
  const Outcome got =
      command(router, "GetExternalIPAddress", "", kExchangeLimitMs, &stop, &body, error);
  if (got != Outcome::Done) return got;
  SoapValues values(body);
  const std::string text = values.value("NewExternalIPAddress");
  platform::Address parsed;
  if (text.empty()) return Outcome::Done;  // not connected
  if (std::count(text.begin(), text.end(), '.') != 3 ||
      !platform::parseNumericAddress(text.c_str(), parsed) ||
      parsed.family != platform::Family::V4) {
    return Outcome::BadAnswer;
  }
  if (!platform::isWildcardOrBroadcast(parsed)) address = platform::formatAddress(parsed);
  return Outcome::Done;
}

Outcome addMapping(const Router& router, uint16_t externalPort, uint16_t internalPort,
                   uint32_t leaseSeconds, const std::atomic<bool>& stop, int& error) {
  const std::string arguments =
      "<NewRemoteHost></NewRemoteHost><NewExternalPort>" + std::to_string(externalPort) +
      "</NewExternalPort><NewProtocol>TCP</NewProtocol><NewInternalPort>" +
      std::to_string(internalPort) + "</NewInternalPort><NewInternalClient>" +
      platform::formatAddress(router.local) +
      "</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>" + kDescription +
      "</NewPortMappingDescription><NewLeaseDuration>" + std::to_string(leaseSeconds) +
      "</NewLeaseDuration>";
  return command(router, "AddPortMapping", arguments, kExchangeLimitMs, &stop, nullptr, error);
}

Outcome deleteMapping(const Router& router, uint16_t externalPort, uint32_t limitMs, int& error) {
  const std::string arguments = "<NewRemoteHost></NewRemoteHost><NewExternalPort>" +
                                std::to_string(externalPort) +
                                "</NewExternalPort><NewProtocol>TCP</NewProtocol>";
  return command(router, "DeletePortMapping", arguments, limitMs, nullptr, nullptr, error);
}

}  // namespace internet::upnp
