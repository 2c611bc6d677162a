// The interpreter through its entry point, on an emulated adapter whose BARs
// are mapped by the kernel stand-in: the register spaces of each generation,
// the CSR window of family code 4, and the bounds of the real mappings (the
// stand-in stops the machine on any access outside a mapped BAR).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "adapter.h"
#include "cdbc_log.h"
#include "cdbc_support.h"
#include "tamsil.h"
#include "vmk_testing.h"

namespace cdbctest {
namespace {

struct GenInfo {
  adapter::Gen gen;
  uint8_t genCode;  // as the firmware configuration reports it
  uint8_t cfgBar;
};

constexpr GenInfo kKs2{adapter::Gen::KS2, 0, 1};
constexpr GenInfo kKs3{adapter::Gen::KS3, 3, 0};
constexpr GenInfo kVeskarn{adapter::Gen::Veskarn, 4, 0};

// One emulated adapter of two functions plugged into the stand-in, with the
// driver's Adapter records of both built by hand (no bring-up needed).
class CdbcAdapter : public ::testing::Test {
 protected:
  void Start(const GenInfo& g) {
    vmktest::reset();
    ASSERT_TRUE(vmktest::live().allZero()) << vmktest::live().describe();
    ASSERT_EQ(0, vmktest::loadModule(init_module));
    adapter::AdapterConfig cfg;
    cfg.fw.gen = g.gen;
    cfg.fw.functions = 2;
    card = std::make_unique<adapter::Adapter>(cfg);
    for (unsigned f = 0; f < 2; f++) {
      dev[f] = vmktest::plugPciFunction(card->function(f));
      Adapter* a = new Adapter();
      ad[f] = a;
      vmk_AddrCookie cookie;
      ASSERT_EQ(VMK_OK, vmk_DeviceGetRegistrationData(dev[f], &cookie));
      a->pci_device = static_cast<vmk_PCIDevice>(cookie.ptr);
      a->pcicfg_bar = {&a->pcicfg_va, g.cfgBar};
      a->csr_bar = {&a->csr_va, 2};
      a->db_bar = {&a->db_va, 4};
      for (tamsil_barMap* m : {&a->pcicfg_bar, &a->csr_bar, &a->db_bar}) {
        vmk_VA va = 0;
        ASSERT_EQ(VMK_OK, vmk_PCIMapIOResource(tamsilDriver.module_id, a->pci_device, m->bar, nullptr, &va));
        *m->va = reinterpret_cast<void*>(va);
      }
      a->pf_num = f;
      a->fw_chip_family = g.genCode;
      snprintf(a->pci_name, sizeof a->pci_name, "0000:003:00.%u", f);
    }
    LogClear();
  }

  void TearDown() override {
    for (unsigned f = 0; f < 2; f++) {
      if (ad[f] == nullptr) continue;
      for (tamsil_barMap* m : {&ad[f]->pcicfg_bar, &ad[f]->csr_bar, &ad[f]->db_bar})
        if (*m->va != nullptr) vmk_PCIUnmapIOResource(tamsilDriver.module_id, ad[f]->pci_device, m->bar);
      delete ad[f];
      vmktest::unplugPciFunction(dev[f]);
    }
    vmktest::unloadModule(cleanup_module);
    card.reset();
    EXPECT_TRUE(vmktest::live().allZero()) << "left alive: " << vmktest::live().describe();
  }

  // Runs `img` on function `f` through the entry point, output from `offset`.
  uint32_t Run(unsigned f, Image& img, Output& out, uint32_t offset = 0x4000, uint32_t instance = 0) {
    return tamsil_cdbc_get_dump(reinterpret_cast<uintptr_t>(ad[f]), offset, instance, img.words, img.w.data(),
                                out.Area(), out.len);
  }

  std::unique_ptr<adapter::Adapter> card;
  vmk_Device dev[2]{};
  Adapter* ad[2]{};
};

// A program reading one register of each space into the output.
Image ReadEverySpace() {
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 0, 0x58),    // PCI-configuration BAR
           cdbctest::Dump(1, 2),
           Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 1, 0x9C),    // space 1 is the same BAR
           cdbctest::Dump(1, 2),
           Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0xAC),    // CSR: POST stage
           cdbctest::Dump(1, 2),
           Ins(TAMSIL_CDBC_OP_READ16, 1, kImm, 2, 0xAC),
           cdbctest::Dump(1, 1),
           Ins(TAMSIL_CDBC_OP_READ8, 1, kImm, 3, 0x160),    // doorbell: mailbox ready
           cdbctest::Dump(1, 0),
           MoveImm(0, 0),
           kEnd});
  return img;
}

uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

struct GenCase {
  const char* name;
  GenInfo gen;
};

class CdbcGen : public CdbcAdapter, public ::testing::WithParamInterface<GenCase> {};

// Each space reaches its register; on Veskarn (family code 4) the CSR read
// goes through the configuration window and reads the same register.
TEST_P(CdbcGen, ReadsEachSpace) {
  Start(GetParam().gen);
  card->setPostStage(0xC123, false);
  card->setCfgBarRegister(0, 0x58, 0x12345678);
  Image img = ReadEverySpace();
  Output out(64);
  EXPECT_EQ(Run(0, img, out), 0u) << LogText();
  EXPECT_EQ(tamsil_cdbc_dumpLength(img.w.data(), img.words, 0x4000), 15u);
  const uint8_t* o = out.Area();
  EXPECT_EQ(Le32(o), 0x12345678u);
  EXPECT_EQ(Le32(o + 4), 0x0000C0DEu);
  EXPECT_EQ(Le32(o + 8), 0xC123u);
  EXPECT_EQ(o[12] | o[13] << 8, 0xC123);
  EXPECT_EQ(o[14], 1);
  EXPECT_TRUE(out.GuardsIntact());
  EXPECT_EQ(LogText(), "");
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcGen,
                         ::testing::Values(GenCase{"KS2", kKs2}, GenCase{"KS3", kKs3}, GenCase{"Veskarn", kVeskarn}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CdbcAdapter, WindowIsUsedOnlyOnFamilyCode4FunctionZero) {
  Start(kVeskarn);
  card->setPostStage(0xC00F, false);
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0xAC), cdbctest::Dump(1, 2), kEnd});
  Output out;
  unsigned before = vmktest::callCount("vmk_PCIReadConfig");
  Run(0, img, out);
  EXPECT_EQ(Le32(out.Area()), 0xC00Fu);
  EXPECT_EQ(vmktest::callCount("vmk_PCIReadConfig") - before, 3u);  // control twice, then the data

  // Function 1 reads 0 and touches nothing.
  Image img1;
  img1.w[1] = 0xFFFF;
  img1.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0xAC), cdbctest::Dump(1, 2), kEnd});
  Output out1;
  std::fill(out1.Area(), out1.Area() + out1.len, 0xEE);
  before = vmktest::callCount("vmk_PCIReadConfig");
  Run(1, img1, out1);
  EXPECT_EQ(Le32(out1.Area()), 0u);
  EXPECT_EQ(vmktest::callCount("vmk_PCIReadConfig"), before);
}

// Window writes land in the CSR they name (narrow ones merged into the
// dword), and the latch is ready for the next access afterwards.
TEST_F(CdbcAdapter, WindowWritesReachTheCsr) {
  Start(kVeskarn);
  card->setPostStage(0xC0AA, false);
  Image img;
  img.w[1] = 0x11223344;
  img.w[2] = 0x5A;
  img.w[3] = 0xBEEF;
  img.Ops({Ins(TAMSIL_CDBC_OP_WRITE32, 1, kImm, 2, 0x200), Ins(TAMSIL_CDBC_OP_WRITE8, 2, kImm, 2, 0x201),
           Ins(TAMSIL_CDBC_OP_WRITE16, 3, kImm, 2, 0x206), Ins(TAMSIL_CDBC_OP_READ32, 4, kImm, 2, 0xAC),
           Ins(TAMSIL_CDBC_OP_READ32, 5, kImm, 2, 0x200), Ins(TAMSIL_CDBC_OP_READ16, 6, kImm, 2, 0x206),
           cdbctest::Dump(4, 2), cdbctest::Dump(5, 2), cdbctest::Dump(6, 1), kEnd});
  Output out;
  EXPECT_EQ(Run(0, img, out), 0u);
  EXPECT_EQ(Le32(out.Area()), 0xC0AAu);
  EXPECT_EQ(Le32(out.Area() + 4), 0x11225A44u);
  EXPECT_EQ(out.Area()[8] | out.Area()[9] << 8, 0xBEEF);
  EXPECT_EQ(LogText(), "");
  // The same registers through the CSR BAR itself.
  EXPECT_EQ(vmk_MMIORead32(reinterpret_cast<vmk_VA>(ad[0]->csr_va) + 0x200), 0x11225A44u);
  EXPECT_EQ(vmk_MMIORead16(reinterpret_cast<vmk_VA>(ad[0]->csr_va) + 0x206), 0xBEEF);
}

