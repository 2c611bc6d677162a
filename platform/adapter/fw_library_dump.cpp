// The firmware's side of the library's diagnostic reads (fw_library_dump.h).
#include "fw_library_dump.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "wire.h"

namespace adapter {

namespace {

constexpr uint8_t kSubCommon = 1;
constexpr uint8_t kSubDiag = 11;
constexpr uint32_t kCliSegment = 0xFFFFFFFFu;
constexpr uint32_t kCliComponent = 3;
constexpr uint32_t kCliUnsupported = 0x30004;
constexpr size_t kObjectChunk = 32768;
constexpr const char* kFatObject = "/dbg/dump.bin";

struct State {
  DumpSetup setup;
  Handler prev_props = nullptr;   // 11/21 before us
  Handler prev_fat = nullptr;     // 1/68 (the driver's commands)
  Handler prev_object = nullptr;  // 1/171 (every other object)
};

std::mutex mu;
std::map<const Engine*, State>& states() {
  static std::map<const Engine*, State> s;
  return s;
}
State& st(Engine& fw) {
  std::lock_guard<std::mutex> g(mu);
  return states()[&fw];
}

DumpSetup defaults(Gen g) {
  DumpSetup d;
  d.sli_intf = sliIntf(g);
  d.asic_id = asicId(g);
  DumpComponent two;
  two.segments = {{0, 1, 0, 1, 5000}, {0, 1, 0, 0, 70000}, {0, 1, 5, 0, 64}};
  DumpComponent three;
  three.segments = {{0, 1, 0, 0, 300}};
  DumpComponent four;
  four.segments = {{0, 1, 0, 0, 100}};
  DumpComponent small;
  small.segments = {{0, 1, 0, 0, 16}};
  d.components = {{2, two}, {3, three}, {4, four}, {5, small}, {6, small}};
  d.cli = {{"show version", "Firmware 11.2.1149.0\n"}, {"help", "show version\nhelp\n"}};
  d.transceiver_supported = g != Gen::KS2;
  return d;
}

// The FAT as the library's devices read it: a 4-byte header, then the log.
std::vector<uint8_t> fatImage(Engine& fw, const DumpSetup& d) {
  if (d.fat_raw) return d.fat;
  const std::vector<uint8_t>& log = fw.fatLog();
  if (log.empty()) return {};
  std::vector<uint8_t> img(4 + log.size());
  wire::put32(img.data(), 0, static_cast<uint32_t>(log.size()));
  std::copy(log.begin(), log.end(), img.begin() + 4);
  return img;
}

void hProps(Engine& fw, Cmd& c) {
  State& s = st(fw);
  if (s.prev_props != nullptr) s.prev_props(fw, c);
  if (c.carrier != Carrier::Ioctl || c.status != 0) return;
  uint8_t chip = c.resp_len > 2 ? c.p[2] : 0;
  c.respond(20);
  c.w8(0, s.setup.low_version);
  c.w8(1, s.setup.high_version);
  c.w8(2, chip);
  c.w32(4, s.setup.sli_intf);
  c.w32(8, s.setup.asic_id);
  c.w32(16, s.setup.max_components);
}

void hComponent(Engine& fw, Cmd& c) {
  const DumpSetup& d = st(fw).setup;
  auto it = d.components.find(c.r32(0));
  c.respond(8);
  if (it == d.components.end()) {
    c.w32(4, 1);   // no such component
    return;
  }
  c.w32(0, static_cast<uint32_t>(it->second.segments.size()));
  c.w32(4, it->second.status);
}

const DumpSegment* segmentOf(const DumpSetup& d, uint32_t comp, uint32_t seg) {
  auto it = d.components.find(comp);
  if (it == d.components.end() || seg >= it->second.segments.size()) return nullptr;
  return &it->second.segments[seg];
}

void hSegment(Engine& fw, Cmd& c) {
  const DumpSegment* s = segmentOf(st(fw).setup, c.r32(0), c.r32(4));
  if (s == nullptr) {
    c.fail(kStatusIllegalField);
    return;
  }
  c.respond(16);
  c.w8(0, s->low_version);
  c.w8(1, s->high_version);
  c.w32(4, s->status);
  c.w32(8, static_cast<uint32_t>(s->max_instance));
  c.w32(12, s->length);
}

bool takeFault(DumpSetup& d, uint32_t comp, uint32_t seg, uint32_t inst, uint32_t off, uint8_t* status) {
  for (DumpChunkFault& f : d.chunk_faults) {
    if (f.times == 0 || f.component != comp || f.segment != seg || f.instance != inst || f.offset != off) continue;
    if (f.times > 0) --f.times;
    *status = f.status;
    return true;
  }
  return false;
}

void hCli(Engine& fw, Cmd& c) {
  const DumpSetup& d = st(fw).setup;
  uint32_t len = c.r32(20);
  uint32_t room = c.r32(16);
  if (24 + size_t(len) > c.in_len) {
    c.fail(kStatusIllegalField);
    return;
  }
  std::string cmd(reinterpret_cast<const char*>(c.in) + 24, len);
  c.respond(8);
  auto it = d.cli.find(cmd);
  if (it == d.cli.end()) {
    c.w32(0, kCliUnsupported);
    return;
  }
  size_t n = std::min<size_t>({it->second.size(), room, c.pcap > 8 ? c.pcap - 8 : 0});
  c.respond(8 + n);
  c.w32(4, static_cast<uint32_t>(n));
  c.wbytes(8, it->second.data(), n);
}

void hRead(Engine& fw, Cmd& c) {
  uint32_t comp = c.r32(0), seg = c.r32(4), inst = c.r32(8), off = c.r32(12), asked = c.r32(16);
  if (comp == kCliComponent && seg == kCliSegment) {
    hCli(fw, c);
    return;
  }
  if (comp == 1) {   // dump programs are the host driver's to run
    c.fail(kStatusNotSupported);
    return;
  }
  State& s = st(fw);
  uint8_t fault = 0;
  bool failed;
  {
    std::lock_guard<std::mutex> g(mu);
    failed = takeFault(s.setup, comp, seg, inst, off, &fault);
  }
  if (failed) {
    c.fail(fault);
    return;
  }
  const DumpSegment* sp = segmentOf(s.setup, comp, seg);
  if (sp == nullptr || sp->max_instance < 0 || inst > static_cast<uint32_t>(sp->max_instance)) {
    c.fail(kStatusIllegalField);
    return;
  }
  uint32_t n = off >= sp->length ? 0 : std::min(asked, sp->length - off);
  n = std::min<uint32_t>(n, c.pcap > 8 ? static_cast<uint32_t>(c.pcap - 8) : 0);
  c.respond(8 + n);
  c.w32(0, sp->status);
  c.w32(4, n);
  for (uint32_t i = 0; i < n; ++i) c.p[8 + i] = firmwareSegmentByte(comp, seg, inst, off + i);
}

void hFat(Engine& fw, Cmd& c) {
  State& s = st(fw);
  if (c.carrier != Carrier::Ioctl) {
    if (s.prev_fat != nullptr) s.prev_fat(fw, c);
    else c.fail(kStatusNotSupported);
    return;
  }
  switch (c.r32(0)) {
    case 1: {
      uint32_t size = static_cast<uint32_t>(fatImage(fw, s.setup).size());
      c.respond(20);
      c.w32(0, size);
      return;
    }
    case 2:
      fw.fatLog().clear();
      s.setup.fat_raw = false;
      s.setup.fat.clear();
      c.respond(0);
      return;
    case 0: {
      std::vector<uint8_t> img = fatImage(fw, s.setup);
      uint32_t off = c.r32(4), len = c.r32(8);
      if (20 + size_t(len) > c.in_len) {
        c.fail(kStatusIllegalField);
        return;
      }
      uint32_t n = off >= img.size() ? 0 : std::min<uint32_t>(len, static_cast<uint32_t>(img.size()) - off);
      c.respond(c.req_len);
      c.w32(0, 0);
      c.w32(4, off);
      c.w32(8, len);
      c.w32(12, len);
      if (n > 0) c.wbytes(16, img.data() + off, n);
      return;
    }
    default:
      c.fail(kStatusIllegalField);
  }
}

void hObject(Engine& fw, Cmd& c) {
  State& s = st(fw);
  std::string name;
  c.rtext(8, 104, &name);
  if (c.carrier != Carrier::Ioctl || name != kFatObject) {
    if (s.prev_object != nullptr) s.prev_object(fw, c);
    else c.fail(kStatusNotSupported);
    return;
  }
  const std::vector<uint8_t>* obj = fw.object(name);
  uint32_t total = obj == nullptr ? 0 : static_cast<uint32_t>(obj->size());
  uint32_t want = c.r32(0) & 0xFFFFFFu, off = c.r32(4);
  c.respond(c.req_len);
  if (want == 0) {
    c.w32(0, total);
    return;
  }
  uint32_t n = off >= total ? 0 : std::min<uint32_t>({want, total - off, static_cast<uint32_t>(kObjectChunk)});
  n = std::min<uint32_t>(n, c.pcap > 8 ? static_cast<uint32_t>(c.pcap - 8) : 0);
  c.w32(0, n);
  c.w32(4, off + n >= total ? 0x80000000u : 0);
  if (n > 0) c.wbytes(8, obj->data() + off, n);
}

void hSnapshotConfigure(Engine& fw, Cmd& c) {
  const ExtLogSetup& e = st(fw).setup.extlog;
  c.respond(4);
  c.w32(0, e.reported_total >= 0 ? static_cast<uint32_t>(e.reported_total) : static_cast<uint32_t>(e.ram.size() / 64));
}

void hSnapshotRetrieve(Engine& fw, Cmd& c) {
  const ExtLogSetup& e = st(fw).setup.extlog;
  const std::vector<uint8_t>& src = c.r32(0) == 1 ? e.flash : e.ram;
  uint32_t index = c.r32(4), most = c.r32(8);
  uint32_t have = static_cast<uint32_t>(src.size() / 64);
  uint32_t n = index >= have ? 0 : std::min({most, e.per_reply, have - index});
  n = std::min<uint32_t>(n, c.pcap > 4 ? static_cast<uint32_t>((c.pcap - 4) / 64) : 0);
  c.respond(c.req_len);
  c.w32(0, n);
  if (n > 0) c.wbytes(4, src.data() + size_t(index) * 64, size_t(n) * 64);
}

void hStrings(Engine& fw, Cmd& c) {
  const ExtLogSetup& e = st(fw).setup.extlog;
  uint32_t off = c.r32(0), asked = c.r32(4);
  uint32_t size = static_cast<uint32_t>(e.strings.size());
  uint32_t n = off >= size ? 0 : std::min({asked, e.strings_per_reply, size - off});
  n = std::min<uint32_t>(n, c.pcap > 8 ? static_cast<uint32_t>(c.pcap - 8) : 0);
  c.respond(c.req_len);
  c.w32(0, n);
  c.w32(4, off + n >= size ? 0 : size - off - n);
  if (n > 0) c.wbytes(8, e.strings.data() + off, n);
}

void hTransceiver(Engine& fw, Cmd& c) {
  const DumpSetup& d = st(fw).setup;
  if (!d.transceiver_supported) {
    c.fail(kStatusNoResources);
    return;
  }
  uint8_t page = static_cast<uint8_t>(c.r32(0));
  unsigned port = c.r8(4) & 0x3F;
  if ((page != 0xA0 && page != 0xA2) || port >= fw.ports()) {
    c.fail(kStatusIllegalField);
    return;
  }
  c.respond(264);
  c.w32(0, page);
  c.w8(4, static_cast<uint8_t>(port));
  auto it = d.transceiver.find({port, page});
  for (unsigned i = 0; i < 64; ++i) {
    uint32_t w = transceiverPatternWord(port, page, i);
    if (it != d.transceiver.end()) w = i < it->second.size() ? it->second[i] : 0;
    c.w32(8 + 4 * i, w);
  }
}

}  // namespace

uint32_t sliIntf(Gen g) {
  switch (g) {
    case Gen::KS2: return 0xC0000040u;
    case Gen::KS3: return 0xC0000140u;
    case Gen::Pivard: return 0xC0010A40u;
    case Gen::Veskarn: return 0xC0000F40u;
  }
  return 0;
}

uint32_t asicId(Gen g) { return g == Gen::Veskarn ? 0x410u : 0; }

uint8_t firmwareSegmentByte(uint32_t component, uint32_t segment, uint32_t instance, uint32_t pos) {
  return static_cast<uint8_t>(component * 0x31u + segment * 0x17u + instance * 0x0Bu + pos * 7u + (pos >> 8));
}

uint32_t transceiverPatternWord(unsigned port, uint8_t page, unsigned i) {
  return (uint32_t(page) << 24) | (uint32_t(port) << 16) | (i * 0x0101u);
}

void registerDumpHandlers(Engine& fw) {
  State fresh;
  fresh.setup = defaults(fw.gen());
  Handler props = fw.handlerFor(kSubDiag, 21);
  Handler fat = fw.handlerFor(kSubCommon, 68);
  Handler obj = fw.handlerFor(kSubCommon, 171);
  {
    std::lock_guard<std::mutex> g(mu);
    // Registered again (a fresh start of the data): the handlers ours
    // stand in front of stay the ones from before.
    const State& old = states()[&fw];
    fresh.prev_props = props != hProps ? props : old.prev_props;
    fresh.prev_fat = fat != hFat ? fat : old.prev_fat;
    fresh.prev_object = obj != hObject ? obj : old.prev_object;
    states()[&fw] = std::move(fresh);
  }
  fw.registerHandler(kSubDiag, 21, hProps);
  fw.registerHandler(kSubDiag, 22, hComponent, 8);
  fw.registerHandler(kSubDiag, 23, hSegment, 8);
  fw.registerHandler(kSubDiag, 24, hRead, 20);
  fw.registerHandler(kSubCommon, 68, hFat, 4);
  fw.registerHandler(kSubCommon, 171, hObject);
  fw.registerHandler(kSubCommon, 127, hSnapshotConfigure);
  fw.registerHandler(kSubCommon, 128, hSnapshotRetrieve, 12);
  fw.registerHandler(kSubCommon, 130, hStrings, 8);
  fw.registerHandler(kSubCommon, 73, hTransceiver, 8);
}

DumpSetup& dumpSetup(Engine& fw) { return st(fw).setup; }

bool takeDumpChunkFault(Engine& fw, uint32_t component, uint32_t segment, uint32_t instance, uint32_t offset,
                        uint8_t* status) {
  State& s = st(fw);
  std::lock_guard<std::mutex> g(mu);
  return takeFault(s.setup, component, segment, instance, offset, status);
}

}  // namespace adapter
