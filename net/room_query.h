// The client half of the room query that the room list's refresh runs for
// every listed host: connect, send 00 00 00, collect the host's 712-byte
// RoomRecord. Blocks the caller for at most the connection attempt plus
// polls x delayMs.
#pragma once

#include <cstdint>

#include "app/records.h"

namespace net {

// Asks the host at room.hostAddress:room.port for its room. Polls the
// connection up to `polls` times with a zero time-out, sleeping delayMs after
// each check, and collects the answer across as many receives as it takes.
// On a whole answer, room becomes the host's record (port included) with
// its own hostAddress kept, and the result is true. On anything else (no
// answer in time, a short answer, a closed connection) room is left as it
// was and the result is false. Resolution and connection failures print
// "SDLNet_ResolveHost: %s\n" / "SDLNet_TCP_Open: %s\n" on standard error;
// 0.0.0.0 and 255.255.255.255 are refused as unreachable.
bool queryRoom(RoomRecord& room, uint8_t polls, uint32_t delayMs);

}  // namespace net
