// What a device on the local network answers, read before anything is done
// with it: HTTP answers in each framing, truncated, endless or not HTTP at
// all; the URLs a device gives (numeric addresses only); which addresses
// count as a local network's; search answers, which point at their sender's
// own description or count for nothing; and the record of forwardings
// without end, read back whatever became of the file.
#include <gtest/gtest.h>

#include <string>

#include "internet/http_exchange.h"
#include "internet/mapping_record.h"
#include "internet/ssdp_search.h"
#include "internet/upnp_igd.h"

namespace {

using internet::HttpParse;

HttpParse parse(const std::string& bytes, bool ended, std::string* body = nullptr) {
  internet::HttpAnswer answer;
  const HttpParse result = internet::parseHttpAnswer(bytes, ended, answer);
  if (body != nullptr) *body = answer.body;
  return result;
}

TEST(HttpAnswers, EachFramingGivesItsBodyOnceWhole) {
  std::string body;
  const std::string sized = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello";
  EXPECT_EQ(parse(sized.substr(0, sized.size() - 1), false), HttpParse::Incomplete);
  EXPECT_EQ(parse(sized + "trailing", false, &body), HttpParse::Complete);
  EXPECT_EQ(body, "hello");

  const std::string chunked =
      "HTTP/1.1 500 Internal Server Error\r\ntransfer-encoding: chunked\r\n\r\n"
      "3;ext=1\r\nabc\r\nA\r\n0123456789\r\n0\r\n\r\n";
  EXPECT_EQ(parse(chunked.substr(0, 80), false), HttpParse::Incomplete);
  internet::HttpAnswer answer;
  EXPECT_EQ(internet::parseHttpAnswer(chunked, false, answer), HttpParse::Complete);
  EXPECT_EQ(answer.body, "abc0123456789");
  EXPECT_EQ(answer.status, 500);

  const std::string toClose = "HTTP/1.0 200 OK\r\nServer: x\r\n\r\n<root/>";
  EXPECT_EQ(parse(toClose, false), HttpParse::Incomplete);
  EXPECT_EQ(parse(toClose, true, &body), HttpParse::Complete);
  EXPECT_EQ(body, "<root/>");
}

TEST(HttpAnswers, GarbageTruncatedAndEndlessAnswersAreRefused) {
  EXPECT_EQ(parse(std::string("\x16\x03\x01\x02\0\r\n\r\n", 9), true), HttpParse::Malformed);
  EXPECT_EQ(parse("SSH-2.0-OpenSSH\r\n\r\n", false), HttpParse::Malformed);
  EXPECT_EQ(parse("HTTP/1.1 2x0 OK\r\n\r\n", false), HttpParse::Malformed);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\n", false), HttpParse::Malformed);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nshort", true), HttpParse::Malformed);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nX: y", true), HttpParse::Malformed);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nabcdeXX", false),
            HttpParse::Malformed);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", false),
            HttpParse::Malformed);
  // Headers that never end, a body too large, declared or sent.
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n" + std::string(internet::kHttpHeadMax, 'h'), false),
            HttpParse::TooLarge);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nContent-Length: 999999999\r\n\r\n", false),
            HttpParse::TooLarge);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFF\r\n", false),
            HttpParse::TooLarge);
  EXPECT_EQ(parse("HTTP/1.1 200 OK\r\n\r\n" + std::string(internet::kHttpBodyMax + 1, 'b'), false),
            HttpParse::TooLarge);
}

TEST(HttpAnswers, UrlsNameNumericAddressesOnly) {
  internet::HttpUrl url;
  ASSERT_TRUE(internet::parseHttpUrl("http://10.221.1.1:5000/rootDesc.xml", url));
  EXPECT_EQ(platform::formatAddress(url.address), "10.221.1.1");
  EXPECT_EQ(url.address.port, 5000);
  EXPECT_EQ(url.host, "10.221.1.1:5000");
  EXPECT_EQ(url.path, "/rootDesc.xml");
  ASSERT_TRUE(internet::parseHttpUrl("HTTP://192.168.0.1", url));
  EXPECT_EQ(url.address.port, 80);
  EXPECT_EQ(url.path, "/");
  ASSERT_TRUE(internet::parseHttpUrl("http://[fe80::1]:49152/ctl", url));
  EXPECT_EQ(url.address.family, platform::Family::V6);
  for (const char* bad :
       {"https://10.0.0.1/", "http://router.lan/desc.xml", "http://10.1:80/", "http://10.0.0.1:0/",
        "http://10.0.0.1:70000/", "http://10.0.0.1:/", "http://10.0.0.1:80x/",
        "http://10.0.0.1/a b", "http://10.0.0.1/\x01", "http://fe80::1/", "http://[10.0.0.1]/",
        "http://[fe80::1/", "file:///etc/passwd", ""}) {
    EXPECT_FALSE(internet::parseHttpUrl(bad, url)) << bad;
  }
}

platform::Address address(const char* text) {
  platform::Address parsed;
  EXPECT_TRUE(platform::parseNumericAddress(text, parsed)) << text;
  return parsed;
}

