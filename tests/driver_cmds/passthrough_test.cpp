// Firmware pass-through: requests sent as built, the requests answered
// locally, and requests whose lengths do not fit their buffer.
#include <cstring>
#include <vector>

#include "rig.h"
#include "tamsil_cmds_priv.h"

using adapter::Gen;
using cmdtest::GenRigTest;
using cmdtest::genParamName;
using cmdtest::kAllGens;

namespace {

// A request buffer: header, payload of `payload` bytes, then `slack` guard
// bytes that must never change.
struct Request {
  std::vector<uint8_t> buf;
  uint32_t payload;
  Request(uint8_t sub, uint8_t op, uint32_t payloadBytes, uint8_t version = 0, uint32_t slack = 64)
      : buf(16 + payloadBytes + slack, 0xC5), payload(payloadBytes) {
    memset(buf.data(), 0, 16 + payloadBytes);
    buf[0] = op;
    buf[1] = sub;
    uint32_t rl = payloadBytes;
    memcpy(&buf[8], &rl, 4);
    buf[12] = version;
  }
  uint8_t* p() { return buf.data() + 16; }
  void put32(uint32_t off, uint32_t v) { memcpy(p() + off, &v, 4); }
  uint32_t get32(uint32_t off) const { return cmdtest::rq32(buf, off); }
  const Response_Header* rh() const { return reinterpret_cast<const Response_Header*>(buf.data()); }
  uint32_t len() const { return 16 + payload; }
  bool guardIntact() const {
    for (size_t i = 16 + payload; i < buf.size(); i++)
      if (buf[i] != 0xC5) return false;
    return true;
  }
};

class PassthroughTest : public GenRigTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(bringUp());
    memcpy(a->uplink_reg.perm_mac, kPerm, 6);
  }
  uint32_t send(Request& r) { return tamsil_cmdPassthrough(a, r.buf.data(), static_cast<uint32_t>(r.buf.size())); }
  static constexpr uint8_t kPerm[6] = {0x02, 0x1C, 0x4E, 0xAA, 0xBB, 0xCC};
};

INSTANTIATE_TEST_SUITE_P(Gens, PassthroughTest, testing::ValuesIn(kAllGens), genParamName);

TEST_P(PassthroughTest, NormalRequestGoesOutAsBuilt) {
  Gen g = GetParam();
  // The link query wants version 1 except on KS2: the caller's version must
  // reach the firmware untouched.
  Request r(1, 5, 12, g == Gen::KS2 ? 0 : 1);
  r.buf[3] = 0;
  EXPECT_EQ(0u, send(r));
  EXPECT_EQ(0, r.rh()->status);
  EXPECT_EQ(1u, r.get32(8));  // link up
  EXPECT_TRUE(r.guardIntact());
  EXPECT_EQ(1u, rig->seen(1, 5));

  Request v(1, 35, 64);
  EXPECT_EQ(0u, send(v));
  EXPECT_EQ(0, memcmp(v.p(), "11.2.1149.0", 12));
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
}

TEST_P(PassthroughTest, FailuresReturnedWithoutTheFailureLine) {
  rig->setFault(1, 35, {.status = 3, .additional = 7});
  Request v(1, 35, 64);
  EXPECT_EQ(3u, send(v));
  EXPECT_EQ(3, v.rh()->status);
  EXPECT_EQ(7, v.rh()->additional_status);
  EXPECT_EQ(0u, vmktest::logCount("Mailbox/MCC command opcode"));
}

