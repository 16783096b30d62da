// Records shared by the whole program: the participant record and the room
// description, with the helpers that fill their text fields. Both travel
// over the network; their byte layout on the wire is fixed in
// net/protocol.h and written field by field by net/wire.h, so the in-memory
// layout here is free. Nothing here depends on any other part of the
// program: the link, the room files and the scenes all build on it.
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
