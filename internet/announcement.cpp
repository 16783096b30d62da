#include "internet/announcement.h"

#include "internet/address_policy.h"

#include <strophe.h>

#include <algorithm>
#include <cstring>

namespace internet {
namespace {

bool sameHost(const platform::Address& a, const platform::Address& b) {
  const size_t size = a.family == platform::Family::V4 ? 4 : 16;
  return a.family == b.family && std::memcmp(a.bytes.data(), b.bytes.data(), size) == 0;
}

// Longest children list looked at in one element: a room has at most two
// texts and kMaxEndpoints places, with whitespace between them.
constexpr int kMaxChildren = 2 * (2 + static_cast<int>(kMaxEndpoints)) + 1;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool blank(const char* text) {
  for (; *text != '\0'; ++text) {
    if (!isSpace(*text)) return false;
  }
  return true;
}

// Plain decimal: digits only, no sign, no leading zero (but "0"), at most
// max.
bool readNumber(const char* text, uint32_t max, uint32_t& value) {
  if (text == nullptr || text[0] == '\0' || (text[0] == '0' && text[1] != '\0')) return false;
  uint64_t result = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9' || c - text >= 10) return false;
    result = result * 10 + static_cast<uint64_t>(*c - '0');
  }
  if (result > max) return false;
  value = static_cast<uint32_t>(result);
  return true;
}

// The text of an element that holds text alone (no child element), at
// most maxBytes of it.
bool readText(xmpp_stanza_t* element, size_t maxBytes, std::string& text) {
  text.clear();
  int children = 0;
  for (xmpp_stanza_t* child = xmpp_stanza_get_children(element); child != nullptr;
       child = xmpp_stanza_get_next(child)) {
    if (++children > kMaxChildren || !xmpp_stanza_is_text(child)) return false;
    const char* part = xmpp_stanza_get_text_ptr(child);
    if (part == nullptr) continue;
    const size_t length = std::strlen(part);
    if (length > maxBytes - text.size()) return false;
    text.append(part, length);
  }
  return true;
}

bool readEndpoint(xmpp_stanza_t* element, platform::Address& endpoint) {
  if (xmpp_stanza_get_children(element) != nullptr) return false;
  const char* address = xmpp_stanza_get_attribute(element, "address");
  uint32_t port = 0;
  if (address == nullptr || std::strlen(address) > kMaxAddressText ||
      std::strpbrk(address, "[]%") != nullptr ||
      !readNumber(xmpp_stanza_get_attribute(element, "port"), 65535, port) || port == 0) {
    return false;
  }
  platform::Address parsed;
  if (!platform::parseNumericAddress(address, parsed)) return false;
  endpoint = plainForm(parsed);
  endpoint.scope = 0;
  endpoint.port = static_cast<uint16_t>(port);
  return true;
}

bool readRoom(xmpp_stanza_t* room, Announcement& out) {
  uint32_t version = 0;
  uint32_t instance = 0;
  uint32_t players = 0;
  uint32_t maxPlayers = 0;
  if (std::strcmp(xmpp_stanza_get_name(room), "room") != 0 ||
      !readNumber(xmpp_stanza_get_attribute(room, "version"), 0xFFFF, version) ||
      version != static_cast<uint32_t>(kAnnouncementVersion) ||
      !readNumber(xmpp_stanza_get_attribute(room, "instance"), 0xFFFFFFFFu, instance) ||
      !readNumber(xmpp_stanza_get_attribute(room, "players"), 255, players) ||
      !readNumber(xmpp_stanza_get_attribute(room, "max"), 255, maxPlayers) ||
      players > maxPlayers) {
    return false;
  }
  out = Announcement{};
  out.version = static_cast<int>(version);
  out.instance = instance;
  out.players = static_cast<uint8_t>(players);
  out.maxPlayers = static_cast<uint8_t>(maxPlayers);
  bool haveName = false;
  bool haveComment = false;
  int children = 0;
  for (xmpp_stanza_t* child = xmpp_stanza_get_children(room); child != nullptr;
       child = xmpp_stanza_get_next(child)) {
    if (++children > kMaxChildren) return false;
    if (xmpp_stanza_is_text(child)) {
      const char* text = xmpp_stanza_get_text_ptr(child);
      if (text != nullptr && !blank(text)) return false;
      continue;
    }
    const char* name = xmpp_stanza_get_name(child);
    const char* ns = xmpp_stanza_get_ns(child);
    if (name == nullptr || (ns != nullptr && std::strcmp(ns, kAnnouncementNamespace) != 0)) {
      return false;
    }
    if (std::strcmp(name, "name") == 0 && !haveName) {
      haveName = readText(child, kMaxNameBytes, out.name);
      if (!haveName) return false;
    } else if (std::strcmp(name, "comment") == 0 && !haveComment) {
      haveComment = readText(child, kMaxCommentBytes, out.comment);
      if (!haveComment) return false;
    } else if (std::strcmp(name, "reach") == 0 && out.endpointCount < kMaxEndpoints) {
      if (!readEndpoint(child, out.endpoints[out.endpointCount++])) return false;
    } else {
      return false;  // unknown, repeated, or one place too many
    }
  }
  return haveName && haveComment && out.endpointCount > 0;
}

std::string decimal(unsigned value) { return std::to_string(value); }

// Adds <name>text</name> (or comment) to parent.
bool addText(xmpp_ctx_t* ctx, xmpp_stanza_t* parent, const char* name, const std::string& text) {
  xmpp_stanza_t* element = xmpp_stanza_new(ctx);
  xmpp_stanza_set_name(element, name);
  if (!text.empty()) {
    xmpp_stanza_t* body = xmpp_stanza_new(ctx);
    xmpp_stanza_set_text(body, text.c_str());
    xmpp_stanza_add_child(element, body);
    xmpp_stanza_release(body);
  }
  xmpp_stanza_add_child(parent, element);
  xmpp_stanza_release(element);
  return true;
}

}  // namespace