TEST_F(CdbcAdapter, WindowConfigFailureReadsZero) {
  Start(kVeskarn);
  card->setPostStage(0xC0AA, false);
  Image img;
  img.w[1] = 0x77;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0xAC), cdbctest::Dump(1, 2), kEnd});
  Output out;
  std::fill(out.Area(), out.Area() + out.len, 0xEE);
  vmktest::failCall("vmk_PCIReadConfig", 1);
  EXPECT_EQ(Run(0, img, out), 0u);
  EXPECT_EQ(Le32(out.Area()), 0u);
  EXPECT_TRUE(LogHas("tamsil: tamsil_memBarWndRead32:")) << LogText();
  EXPECT_TRUE(LogHas("[0000:003:00.0] Unable to read PCI Config MEMBAR_INT_CTRL\n")) << LogText();
}

TEST_F(CdbcAdapter, PublicWindowOperations) {
  Start(kVeskarn);
  card->setPostStage(0xC042, false);
  uint32_t v = 0;
  EXPECT_EQ(tamsil_readMembarCtrlReg(ad[0], &v), VMK_OK);
  EXPECT_EQ(v & 1u, 0u);
  EXPECT_EQ(tamsil_memBarWndRead32(ad[0], 0xAC, &v), VMK_OK);
  EXPECT_EQ(v, 0xC042u);
  EXPECT_EQ(tamsil_memBarWndRead32(ad[0], 0xAE, &v), VMK_BAD_PARAM);  // unaligned
  EXPECT_EQ(v, 0u);
}

TEST_F(CdbcAdapter, WritesReachTheirRegister) {
  Start(kKs3);
  Image img;
  img.w[1] = 0x20000000;
  img.w[2] = 0xBEEF;
  img.Ops({Ins(TAMSIL_CDBC_OP_WRITE32, 1, kImm, 0, 0xFC), Ins(TAMSIL_CDBC_OP_WRITE16, 2, kImm, 0, 0x58),
           Ins(TAMSIL_CDBC_OP_READ32, 3, kImm, 0, 0x58), cdbctest::Dump(3, 2), kEnd});
  Output out;
  EXPECT_EQ(Run(0, img, out), 0u);
  EXPECT_EQ(card->hostIntrCtl(0), 0x20000000u);
  EXPECT_EQ(Le32(out.Area()), 0x0000BEEFu);
}

// The entry point: registers at entry, the hidden Adapter address, stall on
// the kernel's busy delay.
TEST_F(CdbcAdapter, EntryLoadsR8R9R11AndHidesTheAdapter) {
  Start(kKs3);
  Image img;
  img.w[8] = img.w[9] = img.w[11] = 0xDDDD;
  img.w[12] = img.w[13] = 0xDDDD;
  img.Ops({cdbctest::Dump(8, 2), cdbctest::Dump(11, 2), cdbctest::Dump(12, 2), cdbctest::Dump(13, 2),
           Ins(TAMSIL_CDBC_OP_MOVE, 0, kReg, 0, 12), Ins(TAMSIL_CDBC_OP_OR, 0, kReg, 0, 13), kEnd});
  Output out;
  EXPECT_EQ(Run(0, img, out, 0x200, 7), 0u);
  EXPECT_EQ(Le32(out.Area()), 64u);  // r8: the image length in words
  EXPECT_EQ(Le32(out.Area() + 4), 7u);
  EXPECT_EQ(Le32(out.Area() + 8), 0u);
  EXPECT_EQ(Le32(out.Area() + 12), 0u);
  EXPECT_EQ(img.w[12], 0u);
  EXPECT_EQ(img.w[13], 0u);
  EXPECT_EQ(tamsil_cdbc_dumpLength(img.w.data(), img.words, 0x200), 16u);
}

