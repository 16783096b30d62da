#include "net/room_files.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>

#include "platform/net_socket.h"
#include "platform/platform.h"
#include "text/sjis_strings.h"

namespace net {

namespace {

bool isShiftJisLead(uint8_t byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Reads an open file line by line into a fixed buffer. Files are opened in
// binary mode and the CR of a CR LF pair is removed here, so Windows and Unix
// line ends read alike. A physical line longer than the buffer keeps its first
// kReadBufferSize - 1 bytes; the rest of that line is dropped, so an
// over-long line can neither overrun the buffer nor be taken for the start
// of further lines.
class LineReader {
 public:
  explicit LineReader(std::FILE* file) : file_(file) {}

  // A read failed (a folder in the file's place reads as an error).
  bool failed() const { return std::ferror(file_) != 0; }

  // Reads the next line into text (without its line end). False at the end
  // of the file or on a read error.
  bool next() {
    length_ = 0;
    bool any = false;
    bool cut = false;
    int c;
    while ((c = std::getc(file_)) != EOF) {
      any = true;
      if (c == '\n') break;
      if (length_ < text_.size() - 1) {
        text_[length_++] = static_cast<char>(c);
      } else {
        cut = true;
      }
    }
    if (!any || std::ferror(file_) != 0) return false;
    if (!cut && length_ > 0 && text_[length_ - 1] == '\r') --length_;
    if (firstLine_) skipByteOrderMark();
    firstLine_ = false;
    return true;
  }
  const char* text() const { return text_.data(); }
  size_t length() const { return length_; }

 private:
  // A UTF-8 byte-order mark, as some editors write at the start of a file.
  void skipByteOrderMark() {
    static constexpr char kMark[] = "\xEF\xBB\xBF";
    if (length_ >= 3 && std::memcmp(text_.data(), kMark, 3) == 0) {
      std::memmove(text_.data(), text_.data() + 3, length_ - 3);
      length_ -= 3;
    }
  }

  std::FILE* file_;
  std::array<char, kReadBufferSize> text_{};
  size_t length_ = 0;
  bool firstLine_ = true;
};

void reportFailure() { platform::writeConsole(stdout, sjis::kRoomFileFailed); }

template <size_t N>
void copyCut(std::array<char, N>& field, const char* text, size_t length, size_t maxBytes) {
  const size_t kept = shiftJisFitLength(text, length, maxBytes < N ? maxBytes : N - 1);
  std::memcpy(field.data(), text, kept);
  std::memset(field.data() + kept, 0, N - kept);
}

void lowerAscii(char* text) {
  for (; *text != '\0'; ++text) {
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
  }
}

// One line for a value that cannot be used; the value is the file's own
// Shift-JIS text.
void reportSkipped(const char* key, const char* value, const char* why) {
  const std::string line =
      std::string("RoomConfig.txt: ") + key + "=" + value + " is " + why + "; skipped\n";
  platform::writeConsole(stdout, line.c_str());
}

// "upnp", "address", "directory" and "relay": see readRoomConfig.
void applyReachLine(const char* key, const char* value, HostReachSettings& reach) {
  if (std::strcmp(key, "upnp") == 0) {
    const auto isOneOf = [](const char* word, std::initializer_list<const char*> words) {
      for (const char* candidate : words) {
        if (std::strcmp(word, candidate) == 0) return true;
      }
      return false;
    };
    char word[8] = {};
    if (std::strlen(value) < sizeof word) std::strcpy(word, value);
    lowerAscii(word);
    if (isOneOf(word, {"off", "no", "false", "0"})) {
      reach.upnp = false;
    } else if (isOneOf(word, {"on", "yes", "true", "1"})) {
      reach.upnp = true;
    } else {
      reportSkipped(key, value, "neither on nor off");
    }
  } else if (std::strcmp(key, "address") == 0) {
    platform::Address numeric;
    if (value[0] != '\0' && !platform::isHostName(value) &&
        !platform::parseNumericAddress(value, numeric)) {
      reportSkipped(key, value, "neither an address nor a host name");
      return;
    }
    std::snprintf(reach.address.data(), reach.address.size(), "%s", value);
  } else if (std::strcmp(key, "directory") == 0) {
    DirectoryServer server;
    if (value[0] != '\0' && !parseDirectoryServer(value, server)) {
      reportSkipped(key, value, "not a domain with an optional :port");
      return;
    }
    reach.directory = server;  // empty: none
  } else if (std::strcmp(key, "relay") == 0) {
    char word[8] = {};
    if (std::strlen(value) < sizeof word) std::strcpy(word, value);
    lowerAscii(word);
    if (std::strcmp(word, "auto") == 0) {
      reach.relay = RelayMode::Auto;
    } else if (std::strcmp(word, "off") == 0) {
      reach.relay = RelayMode::Off;
    } else if (std::strcmp(word, "always") == 0) {
      reach.relay = RelayMode::Always;
    } else {
      reportSkipped(key, value, "neither auto, off nor always");
    }
  }
}

void applyConfigLine(const ScannedLine& line, RoomRecord& hostRoom, PlayerRecord& profile) {
  const char* key = line.first.data();
  const char* value = line.second.data();
  if (std::strcmp(key, "pname") == 0) {
    copyCut(profile.name, value, line.secondLength, kPlayerNameValueMax);
    const size_t end = std::strlen(profile.name.data());
    profile.name[end] = 'P';
  } else if (std::strcmp(key, "port") == 0) {
    hostRoom.port = parsePort(value);
  } else if (std::strcmp(key, "name") == 0) {
    copyCut(hostRoom.roomName, value, line.secondLength, kRoomNameSize - 1);
  } else if (std::strcmp(key, "comment") == 0) {
    copyCut(hostRoom.comment, value, line.secondLength, kCommentSize - 1);
  }
}

}  // namespace

size_t shiftJisFitLength(const char* text, size_t length, size_t maxBytes) {
  size_t kept = 0;
  while (kept < length) {
    const size_t width = isShiftJisLead(static_cast<uint8_t>(text[kept])) ? 2 : 1;
    if (kept + width > maxBytes || kept + width > length) break;
    kept += width;
  }
  return kept;
}

// Every byte of the read line is scanned, not only a first part of it.
void scanLine(const char* text, size_t length, char separator, size_t firstMax, size_t secondMax,
              ScannedLine& line, bool bracketed) {
  line = ScannedLine{};
  firstMax = firstMax < kScanPartSize ? firstMax : kScanPartSize - 1;
  secondMax = secondMax < kScanPartSize ? secondMax : kScanPartSize - 1;
  bool inBrackets = false;
  for (size_t i = 0; i < length; ++i) {
    const char c = text[i];
    if (c == '\0' || c == '#') break;
    if (c == '\t' || c == '\n' || c == ' ') continue;
    if (bracketed && !line.separatorSeen) {
      if (c == '[' && line.firstLength == 0) inBrackets = true;
      if (c == ']') inBrackets = false;
    }
    if (c == separator && !inBrackets) {
      line.separatorSeen = true;
      line.secondLength = 0;
    } else if (!line.separatorSeen) {
      if (line.firstLength < firstMax) line.first[line.firstLength++] = c;
    } else if (line.secondLength < secondMax) {
      line.second[line.secondLength++] = c;
    }
  }
  line.firstLength = shiftJisFitLength(line.first.data(), line.firstLength, firstMax);
  line.secondLength = shiftJisFitLength(line.second.data(), line.secondLength, secondMax);
  std::memset(line.first.data() + line.firstLength, 0, kScanPartSize - line.firstLength);
  std::memset(line.second.data() + line.secondLength, 0, kScanPartSize - line.secondLength);
}

// Arithmetic runs modulo 2^16 from the start, which gives the low 16 bits of
// any number, however long, without overflow.
uint16_t parsePort(const char* text) {
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = (value * 10 + static_cast<uint32_t>(*text - '0')) & 0xFFFF;
  }
  if (negative) value = (0x10000 - value) & 0xFFFF;
  return static_cast<uint16_t>(value);
}

namespace {

// Owns a file opened for reading in binary mode.
class OpenFile {
 public:
  explicit OpenFile(const char* path) : file_(std::fopen(path, "rb")) {}
  ~OpenFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  std::FILE* get() const { return file_; }

