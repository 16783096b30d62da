// The two room files beside the program: RoomConfig.txt (key=value settings
// of the player's own room and name) and RoomList.txt (host:port lines of the
// rooms to query). Both share one line scanner; nothing writes them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "net/internet_settings.h"
#include "records/records.h"

namespace net {

inline constexpr char kRoomConfigFile[] = "RoomConfig.txt";
inline constexpr char kRoomListFile[] = "RoomList.txt";

// One read of a line: at most kReadBufferSize - 1 bytes are kept.
inline constexpr size_t kReadBufferSize = 512;
// Longest part the scanner keeps, in bytes (without terminator).
inline constexpr size_t kConfigKeyMax = 31;
inline constexpr size_t kConfigValueMax = 127;
inline constexpr size_t kListHostMax = 63;
inline constexpr size_t kListPortMax = 31;
// The player name value leaves room for the "P" that is appended.
inline constexpr size_t kPlayerNameValueMax = kPlayerNameSize - 2;
inline constexpr size_t kScanPartSize = kConfigValueMax + 1;

// One line split at its separator. Both parts are NUL-terminated.
struct ScannedLine {
  std::array<char, kScanPartSize> first{};
  std::array<char, kScanPartSize> second{};
  size_t firstLength = 0;
  size_t secondLength = 0;
  bool separatorSeen = false;
};

// Splits length bytes of one line: stops at a NUL byte or '#', drops tab,
// line feed and space anywhere, and restarts the second part at every
// separator. A part keeps at most firstMax / secondMax bytes (both at most
// kScanPartSize - 1), never ending on half of a two-byte Shift-JIS character.
// With bracketed, a first part that begins with '[' keeps every separator
// up to its ']' (an IPv6 address in "[2001:db8::7]:6247").
void scanLine(const char* text, size_t length, char separator, size_t firstMax, size_t secondMax,
              ScannedLine& line, bool bracketed = false);

// The leading decimal integer of text (optional sign; no digits gives 0),
// kept to its low 16 bits.
uint16_t parsePort(const char* text);

// Length of the longest prefix of text[0, length) that fits in maxBytes
// without splitting a two-byte Shift-JIS character.
size_t shiftJisFitLength(const char* text, size_t length, size_t maxBytes);

// Reads the settings file at path: "pname" sets profile.name (value + "P"),
// "port", "name" and "comment" set hostRoom's port, roomName and comment;
// keys are case-insensitive, a later line overrides an earlier one. When the
// file cannot be opened or read, prints sjis::kRoomFileFailed on standard
// output, leaves the records as they were and returns false.
bool readRoomConfig(const char* path, RoomRecord& hostRoom, PlayerRecord& profile);
// The same, and the keys of being reached from the internet: "upnp" (off,
// no, false or 0 turn the router's asking off; on, yes, true or 1 on) and
// "address" (a host name or numeric address told instead of the router's
// answer; empty: none), and "directory" (DOMAIN or DOMAIN:PORT of a room
// directory, net/internet_settings.h; empty: none), and "relay" (auto, off
// or always). A value that is none of these is skipped with one line on
// standard output.
bool readRoomConfig(const char* path, RoomRecord& hostRoom, PlayerRecord& profile,
                    HostReachSettings& reach);

// Reads the room list at path into rooms[0..capacity): every line with a ':'
// fills hostAddress and port of the next entry, in file order; lines past
// capacity are ignored. Returns how many entries were filled, or -1 (after
// printing sjis::kRoomFileFailed on standard output) when the file cannot be
// opened or read.
int readRoomList(const char* path, RoomRecord* rooms, int capacity);

// The same two readers on a file the caller opened (binary mode) and
// closes; a null file counts as one that could not be opened.
bool readRoomConfig(std::FILE* file, RoomRecord& hostRoom, PlayerRecord& profile);
bool readRoomConfig(std::FILE* file, RoomRecord& hostRoom, PlayerRecord& profile,
                    HostReachSettings& reach);
int readRoomList(std::FILE* file, RoomRecord* rooms, int capacity);

}  // namespace net
