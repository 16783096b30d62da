// Records shared by the whole program: the participant record and the room
// description. Both travel over the network; their byte layout on the wire is
// fixed in net/protocol.h and written field by field by net/wire.h, so the
// in-memory layout here is free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr int kPlayerSlots = 6;
inline constexpr int kStatCount = 4;  // vocal, dance, visual, tension
inline constexpr int kPlayerNameSize = 128;
inline constexpr int kHostAddressSize = 128;
inline constexpr int kRoomNameSize = 64;
inline constexpr int kCommentSize = 512;

// One participant of the coming game. Text is Shift-JIS, NUL-terminated
// inside its field.
struct PlayerRecord {
  uint8_t present = 0;  // 1 = the slot takes part
  uint8_t isCpu = 0;    // 1 = played by the computer ("CPU")
  std::array<char, kPlayerNameSize> name{};
  std::array<uint16_t, kStatCount> stats{};  // 0..1000 each
  std::array<uint8_t, 2> reserved{};
};

// A room as hosted or listed. Text fields are Shift-JIS, NUL-terminated
// inside their fields.
struct RoomRecord {
  std::array<char, kHostAddressSize> hostAddress{};
  std::array<char, kRoomNameSize> roomName{};
  std::array<char, kCommentSize> comment{};
  uint8_t currentPlayers = 0;
  uint8_t maxPlayers = 0;
  uint8_t ownerSlot = 0;
  uint8_t reserved1 = 0;
  uint16_t port = 0;
  std::array<uint8_t, 2> reserved2{};
};

enum PlayMode : int32_t { Produce = 0, FreeBattle = 1, NetBattle = 2 };

// Scene numbers; 0 ends the main loop.
using SceneId = uint8_t;
inline constexpr SceneId kSceneQuit = 0;
inline constexpr SceneId kSceneTitle = 1;
inline constexpr SceneId kSceneCharacterSelect = 2;
inline constexpr SceneId kSceneRoomList = 3;
inline constexpr SceneId kSceneRoomLobby = 4;
inline constexpr SceneId kSceneGameSelect = 5;

// Copies text into a fixed field, cutting it so the terminator always fits.
// Returns false when the text had to be cut.
template <size_t N>
bool copyField(std::array<char, N>& field, const char* text) {
  size_t i = 0;
  for (; i + 1 < N && text[i] != '\0'; ++i) field[i] = text[i];
  const bool fits = text[i] == '\0';
  for (size_t j = i; j < N; ++j) field[j] = '\0';
  return fits;
}

// Makes a field received from elsewhere safe to read as a C string.
template <size_t N>
void terminateField(std::array<char, N>& field) {
  field[N - 1] = '\0';
}
