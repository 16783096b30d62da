// RoomConfig.txt and RoomList.txt: the shared scanner's rules, the keys, and
// bad files (over-long lines, NUL bytes, byte-order mark, CR LF, a folder in
// the file's place); the commented examples the installed game's launcher
// gives a new player (tools/package/).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "net/room_files.h"
#include "platform/platform.h"
#include "records/records.h"
#include "text/sjis_strings.h"

namespace {

// The message twice, as the console shows it in the user's locale.
std::string twiceOnTheConsole(const char* shiftJis) {
  const std::string once = platform::consoleText(shiftJis, platform::localeCharset());
  return once + once;
}

class RoomFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    // A scratch folder of its own (the shared test support brings in video).
    const auto dir = std::filesystem::temp_directory_path() / "vellora-net-room-files";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    dir_ = dir.string();
    copyField(room_.roomName, "482\x83\x76\x83\x8D");
    copyField(room_.comment, "default comment");
    room_.port = 6247;
    copyField(profile_.name, "482P");
  }

  std::string write(const std::string& content) {
    const std::string path = dir_ + "/file.txt";
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  bool readConfig(const std::string& content) {
    return net::readRoomConfig(write(content).c_str(), room_, profile_);
  }
  int readList(const std::string& content) {
    return net::readRoomList(write(content).c_str(), rooms_.data(), 3);
  }

  std::string dir_;
  RoomRecord room_;
  PlayerRecord profile_;
  std::array<RoomRecord, 4> rooms_{};
};

TEST_F(RoomFiles, ConfigKeysAndScannerRules) {
  ASSERT_TRUE(
      readConfig("Name = My Room\n"
                 "port=7000#old 6247\n"
                 "COMMENT=a=b=\x83\x76\x83\x8D x\n"
                 "pname=\tA b c\n"
                 "# port=1\n"
                 "stray text without separator\n"
                 "unknown=5\n"));
  EXPECT_STREQ(room_.roomName.data(), "MyRoom");
  EXPECT_EQ(room_.port, 7000);
  EXPECT_STREQ(room_.comment.data(), "\x83\x76\x83\x8Dx");  // every '=' restarts the value
  EXPECT_STREQ(profile_.name.data(), "AbcP");
}

TEST_F(RoomFiles, EmptyValuesAndPortArithmetic) {
  ASSERT_TRUE(readConfig("comment=old\ncomment=\npname=\nport=70000\n"));
  EXPECT_STREQ(room_.comment.data(), "");
  EXPECT_STREQ(profile_.name.data(), "P");
  EXPECT_EQ(room_.port, 4464);
  EXPECT_EQ(net::parsePort("-1"), 65535);
  EXPECT_EQ(net::parsePort("+80x"), 80);
  EXPECT_EQ(net::parsePort("x80"), 0);
  EXPECT_EQ(net::parsePort("123456789"), 52501);
  EXPECT_EQ(net::parsePort("99999999999999999999"), 65535);  // low 16 bits, no overflow
}

// upnp and address leave the room and profile alone; a value neither key
// can use is skipped with one line, and the value before it stays.
TEST_F(RoomFiles, ReachKeys) {
  net::HostReachSettings reach;
  const RoomRecord before = room_;
  testing::internal::CaptureStdout();
  ASSERT_TRUE(net::readRoomConfig(write("UPnP = OFF\naddress=hana.example.net\n"
                                        "upnp=maybe\naddress=no/such:name\n")
                                      .c_str(),
                                  room_, profile_, reach));
  const std::string console = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(reach.upnp);
  EXPECT_STREQ(reach.address.data(), "hana.example.net");
  EXPECT_EQ(console,
            "RoomConfig.txt: upnp=maybe is neither on nor off; skipped\n"
            "RoomConfig.txt: address=no/such:name is neither an address nor a host name; "
            "skipped\n");
  EXPECT_EQ(room_.port, before.port);
  EXPECT_STREQ(room_.roomName.data(), before.roomName.data());

  ASSERT_TRUE(net::readRoomConfig(write("upnp=yes\naddress=203.0.113.5\naddress=\n").c_str(), room_,
                                  profile_, reach));
  EXPECT_TRUE(reach.upnp);
  EXPECT_STREQ(reach.address.data(), "");

  // relay=: auto unless the file says otherwise; a word it does not know
  // leaves the one before.
  EXPECT_EQ(net::HostReachSettings{}.relay, net::RelayMode::Auto);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(net::readRoomConfig(write("relay=Always\nrelay=sometimes\n").c_str(), room_,
                                  profile_, reach));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "RoomConfig.txt: relay=sometimes is neither auto, off nor always; skipped\n");
  EXPECT_EQ(reach.relay, net::RelayMode::Always);
  ASSERT_TRUE(net::readRoomConfig(write("relay=off\n").c_str(), room_, profile_, reach));
  EXPECT_EQ(reach.relay, net::RelayMode::Off);
}