 private:
  std::FILE* file_;
};

}  // namespace

bool readRoomConfig(const char* path, RoomRecord& hostRoom, PlayerRecord& profile) {
  HostReachSettings ignored;
  return readRoomConfig(path, hostRoom, profile, ignored);
}

bool readRoomConfig(const char* path, RoomRecord& hostRoom, PlayerRecord& profile,
                    HostReachSettings& reach) {
  const OpenFile file(path);
  return readRoomConfig(file.get(), hostRoom, profile, reach);
}

int readRoomList(const char* path, RoomRecord* rooms, int capacity) {
  const OpenFile file(path);
  return readRoomList(file.get(), rooms, capacity);
}

bool readRoomConfig(std::FILE* file, RoomRecord& hostRoom, PlayerRecord& profile) {
  HostReachSettings ignored;
  return readRoomConfig(file, hostRoom, profile, ignored);
}

bool readRoomConfig(std::FILE* file, RoomRecord& hostRoom, PlayerRecord& profile,
                    HostReachSettings& reach) {
  if (file == nullptr) {
    reportFailure();
    return false;
  }
  LineReader reader(file);
  ScannedLine line;
  while (reader.next()) {
    scanLine(reader.text(), reader.length(), '=', kConfigKeyMax, kConfigValueMax, line);
    if (!line.separatorSeen) continue;
    lowerAscii(line.first.data());
    applyConfigLine(line, hostRoom, profile);
    applyReachLine(line.first.data(), line.second.data(), reach);
  }
  if (reader.failed()) {
    reportFailure();
    return false;
  }
  return true;
}

int readRoomList(std::FILE* file, RoomRecord* rooms, int capacity) {
  if (file == nullptr) {
    reportFailure();
    return -1;
  }
  LineReader reader(file);
  int count = 0;
  ScannedLine line;
  while (count < capacity && reader.next()) {
    scanLine(reader.text(), reader.length(), ':', kListHostMax, kListPortMax, line, true);
    if (!line.separatorSeen) continue;
    RoomRecord& room = rooms[count++];
    copyCut(room.hostAddress, line.first.data(), line.firstLength, kListHostMax);
    room.port = parsePort(line.second.data());
  }
  if (reader.failed()) {
    reportFailure();
    return -1;
  }
  return count;
}

}  // namespace net
