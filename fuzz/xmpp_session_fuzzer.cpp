// What a directory's server (or anyone on the path before TLS) may send to
// the client, as a byte stream: the stream's start, its features, STARTTLS,
// the sign-in, binding, stream management and the stanzas after, in pieces
// of any size. The session never reads past its bounds or crashes, every
// stanza it hands over is within the reader's bounds and writes back to
// XML that reads the same, and announcements taken from it obey their
// rules. The input's first byte picks the piece size; TLS is taken as begun
// whenever the session asks for it.
#include <string>
#include <vector>

#include "fuzz/require.h"
#include "internet/announcement.h"
#include "internet/xmpp_client.h"

namespace {

using internet::xml::Element;

size_t count(const Element& e, int depth, int& deepest) {
  deepest = depth > deepest ? depth : deepest;
  size_t n = 1;
  for (const Element& child : e.children) n += count(child, depth + 1, deepest);
  return n;
}

bool same(const Element& a, const Element& b) {
  if (a.name != b.name || a.ns != b.ns || a.text != b.text || a.attributes != b.attributes ||
      a.children.size() != b.children.size()) {
    return false;
  }
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!same(a.children[i], b.children[i])) return false;
  }
  return true;
}

void checkStanza(const Element& stanza) {
  int deepest = 1;
  require(count(stanza, 1, deepest) <= internet::xml::kMaxElements, "too many elements built");
  require(deepest <= internet::xml::kMaxDepth, "a stanza deeper than its bound was built");
  // Written back as the client would send it, it reads the same.
  std::string xml =
      "<stream:stream version='1.0' xmlns='jabber:client' "
      "xmlns:stream='http://etherx.jabber.org/streams'>";
  internet::xml::write(stanza, internet::xmpp::kClientNamespace, xml);
  internet::xml::StreamReader reader;
  size_t used = 0;
  using Event = internet::xml::StreamReader::Event;
  require(reader.read(xml.data(), xml.size(), &used) == Event::StreamOpened, "no stream header");
  const Event event = reader.read(xml.data(), xml.size(), &used);
  // A stanza of many escaped characters may grow past the size bound when
  // written; anything else must read back.
  if (event == Event::Error) {
    require(xml.size() > internet::xml::kMaxStanzaBytes, "a written stanza does not read");
    return;
  }
  require(event == Event::Stanza && same(reader.takeStanza(), stanza),
          "a written stanza reads differently");
  internet::Announcement announcement;
  if (internet::readAnnouncement(stanza, announcement)) {
    require(announcement.endpointCount >= 1 &&
                announcement.endpointCount <= internet::kMaxEndpoints &&
                announcement.players <= announcement.maxPlayers,
            "an announcement outside its rules was taken");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t piece = 1 + data[0] % 64;
  size_t stanzas = 0;
  internet::xmpp::Session session("dir.test", [&stanzas](const Element& stanza) {
    ++stanzas;
    checkStanza(stanza);
  });
  std::string sent;
  for (size_t at = 1; at < size; at += piece) {
    const size_t length = size - at < piece ? size - at : piece;
    session.receive(reinterpret_cast<const char*>(data) + at, length);
    if (session.phase() == internet::xmpp::Session::Phase::TlsWanted) session.tlsStarted();
    session.takeOutgoing(sent);
    sent.clear();
    if (session.phase() == internet::xmpp::Session::Phase::Failed) {
      require(!session.failure().empty(), "a failure without a reason");
      break;
    }
  }
  require(stanzas <= size / 4 + 1, "more stanzas than the bytes can hold");
  return 0;
}
