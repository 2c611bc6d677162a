// What the device writes into the data path's completion rings: receive
// completions (frame size, fragment count, error, checksum, VLAN, port,
// cast, tunnel bits) and transmit completions, parsed by the receive poll
// and reaped by the transmit poll, with I/O started on an associated uplink.
//
// Input: records of 17 bytes: a control byte and one 16-byte ring entry,
// written where the driver reads next. Control bit 0 chooses the ring
// (0 receive ring 0, 1 the default transmit queue); bits 1-7 are the
// receive budget of the polls. After every third record, and after the
// last, the driver polls both rings; what it handed to the NetPoll is
// taken and released, as the stack does.
//
// Entries that would make the driver stop the system on purpose are
// adjusted so that an input runs to its end: a receive completion names
// the oldest posted buffer, covers no more buffers than are posted and
// carries no frame larger than the buffers; a transmit completion names the
// last entry of the oldest pending packet (one is sent first when none is).
//
// One uplink with I/O started serves every input of a process; at its exit
// I/O is quiesced, the adapter taken down, and every kernel object must have
// been given back (no packet, mapping or block left).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "adapter.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "tamsil_datapath.h"
#include "vmk_pkt_testing.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"
#include "uplink_rig.h"

namespace {

using fuzzdrv::fail;

// The uplink of fuzzdrv::UplinkRig with I/O started, kept until the process
// ends.
struct DpRig : fuzzdrv::UplinkRig {
  std::vector<uint8_t> frame;

  vmk_uint32 txQueue() const { return a->queue_info.maxRxQueues; }
  tamsil_rxo* rxo() const { return &a->rxo[0]; }
  tamsil_txo* txo() const { return &a->txo[0]; }

