// RoomConfig.txt of any bytes: the reader ends, writes nothing past a field,
// and leaves every text field terminated.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/require.h"
#include "net/room_files.h"
#include "records/records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen cannot open an empty buffer for reading on every libc.
  std::vector<char> content(data, data + size);
  content.push_back('\n');
  std::FILE* file = fmemopen(content.data(), content.size(), "rb");
  if (file == nullptr) return 0;
  RoomRecord room;
  PlayerRecord profile;
  copyField(room.roomName, "default");
  copyField(profile.name, "482P");
  net::readRoomConfig(file, room, profile);
  std::fclose(file);
  require(std::strlen(room.roomName.data()) < room.roomName.size(), "room name");
  require(std::strlen(room.comment.data()) <= net::kConfigValueMax, "comment");
  const size_t name = std::strlen(profile.name.data());
  require(name < profile.name.size() && name > 0 && profile.name[name - 1] == 'P', "player name");
  return 0;
}