TEST_F(CdbcAdapter, StallUsesTheBusyDelay) {
  Start(kKs3);
  vmktest::setClockRate(0);
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_STALL, 0, kImm, 0, 500), Ins(TAMSIL_CDBC_OP_STALL, 0, kImm, 0, 250), kEnd});
  Output out;
  uint64_t t0 = vmktest::nowNs();
  EXPECT_EQ(Run(0, img, out), 0u);
  EXPECT_EQ(vmktest::nowNs() - t0, 750000u);
}

struct RefuseCase {
  const char* name;
  bool nullAdapter;
  uint32_t words;
  bool nullOut;
};

const RefuseCase kRefuse[] = {
    {"no_adapter", true, 64, false},
    {"header_only", false, 16, false},
    {"ten_words", false, 10, false},
    {"too_long", false, TAMSIL_CDBC_MAX_WORDS + 1, false},
    {"no_response_area", false, 64, true},
};

class CdbcRefuse : public CdbcAdapter, public ::testing::WithParamInterface<RefuseCase> {};

TEST_P(CdbcRefuse, RunsNothing) {
  const RefuseCase& c = GetParam();
  Start(kKs3);
  Image img(std::max<uint32_t>(c.words, 17));
  img.w[0] = 0x55;
  img.w[9] = 0x1234;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0xAC), MoveImm(0, 1), kEnd});
  Output out;
  uint64_t h = c.nullAdapter ? 0 : reinterpret_cast<uintptr_t>(ad[0]);
  EXPECT_EQ(tamsil_cdbc_get_dump(h, 0x100, 0, c.words, img.w.data(), c.nullOut ? nullptr : out.Area(), out.len),
            TAMSIL_CDBC_ERR_BOUNDS);
  EXPECT_EQ(img.w[0], 0x55u);
  EXPECT_EQ(img.w[1], 0u);
  EXPECT_EQ(tamsil_cdbc_dumpLength(img.w.data(), c.words, 0x100), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcRefuse, ::testing::ValuesIn(kRefuse),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CdbcAdapter, ShortImagesHaveNoLength) {
  uint32_t w[5] = {1, 2, 3, 4, 5};
  EXPECT_EQ(tamsil_cdbc_dumpLength(w, 5, 0), 0u);
  EXPECT_EQ(tamsil_cdbc_dumpLength(nullptr, 64, 0), 0u);
}

// Offsets against the real mappings: the last register of each BAR is
// reachable, the next byte ends the run (the stand-in would stop the machine
// on the access itself).
struct BarEdgeCase {
  const char* name;
  uint32_t space;
  uint32_t size;  // of the emulated BAR
};

const BarEdgeCase kEdges[] = {
    {"pcicfg", 0, 0x2000},
    {"csr", 2, 0x20000},
    {"doorbell", 3, 0x10000},
};

class CdbcBarEdge : public CdbcAdapter, public ::testing::WithParamInterface<BarEdgeCase> {};

TEST_P(CdbcBarEdge, LastRegisterInsideNextOutside) {
  const BarEdgeCase& c = GetParam();
  Start(kKs3);
  Image img;
  img.w[40] = c.size - 4;
  img.w[41] = c.size;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kVar, c.space, 40), Ins(TAMSIL_CDBC_OP_WRITE8, 1, kVar, c.space, 41),
           MoveImm(kMarker, 1), kEnd});
  Output out;
  // An access past the mapping would stop the machine in the stand-in.
  EXPECT_EQ(Run(0, img, out), TAMSIL_CDBC_ERR_BOUNDS);
  EXPECT_EQ(img.w[kMarker], 0u);
  EXPECT_TRUE(LogHas("CDBC: register offset outside the mapped BAR in 'read' byte code")) << LogText();
}

INSTANTIATE_TEST_SUITE_P(Table, CdbcBarEdge, ::testing::ValuesIn(kEdges),
                         [](const auto& i) { return std::string(i.param.name); });

