#include "rig.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tamsil_bringup.h"

namespace cmdtest {

uint32_t asicBit(adapter::Gen g) {
  switch (g) {
    case adapter::Gen::KS2: return TAMSIL_ASIC_KS2;
    case adapter::Gen::KS3: return TAMSIL_ASIC_KS3;
    case adapter::Gen::Pivard: return TAMSIL_ASIC_PIVARD;
    case adapter::Gen::Veskarn: return TAMSIL_ASIC_VESKARN;
  }
  return 0;
}

Rig::Rig(const RigOptions& o) : opt(o) {}

Rig::~Rig() { down(); }

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
  vmktest::reset();
  // Bring-up runs in real time: at the tests' fast clock a device thread
  // held back by a loaded machine (or ThreadSanitizer) let the mailbox's
  // poll run out before the first command was served. The tests' own clock
  // starts once the channel is up.
  vmktest::setClockRate(1.0);
  if (getenv("TAMSIL_TEST_LOG") != nullptr) vmktest::setLogEcho(true);
  adapter::AdapterConfig cfg;
  cfg.fw.gen = opt.gen;
  if (opt.card_config) opt.card_config(cfg);
  card = std::make_unique<adapter::Adapter>(cfg);
  if (!bed_.setUp(card->function(0))) {
    ADD_FAILURE() << "adapter bed";
    return false;
  }
  a = bed_.adapter;
  dev = bed_.device;
  EXPECT_EQ(asicBit(opt.gen), a->asic_gen);
  // The command layer runs with the device not quiesced and the default
  // messages, whatever attach would set first.
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_IO_QUIESCED);
  vmk_BitVectorAtomicClear(a->flags, TAMSIL_FLAG_DEV_QUIESCED);
  a->debug_mask = TAMSIL_DEBUG_MASK_DEFAULT;
  a->die_temp_interval = 30;
  a->sfp_state = 0xFF;

  EXPECT_EQ(VMK_OK, vmk_BinarySemaCreate(&a->mbox_lock, tamsilDriver.module_id, "Mbox lock for tamsil"));
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
    EXPECT_EQ(VMK_OK, vmk_SpinlockCreate(&sp, spin[i]));
  }

  if (tamsil_mpoolAllocMap(a, &a->mbox_mem, TAMSIL_MBOX_ALLOC_SIZE) == nullptr) {
    ADD_FAILURE() << "mailbox memory";
    return false;
  }
  uintptr_t va = reinterpret_cast<uintptr_t>(a->mbox_mem.va);
  uintptr_t pad = (16 - (va & 15)) & 15;
  a->mbox_va = reinterpret_cast<void*>(va + pad);
  a->mbox_bus_addr = (tamsil_dmaBusAddr(&a->mbox_mem) + 15) & ~static_cast<vmk_IOA>(15);
  a->mbox_size = TAMSIL_MBOX_SIZE;
  a->mbox_wrb = a->mbox_va;

  uint32_t st = tamsil_cmdFwInit(a);
  if (st != 0) {
    ADD_FAILURE() << "firmware init " << std::hex << st;
    return false;
  }
  if (!opt.mcc) {
    vmktest::setClockRate(opt.clock_rate);
    return true;
  }
  if (!allocRing(&eq, 1024, 4) || !allocRing(&a->mcc_cq, TAMSIL_MCC_CQ_ENTRIES, 16) ||
      !allocRing(&a->mcc_q, TAMSIL_MCC_Q_LEN, 256)) {
    ADD_FAILURE() << "ring memory";
    return false;
  }
  st = tamsil_cmdEqCreate(a, &eq, 0);
  if (st == 0) st = tamsil_cmdCqCreate(a, &a->mcc_cq, &eq, false, true, 0);
  if (st == 0) st = tamsil_cmdMccqCreate(a, &a->mcc_q, &a->mcc_cq);
  if (st != 0) {
    ADD_FAILURE() << "MCC set-up " << std::hex << st;
    return false;
  }
  vmktest::setClockRate(opt.clock_rate);
  polling_ = opt.poller;
  poller_ = std::thread([this] {
    while (!stop_) {
      {
        std::lock_guard<std::mutex> g(poll_mu_);
        if (polling_) tamsil_processMcc(a);
      }
      if (opt.poll_interval_us == 0)
        std::this_thread::yield();
      else
        std::this_thread::sleep_for(std::chrono::microseconds(opt.poll_interval_us));
    }
  });
  return true;
}

void Rig::down() {
  if (poller_.joinable()) {
    stop_ = true;
    poller_.join();
  }
  if (a != nullptr) {
    // No thread is left inside a command once the channel is closed.
    tamsil_mccClose(a, TAMSIL_CH_GONE);
    // Take the firmware objects down while the card still answers.
    if (!a->hw_error && !a->fw_timeout) {
      if (a->mcc_q.created) tamsil_cmdQDestroy(a, &a->mcc_q, TAMSIL_QTYPE_MCCQ);
      if (a->mcc_cq.created) tamsil_cmdQDestroy(a, &a->mcc_cq, TAMSIL_QTYPE_CQ);
      if (eq.created) tamsil_cmdQDestroy(a, &eq, TAMSIL_QTYPE_EQ);
      tamsil_cmdFwClean(a);
    }
    a->mcc_q.created = 0;
    // The card goes with the rig: what timed-out commands left goes too.
    tamsil_mccKeptRelease(a, true);
    freeRing(&a->mcc_q);
    freeRing(&a->mcc_cq);
    freeRing(&eq);
    tamsil_statsCleanup(a);
    if (a->mbox_mem.va != nullptr) tamsil_mpoolUnmapFree(a, &a->mbox_mem);
    vmk_Lock* spin[] = {&a->mcc_lock, &a->mcc_cq_lock, &a->mcc_compl_wait_lock, &a->mcc_compl_worker_lock};
    for (vmk_Lock* l : spin)
      if (*l != VMK_LOCK_INVALID) vmk_SpinlockDestroy(*l);
    if (a->mbox_lock != VMK_SEMAPHORE_INVALID) vmk_SemaDestroy(&a->mbox_lock);
    a = nullptr;
  }
  dev = nullptr;
  const bool loaded = bed_.loaded;
  bed_.tearDown();
  if (loaded) {
    vmktest::Live l = vmktest::live();
    EXPECT_TRUE(l.allZero()) << l.describe();
    const vmktest::DmaFaults f = vmktest::dmaFaults();
    EXPECT_EQ(0u, f.unmappedWrites) << "a device wrote to unmapped bus address 0x" << std::hex << f.firstWriteAddr;
  }
  card.reset();
}

std::vector<uint8_t> Rig::lastRequest(uint8_t sub, uint8_t op) {
  return fw([&](adapter::Engine& e) {
    const std::vector<uint8_t>* r = e.lastRequest(sub, op);
    return r != nullptr ? *r : std::vector<uint8_t>();
  });
}

unsigned Rig::seen(uint8_t sub, uint8_t op) {
  return fw([&](adapter::Engine& e) { return e.commandsSeen(sub, op); });
}

void Rig::setFault(uint8_t sub, uint8_t op, const adapter::Fault& f) {
  fw([&](adapter::Engine& e) {
    e.setFault(sub, op, f);
    return 0;
  });
}

void Rig::clearFaults() {
  fw([&](adapter::Engine& e) {
    e.clearFaults();
    return 0;
  });
}

}  // namespace cmdtest