TEST(HttpAnswers, AddressRanges) {
  for (const char* local : {"10.0.0.1", "172.31.255.254", "192.168.1.1", "100.64.0.1",
                            "169.254.3.4", "fd00::1", "fe80::1"}) {
    EXPECT_TRUE(internet::upnp::isLocalNetworkAddress(address(local))) << local;
  }
  for (const char* far : {"8.8.8.8", "172.32.0.1", "127.0.0.1", "203.0.113.1", "2001:db8::1"})
    EXPECT_FALSE(internet::upnp::isLocalNetworkAddress(address(far))) << far;
}

TEST(SearchAnswers, OnlyTheSendersOwnDescriptionOnALocalNetworkCounts) {
  const platform::Address router = address("192.168.1.1");
  const auto parse = [&](const std::string& text, const platform::Address& from) {
    internet::HttpUrl location;
    return internet::ssdp::parseAnswer(text.data(), text.size(), from, location)
               ? location.host + location.path
               : std::string("refused");
  };
  const std::string answer =
      "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\nST: "
      "urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\nlocation:  "
      "http://192.168.1.1:5000/rootDesc.xml \r\n\r\n";
  EXPECT_EQ(parse(answer, router), "192.168.1.1:5000/rootDesc.xml");
  // Lines ended by a line feed alone are read too.
  EXPECT_EQ(parse("HTTP/1.0 200 OK\nLOCATION: http://192.168.1.1/d.xml\n\n", router),
            "192.168.1.1:80/d.xml");
  const std::string bad[] = {
      "HTTP/1.1 404 Not Found\r\nLOCATION: http://192.168.1.1/d.xml\r\n\r\n",
      "NOTIFY * HTTP/1.1\r\nLOCATION: http://192.168.1.1/d.xml\r\n\r\n",
      "HTTP/1.1 200 OK\r\nST: upnp:rootdevice\r\n\r\n",
      "HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.7/d.xml\r\n\r\n",  // a third machine
      "HTTP/1.1 200 OK\r\nLOCATION: http://router.lan/d.xml\r\n\r\n",
      "HTTP/1.1 200 OK\r\nLOCATION: https://192.168.1.1/d.xml\r\n\r\n",
      "HTTP/1.1 200 OK\r\nLOCATION: http://[fe80::1]/d.xml\r\n\r\n",
      "HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.1/\x01\r\n\r\n",
      "HTTP/1.1 200 OK\r\nLOCATION: http://192.168.1.1/" + std::string(2000, 'a') + "\r\n\r\n",
      std::string("HTTP/1.1 200\0\0", 14),
      "",
  };
  for (const std::string& text : bad) EXPECT_EQ(parse(text, router), "refused") << text;
  // A device on the internet, or one that names itself there.
  const std::string far = "HTTP/1.1 200 OK\r\nLOCATION: http://8.8.8.8/d.xml\r\n\r\n";
  EXPECT_EQ(parse(far, address("8.8.8.8")), "refused");
}

TEST(MappingRecord, ReadsBackWhatItWroteAndSkipsWhatItCannotUse) {
  internet::RecordedMapping mapping;
  mapping.control = "http://10.221.2.20:5002/ctl";
  mapping.serviceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
  mapping.externalPort = 6247;
  mapping.client = address("10.221.2.10");
  mapping.internalPort = 6247;
  const std::string text = internet::formatMappingRecord({mapping, mapping});
  const auto back = internet::parseMappingRecord(text);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].control, mapping.control);
  EXPECT_EQ(back[0].serviceType, mapping.serviceType);
  EXPECT_EQ(back[0].externalPort, 6247);
  EXPECT_EQ(platform::formatAddress(back[0].client), "10.221.2.10");
  EXPECT_EQ(back[0].internalPort, 6247);

  const std::string damaged =
      "http://10.221.2.20:5002/ctl urn:x:WANIPConnection:1 6247 10.221.2.10\n"  // cut short
      "http://10.221.2.20:5002/ctl urn:x:WANIPConnection:1 0 10.221.2.10 6247\n"
      "http://10.221.2.20:5002/ctl urn:x:WANIPConnection:1 70000 10.221.2.10 6247\n"
      "http://8.8.8.8/ctl urn:x:WANIPConnection:1 6247 10.221.2.10 6247\n"  // not the LAN
      "http://10.221.2.20/ctl urn:x<y> 6247 10.221.2.10 6247\n"
      "http://10.221.2.20/ctl urn:x:WANIPConnection:1 6247 10.221.2.10 6247 more\n"
      "http://10.221.2.20/ctl urn:x:WANIPConnection:1 6247 host.lan 6247\n"
      "\xff\xfe garbage\n" +
      std::string(internet::kRecordFileMax, 'x') + "\n" + text;
  EXPECT_TRUE(internet::parseMappingRecord(damaged).empty());
  std::string many;
  for (int i = 0; i < 20; ++i) many += text;
  EXPECT_EQ(internet::parseMappingRecord(many).size(), internet::kMaxRecordedMappings);
}

}  // namespace
