// The router's forwardings without end that this program made (for a
// router that takes no lease: UPnP error 725), written down while they stand
// in a small file of the program's own beside Options.txt, so that a
// forwarding a killed game left on the router is removed at the program's
// next start. One line per forwarding:
//   CONTROL_URL SERVICE_TYPE EXTERNAL_PORT INTERNAL_CLIENT INTERNAL_PORT
// The file is read bounded (it may have been damaged: a line that does not
// read as a forwarding is skipped) and replaced whole with
// platform::replaceFile; every change of it goes through one lock of the
// program's.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "internet/upnp_igd.h"

namespace internet {

inline constexpr char kMappingRecordFile[] = "RouterPorts.txt";
// Forwardings kept in the file (the oldest go first), and bytes read of it.
inline constexpr size_t kMaxRecordedMappings = 8;
inline constexpr size_t kRecordFileMax = 4096;
// The start-up removal's whole time.
inline constexpr uint32_t kRecordedRemovalLimitMs = 1500;

struct RecordedMapping {
  std::string control;      // the router's control URL: http://ADDRESS:PORT/PATH
  std::string serviceType;  // its WAN connection service
  uint16_t externalPort = 0;
  platform::Address client;  // the machine forwarded to (port 0)
  uint16_t internalPort = 0;

  // The same forwarding on the router: one router, one external port.
  bool sameForwarding(const RecordedMapping& other) const {
    return control == other.control && externalPort == other.externalPort;
  }
};

// The forwardings in a record's text, at most kMaxRecordedMappings, and the
// text for some.
std::vector<RecordedMapping> parseMappingRecord(const std::string& text);
std::string formatMappingRecord(const std::vector<RecordedMapping>& mappings);

// Adds a forwarding to the file at path (in place of one that is the same
// forwarding). False when the file could not be written.
bool recordMapping(const std::string& path, const RecordedMapping& mapping);
// Takes a forwarding out of the file; the file goes with its last one.
void forgetMapping(const std::string& path, const RecordedMapping& mapping);

// Work on the router that a new forwarding waits for, since a removal that
// reached the router after it would take it away: a closed room's worker
// removing its forwardings, the start-up removal.
class RouterWork {
 public:
  void finish();
  // Waits until the work has finished or the budget runs out (or its
  // worker is asked to stop); true when it has finished.
  bool await(const upnp::Budget& budget) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable finished_;
  bool done_ = false;
};

// The program's start: the forwardings the file at path names are removed
// from the router on a worker beside the frame loop (which the program's end
// asks to stop), within kRecordedRemovalLimitMs in all. Each is removed
// only while the router still forwards that port to the machine and port
// recorded; one removed, or no longer there, leaves the file, and one whose
// router did not answer stays for the next start. Nothing runs when the
// file names none.
void removeRecordedMappings(const std::string& path = kMappingRecordFile);
// The last start-up removal begun (finished, when none was); once it has
// finished, its thread is joined here.
std::shared_ptr<const RouterWork> recordedRemoval();

}  // namespace internet
