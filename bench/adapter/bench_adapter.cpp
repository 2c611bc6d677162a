// What one firmware command costs the emulated adapter: the engine alone,
// and a whole mailbox or MCC round trip through the device model. The
// commands are the ones bench_driver_cmds sends through the driver
// (GET_FW_VERSION on the MCC, GET_ACTIVE_PROFILE on the mailbox, both of a
// KS3 card), so the two compare.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "adapter.h"
#include "vmk_testing.h"

namespace {

// One flat DMA window at a fixed bus address.
class FlatHost : public hostbus::Host {
 public:
  static constexpr uint64_t kBase = 0x100000000ull;
  std::vector<uint8_t> mem = std::vector<uint8_t>(1 << 20);
  bool dmaRead(hostbus::BusAddr a, void* d, size_t n) override {
    if (a < kBase || a + n > kBase + mem.size()) return false;
    std::memcpy(d, &mem[a - kBase], n);
    return true;
  }
  bool dmaWrite(hostbus::BusAddr a, const void* s, size_t n) override {
    if (a < kBase || a + n > kBase + mem.size()) return false;
    std::memcpy(&mem[a - kBase], s, n);
    return true;
  }
  void raiseInterrupt(hostbus::Function*, unsigned) override {}
  uint8_t* at(uint64_t a) { return &mem[a - kBase]; }
};

void put32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

constexpr uint8_t kOpFwVersion = 35, kOpActiveProfile = 167;
constexpr uint32_t kFwVersionLen = 64, kActiveProfileLen = 4;  // request payload after the header

// The firmware engine alone: arg 0 GET_FW_VERSION, 1 GET_ACTIVE_PROFILE.
void BM_EngineExecute(benchmark::State& st) {
  adapter::EngineConfig cfg;
  cfg.gen = adapter::Gen::KS3;
  adapter::Engine fw(cfg);
  const uint8_t op = st.range(0) == 0 ? kOpFwVersion : kOpActiveProfile;
  const uint32_t len = st.range(0) == 0 ? kFwVersionLen : kActiveProfileLen;
  uint8_t buf[16 + kFwVersionLen];
  for (auto _ : st) {
    std::memset(buf, 0, sizeof buf);
    buf[0] = op;
    buf[1] = 1;
    put32(buf + 8, len);
    adapter::Request rq;
    rq.buf = buf;
    rq.cap = 16 + len;
    benchmark::DoNotOptimize(fw.execute(rq));
  }
}
BENCHMARK(BM_EngineExecute)->Arg(0)->Arg(1)->ArgName("mailbox");

// The device serves each doorbell inside the write, so a round trip is the
// device's own work and not a thread hand-off.
adapter::AdapterConfig syncConfig(adapter::Gen gen) {
  adapter::AdapterConfig cfg;
  cfg.fw.gen = gen;
  cfg.mode = adapter::Mode::Sync;
  return cfg;
}

struct Rig {
  FlatHost host;
  adapter::Adapter card;
  hostbus::Function* f = card.function(0);
  explicit Rig(adapter::Gen gen) : card(syncConfig(gen)) {
    f->attachHost(&host);
    f->configWrite(4, 6, 2);
  }
  void mailbox(uint64_t addr) {
    f->barWrite(4, 0x160, static_cast<uint32_t>(((addr >> 32) & ~3ull) | 2), 4);
    f->barWrite(4, 0x160, static_cast<uint32_t>((addr >> 4) << 2), 4);
  }
  void mboxCmd(uint64_t addr, const uint8_t* req, size_t n) {
    uint8_t* w = host.at(addr);
    std::memset(w, 0, 272);
    put32(w, 1);
    put32(w + 4, static_cast<uint32_t>(n));
    std::memcpy(w + 20, req, n);
    mailbox(addr);
  }
};

void BM_MailboxRoundTrip(benchmark::State& st) {
  Rig r(adapter::Gen::KS3);
  uint8_t req[16 + kActiveProfileLen] = {kOpActiveProfile, 1};
  put32(req + 8, kActiveProfileLen);
  for (auto _ : st) {
    r.mboxCmd(FlatHost::kBase, req, sizeof req);
    if (r.host.at(FlatHost::kBase + 256 + 12)[3] != 0x90) {
      st.SkipWithError("no mailbox completion");
      break;
    }
  }
}
BENCHMARK(BM_MailboxRoundTrip);

void BM_MccRoundTrip(benchmark::State& st) {
  Rig r(adapter::Gen::KS3);
  const uint64_t eq = FlatHost::kBase + 0x1000, cq = FlatHost::kBase + 0x2000,
                 ring = FlatHost::kBase + 0x10000;
  uint8_t c[100] = {13, 1};
  put32(c + 8, 84);
  c[16] = 1;
  put32(c + 20, 1u << 29);
  put32(c + 24, 2u << 26);
  put32(c + 36, static_cast<uint32_t>(eq));
  put32(c + 40, static_cast<uint32_t>(eq >> 32));
  r.mboxCmd(FlatHost::kBase, c, sizeof c);
  uint32_t eq_id = r.host.at(FlatHost::kBase + 36)[0];
  uint8_t q[100] = {12, 1};
  put32(q + 8, 84);
  q[16] = 1;
  put32(q + 20, (1u << 29) | (1u << 31));
  put32(q + 24, (eq_id << 22) | (1u << 31));
  put32(q + 36, static_cast<uint32_t>(cq));
  put32(q + 40, static_cast<uint32_t>(cq >> 32));
  r.mboxCmd(FlatHost::kBase, q, sizeof q);
  uint32_t cq_id = r.host.at(FlatHost::kBase + 36)[0];
  uint8_t m[104] = {90, 1};
  put32(m + 8, 88);
  m[16] = 8;
  put32(m + 20, 0x62);
  put32(m + 24, (8u << 16) | (cq_id << 22));
  put32(m + 28, 1u << 31);
  for (int i = 0; i < 8; ++i) {
    put32(m + 40 + 8 * i, static_cast<uint32_t>(ring + 4096ull * i));
    put32(m + 44 + 8 * i, static_cast<uint32_t>((ring + 4096ull * i) >> 32));
  }
  r.mboxCmd(FlatHost::kBase, m, sizeof m);
  uint32_t mcc_id = r.host.at(FlatHost::kBase + 36)[0];
  unsigned slot = 0, cqi = 0;
  bool checked = false;
  for (auto _ : st) {
    uint8_t* w = r.host.at(ring + 256ull * slot);
    std::memset(w, 0, 256);
    put32(w, 1);
    put32(w + 4, 16 + kFwVersionLen);
    put32(w + 8, slot);
    w[20] = kOpFwVersion;
    w[21] = 1;
    put32(w + 28, kFwVersionLen);
    r.f->barWrite(4, 0x140, mcc_id | (1u << 16), 4);
    uint8_t* e = r.host.at(cq + 16ull * cqi);
    benchmark::DoNotOptimize(e[15]);
    if (!checked) {
      checked = true;
      if (e[15] != 0x90) {
        st.SkipWithError("no MCC completion");
        break;
      }
    }
    std::memset(e, 0, 16);
    r.f->barWrite(4, 0x120, cq_id | (1u << 16), 4);
    slot = (slot + 1) % 128;
    cqi = (cqi + 1) % 256;
  }
}
BENCHMARK(BM_MccRoundTrip);

// A doorbell write as the driver makes it: through the kernel stand-in's BAR
// window to the emulated adapter's register (an EQ/CQ doorbell of a queue
// that does not exist, which the card records and otherwise ignores).
void BM_DoorbellWriteToAdapter(benchmark::State& st) {
  vmktest::reset();
  adapter::Adapter card(syncConfig(adapter::Gen::KS3));
  vmk_Device dev = vmktest::plugPciFunction(card.function(0));
  vmk_AddrCookie reg;
  vmk_DeviceGetRegistrationData(dev, &reg);
  auto pci = static_cast<vmk_PCIDevice>(reg.ptr);
  vmk_VA db = 0;
  if (vmk_PCIMapIOResource(0, pci, 4, nullptr, &db) != VMK_OK) {
    st.SkipWithError("BAR map");
    vmktest::unplugPciFunction(dev);
    return;
  }
  for (auto _ : st) vmk_MMIOWrite32(db + 0x120, 0x3FF);
  if (card.counters(0).last_eq_cq_doorbell != 0x3FF) st.SkipWithError("the doorbell did not reach the card");
  vmk_PCIUnmapIOResource(0, pci, 4);
  vmktest::unplugPciFunction(dev);
}
BENCHMARK(BM_DoorbellWriteToAdapter);

}  // namespace
