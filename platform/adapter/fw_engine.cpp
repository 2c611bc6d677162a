// Firmware command engine: dispatch, fault knobs and object accounting.
#include "fw_engine.h"

#include <algorithm>
#include <cstring>

#include "fw_cfg_link.h"
#include "fw_cfg_dcbx.h"
#include "fw_profile.h"
#include "fw_state.h"
#include "wire.h"

namespace adapter {

using namespace wire;

const char* genName(Gen g) {
  switch (g) {
    case Gen::KS2: return "KS2";
    case Gen::KS3: return "KS3";
    case Gen::Pivard: return "Pivard";
    case Gen::Veskarn: return "Veskarn";
  }
  return "?";
}

const char* objKindName(ObjKind k) {
  static const char* const names[] = {"Interface", "MacFilter", "Eq", "Cq", "TxQueue",
                                      "RxQueue", "MccQueue", "QueueFilter", "TunnelFilter"};
  return names[static_cast<unsigned>(k)];
}

uint16_t defaultVendorId(Gen g) { return g == Gen::Pivard ? 0x1E7B : 0x1C4E; }

uint16_t defaultDeviceId(Gen g) {
  switch (g) {
    case Gen::KS2: return 0x3A11;
    case Gen::KS3: return 0x3A21;
    case Gen::Pivard: return 0x5C20;
    case Gen::Veskarn: return 0x3B28;
  }
  return 0;
}

EngineConfig engineDefaults(Gen g, unsigned functions) {
  EngineConfig c;
  c.gen = g;
  c.functions = functions;
  switch (g) {
    case Gen::KS2:
      c.controller_text = "Kalderstone 2 10GbE CNA";
      c.model_name = "KS2-2P-10G";
      c.sriov_enabled = false;
      c.max_vfs = 0;
      c.ucmacs = 64;
      c.rssqs = 4;
      c.txqs = 1;
      c.netqueues = 4;
      c.fw_version = c.flash_fw_version = "4.9.416.0";
      break;
    case Gen::KS3:
      c.controller_text = "Kalderstone 3 10GbE CNA";
      c.model_name = "KS3-2P-10G";
      c.max_vfs = 30;
      c.ucmacs = 128;
      c.rssqs = 4;
      c.fw_version = c.flash_fw_version = "10.7.110.34";
      break;
    case Gen::Pivard:
      c.controller_text = "Quorvantix Pivard 25GbE";
      c.model_name = "PV-2P-25G";
      c.max_vfs = 16;
      c.ucmacs = 64;
      c.rssqs = 8;
      c.netqueues = 8;
      c.fw_caps = 0x20000;
      c.phy_if_type = 10;
      c.fw_version = c.flash_fw_version = "12.4.243.11";
      break;
    case Gen::Veskarn:
      c.controller_text = "Veskarn 2-port 10GbE CNA";
      c.model_name = "VK-2P-10G";
      c.max_vfs = 63;
      c.ucmacs = 128;
      c.rssqs = 16;
      c.fw_version = c.flash_fw_version = "11.2.1149.0";
      break;
  }
  return c;
}

// ---- Cmd helpers ----

uint8_t Cmd::r8(size_t off) const { return off < in_len ? in[off] : 0; }
uint16_t Cmd::r16(size_t off) const {
  return static_cast<uint16_t>(r8(off) | (r8(off + 1) << 8));
}
uint32_t Cmd::r32(size_t off) const {
  return static_cast<uint32_t>(r16(off)) | (static_cast<uint32_t>(r16(off + 2)) << 16);
}
void Cmd::w8(size_t off, uint8_t v) {
  if (off < pcap) p[off] = v;
}
void Cmd::w16(size_t off, uint16_t v) {
  w8(off, static_cast<uint8_t>(v));
  w8(off + 1, static_cast<uint8_t>(v >> 8));
}
void Cmd::w32(size_t off, uint32_t v) {
  w16(off, static_cast<uint16_t>(v));
  w16(off + 2, static_cast<uint16_t>(v >> 16));
}
void Cmd::wbytes(size_t off, const void* src, size_t n) {
  const uint8_t* s = static_cast<const uint8_t*>(src);
  for (size_t i = 0; i < n; ++i) w8(off + i, s[i]);
}
void Cmd::wtext(size_t off, const std::string& s, size_t field) {
  for (size_t i = 0; i < field; ++i) w8(off + i, i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
}
void Cmd::respond(size_t len) {
  size_t n = std::min(len, pcap);
  std::memset(p, 0, n);
  resp_len = static_cast<uint32_t>(n);
}
void Cmd::rtext(size_t off, size_t field, std::string* out) const {
  out->clear();
  for (size_t i = 0; i < field; ++i) {
    uint8_t ch = r8(off + i);
    if (ch == 0) break;
    out->push_back(static_cast<char>(ch));
  }
}

// ---- Engine ----

Engine::Engine(const EngineConfig& cfg) : cfg_(cfg) {
  if (cfg_.functions == 0) cfg_.functions = 1;
  if (cfg_.functions > 8) cfg_.functions = 8;   // one PCI device: functions 0-7
  ports_.resize(ports());
  for (unsigned p = 0; p < ports_.size(); ++p) {
    const char vendor[] = "EMULATED OPTICS ";
    const char part[] = "SFP-10G-SR-EMU  ";
    std::memcpy(ports_[p].vendor.data(), vendor, 16);
    std::memcpy(ports_[p].part.data(), part, 16);
  }
  for (unsigned f = 0; f < cfg_.functions; ++f) {
    FnState* s = new FnState;
    s->stats.assign(statsBlockBytes(cfg_.gen) / 4, 0);
    s->privileges[0] = cfg_.privileges;
    // Field order of ResourceLimits: sriov, max_vfs, txqs, rxqs, rssqs, cqs,
    // ucmacs, mccqs, evtqs, vlans, ifaces, cap_flags.
    s->limits = ResourceLimits{cfg_.sriov_enabled, cfg_.max_vfs, cfg_.txqs,  cfg_.rxqs,
                               cfg_.rssqs,         cfg_.cqs,     cfg_.ucmacs, cfg_.mccqs,
                               cfg_.evtqs,         cfg_.vlans,   cfg_.ifaces, cfg_.nic_cap_flags};
    // Each VF's share until a profile write says otherwise.
    s->vf_limits = ResourceLimits{false, 0, 1, 1, 0, 4, cfg_.ucmacs, cfg_.mccqs, 1, cfg_.vlans, 1, cfg_.nic_cap_flags};
    fns_.push_back(s);
  }
  // A firmware dump is present from power-on so that dump readers have data.
  std::vector<uint8_t> dump(32768);
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  objects_["/dbg/dump.bin"] = std::move(dump);
  const char log[] = "fw: boot ok\nfw: link up port 0\nfw: link up port 1\n";
  fat_.assign(log, log + sizeof(log) - 1);
  registerDriverHandlers(*this);
  profiles_ = std::make_unique<ProfileStore>(defaultProfileStore(cfg_));
  // Power-on from flash: what the flash kept is configured, and a reset makes
  // the configured state the running one.
  if (!cfg_.flash_file.empty() && loadFlash(cfg_.flash_file, cfg_.gen, profiles_.get())) {
    booted_from_flash_ = true;
    profiles_->reboot();
    profiles_->reboots = 0;
    for (const auto& [name, data] : profiles_->regions) objects_[name] = data;
    // The multichannel type the functions run with is the first port's.
    for (const ProfileRecord& r : profiles_->active)
      if (r[0] == kRecPort && (r[4] & 63) == 0) cfg_.function_mode = r[5];
  }
  registerProfileHandlers(*this);
  registerLinkHandlers(*this);
  registerCfgBootHandlers(*this);
  registerDcbxHandlers(*this);
}

bool Engine::flashChanged() {
  if (cfg_.flash_file.empty()) return true;
  // The configuration regions are the named objects under /nicdata/.
  profiles_->regions.clear();
  for (const auto& [name, data] : objects_)
    if (name.rfind(kRegionPrefix, 0) == 0) profiles_->regions[name] = data;
  return saveFlash(*profiles_, cfg_.gen, cfg_.flash_file);
}

Engine::~Engine() {
  for (FnState* s : fns_) delete s;
}

unsigned Engine::ports() const {
  return std::min(cfg_.functions, 4u);
}

Engine::PortState& Engine::port(unsigned p) { return ports_[p % ports_.size()]; }

std::array<uint8_t, 6> Engine::permanentMac(unsigned fn) const {
  auto kept = profiles_->permanent_macs.find(fn);
  if (kept != profiles_->permanent_macs.end()) return kept->second;
  std::array<uint8_t, 6> m = cfg_.base_mac;
  m[5] = static_cast<uint8_t>(m[5] + fn);
  return m;
}

Engine::FnState& Engine::fnState(unsigned fn) { return *fns_[fn % fns_.size()]; }
const Engine::FnState& Engine::fnState(unsigned fn) const { return *fns_[fn % fns_.size()]; }

bool Engine::initialised(unsigned fn) const { return fnState(fn).initialised; }

static uint16_t key(uint8_t sub, uint8_t op) { return static_cast<uint16_t>((sub << 8) | op); }

void Engine::registerHandler(uint8_t subsystem, uint8_t opcode, Handler h) {
  registerHandler(subsystem, opcode, h, 0);
}
void Engine::registerHandler(uint8_t subsystem, uint8_t opcode, Handler h, uint32_t min_payload) {
  handlers_[key(subsystem, opcode)] = h;
  min_payload_[key(subsystem, opcode)] = min_payload;
}
uint32_t Engine::minimumPayload(uint8_t subsystem, uint8_t opcode) const {
  auto it = min_payload_.find(key(subsystem, opcode));
  return it == min_payload_.end() ? 0 : it->second;
}
bool Engine::hasHandler(uint8_t subsystem, uint8_t opcode) const {
  return handlers_.count(key(subsystem, opcode)) != 0;
}
Handler Engine::handlerFor(uint8_t subsystem, uint8_t opcode) const {
  auto it = handlers_.find(key(subsystem, opcode));
  return it == handlers_.end() ? nullptr : it->second;
}
void Engine::setFault(uint8_t subsystem, uint8_t opcode, const Fault& f) {
  faults_[key(subsystem, opcode)] = f;
}
void Engine::clearFault(uint8_t subsystem, uint8_t opcode) { faults_.erase(key(subsystem, opcode)); }
void Engine::clearFaults() { faults_.clear(); }

unsigned Engine::commandsSeen(uint8_t subsystem, uint8_t opcode) const {
  auto it = seen_.find(key(subsystem, opcode));
  return it == seen_.end() ? 0 : it->second;
}
const std::vector<uint8_t>* Engine::lastRequest(uint8_t subsystem, uint8_t opcode) const {
  auto it = last_req_.find(key(subsystem, opcode));
  return it == last_req_.end() ? nullptr : &it->second;
}

// Takes the knob of a command if one is armed. Returns nullptr when none.
static const Fault* takeFault(std::map<uint16_t, Fault>& faults, uint16_t k, Fault* copy) {
  auto it = faults.find(k);
  if (it == faults.end() || it->second.times == 0) return nullptr;
  *copy = it->second;
  if (it->second.times > 0) --it->second.times;
  return copy;
}

static void writeResponseHeader(uint8_t* buf, uint8_t op, uint8_t sub, uint8_t st, uint8_t add,
                                uint32_t len) {
  put8(buf, 0, op);
  put8(buf, 1, sub);
  put16(buf, 2, 0);
  put8(buf, 4, st);
  put8(buf, 5, add);
  put16(buf, 6, 0);
  put32(buf, 8, len);
  put32(buf, 12, len);
}

Outcome Engine::execute(const Request& rq) {
  Outcome out;
  if (rq.buf == nullptr || rq.cap < 16 || rq.fn >= cfg_.functions) {
    out.status = kStatusIllegalField;
    return out;
  }
  uint8_t* buf = rq.buf;
  Cmd c{};
  c.fn = rq.fn;
  c.carrier = rq.carrier;
  c.opcode = get8(buf, 0);
  c.subsystem = get8(buf, 1);
  c.port = get8(buf, 2);
  c.domain = get8(buf, 3);
  c.timeout = get32(buf, 4);
  c.req_len = get32(buf, 8);
  c.version = get8(buf, 12);
  c.vf = get8(buf, 13);
  c.pfvh = get16(buf, 14);
  c.p = buf + 16;
  c.pcap = rq.cap - 16;
  c.dma = rq.dma;
  // The request as it came: handlers read from this copy, so writing the
  // response over the request never changes what they decode.
  size_t in_len = std::min<size_t>(c.req_len, c.pcap);
  std::vector<uint8_t> in(buf + 16, buf + 16 + in_len);
  c.in = in.data();
  c.in_len = in_len;

  uint16_t k = key(c.subsystem, c.opcode);
  ++seen_[k];
  last_req_[k].assign(buf, buf + 16 + in_len);
  reached_.push_back(Reached{c.subsystem, c.opcode, c.fn, -1});
  if (reached_.size() > kReachedKeep) reached_.pop_front();

  Fault fcopy;
  const Fault* f = takeFault(faults_, k, &fcopy);
  if (f != nullptr) {
    out.card_error = f->card_error;
    out.slot_gone = f->slot_gone;
    if (f->no_completion || f->card_error || f->slot_gone) {
      out.deliver = false;
      return out;
    }
    if (f->no_entry) {
      out.no_entry = true;
      return out;
    }
    out.malformed = f->malformed;
    if (f->status != 0 || f->additional != 0 || f->extended != 0) {
      writeResponseHeader(buf, c.opcode, c.subsystem, f->status, f->additional, 0);
      out.status = f->status;
      out.ext_status = f->extended;
      out.late = f->late;
      return out;
    }
    out.late = f->late;
  }

  auto h = handlers_.find(k);
  if (h == handlers_.end()) {
    c.fail(kStatusNotSupported);
  } else if (c.req_len > c.pcap || c.req_len < minimumPayload(c.subsystem, c.opcode)) {
    // Shorter than the command, or longer than what arrived: nothing of it
    // is decoded.
    c.fail(kStatusIllegalField);
  } else {
    h->second(*this, c);
    reached_.back().port = c.on_port;
  }
  if (c.no_answer) {
    out.deliver = false;
    return out;
  }
  if (c.status != 0) c.resp_len = 0;
  writeResponseHeader(buf, c.opcode, c.subsystem, c.status, c.additional,
                      std::min<uint32_t>(c.resp_len, static_cast<uint32_t>(c.pcap)));
  out.status = c.status;
  out.ext_status = c.ext_status;
  out.rx_flush_cq = c.status == 0 ? c.rx_flush_cq : 0;
  return out;
}

bool Engine::bareFault(uint8_t op, Outcome* out) {
  uint16_t k = key(kSubBare, op);
  ++seen_[k];
  Fault fcopy;
  const Fault* f = takeFault(faults_, k, &fcopy);
  if (f == nullptr) return false;
  out->card_error = f->card_error;
  out->slot_gone = f->slot_gone;
  out->late = f->late;
  if (f->no_completion || f->card_error || f->slot_gone) {
    out->deliver = false;
    return true;
  }
  if (f->status != 0 || f->extended != 0) {
    out->status = f->status;
    out->ext_status = f->extended;
    return true;
  }
  return false;
}

Outcome Engine::fwInit(unsigned fn) {
  Outcome out;
  if (bareFault(kOpFwInit, &out)) return out;
  fnState(fn).initialised = true;
  return out;
}

Outcome Engine::fwClean(unsigned fn) {
  Outcome out;
  if (bareFault(kOpFwClean, &out)) return out;
  destroyFunctionObjects(fn);
  fnState(fn).initialised = false;
  return out;
}

// ---- objects ----

static uint64_t qkey(ObjKind k, uint32_t id) {
  return (static_cast<uint64_t>(k) << 32) | id;
}

uint32_t Engine::allocId(ObjKind k) {
  // Lowest free id from 1: ids stay small, as the driver's tables expect.
  auto used = [&](uint32_t id) {
    switch (k) {
      case ObjKind::Interface: return ifaces_.count(id) != 0;
      case ObjKind::MacFilter: return pmacs_.count(id) != 0;
      case ObjKind::QueueFilter:
      case ObjKind::TunnelFilter: return filters_.count(id) != 0;
      default: return queues_.count(qkey(k, id)) != 0;
    }
  };
  auto floor = id_floor_.find(k);
  uint32_t id = floor != id_floor_.end() ? floor->second : 1;
  while (used(id)) ++id;
  return id;
}

void Engine::setIdFloor(ObjKind k, uint32_t first) { id_floor_[k] = first != 0 ? first : 1; }

std::vector<const FilterObj*> Engine::filters(ObjKind k, int fn) const {
  std::vector<const FilterObj*> v;
  for (const auto& [id, f] : filters_) {
    if (f.first == k && (fn < 0 || f.second.fn == static_cast<unsigned>(fn))) v.push_back(&f.second);
  }
  return v;
}

QueueObj& Engine::addQueue(const QueueObj& q) {
  QueueObj& slot = queues_[qkey(q.kind, q.id)];
  slot = q;
  return slot;
}

QueueObj* Engine::queue(ObjKind k, uint32_t id) {
  auto it = queues_.find(qkey(k, id));
  return it == queues_.end() ? nullptr : &it->second;
}

std::vector<QueueObj*> Engine::queues(ObjKind k, int fn) {
  std::vector<QueueObj*> v;
  for (auto& [kk, q] : queues_) {
    if (q.kind == k && (fn < 0 || q.fn == static_cast<unsigned>(fn))) v.push_back(&q);
  }
  return v;
}

bool Engine::destroyQueue(ObjKind k, uint32_t id, unsigned fn) {
  auto it = queues_.find(qkey(k, id));
  if (it == queues_.end() || it->second.fn != fn) return false;
  queues_.erase(it);
  return true;
}

uint32_t Engine::addInterface(const InterfaceObj& i) {
  InterfaceObj obj = i;
  obj.id = allocId(ObjKind::Interface);
  ifaces_[obj.id] = obj;
  return obj.id;
}
const InterfaceObj* Engine::interface(uint32_t id) const {
  auto it = ifaces_.find(id);
  return it == ifaces_.end() ? nullptr : &it->second;
}
std::vector<const InterfaceObj*> Engine::interfaces(unsigned fn) const {
  std::vector<const InterfaceObj*> v;
  for (const auto& [id, i] : ifaces_) {
    if (i.fn == fn) v.push_back(&i);
  }
  return v;
}
InterfaceObj* Engine::interfaceMut(uint32_t id) {
  auto it = ifaces_.find(id);
  return it == ifaces_.end() ? nullptr : &it->second;
}
bool Engine::destroyInterface(uint32_t id, unsigned fn) {
  auto it = ifaces_.find(id);
  if (it == ifaces_.end() || it->second.fn != fn) return false;
  // Filters hang off their interface and go with it.
  for (auto m = pmacs_.begin(); m != pmacs_.end();) {
    m = (m->second.if_id == id) ? pmacs_.erase(m) : std::next(m);
  }
  for (auto f = filters_.begin(); f != filters_.end();) {
    f = (f->second.second.if_id == id) ? filters_.erase(f) : std::next(f);
  }
  ifaces_.erase(it);
  return true;
}

uint32_t Engine::addMacFilter(unsigned fn, uint8_t domain, uint32_t if_id, const uint8_t* mac) {
  MacFilter m{};
  m.id = allocId(ObjKind::MacFilter);
  m.fn = fn;
  m.domain = domain;
  m.if_id = if_id;
  std::memcpy(m.mac.data(), mac, 6);
  pmacs_[m.id] = m;
  return m.id;
}
bool Engine::delMacFilter(uint32_t id, unsigned fn) {
  auto it = pmacs_.find(id);
  if (it == pmacs_.end() || it->second.fn != fn) return false;
  pmacs_.erase(it);
  return true;
}
MacFilter* Engine::macFilterMut(uint32_t id) {
  auto it = pmacs_.find(id);
  return it == pmacs_.end() ? nullptr : &it->second;
}
std::vector<MacFilter> Engine::macFilters(int fn) const {
  std::vector<MacFilter> v;
  for (auto& [id, m] : pmacs_) {
    if (fn < 0 || m.fn == static_cast<unsigned>(fn)) v.push_back(m);
  }
  return v;
}

uint32_t Engine::addFilter(ObjKind k, const FilterObj& f) {
  FilterObj obj = f;
  obj.id = allocId(k);
  filters_[obj.id] = {k, obj};
  return obj.id;
}
bool Engine::delFilter(uint32_t id, unsigned fn) {
  auto it = filters_.find(id);
  if (it == filters_.end() || it->second.second.fn != fn) return false;
  filters_.erase(it);
  return true;
}
const FilterObj* Engine::filter(uint32_t id) const {
  auto it = filters_.find(id);
  return it == filters_.end() ? nullptr : &it->second.second;
}

void Engine::destroyFunctionObjects(unsigned fn) {
  for (auto it = queues_.begin(); it != queues_.end();) {
    it = (it->second.fn == fn) ? queues_.erase(it) : std::next(it);
  }
  for (auto it = ifaces_.begin(); it != ifaces_.end();) {
    it = (it->second.fn == fn) ? ifaces_.erase(it) : std::next(it);
  }
  for (auto it = pmacs_.begin(); it != pmacs_.end();) {
    it = (it->second.fn == fn) ? pmacs_.erase(it) : std::next(it);
  }
  for (auto it = filters_.begin(); it != filters_.end();) {
    it = (it->second.second.fn == fn) ? filters_.erase(it) : std::next(it);
  }
  FnState& s = fnState(fn);
  s.mac_lists.clear();
  s.vf_enabled.clear();
  // The switch forgets the function's port VLANs with it.
  s.pvid.clear();
  s.intr_enabled = false;
}

void Engine::destroyAllObjects() {
  for (unsigned f = 0; f < cfg_.functions; ++f) destroyFunctionObjects(f);
}

std::vector<ObjInfo> Engine::liveObjects(int fn) const {
  std::vector<ObjInfo> v;
  auto want = [&](unsigned f) { return fn < 0 || f == static_cast<unsigned>(fn); };
  for (auto& [k, q] : queues_) {
    if (want(q.fn)) v.push_back({q.kind, q.id, q.fn, q.domain});
  }
  for (auto& [id, i] : ifaces_) {
    if (want(i.fn)) v.push_back({ObjKind::Interface, id, i.fn, i.domain});
  }
  for (auto& [id, m] : pmacs_) {
    if (want(m.fn)) v.push_back({ObjKind::MacFilter, id, m.fn, m.domain});
  }
  for (auto& [id, f] : filters_) {
    if (want(f.second.fn)) v.push_back({f.first, id, f.second.fn, 0});
  }
  return v;
}

size_t Engine::countLive(ObjKind k, int fn) const {
  size_t n = 0;
  for (const ObjInfo& o : liveObjects(fn)) n += (o.kind == k);
  return n;
}
size_t Engine::countLive(int fn) const { return liveObjects(fn).size(); }

// ---- state knobs ----

void Engine::setStatsWord(unsigned fn, unsigned word, uint32_t v) {
  FnState& s = fnState(fn);
  if (word < s.stats.size()) s.stats[word] = v;
}
uint32_t Engine::statsWordValue(unsigned fn, unsigned word) const {
  const FnState& s = fnState(fn);
  return word < s.stats.size() ? s.stats[word] : 0;
}
void Engine::setStat(unsigned fn, Stat st, uint32_t v) {
  int w = statsWord(cfg_.gen, st, portOfFunction(fn));
  if (w >= 0) setStatsWord(fn, static_cast<unsigned>(w), v);
}
void Engine::setNoDmaCounter(unsigned fn, uint32_t rxq_id, uint16_t v) {
  uint32_t off = statsNoDmaOffset(cfg_.gen);
  if (off == 0) return;
  unsigned word = off / 4 + rxq_id;
  FnState& s = fnState(fn);
  if (word < s.stats.size()) s.stats[word] = (s.stats[word] & 0xFFFF0000u) | v;
}

void Engine::putObject(const std::string& name, std::vector<uint8_t> data) {
  objects_[name] = std::move(data);
}
bool Engine::hasObject(const std::string& name) const { return objects_.count(name) != 0; }
std::vector<uint8_t>* Engine::object(const std::string& name) {
  auto it = objects_.find(name);
  return it == objects_.end() ? nullptr : &it->second;
}
void Engine::eraseObject(const std::string& name) { objects_.erase(name); }

std::vector<uint8_t>& Engine::vpd(unsigned fn) { return fnState(fn).vpd; }

uint32_t Engine::fnPrivileges(unsigned fn, uint8_t domain) const {
  const FnState& s = fnState(fn);
  auto it = s.privileges.find(domain);
  return it == s.privileges.end() ? cfg_.privileges : it->second;
}
bool Engine::vfsEnabled(unsigned fn, uint8_t domain) const {
  const FnState& s = fnState(fn);
  auto it = s.vf_enabled.find(domain);
  return it != s.vf_enabled.end() && it->second;
}
bool Engine::interruptsEnabled(unsigned fn) const { return fnState(fn).intr_enabled; }
uint32_t Engine::emiCanceller(unsigned fn) const { return fnState(fn).emi; }
bool Engine::ueRecoveryRequested(unsigned fn) const { return fnState(fn).ue_recovery; }
uint16_t Engine::hswPvid(unsigned fn, uint8_t domain) const {
  const FnState& s = fnState(fn);
  auto it = s.pvid.find(domain);
  return it == s.pvid.end() ? 0 : it->second;
}
uint32_t Engine::qosBandwidth(unsigned fn, uint8_t domain) const {
  const FnState& s = fnState(fn);
  auto it = s.qos.find(domain);
  return it == s.qos.end() ? 0 : it->second;
}
uint32_t Engine::logicalLinkWord(unsigned fn, uint8_t domain) const {
  const FnState& s = fnState(fn);
  auto it = s.logical_link.find(domain);
  return it == s.logical_link.end() ? 0 : it->second;
}
const std::vector<std::array<uint8_t, 6>>& Engine::macList(unsigned fn, uint8_t domain) {
  return fnState(fn).mac_lists[domain];
}
void Engine::recordSetProfile(const uint8_t* desc, size_t bytes, uint32_t count, uint8_t version,
                              uint8_t domain) {
  set_profile_.descriptors.assign(desc, desc + bytes);
  set_profile_.count = count;
  set_profile_.version = version;
  set_profile_.domain = domain;
  ++set_profile_.times;
}

uint16_t Engine::vxlanPort(unsigned fn) const { return fnState(fn).vxlan_port; }
const ResourceLimits& Engine::limits(unsigned fn) const { return fnState(fn).limits; }
ResourceLimits& Engine::limitsMut(unsigned fn) { return fnState(fn).limits; }
const ResourceLimits& Engine::vfLimits(unsigned fn) const { return fnState(fn).vf_limits; }
ResourceLimits& Engine::vfLimitsMut(unsigned fn) { return fnState(fn).vf_limits; }
uint32_t Engine::tunnelInterface(unsigned fn) const {
  const FnState& s = fnState(fn);
  return s.tunnel_if_set ? s.tunnel_if : 0;
}

std::array<uint8_t, 6> Engine::wolMac(unsigned fn) const { return fnState(fn).wol_mac; }

}  // namespace adapter
