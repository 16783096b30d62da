#include "internet/mapping_record.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <sstream>

#include "platform/platform.h"

namespace internet {

namespace {

// How often a wait for router work looks at its worker's stop token.
constexpr uint32_t kSliceMs = 20;

// Every change of a record file in the program, and the start-up removal.
struct Records {
  std::mutex mutex;
  std::shared_ptr<RouterWork> removal;
  // Kept, not let go: letting a worker go asks it to stop, and this one
  // stops only at the program's end (stopAllWorkers) or once done.
  platform::Worker worker;
};

Records& records() {
  static Records* const shared = new Records;
  return *shared;
}

bool readPort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

bool readLine(const std::string& line, RecordedMapping& mapping) {
  std::istringstream fields(line);
  std::string control, service, external, client, internal, more;
  if (!(fields >> control >> service >> external >> client >> internal) || (fields >> more))
    return false;
  HttpUrl url;
  if (!parseHttpUrl(control, url) || url.address.family != platform::Family::V4 ||
      !upnp::isLocalNetworkAddress(url.address) || service.size() >= 128 ||
      !upnp::isPlainUrn(service.c_str()) || std::count(client.begin(), client.end(), '.') != 3 ||
      !platform::parseNumericAddress(client.c_str(), mapping.client) ||
      mapping.client.family != platform::Family::V4) {
    return false;
  }
  mapping.control = control;
  mapping.serviceType = service;
  return readPort(external, mapping.externalPort) && readPort(internal, mapping.internalPort);
}

std::vector<RecordedMapping> readRecord(const std::string& path) {
  std::string text;
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    text.resize(kRecordFileMax);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);
  }
  return parseMappingRecord(text);
}

// Writes mappings as the file at path; none removes it. Called with the
// records' lock held.
bool writeRecord(const std::string& path, const std::vector<RecordedMapping>& mappings) {
  if (mappings.empty()) return std::remove(path.c_str()) == 0 || errno == ENOENT;
  return platform::replaceFile(path.c_str(), formatMappingRecord(mappings));
}

// Removes one recorded forwarding from its router; true when the record of
// it can go (removed, or the router holds no such forwarding of ours).
bool removeFromRouter(const RecordedMapping& mapping, const upnp::Budget& budget) {
  upnp::Router router;
  if (!parseHttpUrl(mapping.control, router.control)) return true;
  router.serviceType = mapping.serviceType;
  upnp::MappingEntry entry;
  int error = 0;
  const upnp::Outcome held = upnp::mappingEntry(router, mapping.externalPort, budget, entry, error);
  // No such forwarding (714); a router that will not tell is not asked to
  // remove what may be another machine's.
  if (held == upnp::Outcome::Refused) return true;
  if (held != upnp::Outcome::Done) return false;
  // The port forwards elsewhere now: another machine's, not ours to remove.
  if (entry.client.v4Host() != mapping.client.v4Host() ||
      entry.internalPort != mapping.internalPort) {
    return true;
  }
  const upnp::Outcome removed = upnp::deleteMapping(router, mapping.externalPort, budget, error);
  return removed == upnp::Outcome::Done || removed == upnp::Outcome::Refused;
}

}  // namespace

std::vector<RecordedMapping> parseMappingRecord(const std::string& text) {
  std::vector<RecordedMapping> mappings;
  std::istringstream lines(text.substr(0, kRecordFileMax));
  std::string line;
  while (std::getline(lines, line) && mappings.size() < kMaxRecordedMappings) {
    RecordedMapping mapping;
    if (line.empty() || line[0] == '#' || !readLine(line, mapping)) continue;
    mappings.push_back(mapping);
  }
  return mappings;
}

std::string formatMappingRecord(const std::vector<RecordedMapping>& mappings) {
  std::string text =
      "# Forwardings without end this game asked the router for, removed at its next start\n";
  for (const RecordedMapping& m : mappings) {
    text += m.control + " " + m.serviceType + " " + std::to_string(m.externalPort) + " " +
            platform::formatAddress(m.client) + " " + std::to_string(m.internalPort) + "\n";
  }
  return text;
}

bool recordMapping(const std::string& path, const RecordedMapping& mapping) {
  const std::lock_guard<std::mutex> lock(records().mutex);
  std::vector<RecordedMapping> mappings = readRecord(path);
  mappings.erase(
      std::remove_if(mappings.begin(), mappings.end(),
                     [&](const RecordedMapping& m) { return m.sameForwarding(mapping); }),
      mappings.end());
  if (mappings.size() >= kMaxRecordedMappings)
    mappings.erase(mappings.begin(), mappings.end() - (kMaxRecordedMappings - 1));
  mappings.push_back(mapping);
  return writeRecord(path, mappings);
}

void forgetMapping(const std::string& path, const RecordedMapping& mapping) {
  const std::lock_guard<std::mutex> lock(records().mutex);
  std::vector<RecordedMapping> mappings = readRecord(path);
  const auto kept = std::remove_if(mappings.begin(), mappings.end(), [&](const RecordedMapping& m) {
    return m.sameForwarding(mapping);
  });
  if (kept == mappings.end()) return;
  mappings.erase(kept, mappings.end());
  writeRecord(path, mappings);
}

void RouterWork::finish() {
  const std::lock_guard<std::mutex> lock(mutex_);
  done_ = true;
  finished_.notify_all();
}

bool RouterWork::await(const upnp::Budget& budget) const {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!done_) {
    if (budget.stopped() || std::chrono::steady_clock::now() >= budget.end) return false;
    finished_.wait_for(lock, std::chrono::milliseconds(kSliceMs));
  }
  return true;
}

void removeRecordedMappings(const std::string& path) {
  const std::vector<RecordedMapping> recorded = [&] {
    const std::lock_guard<std::mutex> lock(records().mutex);
    return readRecord(path);
  }();
  if (recorded.empty()) return;
  auto work = std::make_shared<RouterWork>();
  const std::lock_guard<std::mutex> lock(records().mutex);
  records().removal = work;
  const bool started =
      records().worker.start([path, recorded, work](const platform::StopToken& stop) {
        const upnp::Budget budget = upnp::budgetOf(&stop, kRecordedRemovalLimitMs);
        for (const RecordedMapping& mapping : recorded) {
          if (budget.stopped() || budget.exchangeMs() == 0) break;
          if (removeFromRouter(mapping, budget)) forgetMapping(path, mapping);
        }
        work->finish();
      });
  if (!started) work->finish();
}

std::shared_ptr<const RouterWork> recordedRemoval() {
  const std::lock_guard<std::mutex> lock(records().mutex);
  // A finished removal's thread is joined.
  if (!records().worker.running()) records().worker.release();
  if (records().removal == nullptr) {
    auto none = std::make_shared<RouterWork>();
    none->finish();
    return none;
  }
  return records().removal;
}

}  // namespace internet
