// The host NIC driver's dump-program runner over an emulated PCI function.
//
// This file and nic_cdbc_drvhost.cpp are the one place where the emulated host
// links driver source: the emulated NIC device stands in for the host's NIC
// driver, which runs the management library's dump programs in its
// interpreter, so the programs run here in the project's own interpreter
// (driver/tamsil_cdbc.cpp) rather than in a second one written for the
// emulator. Only the interpreter's header is included.
#include <chrono>
#include <cstring>

#include "nic_cdbc.h"
#include "tamsil_cdbc.h"

namespace chardev {

namespace {

struct Bus {
  hostbus::Function* fn;
  adapter::Gen gen;
};

// The BAR that holds a register space of the interpreter.
int barOf(adapter::Gen gen, uint32_t space) {
  switch (space) {
    case TAMSIL_CDBC_SPACE_PCICFG:
    case TAMSIL_CDBC_SPACE_PCICFG1:
      if (gen == adapter::Gen::Pivard) return -1;
      return gen == adapter::Gen::KS2 ? 1 : 0;
    case TAMSIL_CDBC_SPACE_CSR:
      return gen == adapter::Gen::Pivard ? -1 : 2;
    case TAMSIL_CDBC_SPACE_DB:
      return gen == adapter::Gen::Pivard ? 0 : 4;
    default:
      return -1;
  }
}

uint64_t barSize(void* ctx, uint32_t space) {
  Bus* b = static_cast<Bus*>(ctx);
  int bar = barOf(b->gen, space);
  return bar < 0 ? 0 : b->fn->barSize(static_cast<unsigned>(bar));
}

uint32_t barRead(void* ctx, uint32_t space, uint32_t offset, uint32_t width) {
  Bus* b = static_cast<Bus*>(ctx);
  int bar = barOf(b->gen, space);
  return bar < 0 ? 0 : b->fn->barRead(static_cast<unsigned>(bar), offset, width);
}

void barWrite(void* ctx, uint32_t space, uint32_t offset, uint32_t value, uint32_t width) {
  Bus* b = static_cast<Bus*>(ctx);
  int bar = barOf(b->gen, space);
  if (bar >= 0) b->fn->barWrite(static_cast<unsigned>(bar), offset, value, width);
}

uint32_t cfgRead32(void* ctx, uint32_t offset, uint32_t* value) {
  *value = static_cast<Bus*>(ctx)->fn->configRead(offset, 4);
  return 0;
}

uint32_t cfgWrite32(void* ctx, uint32_t offset, uint32_t value) {
  static_cast<Bus*>(ctx)->fn->configWrite(offset, value, 4);
  return 0;
}

void delayUs(void*, uint32_t us) {
  auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < until) {
  }
}

const tamsil_cdbcBus kBus = {barSize, barRead, barWrite, cfgRead32, cfgWrite32, delayUs};

// The chip family code the firmware configuration query reports.
uint32_t familyCode(adapter::Gen gen) {
  switch (gen) {
    case adapter::Gen::KS2: return 0;
    case adapter::Gen::KS3: return 3;
    case adapter::Gen::Pivard: return 10;
    case adapter::Gen::Veskarn: return 4;
  }
  return 0;
}

}  // namespace

CdbcResult runDumpProgram(hostbus::Function* fn, adapter::Gen gen, uint32_t* image, uint32_t words,
                          uint32_t offset, uint32_t instance, uint32_t asked, uint8_t* out, uint32_t out_len) {
  CdbcResult r;
  if (fn == nullptr || image == nullptr || words < TAMSIL_CDBC_MIN_WORDS || words > TAMSIL_CDBC_MAX_WORDS) {
    r.status = TAMSIL_CDBC_ERR_BOUNDS;
    return r;
  }
  // The driver never shows a program where it lives.
  image[TAMSIL_CDBC_W_HANDLE_LO] = 0;
  image[TAMSIL_CDBC_W_HANDLE_HI] = 0;
  image[8] = asked;
  image[9] = offset;
  image[11] = instance;
  Bus bus{fn, gen};
  tamsil_cdbcRun run;
  memset(&run, 0, sizeof run);
  run.image = image;
  run.words = words;
  run.out_va = out;
  run.out_base = offset;
  run.out_len = out_len;
  run.bus = &kBus;
  run.bus_ctx = &bus;
  run.adapter = nullptr;
  run.family_code = familyCode(gen);
  run.pf_num = fn->function();
  r.status = tamsil_cdbc_exec(&run);
  r.length = tamsil_cdbc_dumpLength(image, words, offset);
  return r;
}

}  // namespace chardev
