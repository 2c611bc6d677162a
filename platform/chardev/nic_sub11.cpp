// The host NIC driver's own answers on its pass-through (nic_sub11.h).
#include "nic_sub11.h"

#include <cerrno>
#include <array>
#include <cstring>
#include <vector>

#include "fw_library_dump.h"
#include "nic_cdbc.h"
#include "wire.h"

namespace chardev {

namespace {

using adapter::wire::get32;
using adapter::wire::put16;
using adapter::wire::put32;

constexpr uint8_t kSubCommon = 1;
constexpr uint8_t kSubDiag = 11;
constexpr uint8_t kOpMacQuery = 1;
constexpr uint8_t kOpDumpProps = 21;
constexpr uint8_t kOpComponentProps = 22;
constexpr uint8_t kOpSegmentRead = 24;
constexpr uint32_t kProgramComponent = 1;
constexpr uint32_t kDriverComponent = 4;
constexpr uint8_t kNoMemory = 0xFF;

// The driver's local answer: status 0 and both response lengths.
void answered(uint8_t* hdr, uint32_t length) {
  hdr[4] = 0;
  hdr[5] = 0;
  put32(hdr, 8, length);
  put32(hdr, 12, length);
}

void failedHere(uint8_t* hdr, uint8_t status) {
  hdr[4] = status;
  hdr[5] = 0;
  put32(hdr, 8, 0);
  put32(hdr, 12, 0);
}

unsigned pcicfgBar(adapter::Gen gen) { return gen == adapter::Gen::KS2 ? 1 : 0; }

uint32_t cfgBarRead(adapter::Adapter& card, unsigned fn, uint32_t off) {
  hostbus::Function* f = card.function(fn);
  return f == nullptr ? 0xFFFFFFFFu : f->barRead(pcicfgBar(card.gen()), off, 4);
}

// The interface words the driver takes from its registers.
void interfaceWords(adapter::Adapter& card, unsigned fn, uint8_t* p) {
  uint32_t r58 = cfgBarRead(card, fn, 0x58);
  put32(p, 4, r58);
  if ((r58 & 0xF00) == 0xF00) put32(p, 8, cfgBarRead(card, fn, 0x9C));
}

void deadProps(adapter::Adapter& card, unsigned fn, uint8_t* hdr, uint32_t req_len) {
  uint8_t* p = hdr + 16;
  memset(p, 0, req_len < 20 ? req_len : 20);
  if (req_len >= 20) {
    p[1] = 1;
    p[2] = 1;
    put32(p, 16, 7);
    interfaceWords(card, fn, p);
  }
  answered(hdr, 20);
}

// A dump program: run it, answer status, length and the bytes.
void runProgram(adapter::Adapter& card, unsigned fn, uint8_t* hdr, uint32_t req_len) {
  uint8_t* p = hdr + 16;
  if (req_len < 24) {
    failedHere(hdr, kNoMemory);
    return;
  }
  uint32_t seg = get32(p, 4), inst = get32(p, 8), off = get32(p, 12), asked = get32(p, 16), words = get32(p, 20);
  if (words == 0) {   // nothing to run: the request comes back as it was
    answered(hdr, 8);
    return;
  }
  uint8_t fault = 0;
  if (uint64_t(words) * 4 > req_len - 24 ||
      adapter::takeDumpChunkFault(card.engine(), kProgramComponent, seg, inst, off, &fault)) {
    failedHere(hdr, kNoMemory);
    return;
  }
  std::vector<uint32_t> image(words);
  for (uint32_t i = 0; i < words; ++i) image[i] = get32(p, 24 + 4 * size_t(i));
  CdbcResult r = runDumpProgram(card.function(fn), card.gen(), image.data(), words, off, inst, asked, p + 8,
                                req_len - 8);
  put32(p, 0, r.status);
  put32(p, 4, r.length);
  answered(hdr, r.length + 8);
}

}  // namespace

NicStep nicDriverBefore(adapter::Adapter& card, unsigned fn, uint8_t* hdr, int* err) {
  uint8_t op = hdr[0], sub = hdr[1];
  uint32_t req_len = get32(hdr, 8);
  uint8_t* p = hdr + 16;
  bool in_error = card.inUe();
  if (sub == kSubDiag && card.gen() != adapter::Gen::Pivard) {
    uint32_t comp = req_len >= 4 ? get32(p, 0) : 0;
    if (op == kOpComponentProps && comp == kDriverComponent && req_len >= 8) {
      put32(p, 0, 0);
      put32(p, 4, 1);
      answered(hdr, 8);
      return NicStep::Answered;
    }
    if (op == kOpSegmentRead && comp == kDriverComponent) {
      answered(hdr, 9);
      return NicStep::Answered;
    }
    if (op == kOpSegmentRead && comp == kProgramComponent) {
      runProgram(card, fn, hdr, req_len);
      return NicStep::Answered;
    }
    if (op == kOpDumpProps && in_error) {
      deadProps(card, fn, hdr, req_len);
      return NicStep::Answered;
    }
  }
  if (!in_error) return NicStep::Send;
  // A card in error takes nothing but the permanent-MAC query.
  if (op == kOpMacQuery && sub == kSubCommon && req_len >= 8 && p[0] == 1 && p[1] == 1) {
    std::array<uint8_t, 6> mac = card.engine().permanentMac(fn);
    put16(p, 0, 6);
    memcpy(p + 2, mac.data(), 6);
    answered(hdr, 8);
    return NicStep::Answered;
  }
  *err = EIO;
  return NicStep::Failed;
}

int nicDriverAfter(adapter::Adapter& card, unsigned fn, uint8_t* hdr, uint32_t req_len, int rc) {
  if (hdr[0] != kOpDumpProps || hdr[1] != kSubDiag || card.gen() == adapter::Gen::Pivard) return rc;
  if (rc == 0 && hdr[4] == 0) {
    if (req_len >= 12) interfaceWords(card, fn, hdr + 16);
    return rc;
  }
  if (!card.inUe()) return rc;
  // The request went out and the card failed meanwhile: answered as dead.
  deadProps(card, fn, hdr, req_len);
  return 0;
}

void prepareNicDriverRegisters(adapter::Adapter& card) {
  if (card.gen() == adapter::Gen::Pivard) return;
  for (unsigned fn = 0; fn < card.functionCount(); ++fn) {
    card.setCfgBarRegister(fn, 0x58, adapter::sliIntf(card.gen()));
    if (adapter::asicId(card.gen()) != 0) card.setCfgBarRegister(fn, 0x9C, adapter::asicId(card.gen()));
  }
}

}  // namespace chardev