  DpRig() {
    // A 64-byte frame to a locally administered station.
    frame.assign(64, 0);
    const uint8_t dst[6] = {0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, src[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    memcpy(frame.data(), dst, 6);
    memcpy(frame.data() + 6, src, 6);
    frame[12] = 0x08;
    start();
  }

  // I/O started with nothing but the input touching the two rings: no
  // interrupts, their doorbells recorded and not served.
  void start() {
    if (ops().uplinkStartIO(cookie) != VMK_OK) fail("I/O did not start");
    vmktest::netPollDrain();
    if (tamsil_disableIntrs(a) != VMK_OK) fail("interrupts stayed on");
    // A handler already under way may still wake a NetPoll.
    tamsil_syncIntrs(a);
    vmktest::netPollDrain();
    card->setRecordOnlyDoorbells(0, true, {rxo()->cq.id, txo()->cq.id});
    // Completions already in the rings (none expected) are taken first.
    while (tamsil_pollRx(a, rxo(), 64, VMK_FALSE, nullptr) != 0) {
    }
    takeRx();
    tamsil_pollTx(a, txo(), VMK_FALSE, VMK_FALSE);
    // The worker's tick, at kernel speed, stays out of the input's way.
    vmktest::setClockRate(1.0);
  }
  // At the end of the process: I/O quiesced (the completions written by
  // hand left the device's idea of the rings behind: a flush completion may
  // not come), the uplink and the adapter gone, and nothing left alive.
  void end() {
    card->setRecordOnlyDoorbells(0, false);
    fuzzdrv::fastClock();
    if (ops().uplinkQuiesceIO(cookie) != VMK_OK) fail("I/O did not quiesce");
    takeRx();
    down();
  }
  void takeRx() {
    vmk_NetPoll np = a->eqo[rxo()->idx].netpoll->netpoll;
    vmk_NetPollFlushRx(np);
    for (vmk_PktHandle* p : vmktest::netPollTakeRx(np)) vmk_PktRelease(p);
  }
  // Sends one packet (the ring may refuse it).
  void send() {
    vmk_PktList l;
    vmk_PktListInit(&l);
    vmk_PktHandle* p = vmktest::pktMake(frame);
    vmk_PktQueueIDSet(p, txQueue());
    vmk_PktListAppendPkt(&l, p);
    ops().uplinkTx(cookie, &l);
    vmk_PktListReleaseAllPkts(&l);
  }
};

DpRig& rig() { return fuzzdrv::processRig<DpRig>(); }

uint32_t word(const uint8_t* e, unsigned i) {
  uint32_t w;
  memcpy(&w, e + 4 * i, 4);
  return w;
}

// The receive entry made acceptable (see the head comment); `covered` counts
// the buffers taken by the completions written but not yet polled.
void rxAdjust(DpRig& r, uint8_t e[16], uint32_t covered, uint32_t d[4]) {
  tamsil_rxo* rxo = r.rxo();
  QueueInfo* q = &rxo->rxq;
  const uint32_t used = static_cast<uint32_t>(vmk_AtomicRead64(&q->used));
  const uint32_t left = used > covered ? used - covered : 0;
  const uint32_t oldest = (q->head + q->len - used + covered) & (q->len - 1);
  for (unsigned i = 0; i < 4; i++) d[i] = word(e, i);
  uint32_t frags = (d[1] >> 29) & 7;
  if (frags > left) frags = left;
  uint32_t size = (d[0] >> 16) & 0x3FFF;
  if (size > r.a->max_frame) size %= r.a->max_frame + 1;
  d[0] = (d[0] & ~(0x3FFFu << 16)) | (size << 16);
  d[1] = (d[1] & ~((0x3FFu << 16) | (7u << 29))) | (oldest << 16) | (frags << 29);
  if (d[2] == 0) d[2] = 1;  // a written entry is one the driver sees
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  DpRig& r = rig();
  // The stand-in keeps every log line: only the lines of one input are kept.
  vmktest::clearLog();
  tamsil_rxo* rxo = r.rxo();
  tamsil_txo* txo = r.txo();
  size_t pending = 0;
  uint32_t rxWritten = 0, rxCovered = 0, txWritten = 0;
  // The transmit ring entry the next unwritten completion covers from.
  uint16_t txNext = txo->q.tail;
  for (size_t off = 0; off + 17 <= size; off += 17) {
    const uint8_t ctl = data[off];
    uint8_t e[16];
    memcpy(e, data + off + 1, 16);
    if ((ctl & 1) == 0) {
      uint32_t d[4];
      rxAdjust(r, e, rxCovered, d);
      const uint32_t frags = (d[1] >> 29) & 7;
      QueueInfo* cq = &rxo->cq;
      if (rxWritten + 1 < cq->len) {
        auto* w = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(cq->mem.va) +
                                              ((cq->tail + rxWritten) & (cq->len - 1)) * TAMSIL_RXCQ_ENTRY_SIZE);
        w[0] = d[0];
        w[1] = d[1];
        w[3] = d[3];
        __atomic_store_n(&w[2], d[2], __ATOMIC_RELEASE);
        rxWritten++;
        rxCovered += frags;
      }
    } else {
      QueueInfo* q = &txo->q;
      QueueInfo* cq = &txo->cq;
      // Every written completion names a packet sent and still pending.
      if (txNext == q->head) r.send();
      const auto* h = reinterpret_cast<const uint32_t*>(static_cast<uint8_t*>(q->mem.va) + txNext * 16u);
      const uint32_t entries = txNext == q->head ? 0 : (h[2] >> 13) & 0x1F;
      if (entries != 0 && txWritten + 1 < cq->len) {
        const uint16_t last = static_cast<uint16_t>((txNext + entries - 1) & (q->len - 1));
        auto* w = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(cq->mem.va) +
                                              ((cq->tail + txWritten) & (cq->len - 1)) * TAMSIL_TXCQ_ENTRY_SIZE);
        w[0] = (word(e, 0) & 0xFFFF0000u) | last;
        w[1] = word(e, 1);
        w[2] = word(e, 2);
        __atomic_store_n(&w[3], word(e, 3) | 1u, __ATOMIC_RELEASE);
        txWritten++;
        txNext = static_cast<uint16_t>((last + 1) & (q->len - 1));
      }
    }
    if (++pending == 3 || off + 34 > size) {
      const vmk_uint32 budget = (ctl >> 1) == 0 ? 1 : (ctl >> 1);
      while (rxWritten != 0) {
        const vmk_uint32 n = tamsil_pollRx(r.a, rxo, budget, VMK_FALSE, nullptr);
        if (n == 0) break;
        rxWritten -= n;
        r.takeRx();
      }
      // What was taken moved the oldest posted buffer; a refill does not.
      rxCovered = 0;
      if (rxWritten != 0) fail("written receive completions were not seen");
      tamsil_pollTx(r.a, txo, VMK_FALSE, VMK_FALSE);
      txWritten = 0;
      txNext = txo->q.tail;
      pending = 0;
    }
  }
  return 0;
}
