// Callbacks that reach the adapter: the firmware command pass-through (a
// crash-dump program included), the firmware log and dump reads, and the
// Pivard configuration space reads, each end to end through the channel to
// the emulated adapter and back.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mgmt_fixture.h"

namespace {

using adapter::Gen;
using Client = vmktest::MgmtClient;

// A firmware request in the pass-through's 65536-byte parameter: the
// 16-byte header (opcode, subsystem, ..., request length at byte 8,
// version at 12) and its payload from byte 16.
std::vector<uint8_t> fwRequest(uint8_t sub, uint8_t op, uint32_t payload, uint8_t version = 0) {
  std::vector<uint8_t> b(65536, 0);
  b[0] = op;
  b[1] = sub;
  Client::put32(b, 8, payload);
  b[12] = version;
  return b;
}

class MgmtFwTest : public MgmtTest {
 protected:
  unsigned seen(uint8_t sub, uint8_t op) {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().commandsSeen(sub, op);
  }
  void fault(uint8_t sub, uint8_t op, const adapter::Fault& f) {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().setFault(sub, op, f);
  }
  std::vector<uint8_t> object(const std::string& name) {
    std::lock_guard<std::mutex> g(card_->lock());
    std::vector<uint8_t>* o = card_->engine().object(name);
    return o ? *o : std::vector<uint8_t>{};
  }
  std::vector<uint8_t> fatLog() {
    std::lock_guard<std::mutex> g(card_->lock());
    return card_->engine().fatLog();
  }
  void setFatLog(std::vector<uint8_t> log) {
    std::lock_guard<std::mutex> g(card_->lock());
    card_->engine().fatLog() = std::move(log);
  }
  // Callback 30 for `length` bytes from `offset`.
  std::vector<uint8_t> chunk(uint32_t offset, uint32_t length, vmktest::MgmtClient::Reply* r) {
    std::vector<uint8_t> b = param(TAMSIL_MGMT_FAT_DUMP);
    Client::put32(b, 64000, offset);
    Client::put32(b, 64004, length);
    *r = call(TAMSIL_MGMT_FAT_DUMP, a_, &b);
    return b;
  }
};

// ---------------------------------------------------------------------------
// Pass-through
// ---------------------------------------------------------------------------

TEST_F(MgmtFwTest, PassthroughReachesTheFirmwareAndComesBack) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  std::vector<uint8_t> b = fwRequest(1, 35, 64);
  const unsigned before = seen(1, 35);
  auto r = call(TAMSIL_MGMT_PASSTHROUGH, a_, &b);
  ASSERT_EQ(VMK_OK, r.result);
  EXPECT_EQ(0u, r.status);
  EXPECT_EQ(before + 1, seen(1, 35));
  EXPECT_EQ(0, b[4]) << "response status";
  std::string version;
  {
    std::lock_guard<std::mutex> g(card_->lock());
    version = card_->engine().config().fw_version;
  }
  EXPECT_EQ(version, Client::text(b, 16, 32));

  // A failing command answers with the firmware's status.
  fault(1, 35, {.status = 3, .additional = 7, .times = 1});
  b = fwRequest(1, 35, 64);
  r = call(TAMSIL_MGMT_PASSTHROUGH, a_, &b);
  EXPECT_EQ(3u, uint32_t(r.result));
  EXPECT_EQ(3, b[4]);
  EXPECT_EQ(7, b[5]);

