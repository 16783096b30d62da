// The room directory's own XMPP client without a server: the stream reader's
// bounds against what a hostile server sends (a stanza nested 300,000 deep,
// one with 200,000 children, an entity expansion, a stanza that never ends,
// garbage), and the session's sign-in against a scripted server that speaks
// the wire format byte for byte (features, SASL ANONYMOUS, resource binding,
// stream management acknowledgements).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "internet/xmpp_client.h"
#include "support/xml_stanza.h"

namespace {

using internet::xml::Element;
using internet::xml::StreamReader;
using internet::xmpp::Session;
using Event = StreamReader::Event;

// Feeds text to a reader in pieces of `piece` bytes; returns the events.
std::vector<Event> readAll(StreamReader& reader, const std::string& text, size_t piece = 7) {
  std::vector<Event> events;
  for (size_t at = 0; at < text.size(); at += piece) {
    const std::string part = text.substr(at, piece);
    size_t used = 0;
    while (used < part.size()) {
      const Event e = reader.read(part.data(), part.size(), &used);
      if (e == Event::None) break;
      events.push_back(e);
      if (e == Event::Error) return events;
    }
  }
  return events;
}

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  out.reserve(s.size() * n);
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

TEST(XmlStream, ReadsAServersStreamInAnyPieces) {
  const std::string stream =
      std::string(xmltest::kStreamHeader) +
      "<presence from='a@b/c'><x xmlns='urn:x'>t&amp;&#x3042;&#65;<![CDATA[<raw>]]>"
      "</x></presence> \n<stream:features><bind "
      "xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></stream:features></stream:stream>";
  for (const size_t piece : {size_t{1}, size_t{7}, stream.size()}) {
    StreamReader reader;
    std::vector<Element> stanzas;
    std::vector<Event> events;
    size_t fed = 0;
    for (size_t at = 0; at < stream.size(); at += piece) {
      const std::string part = stream.substr(at, piece);
      size_t used = 0;
      for (Event e; used < part.size() &&
                    (e = reader.read(part.data(), part.size(), &used)) != Event::None;) {
        events.push_back(e);
        if (e == Event::Stanza) stanzas.push_back(reader.takeStanza());
      }
      fed += part.size();
    }
    ASSERT_EQ(events.size(), 4u) << "piece " << piece << ": " << reader.error();
    EXPECT_EQ(events[0], Event::StreamOpened);
    EXPECT_EQ(events[3], Event::StreamClosed);
    ASSERT_EQ(stanzas.size(), 2u);
    EXPECT_EQ(stanzas[0].ns, "jabber:client");
    EXPECT_EQ(*stanzas[0].attribute("from"), "a@b/c");
    ASSERT_EQ(stanzas[0].children.size(), 1u);
    EXPECT_EQ(stanzas[0].children[0].ns, "urn:x");
    EXPECT_EQ(stanzas[0].children[0].text,
              "t&\xe3\x81\x82"
              "A<raw>");
    EXPECT_EQ(stanzas[1].name, "features");
    EXPECT_EQ(stanzas[1].ns, internet::xml::kStreamNamespace);
    EXPECT_NE(stanzas[1].child("bind", "urn:ietf:params:xml:ns:xmpp-bind"), nullptr);
  }
}

TEST(XmlStream, WhatBreaksARuleEndsTheStreamBeforeAnythingIsBuilt) {
  const std::string h = xmltest::kStreamHeader;
  const std::vector<std::pair<const char*, std::string>> hostile = {
      {"300,000 deep", h + repeat("<a>", 300000)},
      {"200,000 children", h + "<message>" + repeat("<a/>", 200000) + "</message>"},
      {"an entity expansion",
       "<?xml version='1.0'?><!DOCTYPE lol [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;'>]>" + h +
           "<message>&b;</message>"},
      {"an unknown entity", h + "<message>&b;</message>"},
      {"a stanza that never ends", h + "<message><body>" + repeat("x", 200 * 1024)},
      {"a tag that never ends", h + "<message to='" + repeat("x", 200 * 1024)},
      {"garbage", repeat("\x17\xfe garbage \x01", 20000)},
      {"a comment", h + "<!-- hello --><presence/>"},
      {"text between stanzas", h + "hello"},
      {"not UTF-8", h + "<message>\xff\xfe</message>"},
      {"a control character", h + "<message>&#1;</message>"},
      {"mismatched tags", h + "<message></presence>"},
      {"an undeclared prefix", h + "<p:message/>"},
      {"an attribute twice", h + "<message a='1' a='2'/>"},
      {"a late declaration", h + "<?xml version='1.0'?>"},
      {"another root", "<html><body>"},
  };
  for (const auto& [what, text] : hostile) {
    StreamReader reader;
    const std::vector<Event> events = readAll(reader, text, 4096);
    ASSERT_FALSE(events.empty()) << what;
    EXPECT_EQ(events.back(), Event::Error) << what;
    EXPECT_FALSE(reader.error().empty()) << what;
  }
  // Within the bounds: the deepest and widest stanzas taken.
  const size_t depth = internet::xml::kMaxDepth;
  Element stanza;
  EXPECT_TRUE(xmltest::parseStanza(repeat("<a>", depth) + repeat("</a>", depth), stanza));
  EXPECT_FALSE(xmltest::parseStanza(repeat("<a>", depth + 1) + repeat("</a>", depth + 1), stanza));
  EXPECT_TRUE(xmltest::parseStanza("<m>" + repeat("<a/>", internet::xml::kMaxElements - 1) + "</m>",
                                   stanza));
  EXPECT_FALSE(
      xmltest::parseStanza("<m>" + repeat("<a/>", internet::xml::kMaxElements) + "</m>", stanza));
}

TEST(XmlStream, WrittenElementsReadBackTheSame) {
  Element presence("presence", "jabber:client");
  presence.setAttribute("to", "room@rooms.x/v<1>&'\"");
  Element& room = presence.addChild(Element("room", "urn:x-vellora:room"));
  room.addChild(Element("name", "urn:x-vellora:room")).text = "a & <b> \"c\" 'd' \xe3\x81\x82";
  std::string xml;
  internet::xml::write(presence, "jabber:client", xml);
  Element read;
  ASSERT_TRUE(xmltest::parseStanza(xml, read)) << xml;
  EXPECT_EQ(*read.attribute("to"), "room@rooms.x/v<1>&'\"");
  ASSERT_NE(read.child("room", "urn:x-vellora:room"), nullptr);
  EXPECT_EQ(read.child("room")->child("name", "urn:x-vellora:room")->text,
            "a & <b> \"c\" 'd' \xe3\x81\x82");
}

// A scripted server: what it answers to each thing the client sends.
class ScriptedServer {
 public:
  explicit ScriptedServer(Session& session) : session_(session) {}
  // What the client has sent since the last call.
  std::string heard() {
    std::string out;
    session_.takeOutgoing(out);
    return out;
  }
  void say(const std::string& text) { session_.receive(text.data(), text.size()); }

