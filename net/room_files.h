// The two room files: RoomConfig.txt (the player's own room and name) and
// RoomList.txt (host:port lines of the rooms to query).
#pragma once

#include "app/records.h"

namespace net {

// Reads key=value lines into hostRoom and profile. False when the file
// cannot be opened (after printing the room-file message).
bool readRoomConfig(const char* path, RoomRecord& hostRoom, PlayerRecord& profile);
// Reads host:port lines into the hostAddress and port of consecutive rooms.
// Returns how many were filled, or -1 when the file cannot be opened.
int readRoomList(const char* path, RoomRecord* rooms, int capacity);

}  // namespace net