  // A request longer than the parameter is refused and sent nowhere.
  for (uint32_t len : {65536u - 16u + 1u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(len);
    b = fwRequest(1, 35, len);
    const std::vector<uint8_t> sent = b;
    const unsigned n = seen(1, 35);
    r = call(TAMSIL_MGMT_PASSTHROUGH, a_, &b);
    EXPECT_EQ(VMK_BAD_PARAM, r.result);
    EXPECT_EQ(sent, b);
    EXPECT_EQ(n, seen(1, 35));
  }
  // The longest request that fits goes out.
  b = fwRequest(1, 35, 65536 - 16);
  EXPECT_EQ(VMK_OK, call(TAMSIL_MGMT_PASSTHROUGH, a_, &b).result);
}

// A crash-dump program rides the pass-through (diagnostics 11/24, word 0 = 1)
// and runs inside the driver; its output comes back in the same parameter.
TEST_F(MgmtFwTest, PassthroughRunsACrashDumpProgram) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  // move r0, 0; move r1, 0x1234; dump r1; read32 r1 from CSR 0xAC; dump r1; ret
  const std::vector<uint32_t> prog = {0x00000001u, 0x12340101u, 0x00008110u, 0x00AC810Au, 0x00008110u, 30u};
  const uint32_t words = 16 + static_cast<uint32_t>(prog.size());
  std::vector<uint8_t> b = fwRequest(11, 24, 24 + 4 * words);
  Client::put32(b, 16 + 0, 1);
  Client::put32(b, 16 + 12, 0x100);  // start offset
  Client::put32(b, 16 + 16, words);
  std::vector<uint32_t> img(words, 0);
  img[15] = 16;
  std::copy(prog.begin(), prog.end(), img.begin() + 16);
  memcpy(&b[16 + 24], img.data(), 4 * words);
  const unsigned before = seen(11, 24);
  auto r = call(TAMSIL_MGMT_PASSTHROUGH, a_, &b);
  ASSERT_EQ(VMK_OK, r.result);
  EXPECT_EQ(0u, Client::get32(b, 16 + 0)) << "program status";
  EXPECT_EQ(8u, Client::get32(b, 16 + 4)) << "bytes dumped";
  EXPECT_EQ(0x1234u, Client::get32(b, 16 + 8));
  EXPECT_EQ(0xC000u, Client::get32(b, 16 + 12)) << "POST stage register";
  EXPECT_EQ(16u, Client::get32(b, 8 + 4)) << "response length";
  EXPECT_EQ(before, seen(11, 24)) << "the program runs in the driver";
}

// ---------------------------------------------------------------------------
// Firmware log (FAT) and dump: callbacks 29 and 30
// ---------------------------------------------------------------------------

TEST_F(MgmtFwTest, PivardDumpLengthAndChunks) {
  ASSERT_NE(nullptr, upOne(Gen::Pivard));
  const std::vector<uint8_t> dump = object("/dbg/dump.bin");
  ASSERT_GT(dump.size(), 64u);
  std::vector<uint8_t> len(4, 0xEE);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_FAT_SIZE, a_, &len).result);
  EXPECT_EQ(dump.size(), Client::get32(len, 0));

  struct Case {
    const char* what;
    uint32_t offset, length;
    VMK_ReturnStatus result;
    size_t from, copied;  // dump bytes expected at data[0 ..]
  } cases[] = {
      {"client offsets count from 4", 4, 16, VMK_OK, 0, 16},
      {"a chunk inside", 104, 10, VMK_OK, 100, 10},
      {"length beyond the data area", 4, 0xFFFFFFFF, VMK_OK, 0, std::min<size_t>(dump.size(), 64000)},
      {"up to the end", 4 + static_cast<uint32_t>(dump.size()) - 8, 64000, VMK_OK, dump.size() - 8, 8},
      {"offset 3", 3, 16, VMK_BAD_PARAM, 0, 0},
      {"offset 0", 0, 16, VMK_BAD_PARAM, 0, 0},
      {"length 0", 4, 0, VMK_OK, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vmktest::MgmtClient::Reply r;
    std::vector<uint8_t> b = chunk(c.offset, c.length, &r);
    EXPECT_EQ(c.result, r.result);
    EXPECT_EQ(0, memcmp(b.data(), dump.data() + c.from, c.copied));
    EXPECT_TRUE(zeroed(b, c.copied, 64000));
    EXPECT_EQ(c.offset, Client::get32(b, 64000)) << "the client's words stay";
    EXPECT_EQ(c.length, Client::get32(b, 64004));
  }

  // A failed read is the client's answer, with no data.
  fault(1, 171, {.status = 2, .times = 2});
  vmktest::MgmtClient::Reply r;
  std::vector<uint8_t> b = chunk(4, 100, &r);
  EXPECT_EQ(2u, uint32_t(r.result));
  EXPECT_TRUE(zeroed(b, 0, 64000));
  len.assign(4, 0xEE);
  EXPECT_EQ(2u, uint32_t(call(TAMSIL_MGMT_FAT_SIZE, a_, &len).result));
  EXPECT_EQ(0u, Client::get32(len, 0));
}