 private:
  Session& session_;
};

const char kServerHeader[] =
    "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams' id='s1' from='dir.test' version='1.0'>";

TEST(XmppSession, SignsInAnonymouslyBindsAndAcknowledges) {
  std::vector<Element> received;
  Session session("dir.test", [&received](const Element& stanza) { received.push_back(stanza); });
  ScriptedServer server(session);
  EXPECT_NE(server.heard().find("<stream:stream to='dir.test' version='1.0'"), std::string::npos);
  server.say(std::string(kServerHeader) +
             "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
             "<mechanism>PLAIN</mechanism><mechanism>ANONYMOUS</mechanism></mechanisms>"
             "</stream:features>");
  EXPECT_EQ(server.heard(),
            "<auth xmlns='urn:ietf:params:xml:ns:xmpp-sasl' mechanism='ANONYMOUS'>=</auth>");
  server.say("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
  EXPECT_NE(server.heard().find("<stream:stream"), std::string::npos) << "the stream starts over";
  server.say(std::string(kServerHeader) +
             "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
             "<session xmlns='urn:ietf:params:xml:ns:xmpp-session'><optional/></session>"
             "<sm xmlns='urn:xmpp:sm:3'/></stream:features>");
  EXPECT_EQ(server.heard(),
            "<iq type='set' id='bind'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/></iq>");
  server.say(
      "<iq type='result' id='bind'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'>"
      "<jid>abc@dir.test/r1</jid></bind></iq>");
  EXPECT_EQ(session.phase(), Session::Phase::Ready);
  EXPECT_EQ(session.jid(), "abc@dir.test/r1");
  EXPECT_EQ(server.heard(), "<enable xmlns='urn:xmpp:sm:3'/>");
  server.say(
      "<enabled xmlns='urn:xmpp:sm:3'/><presence from='x'/><message from='y'/>"
      "<r xmlns='urn:xmpp:sm:3'/>");
  EXPECT_EQ(server.heard(), "<a xmlns='urn:xmpp:sm:3' h='2'/>");
  // The server's requests are answered: a ping, and anything else refused.
  server.say(
      "<iq type='get' id='s1' from='dir.test'><ping xmlns='urn:xmpp:ping'/></iq>"
      "<iq type='get' id='s2' from='dir.test'><query xmlns='jabber:iq:version'/></iq>");
  EXPECT_EQ(server.heard(),
            "<iq id='s1' to='dir.test' type='result'/><iq id='s2' to='dir.test' type='error'>"
            "<error type='cancel'><service-unavailable "
            "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].name, "message");
  EXPECT_FALSE(session.secured());
}

TEST(XmppSession, TlsWhenOfferedAndAFailureSaysWhy) {
  {
    Session session("dir.test", nullptr);
    ScriptedServer server(session);
    server.heard();
    server.say(std::string(kServerHeader) +
               "<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>"
               "<mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'><mechanism>ANONYMOUS"
               "</mechanism></mechanisms></stream:features>");
    EXPECT_EQ(server.heard(), "<starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>");
    server.say("<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>");
    EXPECT_EQ(session.phase(), Session::Phase::TlsWanted);
    session.tlsStarted();
    EXPECT_TRUE(session.secured());
    EXPECT_NE(server.heard().find("<stream:stream"), std::string::npos);
  }
  const std::vector<std::pair<const char*, std::string>> refusals = {
      {"no anonymous sign-in",
       "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
       "<mechanism>PLAIN</mechanism></mechanisms></stream:features>"},
      {"a stream error",
       "<stream:error><host-unknown xmlns='urn:ietf:params:xml:ns:xmpp-streams'/>"
       "</stream:error>"},
      {"bytes after proceed",
       "<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'/></stream:features>"
       "<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/><presence/>"},
      {"a deep stanza", "<a>" + repeat("<a>", 300000)},
  };
  for (const auto& [what, text] : refusals) {
    Session session("dir.test", nullptr);
    session.receive(kServerHeader, sizeof kServerHeader - 1);
    session.receive(text.data(), text.size());
    EXPECT_EQ(session.phase(), Session::Phase::Failed) << what;
    EXPECT_FALSE(session.failure().empty()) << what;
  }
}

}  // namespace