TEST_P(PassthroughTest, LocallyAnsweredRequests) {
  Gen g = GetParam();
  bool local = g != Gen::Pivard;
  struct Case {
    const char* name;
    uint8_t op;
    uint32_t payload, p0;
    uint32_t respLen;  // lengths of the local answer
  } cases[] = {
      {"11/22 with p+0 = 4", 22, 8, 4, 8},
      {"11/24 with p+0 = 4", 24, 24, 4, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Request r(11, c.op, c.payload);
    r.put32(0, c.p0);
    unsigned before = rig->seen(11, c.op);
    uint32_t st = send(r);
    EXPECT_TRUE(r.guardIntact());
    if (!local) {
      // Pivard firmware answers these itself.
      EXPECT_EQ(before + 1, rig->seen(11, c.op));
      continue;
    }
    EXPECT_EQ(0u, st);
    EXPECT_EQ(before, rig->seen(11, c.op));
    EXPECT_EQ(0, r.rh()->status);
    EXPECT_EQ(c.respLen, r.rh()->response_length);
    EXPECT_EQ(c.respLen, r.rh()->actual_response_length);
    if (c.op == 22) {
      EXPECT_EQ(0u, r.get32(0));
      EXPECT_EQ(1u, r.get32(4));
    }
  }
  // Bytecode of length 0 comes back unchanged.
  Request z(11, 24, 32);
  z.put32(0, 1);
  z.put32(16, 0);
  std::vector<uint8_t> before = z.buf;
  unsigned sent = rig->seen(11, 24);
  uint32_t st = send(z);
  if (local) {
    EXPECT_EQ(0u, st);
    EXPECT_EQ(before, z.buf);
    EXPECT_EQ(sent, rig->seen(11, 24));
  } else {
    EXPECT_EQ(sent + 1, rig->seen(11, 24));
  }
}

TEST_P(PassthroughTest, Diag21InCardErrorAnsweredFromRegisters) {
  Gen g = GetParam();
  if (g == Gen::Pivard) GTEST_SKIP() << "no PCI-configuration BAR";
  Request ok(11, 21, 20);
  EXPECT_EQ(0u, send(ok));
  EXPECT_EQ(1u, rig->seen(11, 21));
  uint32_t r58 = vmk_MMIORead32(reinterpret_cast<vmk_VA>(a->pcicfg_va) + 0x58);
  EXPECT_EQ(r58, ok.get32(4));

  a->hw_error = 1;
  Request r(11, 21, 20);
  EXPECT_EQ(0u, send(r));
  EXPECT_EQ(1u, rig->seen(11, 21));  // not sent
  EXPECT_EQ(0, r.p()[0]);
  EXPECT_EQ(1, r.p()[1]);
  EXPECT_EQ(1, r.p()[2]);
  EXPECT_EQ(7u, r.get32(16));
  EXPECT_EQ(r58, r.get32(4));
  EXPECT_EQ(20u, r.rh()->response_length);
  EXPECT_TRUE(r.guardIntact());
  a->hw_error = 0;
}

// After a sent 11/21: a success carries the debug registers (0x9C only when
// bits 8-11 of 0x58 are all ones); a failure of a healthy card is returned,
// and logged with the MCC bit unless its status is 66.
TEST_P(PassthroughTest, Diag21AfterTheWait) {
  if (GetParam() == Gen::Pivard) GTEST_SKIP() << "no PCI-configuration BAR";
  a->debug_mask |= TAMSIL_DBG_MCC;
  vmk_VA cfg = reinterpret_cast<vmk_VA>(a->pcicfg_va);
  const uint32_t r9c = vmk_MMIORead32(cfg + 0x9C);
  ASSERT_NE(0u, r9c);
  const uint32_t kSent = 0xC5C5C5C5u;
  struct {
    uint32_t r58;
    uint8_t status;
    bool p8IsReg9c;
    uint32_t failLines;
  } cases[] = {
      {0x00000E00u, 0, false, 0},
      {0x00000F00u, 0, true, 0},
      {0x00000F00u, 3, false, 1},
      {0x00000F00u, 66, false, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.status);
    vmktest::clearLog();
    vmk_MMIOWrite32(cfg + 0x58, c.r58);
    if (c.status != 0) rig->setFault(11, 21, {.status = c.status});
    Request r(11, 21, 20);
    memset(r.p() + 4, 0xC5, 8);
    EXPECT_EQ(c.status, send(r));
    EXPECT_EQ(c.status == 0 ? c.r58 : kSent, r.get32(4));
    if (c.p8IsReg9c)
      EXPECT_EQ(r9c, r.get32(8));
    else
      EXPECT_NE(r9c, r.get32(8));
    EXPECT_EQ(c.failLines, vmktest::logCount("Pass through commmand failed. opcode 21, status 0x3"));
    EXPECT_TRUE(r.guardIntact());
    rig->clearFaults();
  }
  // Other requests keep that line to themselves.
  vmktest::clearLog();
  rig->setFault(1, 35, {.status = 3});
  Request v(1, 35, 64);
  EXPECT_EQ(3u, send(v));
  EXPECT_EQ(0u, vmktest::logCount("Pass through commmand failed"));
}

// Without heap memory for the program the answer carries status 0xFF.
TEST_P(PassthroughTest, BytecodeWithoutHeapMemory) {
  if (GetParam() == Gen::Pivard) GTEST_SKIP() << "no local bytecode on Pivard";
  Request r(11, 24, 24 + 4 * 17);
  r.put32(0, 1);
  r.put32(16, 17);
  vmktest::failCall("vmk_HeapAlloc", 1);
  EXPECT_EQ(0u, send(r));
  EXPECT_EQ(1u, vmktest::injectedCount("vmk_HeapAlloc"));
  EXPECT_EQ(0xFF, r.rh()->status);
  EXPECT_EQ(1u, vmktest::logCount("Error allocating memory"));
  EXPECT_EQ(0u, rig->seen(11, 24));
  EXPECT_TRUE(r.guardIntact());
}

TEST_P(PassthroughTest, CardErrorAnswersOnlyThePermanentMac) {
  a->fw_timeout = 1;
  Request mac(1, 1, 8);
  mac.p()[0] = 1;
  mac.p()[1] = 1;
  EXPECT_EQ(0u, send(mac));
  uint16_t n;
  memcpy(&n, mac.p(), 2);
  EXPECT_EQ(6, n);
  EXPECT_EQ(0, memcmp(mac.p() + 2, kPerm, 6));
  EXPECT_EQ(8u, mac.rh()->actual_response_length);
  Request other(1, 35, 64);
  EXPECT_EQ(TAMSIL_CH_REFUSED, send(other));
  EXPECT_EQ(0u, rig->seen(1, 1));
  EXPECT_EQ(0u, rig->seen(1, 35));
  a->fw_timeout = 0;
}

TEST_P(PassthroughTest, LengthsMustFitTheBuffer) {
  // The header claims more payload than the buffer holds.
  Request big(1, 35, 64, 0, 0);
  uint32_t claim = 100000;
  memcpy(&big.buf[8], &claim, 4);
  std::vector<uint8_t> before = big.buf;
  EXPECT_EQ(VMK_BAD_PARAM, tamsil_cmdPassthrough(a, big.buf.data(), static_cast<uint32_t>(big.buf.size())));
  EXPECT_EQ(before, big.buf);
  EXPECT_EQ(0u, rig->seen(1, 35));
  // A header that wraps the 32-bit length.
  claim = 0xFFFFFFF8u;
  memcpy(&big.buf[8], &claim, 4);
  EXPECT_EQ(VMK_BAD_PARAM, tamsil_cmdPassthrough(a, big.buf.data(), static_cast<uint32_t>(big.buf.size())));
  // Not even a header.
  EXPECT_EQ(VMK_BAD_PARAM, tamsil_cmdPassthrough(a, big.buf.data(), 15));
  if (GetParam() == Gen::Pivard) return;
  // A local answer that would write past the request.
  Request tiny(11, 22, 4);
  tiny.put32(0, 4);
  EXPECT_EQ(VMK_BAD_PARAM, send(tiny));
  EXPECT_TRUE(tiny.guardIntact());
  // A program longer than the request that carries it.
  Request prog(11, 24, 32);
  prog.put32(0, 1);
  prog.put32(16, 3);  // 3 words need 36 bytes
  EXPECT_EQ(VMK_BAD_PARAM, send(prog));
  EXPECT_TRUE(prog.guardIntact());
}

TEST_P(PassthroughTest, ControllerAttributesPatchedWithTheHostView) {
  Request r(1, 32, 544);
  ASSERT_EQ(0u, send(r));
  EXPECT_EQ(a->pci_addr.bus, r.p()[508]);
  EXPECT_EQ(a->pci_addr.devfn & 0x1F, r.p()[509]);
  EXPECT_EQ(0, memcmp(r.p() + 352, "tamsil 11.2.1149.0", 19));
  EXPECT_TRUE(r.guardIntact());
  // A short controller-attributes request is not patched beyond its end.
  Request s(1, 32, 400);
  EXPECT_EQ(0u, send(s));
  EXPECT_TRUE(s.guardIntact());
}

TEST_P(PassthroughTest, PivardWriteObjectRefusedDuringRecovery) {
  if (GetParam() != Gen::Pivard) GTEST_SKIP() << "Pivard rule";
  vmk_BitVectorAtomicSet(a->flags, TAMSIL_FLAG_TPE_REINIT);
  Request w(1, 172, 64);
  EXPECT_EQ(TAMSIL_CH_BUSY, send(w));
  EXPECT_EQ(0u, rig->seen(1, 172));
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_TPE_REINIT);
}

