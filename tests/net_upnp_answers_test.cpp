// What a device on the local network answers, read before anything is done
// with it: HTTP answers in each framing, truncated, endless or not HTTP at
// all; the URLs a device gives (numeric addresses only); and which addresses
// count as a local network's or as private when a router gives them as its
// external one.
#include <gtest/gtest.h>

#include <string>

#include "internet/http_exchange.h"
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

TEST(HttpAnswers, AddressRanges) {
  const auto v4 = [](const char* text) {
    platform::Address address;
    EXPECT_TRUE(platform::parseNumericAddress(text, address)) << text;
    return address;
  };
  for (const char* local : {"10.0.0.1", "172.31.255.254", "192.168.1.1", "100.64.0.1",
                            "169.254.3.4", "fd00::1", "fe80::1"}) {
    EXPECT_TRUE(internet::upnp::isLocalNetworkAddress(v4(local))) << local;
  }
  for (const char* far : {"8.8.8.8", "172.32.0.1", "127.0.0.1", "203.0.113.1", "2001:db8::1"})
    EXPECT_FALSE(internet::upnp::isLocalNetworkAddress(v4(far))) << far;
  for (const char* hidden : {"10.1.2.3", "100.100.0.1", "192.168.0.2", "198.51.100.11",
                             "203.0.113.9", "192.0.2.1", "198.18.0.1", "0.0.0.0", "240.0.0.1"}) {
    EXPECT_TRUE(internet::upnp::isPrivateExternal(v4(hidden))) << hidden;
  }
  for (const char* open : {"8.8.8.8", "1.1.1.1", "100.128.0.1", "172.32.0.1", "198.20.0.1"})
    EXPECT_FALSE(internet::upnp::isPrivateExternal(v4(open))) << open;
}

}  // namespace