bool isAskable(const platform::Address& endpoint) { return isPublicEndpoint(endpoint); }

bool isGlobalIpv6(const platform::Address& address) {
  return address.family == platform::Family::V6 &&
         classifyAddress(address) == AddressKind::Public;
}

xmpp_stanza_t* buildAnnouncement(xmpp_ctx_t* ctx, const Announcement& announcement) {
  if (announcement.endpointCount == 0 || announcement.endpointCount > kMaxEndpoints ||
      announcement.name.size() > kMaxNameBytes || announcement.comment.size() > kMaxCommentBytes ||
      announcement.players > announcement.maxPlayers) {
    return nullptr;
  }
  xmpp_stanza_t* room = xmpp_stanza_new(ctx);
  xmpp_stanza_set_name(room, "room");
  xmpp_stanza_set_ns(room, kAnnouncementNamespace);
  xmpp_stanza_set_attribute(room, "version", decimal(announcement.version).c_str());
  xmpp_stanza_set_attribute(room, "instance", decimal(announcement.instance).c_str());
  xmpp_stanza_set_attribute(room, "players", decimal(announcement.players).c_str());
  xmpp_stanza_set_attribute(room, "max", decimal(announcement.maxPlayers).c_str());
  addText(ctx, room, "name", announcement.name);
  addText(ctx, room, "comment", announcement.comment);
  for (size_t i = 0; i < announcement.endpointCount; ++i) {
    const platform::Address& endpoint = announcement.endpoints[i];
    xmpp_stanza_t* reach = xmpp_stanza_new(ctx);
    xmpp_stanza_set_name(reach, "reach");
    platform::Address bare = endpoint;
    bare.scope = 0;
    xmpp_stanza_set_attribute(reach, "address", platform::formatAddress(bare).c_str());
    xmpp_stanza_set_attribute(reach, "port", decimal(endpoint.port).c_str());
    xmpp_stanza_add_child(room, reach);
    xmpp_stanza_release(reach);
  }
  return room;
}

bool readAnnouncement(xmpp_stanza_t* presence, Announcement& announcement) {
  xmpp_stanza_t* found = nullptr;
  int children = 0;
  for (xmpp_stanza_t* child = xmpp_stanza_get_children(presence); child != nullptr;
       child = xmpp_stanza_get_next(child)) {
    // A presence carries a few elements of its own (the chat room's, a
    // status); a long list is no presence of a host.
    if (++children > 4 * kMaxChildren) return false;
    if (!xmpp_stanza_is_tag(child)) continue;
    const char* ns = xmpp_stanza_get_ns(child);
    if (ns == nullptr || std::strcmp(ns, kAnnouncementNamespace) != 0) continue;
    if (found != nullptr) return false;  // two announcements: none
    found = child;
  }
  return found != nullptr && readRoom(found, announcement);
}

void AnnouncementSample::offer(Announcement announcement) {
  ++seen_;
  if (kept_.size() < kMaxKeptAnnouncements) {
    kept_.push_back(std::move(announcement));
    return;
  }
  std::uniform_int_distribution<size_t> pick(0, seen_ - 1);
  const size_t slot = pick(random_);
  if (slot < kMaxKeptAnnouncements) kept_[slot] = std::move(announcement);
}

std::vector<AnnouncedRoom> chooseRooms(std::vector<Announcement>& announcements,
                                       std::mt19937& random) {
  std::shuffle(announcements.begin(), announcements.end(), random);
  std::vector<AnnouncedRoom> rooms;
  // Every endpoint chosen so far, and per address the rooms on it.
  std::vector<platform::Address> asked;
  std::vector<std::pair<platform::Address, size_t>> perAddress;
  const auto roomsOn = [&perAddress](const platform::Address& address) -> size_t& {
    for (auto& entry : perAddress) {
      if (sameHost(entry.first, address)) return entry.second;
    }
    perAddress.emplace_back(address, 0);
    return perAddress.back().second;
  };
  for (const Announcement& announcement : announcements) {
    if (rooms.size() == kMaxAnnouncedRooms) break;
    AnnouncedRoom room;
    room.instance = announcement.instance;
    for (size_t i = 0; i < announcement.endpointCount && i < kMaxEndpoints; ++i) {
      const platform::Address endpoint = plainForm(announcement.endpoints[i]);
      if (!isAskable(endpoint)) continue;
      if (std::find(asked.begin(), asked.end(), endpoint) != asked.end()) continue;
      if (roomsOn(endpoint) >= kRoomsPerAddress) continue;
      bool twice = false;  // the same host twice in one room counts once
      for (size_t j = 0; j < room.endpoints.count; ++j) {
        twice = twice || sameHost(room.endpoints.addresses[j], endpoint);
      }
      if (twice) continue;
      room.endpoints.addresses[room.endpoints.count++] = endpoint;
    }
    if (room.endpoints.count == 0) continue;
    for (size_t j = 0; j < room.endpoints.count; ++j) {
      asked.push_back(room.endpoints.addresses[j]);
      ++roomsOn(room.endpoints.addresses[j]);
    }
    rooms.push_back(room);
  }
  return rooms;
}

}  // namespace internet
