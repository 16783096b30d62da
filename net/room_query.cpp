#include "net/room_query.h"

#include <SDL.h>
#include <SDL_net.h>

#include "net/net_link.h"
#include "net/protocol.h"
#include "net/wire.h"

namespace net {

namespace {

// Collects up to a whole record; returns the bytes received.
size_t collectAnswer(TCPsocket connection, SDLNet_SocketSet set, RoomBytes& answer, uint8_t polls,
                     uint32_t delayMs) {
  size_t received = 0;
  for (int i = 0; i < polls && received < answer.size(); ++i) {
    const bool ready = SDLNet_CheckSockets(set, 0) > 0 && SDLNet_SocketReady(connection);
    SDL_Delay(delayMs);
    if (!ready) continue;
    const int got = SDLNet_TCP_Recv(connection, answer.data() + received,
                                    static_cast<int>(answer.size() - received));
    if (got <= 0) break;  // closed or failed: whatever came is all there is
    received += static_cast<size_t>(got);
  }
  return received;
}

}  // namespace

bool queryRoom(RoomRecord& room, uint8_t polls, uint32_t delayMs) {
  const std::array<char, kHostAddressSize> savedHost = room.hostAddress;
  std::array<char, kHostAddressSize> host = savedHost;
  terminateField(host);
  TCPsocket connection = connectTo(host.data(), room.port);
  if (connection == nullptr) return false;
  SDLNet_SocketSet set = SDLNet_AllocSocketSet(1);
  RoomBytes answer{};
  size_t received = 0;
  if (set != nullptr && SDLNet_TCP_AddSocket(set, connection) >= 0) {
    sendQuietly(connection, kRoomQueryBytes, static_cast<int>(sizeof(kRoomQueryBytes)));
    received = collectAnswer(connection, set, answer, polls, delayMs);
    SDLNet_TCP_DelSocket(set, connection);
  }
  SDLNet_TCP_Close(connection);
  if (set != nullptr) SDLNet_FreeSocketSet(set);
  if (received < answer.size()) return false;
  readRoomRecord(answer, room);
  room.hostAddress = savedHost;
  return true;
}

}  // namespace net
