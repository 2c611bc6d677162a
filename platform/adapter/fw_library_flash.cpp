// The firmware download commands of the management library (fw_library_flash.h).
#include "fw_library_flash.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "fw_flash_components.h"
#include "fw_profile.h"
#include "wire.h"

namespace adapter {

namespace {

constexpr uint32_t kMaxChunk = 32768;
constexpr size_t kChunkData = 16;      // 1/7: data after the four words
constexpr size_t kObjectName = 8, kObjectNameSize = 104, kObjectData = 112;
constexpr const char* kProgramName = "/prg";

// One download: the chunks saved so far, from its first offset on.
struct Download {
  uint32_t start = 0;
  std::vector<uint8_t> data;
  uint32_t chunks = 0;
};

struct FlashState {
  std::map<uint32_t, Download> staging;   // by optype
  bool program_open = false;
  Download program;
  std::vector<FlashWrite> writes;
  std::vector<FlashCommit> commits;
  std::vector<ProgramWrite> program_writes;
  std::vector<ChunkFault> chunk_faults, program_faults;
  int64_t program_limit = -1;
  std::set<uint32_t> crc_mismatch;
  int asic_rev = -1;
  Handler previous_write_object = nullptr;
  Handler previous_fw_config = nullptr;
};

std::mutex states_mu;
std::map<const Engine*, FlashState>& states() {
  static std::map<const Engine*, FlashState> s;
  return s;
}
FlashState& st(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  return states()[&fw];
}

bool fromHost(const Cmd& c) { return c.carrier == Carrier::Ioctl; }

// The fault armed for chunk `chunk` of a download of `optype`, used up.
const ChunkFault* takeFault(std::vector<ChunkFault>& faults, uint32_t optype, uint32_t chunk, ChunkFault* copy) {
  for (size_t i = 0; i < faults.size(); ++i) {
    ChunkFault& f = faults[i];
    if ((f.optype != kAnyOptype && f.optype != optype) || (f.chunk != kAnyChunk && f.chunk != chunk)) continue;
    *copy = f;
    if (f.times > 0 && --f.times == 0) faults.erase(faults.begin() + static_cast<long>(i));
    return copy;
  }
  return nullptr;
}

// The flash now carries this firmware version: shown as the flash version
// at once, as the active one after a reset (applyFlashedFirmware).
void takeVersion(Engine& fw, const std::string& version) {
  if (version.empty()) return;
  fw.profiles().flash.version = version;
  fw.setFirmwareVersions(fw.config().fw_version, version);
}

// 1/7.
void hFlashWrite(Engine& fw, Cmd& c) {
  FlashState& s = st(fw);
  FlashWrite w{c.r32(0), c.r32(4), c.r32(8), c.r32(12), c.req_len};
  s.writes.push_back(w);
  if (w.operation == 3) {   // erase: a configuration the profile store keeps
    s.staging.erase(w.optype);
    c.fail(eraseConfiguration(fw, w.optype));
    return;
  }
  if ((w.operation != 1 && w.operation != 2) || w.length > kMaxChunk || kChunkData + w.length > c.in_len) {
    s.staging.erase(w.optype);
    return c.fail(kStatusIllegalField);
  }
  auto found = s.staging.find(w.optype);
  if (found == s.staging.end()) found = s.staging.emplace(w.optype, Download{w.offset, {}, 0}).first;
  Download& d = found->second;
  const uint64_t next = uint64_t(d.start) + d.data.size();
  if ((d.chunks > 0 && w.offset != d.start && w.offset != next) || next + w.length > (uint64_t(1) << 32)) {
    s.staging.erase(found);
    return c.fail(kStatusIllegalField);
  }
  ChunkFault f;
  if (takeFault(s.chunk_faults, w.optype, d.chunks, &f) != nullptr) {
    s.staging.erase(found);
    return c.fail(f.status, f.additional);
  }
  d.data.insert(d.data.end(), c.in + kChunkData, c.in + kChunkData + w.length);
  ++d.chunks;
  c.respond(0);
  if (w.operation != 1) return;
  FlashComponents& fc = fw.profiles().flash;
  fc.place(w.optype, d.start, d.data.data(), d.data.size());
  s.commits.push_back({w.optype, d.start, static_cast<uint32_t>(d.data.size())});
  takeVersion(fw, findFirmwareVersion(d.data.data(), d.data.size()));
  s.staging.erase(found);
  fw.flashChanged();
}

// 1/6.
void hComponentDetails(Engine& fw, Cmd& c) {
  FlashState& s = st(fw);
  const FlashComponents& fc = fw.profiles().flash;
  if (fc.two_step_status != 0) return c.fail(fc.two_step_status);
  uint32_t words[6];
  for (int i = 0; i < 6; ++i) words[i] = c.r32(4 * static_cast<size_t>(i));
  if (words[2] != 4) return c.fail(kStatusIllegalField);
  std::vector<uint8_t> at = fc.read(words[1], words[3], 4);
  uint32_t value = wire::get32(at.data(), 0);
  if (s.crc_mismatch.count(words[1]) != 0 || s.crc_mismatch.count(kAnyOptype) != 0) value ^= 1;
  c.respond(24);
  for (int i = 0; i < 6; ++i) c.w32(4 * static_cast<size_t>(i), words[i]);
  c.w32(16, value);
}

// 1/172: "/prg" here, any other object as before.
void hWriteObject(Engine& fw, Cmd& c) {
  FlashState& s = st(fw);
  std::string name;
  c.rtext(kObjectName, kObjectNameSize, &name);
  if (!fromHost(c) || name != kProgramName) {
    if (s.previous_write_object == nullptr) return c.fail(kStatusNotSupported);
    return s.previous_write_object(fw, c);
  }
  uint32_t word = c.r32(0), offset = c.r32(4);
  uint32_t length = word & 0xFFFFFFu;
  bool eof = (word & 0x80000000u) != 0;
  s.program_writes.push_back({offset, length, eof});
  if (c.version != 1 || length > kMaxChunk || kObjectData + length > c.in_len) return c.fail(kStatusIllegalField);
  if (offset == 0) {
    s.program = Download{};
    s.program_open = true;
  } else if (!s.program_open || offset != s.program.data.size()) {
    s.program_open = false;
    return c.fail(kStatusIllegalField);
  }
  ChunkFault f;
  if (takeFault(s.program_faults, 0, s.program.chunks, &f) != nullptr) {
    s.program_open = false;
    return c.fail(f.status, f.additional);
  }
  // A short write leaves the rest to the host's next command; the last one is taken whole.
  uint32_t taken = s.program_limit < 0 || eof ? length : static_cast<uint32_t>(std::min<int64_t>(length, s.program_limit));
  s.program.data.insert(s.program.data.end(), c.in + kObjectData, c.in + kObjectData + taken);
  ++s.program.chunks;
  c.respond(8);
  c.w32(0, taken);
  if (!eof) return;
  FlashComponents& fc = fw.profiles().flash;
  bool changed = fc.program != s.program.data;
  fc.program = std::move(s.program.data);
  s.program = Download{};
  s.program_open = false;
  takeVersion(fw, pivardRevision(fc.program));
  fw.flashChanged();
  c.w8(4, changed ? 1 : 0);
}

// 1/58: the firmware configuration as before, with the revision a test set.
void hFwConfig(Engine& fw, Cmd& c) {
  FlashState& s = st(fw);
  if (s.previous_fw_config == nullptr) return c.fail(kStatusNotSupported);
  s.previous_fw_config(fw, c);
  if (fromHost(c) && c.status == kStatusSuccess && s.asic_rev >= 0) c.w8(4, static_cast<uint8_t>(s.asic_rev));
}

}  // namespace

void registerFlashHandlers(Engine& fw) {
  Handler write_object = fw.handlerFor(1, 172);
  Handler fw_config = fw.handlerFor(1, 58);
  FlashState& s = st(fw);
  // Afresh, but a second registration must not make these their own predecessors.
  Handler keep_object = write_object == hWriteObject ? s.previous_write_object : write_object;
  Handler keep_config = fw_config == hFwConfig ? s.previous_fw_config : fw_config;
  s = FlashState{};
  s.previous_write_object = keep_object;
  s.previous_fw_config = keep_config;
  fw.registerHandler(1, 7, hFlashWrite, 16);
  fw.registerHandler(1, 6, hComponentDetails, 24);
  fw.registerHandler(1, 172, hWriteObject, fw.minimumPayload(1, 172));
  fw.registerHandler(1, 58, hFwConfig, fw.minimumPayload(1, 58));
}

const std::vector<FlashWrite>& flashWrites(Engine& fw) { return st(fw).writes; }
const std::vector<FlashCommit>& flashCommits(Engine& fw) { return st(fw).commits; }
const std::vector<ProgramWrite>& programWrites(Engine& fw) { return st(fw).program_writes; }

void clearFlashLogs(Engine& fw) {
  FlashState& s = st(fw);
  s.writes.clear();
  s.commits.clear();
  s.program_writes.clear();
}

void resetFlashKnobs(Engine& fw) {
  FlashState& s = st(fw);
  Handler write_object = s.previous_write_object, fw_config = s.previous_fw_config;
  s = FlashState{};
  s.previous_write_object = write_object;
  s.previous_fw_config = fw_config;
  fw.profiles().flash.two_step_status = 0;
}

std::vector<uint8_t> flashedAt(Engine& fw, uint32_t optype, uint32_t offset, size_t n) {
  return fw.profiles().flash.read(optype, offset, n);
}

void addChunkFault(Engine& fw, const ChunkFault& f) { st(fw).chunk_faults.push_back(f); }
void addProgramFault(Engine& fw, const ChunkFault& f) { st(fw).program_faults.push_back(f); }
void setProgramWriteLimit(Engine& fw, int64_t bytes) { st(fw).program_limit = bytes; }

void setCrcMismatch(Engine& fw, uint32_t optype, bool on) {
  if (on)
    st(fw).crc_mismatch.insert(optype);
  else
    st(fw).crc_mismatch.erase(optype);
}

void setTwoStepDownload(Engine& fw, uint8_t status) { fw.profiles().flash.two_step_status = status; }
void setAsicRevision(Engine& fw, int revision) { st(fw).asic_rev = revision; }

}  // namespace adapter
