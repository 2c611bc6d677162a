#include "driver_rig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamsil_bringup.h"
#include "tamsil_cmds.h"
#include "tamsil_cmds_os.h"
#include "vmk_testing.h"

namespace fuzzdrv {

namespace {

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "fuzz rig: %s\n", what);
  abort();
}

}  // namespace

adapter::Gen genFromEnv() {
  const char* g = getenv("TAMSIL_FUZZ_GEN");
  if (g == nullptr || *g == '\0') return adapter::Gen::KS3;
  for (adapter::Gen gen : {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn})
    if (adapter::genName(gen) == std::string(g)) return gen;
  fprintf(stderr, "TAMSIL_FUZZ_GEN=%s names no generation (KS2, KS3, Pivard, Veskarn)\n", g);
  exit(2);
}

Rig& sharedRig(bool poller, void (*fresh)(Adapter*)) {
  static std::unique_ptr<Rig> rig;
  static const adapter::Gen gen = genFromEnv();
  if (rig && (tamsil_cardError(rig->a) || !rig->a->mcc_q.created)) rig.reset();
  // The stand-in keeps every log line: only the lines of one input are kept.
  vmktest::clearLog();
  if (!rig) {
    rig = std::make_unique<Rig>(gen, poller);
    if (fresh != nullptr) fresh(rig->a);
  }
  return *rig;
}

std::string liveObjects() { return vmktest::live().describe(); }

Rig::Rig(adapter::Gen gen, bool poller) : poll_(poller) {
  vmktest::reset();
  // Time runs fast: a command the firmware never answers times out in
  // milliseconds.
  vmktest::setClockRate(20000.0);
  adapter::AdapterConfig cfg;
  cfg.fw.gen = gen;
  // Doorbells served inside the write: an input replays exactly.
  cfg.mode = adapter::Mode::Sync;
  card = std::make_unique<adapter::Adapter>(cfg);
  if (!up()) fail("control path set-up failed");
}

Rig::~Rig() {
  down();
  vmktest::Live l = vmktest::live();
  if (!l.allZero()) {
    fprintf(stderr, "kernel objects left after tear-down: %s\n", l.describe().c_str());
    abort();
  }
}

bool Rig::allocRing(QueueInfo* q, uint16_t entries, uint16_t size) {
  memset(q, 0, sizeof *q);
  if (tamsil_mpoolAllocMap(a, &q->mem, static_cast<uint32_t>(entries) * size) == nullptr) return false;
  q->len = entries;
  q->entry_size = size;
  return true;
}

void Rig::freeRing(QueueInfo* q) {
  if (q->mem.va != nullptr) tamsil_mpoolUnmapFree(a, &q->mem);
  q->created = 0;
}

bool Rig::up() {
  if (!bed_.setUp(card->function(0))) return false;
  a = bed_.adapter;
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_IO_QUIESCED);
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_DEV_QUIESCED);
  a->debug_mask = TAMSIL_DEBUG_MASK_DEFAULT;
  a->die_temp_interval = 30;
  a->sfp_state = 0xFF;
  if (vmk_BinarySemaCreate(&a->mbox_lock, tamsilDriver.module_id, "Mbox lock for tamsil") != VMK_OK) return false;
  vmk_Lock* spin[] = {&a->mcc_lock, &a->mcc_cq_lock, &a->mcc_compl_wait_lock, &a->mcc_compl_worker_lock};
  const char* names[] = {"mcc_lock", "mcc_cq_lock", "mcc_compl_wait_lock", "mcc_compl_worker_lock"};
  for (int i = 0; i < 4; i++) {
    vmk_SpinlockCreateProps sp;
    memset(&sp, 0, sizeof sp);
    sp.moduleID = tamsilDriver.module_id;
    sp.heapID = tamsilDriver.heap_id;
    vmk_NameInitialize(&sp.name, names[i]);
    sp.type = VMK_SPINLOCK;
    sp.domain = tamsilDriver.lock_domain;
    sp.rank = VMK_SPINLOCK_UNRANKED;
    if (vmk_SpinlockCreate(&sp, spin[i]) != VMK_OK) return false;
  }
  if (tamsil_mpoolAllocMap(a, &a->mbox_mem, TAMSIL_MBOX_ALLOC_SIZE) == nullptr) return false;
  uintptr_t va = reinterpret_cast<uintptr_t>(a->mbox_mem.va);
  uintptr_t pad = (16 - (va & 15)) & 15;
  a->mbox_va = reinterpret_cast<void*>(va + pad);
  a->mbox_bus_addr = (tamsil_dmaBusAddr(&a->mbox_mem) + 15) & ~static_cast<vmk_IOA>(15);
  a->mbox_size = TAMSIL_MBOX_SIZE;
  a->mbox_wrb = a->mbox_va;
  if (tamsil_cmdFwInit(a) != 0) fail("firmware init");
  if (!allocRing(&eq_, 1024, 4) || !allocRing(&a->mcc_cq, TAMSIL_MCC_CQ_ENTRIES, 16) ||
      !allocRing(&a->mcc_q, TAMSIL_MCC_Q_LEN, 256))
    fail("ring memory");
  uint32_t st = tamsil_cmdEqCreate(a, &eq_, 0);
  if (st == 0) st = tamsil_cmdCqCreate(a, &a->mcc_cq, &eq_, false, true, 0);
  if (st == 0) st = tamsil_cmdMccqCreate(a, &a->mcc_q, &a->mcc_cq);
  if (st != 0) fail("queue create");
  if (poll_) {
    poller_ = std::thread([this] {
      while (!stop_) {
        tamsil_processMcc(a);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    });
  }
  return true;
}

void Rig::stopPoller() {
  if (poller_.joinable()) {
    stop_ = true;
    poller_.join();
  }
}

void Rig::down() {
  stopPoller();
  if (a != nullptr) {
    // No thread is left inside a command once the channel is closed.
    tamsil_mccClose(a, TAMSIL_CH_GONE);
    if (!a->hw_error && !a->fw_timeout) {
      if (a->mcc_q.created) tamsil_cmdQDestroy(a, &a->mcc_q, TAMSIL_QTYPE_MCCQ);
      if (a->mcc_cq.created) tamsil_cmdQDestroy(a, &a->mcc_cq, TAMSIL_QTYPE_CQ);
      if (eq_.created) tamsil_cmdQDestroy(a, &eq_, TAMSIL_QTYPE_EQ);
      tamsil_cmdFwClean(a);
    }
    a->mcc_q.created = 0;
    // The card goes with the rig: what timed-out commands kept goes too.
    tamsil_mccKeptRelease(a, true);
    freeRing(&a->mcc_q);
    freeRing(&a->mcc_cq);
    freeRing(&eq_);
    tamsil_statsCleanup(a);
    if (a->mbox_mem.va != nullptr) tamsil_mpoolUnmapFree(a, &a->mbox_mem);
    vmk_Lock* spin[] = {&a->mcc_lock, &a->mcc_cq_lock, &a->mcc_compl_wait_lock, &a->mcc_compl_worker_lock};
    for (vmk_Lock* l : spin)
      if (*l != VMK_LOCK_INVALID) vmk_SpinlockDestroy(*l);
    if (a->mbox_lock != VMK_SEMAPHORE_INVALID) vmk_SemaDestroy(&a->mbox_lock);
    a = nullptr;
  }
  bed_.tearDown();
  card.reset();
}

}  // namespace fuzzdrv
