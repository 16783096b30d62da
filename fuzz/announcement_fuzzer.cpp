// A room directory's presences as a guest reads them: whatever XML the
// directory relays, an announcement (a relayed one too) is taken only whole
// and within its bounds, every address it gives is one a guest may ask, and
// what is taken builds back into an announcement that reads the same; a
// permission's request or grant is read as an address alone. The input is the
// XML of one stanza, read by the client's own stream reader inside a
// stream as a server sends it.
#include <random>
#include <string>
#include <vector>

#include "fuzz/require.h"
#include "internet/announcement.h"

namespace {

const char kHeader[] =
    "<stream:stream version='1.0' xmlns='jabber:client' "
    "xmlns:stream='http://etherx.jabber.org/streams'>";

bool parse(const std::string& xml, internet::xml::Element& stanza) {
  using Event = internet::xml::StreamReader::Event;
  internet::xml::StreamReader reader;
  const std::string all = kHeader + xml;
  size_t used = 0;
  if (reader.read(all.data(), all.size(), &used) != Event::StreamOpened) return false;
  if (reader.read(all.data(), all.size(), &used) != Event::Stanza) return false;
  stanza = reader.takeStanza();
  return true;
}

void checkTaken(const internet::Announcement& a) {
  require(a.version == internet::kAnnouncementVersion, "another version was taken");
  require(a.endpointCount >= 1 && a.endpointCount <= internet::kMaxEndpoints,
          "an announcement with no place or too many was taken");
  require(a.relayJid.empty() || (internet::isRelayJid(a.relayJid) && a.endpointCount == 1),
          "a relayed announcement with a bad address or several places was taken");
  require(a.players <= a.maxPlayers, "more players than the maximum were taken");
  for (size_t i = 0; i < a.endpointCount; ++i) {
    require(a.endpoints[i].port != 0, "port 0 was taken");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  internet::xml::Element stanza;
  if (!parse(std::string(reinterpret_cast<const char*>(data), size), stanza)) return 0;
  internet::Announcement read;
  // A permission's messages, read from the same stanza, carry an address
  // and nothing else.
  bool granted = false;
  platform::Address address;
  if (internet::readPermitMessage(stanza, granted, address)) {
    require(address.port == 0 && address.scope == 0, "a permission carried more than an address");
  }
  if (!internet::readAnnouncement(stanza, read)) return 0;
  checkTaken(read);
  // Built again and sent as text, it reads the same.
  internet::xml::Element presence("presence", "jabber:client");
  require(internet::buildAnnouncement(read, presence.addChild(internet::xml::Element())),
          "a taken announcement could not be built again");
  std::string xml;
  internet::xml::write(presence, "jabber:client", xml);
  internet::xml::Element sent;
  require(parse(xml, sent), "a built announcement does not read as XML");
  internet::Announcement again;
  require(internet::readAnnouncement(sent, again), "a built announcement was not taken");
  require(again.relayJid == read.relayJid && again.players == read.players &&
              again.maxPlayers == read.maxPlayers &&
              again.endpointCount == read.endpointCount && again.instance == read.instance,
          "a built announcement reads differently");
  // Chosen among copies of itself: the bounds of one refresh hold.
  std::vector<internet::Announcement> all(5, read);
  std::mt19937 random(static_cast<uint32_t>(size));
  for (const net::AnnouncedRoom& room : internet::chooseRooms(all, random)) {
    for (size_t i = 0; i < room.endpoints.count; ++i) {
      require(internet::isAskable(room.endpoints.addresses[i]), "a forbidden address was chosen");
    }
  }
  for (const internet::RelayedRoom& room : internet::chooseRelayedRooms(all, random)) {
    require(room.room.endpoints.count == 1 && internet::isAskable(room.room.endpoints.addresses[0]),
            "a relayed room with a forbidden place was chosen");
  }
  return 0;
}
