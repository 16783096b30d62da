// RoomList.txt of any bytes: at most the list's capacity is filled, hosts
// are terminated within their limit, the reader ends.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/require.h"
#include "net/room_files.h"
#include "records/records.h"

namespace {

constexpr int kEntries = 100;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> content(data, data + size);
  content.push_back('\n');
  std::FILE* file = fmemopen(content.data(), content.size(), "rb");
  if (file == nullptr) return 0;
  // One entry more than the list holds, to see that it is never written.
  std::vector<RoomRecord> rooms(kEntries + 1);
  copyField(rooms[kEntries].hostAddress, "untouched");
  const int count = net::readRoomList(file, rooms.data(), kEntries);
  std::fclose(file);
  require(count >= 0 && count <= kEntries, "count");
  for (const RoomRecord& room : rooms) {
    require(std::strlen(room.hostAddress.data()) <= net::kListHostMax || &room == &rooms[kEntries],
            "host longer than its limit");
  }
  require(std::strcmp(rooms[kEntries].hostAddress.data(), "untouched") == 0, "entry past the list");
  return 0;
}
