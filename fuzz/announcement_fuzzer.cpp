// A room directory's presences as a guest reads them: whatever XML the
// directory relays, an announcement is taken only whole and within its
// bounds, every address it gives is one a guest may ask, and what is taken
// builds back into an announcement that reads the same. The input is the
// XML of one stanza (libstrophe parses it, as it parses the stream).
#include <strophe.h>

#include <random>
#include <string>
#include <vector>

#include "fuzz/require.h"
#include "internet/announcement.h"

namespace {

xmpp_ctx_t* context() {
  static xmpp_ctx_t* const ctx = [] {
    xmpp_initialize();
    return xmpp_ctx_new(nullptr, nullptr);
  }();
  return ctx;
}

void checkTaken(const internet::Announcement& a) {
  require(a.version == internet::kAnnouncementVersion, "another version was taken");
  require(a.endpointCount >= 1 && a.endpointCount <= internet::kMaxEndpoints,
          "an announcement with no place or too many was taken");
  require(a.name.size() <= internet::kMaxNameBytes && a.comment.size() <= internet::kMaxCommentBytes,
          "an oversized text was taken");
  require(a.players <= a.maxPlayers, "more players than the maximum were taken");
  for (size_t i = 0; i < a.endpointCount; ++i) {
    require(a.endpoints[i].port != 0, "port 0 was taken");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string xml(reinterpret_cast<const char*>(data), size);
  xmpp_stanza_t* stanza = xmpp_stanza_new_from_string(context(), xml.c_str());
  if (stanza == nullptr) return 0;
  internet::Announcement read;
  if (internet::readAnnouncement(stanza, read)) {
    checkTaken(read);
    // Built again, it reads the same.
    xmpp_stanza_t* built = internet::buildAnnouncement(context(), read);
    require(built != nullptr, "a taken announcement could not be built again");
    xmpp_stanza_t* presence = xmpp_presence_new(context());
    xmpp_stanza_add_child(presence, built);
    xmpp_stanza_release(built);
    internet::Announcement again;
    require(internet::readAnnouncement(presence, again), "a built announcement was not taken");
    require(again.name == read.name && again.comment == read.comment &&
                again.endpointCount == read.endpointCount && again.instance == read.instance,
            "a built announcement reads differently");
    xmpp_stanza_release(presence);
    // Chosen among copies of itself: the bounds of one refresh hold.
    std::vector<internet::Announcement> all(5, read);
    std::mt19937 random(static_cast<uint32_t>(size));
    for (const net::AnnouncedRoom& room : internet::chooseRooms(all, random)) {
      for (size_t i = 0; i < room.endpoints.count; ++i) {
        require(internet::isAskable(room.endpoints.addresses[i]), "a forbidden address was chosen");
      }
    }
  }
  xmpp_stanza_release(stanza);
  return 0;
}
