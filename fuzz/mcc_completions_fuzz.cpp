// What the firmware writes into the MCC completion ring: command completions
// (their status, extended status and tag) and asynchronous events (link
// state, group 5, debug, SLI port), valid or not, for commands that are
// waiting, done long ago or never sent.
//
// Input: records of 17 bytes: a control byte and one 16-byte ring entry,
// written where the driver reads next.
// Control bits 0-6 name a command slot; bit 7 replaces the entry's tag with
// the tag the driver last wrote into that slot's WRB (a completion of a real
// command, possibly repeated). After every fourth record, and after the last,
// the driver drains the ring.
//
// An entry with flags but without its valid bit makes the driver stop the
// system on purpose (a corrupt ring): such entries get their valid bit here,
// so that an input runs to its end instead of ending in that stop.
#include <cstdint>
#include <cstring>

#include "driver_rig.h"
#include "tamsil_cmds.h"
#include "tamsil_hw.h"

namespace {

// A few commands of each kind first, so that slots hold the tags of real
// commands: embedded, with their own buffer, polled and sleeping (drained
// by the waits themselves: the rig has no poller, the input owns the ring).
void warmUp(Adapter* a) {
  char ver[32], flash[32];
  tamsil_cmdGetFwVer(a, ver, flash);
  uint32_t tx = 0, rx = 0;
  tamsil_cmdGetFlowControl(a, &tx, &rx);
  tamsil_cmdGetPhyInfo(a);
  tamsil_cmdReadTransreceiverData(a);
  uint32_t len = 0;
  tamsil_cmdGetFwDumpLen(a, &len);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Adapter* a = fuzzdrv::sharedRig(false, warmUp).a;
  size_t pending = 0;
  for (size_t off = 0; off + 17 <= size; off += 17) {
    const uint8_t ctl = data[off];
    MccCompletion e;
    memcpy(&e, data + off + 1, sizeof e);
    if (ctl & 0x80) {
      const uint32_t slot = ctl & 0x7F;
      const MccWrb* wrb = reinterpret_cast<const MccWrb*>(static_cast<const uint8_t*>(a->mcc_q.mem.va) +
                                                          static_cast<size_t>(a->mcc_q.entry_size) * slot);
      e.tag_lo = wrb->tag_lo;
      e.tag_hi = wrb->tag_hi;
    }
    if (e.flags != 0) e.flags |= TAMSIL_CQE_VALID;
    QueueInfo* cq = &a->mcc_cq;
    const size_t at = (cq->tail + pending) % cq->len;
    memcpy(static_cast<uint8_t*>(cq->mem.va) + at * cq->entry_size, &e, sizeof e);
    if (++pending == 4 || off + 34 > size) {
      tamsil_processMcc(a);
      pending = 0;
    }
  }
  // What the driver did not take (behind an empty entry) goes: the next
  // input starts from an empty ring.
  QueueInfo* cq = &a->mcc_cq;
  for (uint32_t i = 0; i < cq->len; i++)
    memset(static_cast<uint8_t*>(cq->mem.va) + static_cast<size_t>(i) * cq->entry_size, 0, cq->entry_size);
  return 0;
}