TEST_P(PassthroughTest, TimeoutOfAPassthroughRequest) {
  Gen g = GetParam();
  rig->setFault(1, 35, {.no_completion = true});
  Request v(1, 35, 64);
  uint32_t fwTimeout = 77;  // the caller's own field goes out and into the messages
  memcpy(&v.buf[4], &fwTimeout, 4);
  EXPECT_EQ(TAMSIL_CH_TIMEOUT, send(v));
  EXPECT_EQ(1u, vmktest::logCount("Passthrough: MCC cmd timed out. opcode: 0x23, subsystem:0x1, timeout:77, req_len:64"));
  auto sent = rig->lastRequest(1, 35);
  ASSERT_EQ(80u, sent.size());
  uint32_t sentTimeout;
  memcpy(&sentTimeout, &sent[4], 4);
  EXPECT_EQ(77u, sentTimeout);
  EXPECT_EQ(1, a->fw_timeout);
  EXPECT_EQ(g != Gen::Pivard ? 1u : 0u, rig->card->counters(0).ue_injections);
}

TEST_P(PassthroughTest, BytecodeRuns) {
  if (GetParam() == Gen::Pivard) GTEST_SKIP() << "no local bytecode on Pivard";
  // Instruction words: opcode | op1 << 8 | kind << 12 | space/width << 14 | op2 << 16.
  struct Case {
    const char* name;
    std::vector<uint32_t> prog;
    uint32_t status;
    std::vector<uint32_t> dumped;
  } cases[] = {
      // move r0, 0; move r1, 0x1234; dump r1 (4 bytes); ret
      {"dump a value", {0x00000001u, 0x12340101u, 0x00008110u, 30u}, 0, {0x1234}},
      // read32 r1 from CSR 0xAC (POST stage); dump r1
      {"read a register", {0x00000001u, 0x00AC810Au, 0x00008110u, 30u}, 0, {0xC000}},
      // move r1, word 12 (the adapter handle); dump r1: programs never see it
      {"adapter handle hidden", {0x00000001u, 0x000C1101u, 0x00008110u, 30u}, 0, {0}},
      // move r9, -1; dump r1: the output position leaves the response area
      {"output escapes", {0x00000001u, 0xFFFF0901u, 0x00008110u, 30u}, 0xbad0007, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t words = 16 + static_cast<uint32_t>(c.prog.size());
    // The request carries only the program; the dump goes to the rest of
    // the caller's buffer.
    Request r(11, 24, 24 + 4 * words);
    r.put32(0, 1);
    r.put32(12, 0x100);  // start offset
    r.put32(16, words);
    std::vector<uint32_t> img(words, 0);
    img[15] = 16;
    memcpy(&img[16], c.prog.data(), 4 * c.prog.size());
    memcpy(r.p() + 24, img.data(), 4 * words);
    uint32_t st = send(r);
    EXPECT_TRUE(r.guardIntact());
#if __has_include("tamsil_cdbc.h")
    ASSERT_EQ(0u, st);
    EXPECT_EQ(c.status, r.get32(0));
    EXPECT_EQ(4 * c.dumped.size(), r.get32(4));
    for (size_t i = 0; i < c.dumped.size(); i++) EXPECT_EQ(c.dumped[i], r.get32(8 + 4 * i));
    EXPECT_EQ(8 + 4 * c.dumped.size(), r.rh()->response_length);
    EXPECT_EQ(0u, rig->seen(11, 24));
#else
    EXPECT_EQ(VMK_NOT_SUPPORTED, st);
#endif
  }
}

}  // namespace
