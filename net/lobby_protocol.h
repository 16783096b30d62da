// The room lobby's side of the link: opening and closing its connection, and
// handling one frame's messages over the participants and the current room.
// The lobby scene calls these; they draw nothing.
#pragma once

#include <array>

#include "net/net_link.h"
#include "records/records.h"

namespace net {

// What one frame of messages changed, so the scene can redraw.
struct LobbyChanges {
  // A PlayerInfo was applied to the slot: its name label needs rendering.
  std::array<bool, kPlayerSlots> recordArrived{};
  // The slot's player left; its `present` flag is now clear.
  std::array<bool, kPlayerSlots> slotLeft{};
  // Guest: the host connection is gone (the local Leave from 255); the
  // lobby should fold up and return to the room list.
  bool hostLost = false;
};

// Runs link.poll(), then handles every message of the frame in order:
// a host answers room queries, takes in joining guests and relays records
// and leaves to the other guests; a guest learns its slot and stores the
// records the host sends. Messages queued here go out with the lobby's
// flush at the end of the frame.
LobbyChanges handleLobbyMessages(NetLink& link, std::array<PlayerRecord, kPlayerSlots>& players,
                                 RoomRecord& currentRoom);

// Opens the link for its mode to room's host and port (a host listens on
// the port), then queues Join and flushes: a guest's request to join; a
// host's reaches nobody. False when offline or when the connection cannot be
// opened (the error is printed on standard error).
bool openLobby(NetLink& link, const RoomRecord& room);

// Closes every connection of the lobby without any message.
void closeLobby(NetLink& link);

}  // namespace net