TEST_F(MgmtFwTest, FirmwareLogLengthAndChunks) {
  ASSERT_NE(nullptr, upOne(Gen::KS3));
  // A log longer than one chunk.
  std::vector<uint8_t> log(70000);
  for (size_t i = 0; i < log.size(); i++) log[i] = static_cast<uint8_t>('a' + i % 26 + (i >> 12));
  setFatLog(log);
  std::vector<uint8_t> len(4, 0xEE);
  ASSERT_EQ(VMK_OK, call(TAMSIL_MGMT_FAT_SIZE, a_, &len).result);
  EXPECT_EQ(log.size(), Client::get32(len, 0));

  struct Case {
    const char* what;
    uint32_t offset, length;
    size_t copied;
  } cases[] = {
      {"from the start", 0, 100, 100},
      {"length beyond the data area", 0, 0xFFFFFFFF, 64000},
      {"a whole data area", 0, 64000, 64000},
      {"the rest", 64000, 64000, 6000},
      {"past the end", 70000, 100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vmktest::MgmtClient::Reply r;
    std::vector<uint8_t> b = chunk(c.offset, c.length, &r);
    EXPECT_EQ(VMK_OK, r.result);
    EXPECT_EQ(0, memcmp(b.data(), log.data() + std::min<size_t>(c.offset, log.size()), c.copied));
    EXPECT_TRUE(zeroed(b, c.copied, 64000));
  }

  fault(1, 68, {.status = 4, .times = 1});
  vmktest::MgmtClient::Reply r;
  std::vector<uint8_t> b = chunk(0, 100, &r);
  EXPECT_EQ(4u, uint32_t(r.result));
  EXPECT_TRUE(zeroed(b, 0, 64000));
}

// ---------------------------------------------------------------------------
// Pivard configuration space: callback 33
// ---------------------------------------------------------------------------

TEST_F(MgmtFwTest, PivardConfigurationReadBounds) {
  ASSERT_NE(nullptr, upOne(Gen::Pivard));
  struct Case {
    const char* what;
    uint32_t offset, length;
    VMK_ReturnStatus result;
    uint32_t read;  // bytes read
  } cases[] = {
      {"identity", 0, 4, VMK_OK, 4},
      {"last bytes", 4090, 6, VMK_OK, 6},
      {"one past the end", 4090, 7, VMK_BAD_PARAM, 0},
      {"offset wraps the sum", 0xFFFFFFF0u, 0x20, VMK_BAD_PARAM, 0},
      {"offset at the end, nothing read", 4096, 0, VMK_OK, 0},
      {"offset past the end", 4097, 0, VMK_BAD_PARAM, 0},
      {"largest length", 16, 255, VMK_OK, 255},
      {"length of the data area", 0, 256, VMK_BAD_PARAM, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> b = param(TAMSIL_MGMT_PIVARD_CFG);
    Client::put32(b, 0, c.offset);
    Client::put32(b, 4, c.length);
    auto r = call(TAMSIL_MGMT_PIVARD_CFG, a_, &b);
    EXPECT_EQ(c.result, r.result);
    for (uint32_t i = 0; i < c.read; i++)
      ASSERT_EQ(card_->function(0)->configRead(c.offset + i, 1), b[8 + i]) << "byte " << i;
    if (c.result == VMK_OK) {
      EXPECT_TRUE(zeroed(b, 8 + c.read, b.size()));
    }
  }
  // The length is refused before the function is looked for.
  std::vector<uint8_t> hdr = Client::header("0000:077:00.0", 0, 0, 0x5A5A5A5A);
  std::vector<uint8_t> b = param(TAMSIL_MGMT_PIVARD_CFG);
  Client::put32(b, 4, 256);
  EXPECT_EQ(VMK_BAD_PARAM, client_.call(TAMSIL_MGMT_PIVARD_CFG, &hdr, &b).result);
  EXPECT_EQ(0x5A5A5A5Au, Client::get32(hdr, 24));
}

TEST_F(MgmtFwTest, ConfigurationReadIsPivardOnly) {
  ASSERT_NE(nullptr, upOne(Gen::Veskarn));
  std::vector<uint8_t> b = param(TAMSIL_MGMT_PIVARD_CFG);
  Client::put32(b, 0, 0);
  Client::put32(b, 4, 4);
  auto r = call(TAMSIL_MGMT_PIVARD_CFG, a_, &b);
  EXPECT_EQ(VMK_NOT_SUPPORTED, r.result);
  EXPECT_EQ(0u, r.status);
  EXPECT_EQ(0xEEEEEEEEu, Client::get32(b, 8)) << "nothing read";
}

}  // namespace
