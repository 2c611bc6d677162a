// The filter ids the firmware answers to the receive-filter commands the
// NetQueue operations send (PMAC add 1/59, interface queue filter add 1/145,
// tunnel filter create 1/193), as the driver takes them into its MAC filter
// table and VXLAN table, through sequences of filter applies and removals
// and RDMA look-ups on an associated uplink.
//
// Input: records of 4 bytes: op, a, b, c.
//   op bits 0-1: 0 MAC filter apply, 1 VXLAN filter apply, 2 removal,
//                3 look-ups of a MAC (RDMA kind 2, then kind 1);
//   op bit 2:    the first filter-creating command of the record answers
//                with filter id I instead of its own, where I is c in bits
//                0-7, op bits 3-6 in bits 8-11 and op bit 7 in bit 15;
//   a: receive queue (modulo the receive queues);
//   b: bits 0-2 a MAC of eight (the inner MAC of a VXLAN filter), bits 3-5
//      the outer MAC of a VXLAN filter, bits 6-7 for a removal: 0 a filter
//      id this input applied (c picks it), else the raw id I (bit 7: with
//      the VXLAN bit);
//   c: VXLAN id (0 and 255 stand for 0 and 0x1000000) or the id above.
// After the input every filter it left is removed and the tables and the
// firmware's filters are cleared, so that each input starts alike.
#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "tamsil_netq.h"
#include "uplink_rig.h"
#include "vmk_netq_testing.h"

namespace {

using adapter::Cmd;
using adapter::Engine;
using adapter::ObjKind;

// The id the next filter-creating command answers with.
bool armed = false;
uint32_t answerId = 0;
adapter::Handler realPmacAdd = nullptr, realQueueFilterAdd = nullptr, realIfaceFilters = nullptr;

void answer(Cmd& c, size_t at) {
  if (!armed || c.status != 0) return;
  c.w32(at, answerId);
  armed = false;
}
void pmacAdd(Engine& fw, Cmd& c) {
  realPmacAdd(fw, c);
  answer(c, 0);
}
void queueFilterAdd(Engine& fw, Cmd& c) {
  realQueueFilterAdd(fw, c);
  answer(c, 0);
}
void ifaceFilters(Engine& fw, Cmd& c) {
  realIfaceFilters(fw, c);
  if (c.r8(0) == 2 || c.r8(0) == 5) answer(c, 4);
}

struct NetqRig : fuzzdrv::UplinkRig {
  void end() { down(); }
  std::set<uint32_t> baselineMacs;   // the firmware's MAC filters before any input

  NetqRig() {
    std::lock_guard<std::mutex> g(card->lock());
    Engine& fw = card->engine();
    realPmacAdd = fw.handlerFor(1, 59);
    realQueueFilterAdd = fw.handlerFor(1, 145);
    realIfaceFilters = fw.handlerFor(1, 193);
    if (realPmacAdd != nullptr) fw.registerHandler(1, 59, pmacAdd, fw.minimumPayload(1, 59));
    if (realQueueFilterAdd != nullptr) fw.registerHandler(1, 145, queueFilterAdd, fw.minimumPayload(1, 145));
    if (realIfaceFilters != nullptr) fw.registerHandler(1, 193, ifaceFilters, fw.minimumPayload(1, 193));
    for (const adapter::MacFilter& m : fw.macFilters(0)) baselineMacs.insert(m.id);
  }

  // What an input left: its filters removed as the kernel would, then
  // whatever the removals could not take (ids the firmware does not know)
  // dropped from the driver's tables and the firmware.
  void clear(vmktest::NetQueue& nq, const std::vector<std::pair<vmk_UplinkQueueID, uint32_t>>& applied) {
    armed = false;
    for (auto it = applied.rbegin(); it != applied.rend(); ++it) nq.remove(it->first, it->second);
    if (a->vxlan_table != VMK_INVALID_HASH_HANDLE) {
      vmk_AddrCookie data;
      data.ptr = a;
      vmk_HashKeyIterate(a->vxlan_table, tamsil_vxlanHashTableIterator, data);
      vmk_HashDeleteAll(a->vxlan_table);
    }
    tamsil_pmacTableReset(a);
    for (qData& q : a->uplink_qdata) {
      q.activeFilters = 0;
      q.activeFeatures = 0;
    }
    for (tamsil_rxo& r : a->rxo) r.tunnel_mode = 0;
    std::lock_guard<std::mutex> g(card->lock());
    Engine& fw = card->engine();
    for (const adapter::MacFilter& m : fw.macFilters(0))
      if (baselineMacs.count(m.id) == 0) fw.delMacFilter(m.id, 0);
    for (ObjKind k : {ObjKind::QueueFilter, ObjKind::TunnelFilter}) {
      std::vector<uint32_t> ids;
      for (const adapter::FilterObj* f : fw.filters(k, 0)) ids.push_back(f->id);
      for (uint32_t id : ids) fw.delFilter(id, 0);
    }
  }
};

NetqRig& rig() { return fuzzdrv::processRig<NetqRig>(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  NetqRig& r = rig();
  vmktest::clearLog();
  vmktest::NetQueue nq(r.uplink, r.cookie);
  if (!nq.supported()) fuzzdrv::fail("no multi-queue operations");
  const vmk_uint32 queues = r.a->queue_info.maxRxQueues != 0 ? r.a->queue_info.maxRxQueues : 1;
  std::vector<std::pair<vmk_UplinkQueueID, uint32_t>> applied;
  for (size_t off = 0; off + 4 <= size; off += 4) {
    const uint8_t op = data[off], qa = data[off + 1], b = data[off + 2], c = data[off + 3];
    const uint32_t id = c | static_cast<uint32_t>((op >> 3) & 0xF) << 8 | static_cast<uint32_t>(op >> 7) << 15;
    const vmk_UplinkQueueID q = tamsil_mkQueueId(TAMSIL_QTYPE_UPLINK_RX, qa % queues);
    const uint8_t mac[6] = {0x02, 0x5E, 0, 0, 0, static_cast<uint8_t>(b & 7)};
    const uint8_t outer[6] = {0x02, 0x5F, 0, 0, 0, static_cast<uint8_t>((b >> 3) & 7)};
    armed = (op & 4) != 0;
    answerId = id;
    vmk_UplinkQueueFilterID fid = 0;
    switch (op & 3) {
      case 0:
        if (nq.apply(q, vmktest::macFilter(mac), &fid) == VMK_OK) applied.emplace_back(q, fid);
        break;
      case 1: {
        const uint32_t vni = c == 0 ? 0 : c == 255 ? 0x1000000u : c;
        if (nq.apply(q, vmktest::vxlanFilter(mac, outer, vni), &fid) == VMK_OK) applied.emplace_back(q, fid);
        break;
      }
      case 2:
        if ((b >> 6) == 0 && !applied.empty()) {
          const auto& [aq, af] = applied[c % applied.size()];
          nq.remove(aq, af);
        } else {
          nq.remove(q, (b & 0x80) ? (id | TAMSIL_VXLAN_FILTER_BIT) : id);
        }
        break;
      default: {
        vmk_uint32 index = 0, queue = 0;
        tamsil_pmacSrcMacLookup(r.a, mac, TAMSIL_PMAC_KIND_RDMA, &index, &queue);
        tamsil_pmacSrcMacLookup(r.a, outer, TAMSIL_PMAC_KIND_NIC, &index, &queue);
      }
    }
  }
  r.clear(nq, applied);
  return 0;
}