TEST_F(RoomFiles, ListFillsEntriesInFileOrder) {
  EXPECT_EQ(readList("# host:1\nalpha:6247\n\n:\nbeta . example : 7 000 \n"), 3);
  EXPECT_STREQ(rooms_[0].hostAddress.data(), "alpha");
  EXPECT_EQ(rooms_[0].port, 6247);
  EXPECT_STREQ(rooms_[1].hostAddress.data(), "");  // a lone colon keeps its place
  EXPECT_EQ(rooms_[1].port, 0);
  EXPECT_STREQ(rooms_[2].hostAddress.data(), "beta.example");
  EXPECT_EQ(rooms_[2].port, 7000);
}

TEST_F(RoomFiles, ListEntriesPastCapacityAreIgnored) {
  rooms_[3].port = 1234;
  EXPECT_EQ(readList("a:1\nb:2\nc:3\nd:4\ne:5\n"), 3);
  EXPECT_STREQ(rooms_[2].hostAddress.data(), "c");
  EXPECT_EQ(rooms_[3].port, 1234);
  EXPECT_STREQ(rooms_[3].hostAddress.data(), "");
}

TEST_F(RoomFiles, MissingFileOrFolderPrintsTheMessageAndKeepsDefaults) {
  for (const std::string& path : {dir_ + "/absent.txt", dir_}) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(net::readRoomConfig(path.c_str(), room_, profile_));
    EXPECT_EQ(net::readRoomList(path.c_str(), rooms_.data(), 3), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), twiceOnTheConsole(sjis::kRoomFileFailed));
  }
  EXPECT_STREQ(room_.roomName.data(), "482\x83\x76\x83\x8D");
  EXPECT_EQ(room_.port, 6247);
  EXPECT_STREQ(profile_.name.data(), "482P");
}

TEST_F(RoomFiles, LongKeysValuesAndHostsAreCutToTheirFields) {
  const std::string longText(300, 'x');
  ASSERT_TRUE(readConfig("pname=" + longText + "\nname=" + longText + "\ncomment=" + longText +
                         "\n" + longText + "name=ignored\n"));
  EXPECT_EQ(std::strlen(profile_.name.data()), 127u);  // 126 bytes of value + "P"
  EXPECT_EQ(profile_.name[126], 'P');
  EXPECT_EQ(std::strlen(room_.roomName.data()), 63u);
  EXPECT_EQ(std::strlen(room_.comment.data()), 127u);  // the value part holds 127 bytes

  EXPECT_EQ(readList(longText + ":" + longText + "7\n"), 1);
  EXPECT_EQ(std::strlen(rooms_[0].hostAddress.data()), 63u);
  EXPECT_EQ(rooms_[0].port, 0);
}

TEST_F(RoomFiles, CutNeverSplitsAShiftJisCharacter) {
  // 62 ASCII bytes, then a two-byte character that would end on byte 64.
  ASSERT_TRUE(readConfig("name=" + std::string(62, 'a') + "\x83\x76" + "\n"));
  EXPECT_EQ(std::strlen(room_.roomName.data()), 62u);
}

TEST_F(RoomFiles, OverlongLineIsReadOnceAndItsRestDropped) {
  // 100 kB on one line: its first bytes are scanned, its tail does not
  // turn into further lines (the tail holds what would be a room).
  const std::string line = "port=8000" + std::string(100000, ' ') + "\nname=Next\n";
  ASSERT_TRUE(readConfig(line + "x"));
  EXPECT_EQ(room_.port, 8000);
  EXPECT_STREQ(room_.roomName.data(), "Next");
  EXPECT_EQ(readList(std::string(600, ' ') + "tail:9\nhost:1\n"), 1);
  EXPECT_STREQ(rooms_[0].hostAddress.data(), "host");
}

TEST_F(RoomFiles, ByteOrderMarkCrLfNulAndNoFinalNewline) {
  ASSERT_TRUE(readConfig(std::string("\xEF\xBB\xBFname=Bom\r\n"
                                     "comment=before") +
                         '\0' + "after\r\n" + "port=7001"));
  EXPECT_STREQ(room_.roomName.data(), "Bom");
  EXPECT_STREQ(room_.comment.data(), "before");  // a NUL ends the line's text
  EXPECT_EQ(room_.port, 7001);
  EXPECT_EQ(readList(std::string("\xEF\xBB\xBFhost:1\r\nother:2")), 2);
  EXPECT_STREQ(rooms_[0].hostAddress.data(), "host");
  EXPECT_STREQ(rooms_[1].hostAddress.data(), "other");
  EXPECT_EQ(rooms_[1].port, 2);
}

