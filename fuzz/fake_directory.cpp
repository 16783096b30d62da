// The room directory's client for the receive harnesses, which build the
// room query without any XMPP library: no directory is ever configured, so
// a refresh never asks one (announcement_fuzzer.cpp reads directories'
// stanzas on its own).
#include "net/directory.h"

namespace net {

void DirectoryBrowse::start(const DirectoryServer&) {
  state_ = State::Idle;
  startedAt_ = 0;
}
DirectoryBrowse::State DirectoryBrowse::poll() { return state_; }
std::vector<AnnouncedRoom> DirectoryBrowse::takeRooms() { return {}; }
void DirectoryBrowse::cancel() { state_ = State::Idle; }

}  // namespace net
