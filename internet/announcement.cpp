#include "internet/announcement.h"

#include "internet/address_policy.h"

#include <algorithm>
#include <cstring>

namespace internet {
namespace {

bool sameHost(const platform::Address& a, const platform::Address& b) {
  const size_t size = a.family == platform::Family::V4 ? 4 : 16;
  return a.family == b.family && std::memcmp(a.bytes.data(), b.bytes.data(), size) == 0;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool blank(const std::string& text) {
  for (const char c : text) {
    if (!isSpace(c)) return false;
  }
  return true;
}

// Plain decimal: digits only, no sign, no leading zero (but "0"), at most
// max.
bool readNumber(const std::string* text, uint32_t max, uint32_t& value) {
  if (text == nullptr || text->empty() || text->size() > 10 ||
      ((*text)[0] == '0' && text->size() > 1))
    return false;
  uint64_t result = 0;
  for (const char c : *text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  if (result > max) return false;
  value = static_cast<uint32_t>(result);
  return true;
}

// A numeric address without brackets or zone, in its plain form.
bool readAddress(const std::string* text, platform::Address& address) {
  platform::Address parsed;
  if (text == nullptr || text->size() > kMaxAddressText ||
      text->find_first_of("[]%") != std::string::npos ||
      !platform::parseNumericAddress(text->c_str(), parsed)) {
    return false;
  }
  address = plainForm(parsed);
  address.scope = 0;
  return true;
}

bool readEndpoint(const xml::Element& element, platform::Address& endpoint) {
  if (!element.children.empty() || !blank(element.text)) return false;
  uint32_t port = 0;
  if (!readNumber(element.attribute("port"), 65535, port) || port == 0 ||
      !readAddress(element.attribute("address"), endpoint)) {
    return false;
  }
  endpoint.port = static_cast<uint16_t>(port);
  return true;
}

bool readRelay(const xml::Element& element, std::string& jid) {
  const std::string* text = element.attribute("jid");
  if (!element.children.empty() || !blank(element.text) || text == nullptr ||
      !isRelayJid(*text)) {
    return false;
  }
  jid = *text;
  return true;
}

bool readRoom(const xml::Element& room, Announcement& out) {
  uint32_t version = 0;
  uint32_t instance = 0;
  uint32_t players = 0;
  uint32_t maxPlayers = 0;
  if (room.name != "room" || !blank(room.text) ||
      !readNumber(room.attribute("version"), 0xFFFF, version) ||
      version != static_cast<uint32_t>(kAnnouncementVersion) ||
      !readNumber(room.attribute("instance"), 0xFFFFFFFFu, instance) ||
      !readNumber(room.attribute("players"), 255, players) ||
      !readNumber(room.attribute("max"), 255, maxPlayers) || players > maxPlayers) {
    return false;
  }
  out = Announcement{};
  out.version = static_cast<int>(version);
  out.instance = instance;
  out.players = static_cast<uint8_t>(players);
  out.maxPlayers = static_cast<uint8_t>(maxPlayers);
  for (const xml::Element& child : room.children) {
    if (child.ns == kAnnouncementNamespace && child.name == "relay" && out.relayJid.empty()) {
      if (!readRelay(child, out.relayJid)) return false;
      continue;
    }
    if (child.ns != kAnnouncementNamespace || child.name != "reach" ||
        out.endpointCount == kMaxEndpoints) {
      return false;  // unknown, repeated, or one place too many
    }
    if (!readEndpoint(child, out.endpoints[out.endpointCount++])) return false;
  }
  return out.endpointCount > 0 && (out.relayJid.empty() || out.endpointCount == 1);
}

}  // namespace

bool isAskable(const platform::Address& endpoint) { return isPublicEndpoint(endpoint); }

bool isRelayJid(const std::string& text) {
  const size_t at = text.find('@');
  const size_t slash = text.find('/');
  if (text.size() > kMaxJidBytes || at == 0 || at == std::string::npos ||
      slash == std::string::npos || slash < at + 2 || slash + 1 == text.size() ||
      text.find('@', at + 1) < slash) {
    return false;
  }
  for (const char c : text) {
    if (c <= ' ' || c > '~' || c == '"' || c == '\'' || c == '<' || c == '>' || c == '&')
      return false;
  }
  return true;
}

std::string jidDomain(const std::string& jid) {
  const size_t at = jid.find('@');
  const size_t slash = jid.find('/');
  if (at == std::string::npos || slash == std::string::npos || slash < at) return "";
  std::string domain = jid.substr(at + 1, slash - at - 1);
  for (char& c : domain) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return domain;
}

bool isGlobalIpv6(const platform::Address& address) {
  return address.family == platform::Family::V6 && classifyAddress(address) == AddressKind::Public;
}

bool buildAnnouncement(const Announcement& announcement, xml::Element& room) {
  if (announcement.endpointCount == 0 || announcement.endpointCount > kMaxEndpoints ||
      announcement.players > announcement.maxPlayers ||
      (!announcement.relayJid.empty() &&
       (announcement.endpointCount != 1 || !isRelayJid(announcement.relayJid)))) {
    return false;
  }
  room = xml::Element("room", kAnnouncementNamespace);
  room.setAttribute("version", std::to_string(announcement.version));
  room.setAttribute("instance", std::to_string(announcement.instance));
  room.setAttribute("players", std::to_string(announcement.players));
  room.setAttribute("max", std::to_string(announcement.maxPlayers));
  for (size_t i = 0; i < announcement.endpointCount; ++i) {
    platform::Address bare = announcement.endpoints[i];
    bare.scope = 0;
    xml::Element& reach = room.addChild(xml::Element("reach", kAnnouncementNamespace));
    reach.setAttribute("address", platform::formatAddress(bare));
    reach.setAttribute("port", std::to_string(bare.port));
  }
  if (!announcement.relayJid.empty()) {
    room.addChild(xml::Element("relay", kAnnouncementNamespace))
        .setAttribute("jid", announcement.relayJid);
  }
  return true;
}

xml::Element permitMessage(const std::string& to, const platform::Address& address,
                           bool granted) {
  xml::Element message("message", "jabber:client");
  message.setAttribute("to", to);
  message.setAttribute("type", "normal");
  platform::Address bare = address;
  bare.scope = 0;
  message.addChild(xml::Element(granted ? "permitted" : "permit", kRelayNamespace))
      .setAttribute("address", platform::formatAddress(bare));
  return message;
}

bool readPermitMessage(const xml::Element& message, bool& granted, platform::Address& address) {
  // A message bounced back (type error) carries what was sent, not an answer.
  const std::string* type = message.attribute("type");
  if (message.name != "message" || (type != nullptr && *type == "error")) return false;
  const xml::Element* found = nullptr;
  for (const xml::Element& child : message.children) {
    if (child.ns != kRelayNamespace) continue;
    if (found != nullptr) return false;
    found = &child;
  }
  if (found == nullptr || (found->name != "permit" && found->name != "permitted") ||
      !found->children.empty() || !blank(found->text) ||
      !readAddress(found->attribute("address"), address)) {
    return false;
  }
  address.port = 0;
  granted = found->name == "permitted";
  return true;
}

bool readAnnouncement(const xml::Element& presence, Announcement& announcement) {
  const xml::Element* found = nullptr;
  for (const xml::Element& child : presence.children) {
    if (child.ns != kAnnouncementNamespace) continue;
    if (found != nullptr) return false;  // two announcements: none
    found = &child;
  }
  return found != nullptr && readRoom(*found, announcement);
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
    if (!announcement.relayJid.empty()) continue;  // chooseRelayedRooms
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

std::vector<RelayedRoom> chooseRelayedRooms(std::vector<Announcement>& announcements,
                                            std::mt19937& random) {
  std::shuffle(announcements.begin(), announcements.end(), random);
  std::vector<RelayedRoom> rooms;
  for (const Announcement& announcement : announcements) {
    if (rooms.size() == kMaxRelayedRooms) break;
    if (announcement.relayJid.empty() || announcement.endpointCount != 1) continue;
    const platform::Address endpoint = plainForm(announcement.endpoints[0]);
    const bool asked = std::any_of(rooms.begin(), rooms.end(), [&endpoint](const RelayedRoom& r) {
      return r.room.endpoints.addresses[0] == endpoint;
    });
    if (!isAskable(endpoint) || asked) continue;
    RelayedRoom room;
    room.room.instance = announcement.instance;
    room.room.endpoints.addresses[0] = endpoint;
    room.room.endpoints.count = 1;
    room.jid = announcement.relayJid;
    rooms.push_back(std::move(room));
  }
  return rooms;
}

}  // namespace internet