TEST_F(RoomFiles, AnyBytesReadWithinTheFields) {
  std::string noise(300000, '\0');
  uint32_t state = 12345;
  for (char& c : noise) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  std::string manyRooms;
  for (int i = 0; i < 100000; ++i) manyRooms += "h:1\n";
  const std::string files[] = {
      std::string(100000, '\0'),
      "\xEF\xBB\xBF",
      "\r\r\r\n\r",
      "name=" + std::string(511, '\x83') + "\ncomment=" + std::string(700, '\x81'),
      std::string(511, 'x') + "name=cut\n" + std::string(512, 'x') + "port=1\n",
      manyRooms,
      noise,
  };
  for (const std::string& content : files) {
    readConfig(content);
    EXPECT_LT(std::strlen(room_.roomName.data()), room_.roomName.size());
    EXPECT_LT(std::strlen(room_.comment.data()), room_.comment.size());
    EXPECT_LT(std::strlen(profile_.name.data()), profile_.name.size());
    const int count = readList(content);
    EXPECT_GE(count, 0);
    EXPECT_LE(count, 3);
    for (const RoomRecord& room : rooms_) {
      EXPECT_LT(std::strlen(room.hostAddress.data()), net::kListHostMax + 1);
    }
  }
  EXPECT_EQ(readList(manyRooms), 3);
}

TEST_F(RoomFiles, ReadersTakeAnOpenFile) {
  const std::string content = "Name=Open\n";
  // A file of no name, as fmemopen would give but on every system.
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::fwrite(content.data(), 1, content.size(), file);
  std::rewind(file);
  EXPECT_TRUE(net::readRoomConfig(file, room_, profile_));
  std::fclose(file);
  EXPECT_STREQ(room_.roomName.data(), "Open");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(net::readRoomConfig(static_cast<std::FILE*>(nullptr), room_, profile_));
  EXPECT_EQ(net::readRoomList(static_cast<std::FILE*>(nullptr), rooms_.data(), 3), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), twiceOnTheConsole(sjis::kRoomFileFailed));
}

// The examples change nothing as written, are plain ASCII (so Shift-JIS
// reads them as they look), and give what their comments say once the "# "
// in front of every example line (a word right before the separator) is
// removed. Tests run from the repository root.
TEST_F(RoomFiles, PackagedExamplesReadAsTheirCommentsSay) {
  const auto text = [](const char* name) {
    std::ifstream file(std::string("tools/package/") + name, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
  };
  const auto uncommented = [](const std::string& content, char separator) {
    std::string out;
    size_t start = 0;
    for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
      std::string line = content.substr(start, end - start + 1);
      const size_t sep = line.find(separator);
      if (line.rfind("# ", 0) == 0 && sep != std::string::npos && sep > 2 &&
          line.find_first_of(" #", 2) > sep) {
        line.erase(0, 2);
      }
      out += line;
    }
    return out;
  };
  const std::string config = text("RoomConfig.txt");
  const std::string list = text("RoomList.txt");
  ASSERT_FALSE(config.empty());
  ASSERT_FALSE(list.empty());
  for (const char c : config + list) EXPECT_LT(static_cast<unsigned char>(c), 0x80);

  EXPECT_TRUE(readConfig(config));
  EXPECT_STREQ(room_.roomName.data(), "482\x83\x76\x83\x8D");
  EXPECT_STREQ(room_.comment.data(), "default comment");
  EXPECT_EQ(room_.port, 6247);
  EXPECT_STREQ(profile_.name.data(), "482P");
  EXPECT_EQ(readList(list), 0);

  EXPECT_TRUE(readConfig(uncommented(config, '=')));
  EXPECT_STREQ(profile_.name.data(), "HanaP");
  EXPECT_STREQ(room_.roomName.data(), "HanaRoom");
  EXPECT_STREQ(room_.comment.data(), "welcome");
  EXPECT_EQ(room_.port, 6247);
  ASSERT_EQ(readList(uncommented(list, ':')), 3);
  EXPECT_STREQ(rooms_[0].hostAddress.data(), "192.168.1.20");
  EXPECT_STREQ(rooms_[1].hostAddress.data(), "hana.example.org");
  EXPECT_STREQ(rooms_[2].hostAddress.data(), "[fd00::20]");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(rooms_[i].port, 6247);
}

}  // namespace