TEST_F(CdbcAdapter, UnmappedBarIsOutsideTheProgram) {
  Start(kKs3);
  ASSERT_EQ(VMK_OK, vmk_PCIUnmapIOResource(tamsilDriver.module_id, ad[0]->pci_device, 2));
  ad[0]->csr_va = nullptr;
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 2, 0xAC), MoveImm(kMarker, 1), kEnd});
  Output out;
  EXPECT_EQ(Run(0, img, out), TAMSIL_CDBC_ERR_BOUNDS);
  EXPECT_EQ(img.w[kMarker], 0u);
}

// A BAR whose size cannot be learnt is closed to the program.
TEST_F(CdbcAdapter, UnknownBarSizeClosesTheSpace) {
  Start(kKs3);
  vmktest::failCall("vmk_PCIQueryIOResource", 1);  // the first space asked: PCI configuration
  Image img;
  img.Ops({Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 3, 0x160), cdbctest::Dump(1, 0),
           Ins(TAMSIL_CDBC_OP_READ32, 1, kImm, 0, 0x58), MoveImm(kMarker, 1), kEnd});
  Output out;
  EXPECT_EQ(Run(0, img, out), TAMSIL_CDBC_ERR_BOUNDS);
  EXPECT_EQ(out.Area()[0], 1);  // the doorbell space was still open
  EXPECT_EQ(img.w[kMarker], 0u);
}

// A whole segment-shaped program: read N registers in a loop and dump them;
// the length comes back through r9.
TEST_F(CdbcAdapter, SegmentLoop) {
  Start(kKs3);
  card->setCfgBarRegister(0, 0x58, 0xA1B2C3D4);
  Image img;
  img.w[40] = 0x58;
  img.Ops({MoveImm(2, 0x58), MoveImm(3, 8),
           /*18*/ Ins(TAMSIL_CDBC_OP_READ32, 1, kReg, 0, 2), cdbctest::Dump(1, 2),
           Ins(TAMSIL_CDBC_OP_SUB, 3, kImm, 0, 1), Ins(TAMSIL_CDBC_OP_COMPARE, 3, kImm, 0, 0), Jump(6, 0xFFFC),
           Ins(TAMSIL_CDBC_OP_MOVE, 0, kImm, 0, 0x99), kEnd});
  Output out(32);
  EXPECT_EQ(Run(0, img, out, 0x10000), 0x99u);
  EXPECT_EQ(tamsil_cdbc_dumpLength(img.w.data(), img.words, 0x10000), 32u);
  for (int i = 0; i < 8; i++) EXPECT_EQ(Le32(out.Area() + 4 * i), 0xA1B2C3D4u);
  EXPECT_TRUE(out.GuardsIntact());
}

// Two runs on one function at once: each window access is an address write
// followed by a data access on the same configuration register, so the
// sequences of concurrent runs must not interleave.
TEST_F(CdbcAdapter, ConcurrentWindowRunsReadTheirOwnRegister) {
  Start(kVeskarn);
  card->setPostStage(0xC0DE, false);
  vmk_MMIOWrite32(reinterpret_cast<vmk_VA>(ad[0]->csr_va) + 0x58, 0x5858);
  auto program = [](uint32_t csr) {
    Image img;
    img.w[40] = csr;
    img.Ops({MoveImm(3, 4096), Ins(TAMSIL_CDBC_OP_READ32, 1, kVar, 2, 40), cdbctest::Dump(1, 2),
             Ins(TAMSIL_CDBC_OP_SUB, 3, kImm, 0, 1), Ins(TAMSIL_CDBC_OP_COMPARE, 3, kImm, 0, 0), Jump(6, 0xFFFC),
             kEnd});
    return img;
  };
  Image a = program(0xAC), b = program(0x58);
  Output outA(4 * 4096), outB(4 * 4096);
  std::atomic<int> ready{0};
  auto go = [&](Image& img, Output& out) {
    ready++;
    while (ready.load() < 2) {
    }
    Run(0, img, out);
  };
  std::thread t([&] { go(b, outB); });
  go(a, outA);
  t.join();
  for (int i = 0; i < 4096; i++) {
    ASSERT_EQ(Le32(outA.Area() + 4 * i), 0xC0DEu) << i;
    ASSERT_EQ(Le32(outB.Area() + 4 * i), 0x5858u) << i;
  }
}

}  // namespace
}  // namespace cdbctest
