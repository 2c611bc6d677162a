// Packets: frames in machine memory, their marks, lists, header look-ups,
// copies and software TCP segmentation.
//
// A packet is owned by one thread at a time, so its own fields need no lock;
// only the buffer a clone shares is counted atomically. Buffers and packet
// handles are kept in per-thread caches, so the receive and transmit paths
// allocate and release without a lock and mostly without host allocation.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"
#include "vmk_pkt_testing.h"

namespace {

constexpr uint32_t kMaxSg = 64;
constexpr uint32_t kMaxHeaders = 16;
constexpr uint32_t kCachedPages = 4;    // buffers of up to this many pages are cached
// Per thread and size: a receive ring's worth and more, so that a driver
// refilling its ring while the stack releases a burst of received packets
// stays on cached buffers.
constexpr size_t kCacheDepth = 2048;

struct PktBuffer {
  vmk_MA ma = 0;
  uint8_t* host = nullptr;
  uint32_t pages = 0;
  bool below4GB = false;
  std::atomic<uint32_t> refs{0};
  vmk_uint32 desc[VMK_PKT_BUFDESC_WORDS]{};
  uint32_t capacity() const { return pages * VMK_PAGE_SIZE; }
};

// Layers of the header chain, in frame order.
enum Layer : uint8_t { kL2, kL3, kL4, kEncap, kInL2, kInL3, kInL4, kNoLayer };

std::atomic<unsigned> releasedWhileMapped{0};

}  // namespace

struct vmk_PktHandle {
  PktBuffer* buf = nullptr;
  uint32_t start = 0;     // frame start in the buffer
  uint32_t end = 0;       // end of the data area (the default element's end)
  uint32_t frameLen = 0;
  uint32_t sgLen[kMaxSg]{};
  uint32_t numSg = 0;     // 0: one element from the frame start to `end`
  bool live = false;
  bool csumVfd = false, mustVlanTag = false, mustCsum = false, tso = false;
  uint32_t mss = 0;
  uint16_t vlanID = 0;
  uint8_t priority = 0;
  uint32_t queueID = 0;
  vmk_PktList* list = nullptr;
  vmk_PktHandle* next = nullptr;
  // The parsed header chain, kept until invalidated.
  bool parsed = false;
  uint32_t numHdr = 0;
  vmk_PktHeaderEntry hdr[kMaxHeaders]{};
  Layer layer[kMaxHeaders]{};
  Layer cutAt = kNoLayer;  // the chain ends inside a header of this layer
};

namespace vmkint {
PerThreadCount livePackets;
std::atomic<bool> panicContext{false};
void resetPackets() {
  panicContext.store(false);
  releasedWhileMapped.store(0);
}
}  // namespace vmkint

using namespace vmkint;

/* ---- Per-thread caches ---------------------------------------------------- */

namespace {

struct ThreadCache {
  std::vector<PktBuffer*> buffers[kCachedPages * 2];  // by pages and range
  std::vector<vmk_PktHandle*> handles;
  bool dead = false;
  ~ThreadCache() {
    dead = true;
    for (auto& v : buffers)
      for (PktBuffer* b : v) freeBuffer(b);
    for (vmk_PktHandle* h : handles) delete h;
  }
  static void freeBuffer(PktBuffer* b) {
    if (!machineFree(b->ma)) releasedWhileMapped++;  // pages kept
    delete b;
  }
};
thread_local ThreadCache cache;

PktBuffer* takeBuffer(uint32_t bytes, bool below4GB) {
  uint32_t pages = std::max<uint32_t>(1, (bytes + VMK_PAGE_SIZE - 1) / VMK_PAGE_SIZE);
  if (pages <= kCachedPages && !cache.dead) {
    auto& v = cache.buffers[(pages - 1) * 2 + (below4GB ? 1 : 0)];
    if (!v.empty()) {
      PktBuffer* b = v.back();
      v.pop_back();
      b->refs.store(1, std::memory_order_relaxed);
      memset(b->desc, 0, sizeof(b->desc));
      return b;
    }
  }
  auto* b = new PktBuffer();
  if (!machineAlloc(pages, below4GB, &b->ma, &b->host)) {
    delete b;
    return nullptr;
  }
  b->pages = pages;
  b->below4GB = below4GB;
  b->refs.store(1, std::memory_order_relaxed);
  return b;
}

// Any page of the buffer still mapped for DMA.
bool anyPageMapped(const PktBuffer* b) {
  for (uint32_t i = 0; i < b->pages; i++)
    if (dmaRangeMapped(b->ma + (uint64_t)i * VMK_PAGE_SIZE, 1)) return true;
  return false;
}

void dropBuffer(PktBuffer* b) {
  if (b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  // A buffer still mapped for DMA is a driver fault: the device could still
  // write into it. Its pages are kept out of reuse.
  if (anyPageMapped(b)) {
    releasedWhileMapped++;
    delete b;  // the machine pages stay allocated
    return;
  }
  if (b->pages <= kCachedPages && !cache.dead) {
    auto& v = cache.buffers[(b->pages - 1) * 2 + (b->below4GB ? 1 : 0)];
    if (v.size() < kCacheDepth) {
      if (v.capacity() == 0) v.reserve(kCacheDepth);
      v.push_back(b);
      return;
    }
  }
  ThreadCache::freeBuffer(b);
}

vmk_PktHandle* takeHandle() {
  vmk_PktHandle* h;
  if (!cache.dead && !cache.handles.empty()) {
    h = cache.handles.back();
    cache.handles.pop_back();
    *h = vmk_PktHandle();
  } else {
    h = new vmk_PktHandle();
  }
  h->live = true;
  livePackets.add(1);
  return h;
}

void dropHandle(vmk_PktHandle* h) {
  h->live = false;
  livePackets.add(-1);
  if (!cache.dead && cache.handles.size() < kCacheDepth) {
    if (cache.handles.capacity() == 0) cache.handles.reserve(kCacheDepth);
    cache.handles.push_back(h);  // kept: a second release is still recognised
  } else {
    delete h;
  }
}

// A new packet over a fresh buffer of `headroom + room` bytes.
vmk_PktHandle* newPacket(uint32_t headroom, uint32_t room, bool below4GB) {
  PktBuffer* b = takeBuffer(headroom + room, below4GB);
  if (b == nullptr) return nullptr;
  vmk_PktHandle* p = takeHandle();
  p->buf = b;
  p->start = headroom;
  p->end = headroom + room;
  return p;
}

void copyMarks(vmk_PktHandle* to, const vmk_PktHandle* from) {
  to->csumVfd = from->csumVfd;
  to->mustVlanTag = from->mustVlanTag;
  to->mustCsum = from->mustCsum;
  to->tso = from->tso;
  to->mss = from->mss;
  to->vlanID = from->vlanID;
  to->priority = from->priority;
  to->queueID = from->queueID;
}

uint8_t* frame(vmk_PktHandle* p) { return p->buf->host + p->start; }

void release(vmk_PktHandle* pkt, const char* service) {
  if (pkt == nullptr) return;
  if (!pkt->live) {
    kernelRuleBroken(std::string(service) + ": packet released twice");
    return;
  }
  if (pkt->list != nullptr) {
    kernelRuleBroken(std::string(service) + ": packet released while on a list");
    return;
  }
  dropBuffer(pkt->buf);
  pkt->buf = nullptr;
  dropHandle(pkt);
}

}  // namespace


/* ---- Allocation and release ----------------------------------------------- */

VMK_ReturnStatus vmk_PktAllocForDMAEngine(vmk_ByteCount size, vmk_DMAEngine engine, vmk_PktHandle** pkt) {
  VMK_FAULT_RETURN("vmk_PktAllocForDMAEngine");
  if (engine == nullptr || pkt == nullptr || size == 0 || size > (1u << 20)) return VMK_BAD_PARAM;
  vmk_PktHandle* p = newPacket(0, (uint32_t)size, dmaEngineMask(engine) < VMK_ADDRESS_MASK_64BIT);
  if (p == nullptr) return VMK_NO_MEMORY;
  *pkt = p;
  return VMK_OK;
}

void vmk_PktRelease(vmk_PktHandle* pkt) {
  VMK_FAULT_POINT("vmk_PktRelease");
  (void)vmk_faultStatus_;
  if (panicContext.load(std::memory_order_relaxed)) {
    kernelRuleBroken("vmk_PktRelease in a panic context: use the panic-safe release");
    return;  // the packet stays with its owner
  }
  release(pkt, "vmk_PktRelease");
}

void vmk_PktReleasePanic(vmk_PktHandle* pkt) {
  VMK_FAULT_POINT("vmk_PktReleasePanic");
  (void)vmk_faultStatus_;
  release(pkt, "vmk_PktReleasePanic");
}

/* ---- Frame ----------------------------------------------------------------- */

vmk_uint32 vmk_PktFrameLenGet(const vmk_PktHandle* pkt) { return pkt->frameLen; }

VMK_ReturnStatus vmk_PktFrameLenSet(vmk_PktHandle* pkt, vmk_uint32 len) {
  VMK_FAULT_RETURN("vmk_PktFrameLenSet");
  if (pkt == nullptr || (uint64_t)pkt->start + len > pkt->buf->capacity()) return VMK_BAD_PARAM;
  pkt->frameLen = len;
  if (pkt->start + len > pkt->end) pkt->end = pkt->start + len;
  if (pkt->numSg != 0) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i < pkt->numSg; i++) sum += pkt->sgLen[i];
    if (sum < len) pkt->sgLen[pkt->numSg - 1] += len - sum;
  }
  return VMK_OK;
}

vmk_uint8* vmk_PktFrameMappedPointerGet(vmk_PktHandle* pkt) { return frame(pkt); }
vmk_uint32 vmk_PktHeadroomLenGet(const vmk_PktHandle* pkt) { return pkt->start; }

vmk_uint32 vmk_PktSgElemCount(const vmk_PktHandle* pkt) { return pkt->numSg == 0 ? 1 : pkt->numSg; }

VMK_ReturnStatus vmk_PktSgElemGet(const vmk_PktHandle* pkt, vmk_uint32 index, vmk_SgElem* elem) {
  VMK_FAULT_RETURN("vmk_PktSgElemGet");
  if (pkt == nullptr || elem == nullptr) return VMK_BAD_PARAM;
  if (index >= vmk_PktSgElemCount(pkt)) return VMK_NOT_FOUND;
  if (pkt->numSg == 0) {
    *elem = vmk_SgElem{pkt->buf->ma + pkt->start, pkt->end - pkt->start, 0};
    return VMK_OK;
  }
  uint32_t off = 0;
  for (uint32_t i = 0; i < index; i++) off += pkt->sgLen[i];
  *elem = vmk_SgElem{pkt->buf->ma + pkt->start + off, pkt->sgLen[index], 0};
  return VMK_OK;
}

/* ---- Buffer descriptor and marks ------------------------------------------ */

vmk_Bool vmk_PktIsBufDescWritable(const vmk_PktHandle* pkt) {
  return pkt->buf->refs.load(std::memory_order_acquire) == 1;
}

VMK_ReturnStatus vmk_PktBufDescWordGet(const vmk_PktHandle* pkt, vmk_uint32 index, vmk_uint32* word) {
  VMK_FAULT_RETURN("vmk_PktBufDescWordGet");
  if (pkt == nullptr || word == nullptr || index >= VMK_PKT_BUFDESC_WORDS) return VMK_BAD_PARAM;
  *word = pkt->buf->desc[index];
  return VMK_OK;
}

VMK_ReturnStatus vmk_PktBufDescWordSet(vmk_PktHandle* pkt, vmk_uint32 index, vmk_uint32 word) {
  VMK_FAULT_RETURN("vmk_PktBufDescWordSet");
  if (pkt == nullptr || index >= VMK_PKT_BUFDESC_WORDS) return VMK_BAD_PARAM;
  if (!vmk_PktIsBufDescWritable(pkt)) return VMK_FAILURE;
  pkt->buf->desc[index] = word;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PktVlanIDSet(vmk_PktHandle* pkt, vmk_uint16 vlanID) {
  VMK_FAULT_RETURN("vmk_PktVlanIDSet");
  if (pkt == nullptr || vlanID > 4095) return VMK_BAD_PARAM;
  pkt->vlanID = vlanID;
  return VMK_OK;
}
vmk_uint16 vmk_PktVlanIDGet(const vmk_PktHandle* pkt) { return pkt->vlanID; }

VMK_ReturnStatus vmk_PktPrioritySet(vmk_PktHandle* pkt, vmk_uint8 priority) {
  VMK_FAULT_RETURN("vmk_PktPrioritySet");
  if (pkt == nullptr || priority > 7) return VMK_BAD_PARAM;
  pkt->priority = priority;
  return VMK_OK;
}
vmk_uint8 vmk_PktPriorityGet(const vmk_PktHandle* pkt) { return pkt->priority; }

vmk_Bool vmk_PktMustVlanTag(const vmk_PktHandle* pkt) { return pkt->mustVlanTag; }
vmk_Bool vmk_PktIsMustCsum(const vmk_PktHandle* pkt) { return pkt->mustCsum; }
void vmk_PktSetCsumVfd(vmk_PktHandle* pkt) { pkt->csumVfd = true; }
vmk_Bool vmk_PktIsCsumVfd(const vmk_PktHandle* pkt) { return pkt->csumVfd; }

vmk_Bool vmk_PktIsLargeTcpPacket(const vmk_PktHandle* pkt) { return pkt->tso; }
VMK_ReturnStatus vmk_PktSetLargeTcpPacket(vmk_PktHandle* pkt, vmk_uint32 mss) {
  VMK_FAULT_RETURN("vmk_PktSetLargeTcpPacket");
  if (pkt == nullptr) return VMK_BAD_PARAM;
  pkt->tso = true;
  pkt->mss = mss;
  return VMK_OK;
}
vmk_uint32 vmk_PktGetLargeTcpPacketMss(const vmk_PktHandle* pkt) { return pkt->mss; }

vmk_uint32 vmk_PktQueueIDGet(const vmk_PktHandle* pkt) { return pkt->queueID; }
void vmk_PktQueueIDSet(vmk_PktHandle* pkt, vmk_uint32 queueID) { pkt->queueID = queueID; }

/* ---- Copies ----------------------------------------------------------------- */

namespace {
// A packet of its own buffer holding the first `len` frame bytes of `pkt`,
// `headroom` before them and `tailroom` zero bytes after them.
VMK_ReturnStatus copyOf(vmk_PktHandle* pkt, uint32_t len, uint32_t headroom, uint32_t tailroom,
                        vmk_PktHandle** out) {
  if (pkt == nullptr || out == nullptr || len > pkt->frameLen || headroom > 65536 || tailroom > 65536)
    return VMK_BAD_PARAM;
  vmk_PktHandle* c = newPacket(headroom, len + tailroom, pkt->buf->below4GB);
  if (c == nullptr) return VMK_NO_MEMORY;
  memcpy(frame(c), frame(pkt), len);
  memset(frame(c) + len, 0, tailroom);
  c->frameLen = len;
  copyMarks(c, pkt);
  *out = c;
  return VMK_OK;
}
}  // namespace

VMK_ReturnStatus vmk_PktPartialCopy(vmk_PktHandle* pkt, vmk_uint32 numBytes, vmk_PktHandle** copy) {
  VMK_FAULT_RETURN("vmk_PktPartialCopy");
  if (pkt == nullptr || numBytes > pkt->frameLen) return VMK_BAD_PARAM;
  return copyOf(pkt, pkt->frameLen, 0, 0, copy);
}

VMK_ReturnStatus vmk_PktPartialCopyWithHeadroom(vmk_PktHandle* pkt, vmk_uint32 numBytes, vmk_uint32 headroom,
                                                vmk_PktHandle** copy) {
  VMK_FAULT_RETURN("vmk_PktPartialCopyWithHeadroom");
  if (pkt == nullptr || numBytes > pkt->frameLen) return VMK_BAD_PARAM;
  return copyOf(pkt, pkt->frameLen, headroom, 0, copy);
}

VMK_ReturnStatus vmk_PktDupLenWithHeadroomAndTailroom(vmk_PktHandle* pkt, vmk_uint32 len, vmk_uint32 headroom,
                                                      vmk_uint32 tailroom, vmk_PktHandle** dup) {
  VMK_FAULT_RETURN("vmk_PktDupLenWithHeadroomAndTailroom");
  return copyOf(pkt, len, headroom, tailroom, dup);
}

VMK_ReturnStatus vmk_PktClone(vmk_PktHandle* pkt, vmk_PktHandle** clone) {
  VMK_FAULT_RETURN("vmk_PktClone");
  if (pkt == nullptr || clone == nullptr) return VMK_BAD_PARAM;
  vmk_PktHandle* c = takeHandle();
  pkt->buf->refs.fetch_add(1, std::memory_order_acq_rel);
  c->buf = pkt->buf;
  c->start = pkt->start;
  c->end = pkt->end;
  c->frameLen = pkt->frameLen;
  c->numSg = pkt->numSg;
  memcpy(c->sgLen, pkt->sgLen, sizeof(c->sgLen));
  copyMarks(c, pkt);
  *clone = c;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PktPullHeadroom(vmk_PktHandle* pkt, vmk_uint32 len) {
  VMK_FAULT_RETURN("vmk_PktPullHeadroom");
  if (pkt == nullptr) return VMK_BAD_PARAM;
  if (len > pkt->start || !vmk_PktIsBufDescWritable(pkt)) return VMK_FAILURE;
  pkt->start -= len;
  pkt->frameLen += len;
  if (pkt->numSg != 0) pkt->sgLen[0] += len;
  return VMK_OK;
}

/* ---- Lists ------------------------------------------------------------------ */

void vmk_PktListInit(vmk_PktList* list) { *list = vmk_PktList{nullptr, nullptr, 0}; }
vmk_uint32 vmk_PktListGetCount(const vmk_PktList* list) { return list->count; }
vmk_Bool vmk_PktListIsEmpty(const vmk_PktList* list) { return list->count == 0; }
vmk_PktHandle* vmk_PktListGetFirstPkt(const vmk_PktList* list) { return list->first; }

vmk_PktHandle* vmk_PktListGetNextPkt(const vmk_PktList* list, const vmk_PktHandle* pkt) {
  return pkt != nullptr && pkt->list == list ? pkt->next : nullptr;
}

vmk_PktHandle* vmk_PktListPopFirstPkt(vmk_PktList* list) {
  vmk_PktHandle* p = list->first;
  if (p == nullptr) return nullptr;
  list->first = p->next;
  if (list->first == nullptr) list->last = nullptr;
  list->count--;
  p->next = nullptr;
  p->list = nullptr;
  return p;
}

VMK_ReturnStatus vmk_PktListAppendPkt(vmk_PktList* list, vmk_PktHandle* pkt) {
  VMK_FAULT_RETURN("vmk_PktListAppendPkt");
  if (list == nullptr || pkt == nullptr) return VMK_BAD_PARAM;
  if (pkt->list != nullptr) return VMK_EXISTS;
  pkt->next = nullptr;
  pkt->list = list;
  if (list->last) list->last->next = pkt;
  else list->first = pkt;
  list->last = pkt;
  list->count++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PktListPrependPkt(vmk_PktList* list, vmk_PktHandle* pkt) {
  VMK_FAULT_RETURN("vmk_PktListPrependPkt");
  if (list == nullptr || pkt == nullptr) return VMK_BAD_PARAM;
  if (pkt->list != nullptr) return VMK_EXISTS;
  pkt->list = list;
  pkt->next = list->first;
  list->first = pkt;
  if (list->last == nullptr) list->last = pkt;
  list->count++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_PktListInsertPktAfter(vmk_PktList* list, vmk_PktHandle* after, vmk_PktHandle* pkt) {
  VMK_FAULT_RETURN("vmk_PktListInsertPktAfter");
  if (list == nullptr || after == nullptr || pkt == nullptr) return VMK_BAD_PARAM;
  if (after->list != list) return VMK_NOT_FOUND;
  if (pkt->list != nullptr) return VMK_EXISTS;
  pkt->list = list;
  pkt->next = after->next;
  after->next = pkt;
  if (list->last == after) list->last = pkt;
  list->count++;
  return VMK_OK;
}

void vmk_PktListAppendList(vmk_PktList* dst, vmk_PktList* src) {
  if (dst == src || src->count == 0) return;
  for (vmk_PktHandle* p = src->first; p != nullptr; p = p->next) p->list = dst;
  if (dst->last) dst->last->next = src->first;
  else dst->first = src->first;
  dst->last = src->last;
  dst->count += src->count;
  vmk_PktListInit(src);
}

void vmk_PktListReleaseAllPkts(vmk_PktList* list) {
  while (vmk_PktHandle* p = vmk_PktListPopFirstPkt(list)) vmk_PktRelease(p);
}

void vmk_PktListReleaseAllPktsPanic(vmk_PktList* list) {
  while (vmk_PktHandle* p = vmk_PktListPopFirstPkt(list)) vmk_PktReleasePanic(p);
}

/* ---- Header chain ----------------------------------------------------------- */

namespace {

uint16_t be16(const uint8_t* p) { return (uint16_t)(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
void put16(uint8_t* p, uint16_t v) {
  p[0] = (uint8_t)(v >> 8);
  p[1] = (uint8_t)v;
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, (uint16_t)(v >> 16));
  put16(p + 2, (uint16_t)v);
}

constexpr uint16_t kEtherIPv4 = 0x0800, kEtherIPv6 = 0x86DD, kEtherVlan = 0x8100, kEtherQinQ = 0x88A8;
constexpr uint16_t kDefaultVxlanPort = 4789;

struct Parser {
  vmk_PktHandle* p;
  const uint8_t* f;
  uint32_t len;
  bool add(Layer layer, uint16_t type, uint32_t off, uint32_t hlen, uint16_t next) {
    if (p->numHdr == kMaxHeaders) return false;
    p->hdr[p->numHdr] = vmk_PktHeaderEntry{type, next, off, hlen};
    p->layer[p->numHdr] = layer;
    p->numHdr++;
    return true;
  }
  bool fits(uint32_t off, uint32_t n, Layer layer) {
    if (off + n <= len) return true;
    p->cutAt = layer;
    return false;
  }

  // A link header at `off`; returns the L3 type that follows.
  bool l2(uint32_t off, Layer layer, uint16_t* next, uint32_t* l3off) {
    if (!fits(off, 14, layer)) return false;
    uint32_t h = 12;
    uint16_t et = be16(f + off + h);
    bool tagged = false;
    while (et == kEtherVlan || et == kEtherQinQ) {
      if (!fits(off, h + 6, layer)) return false;
      tagged = true;
      h += 4;
      et = be16(f + off + h);
    }
    h += 2;
    uint16_t type = tagged ? VMK_PKT_HEADER_L2_ETHERNET_VLAN : VMK_PKT_HEADER_L2_ETHERNET;
    if (et < 0x600) {  // a length: LLC, maybe with a SNAP header naming the type
      type = tagged ? VMK_PKT_HEADER_L2_ETHERNET_802_3_VLAN : VMK_PKT_HEADER_L2_ETHERNET_802_3;
      if (!fits(off, h + 3, layer)) return false;
      const uint8_t* llc = f + off + h;
      if (llc[0] == 0xAA && llc[1] == 0xAA && llc[2] == 0x03) {
        if (!fits(off, h + 8, layer)) return false;
        et = be16(llc + 6);
        h += 8;
      } else {
        et = 0;
        h += 3;
      }
    }
    *next = et == kEtherIPv4 ? VMK_PKT_HEADER_L3_IPv4 : et == kEtherIPv6 ? VMK_PKT_HEADER_L3_IPv6 : VMK_PKT_HEADER_NONE;
    *l3off = off + h;
    return add(layer, type, off, h, *next);
  }

  // An L3 header and the IPv6 extension headers behind it; the L4 protocol
  // and offset when there is one to parse.
  bool l3(uint32_t off, uint16_t type, Layer layer, uint8_t* proto, uint32_t* l4off) {
    if (type == VMK_PKT_HEADER_L3_IPv4) {
      if (!fits(off, 20, layer)) return false;
      uint32_t ihl = (f[off] & 0xF) * 4u;
      if ((f[off] >> 4) != 4 || ihl < 20) return false;
      if (!fits(off, ihl, layer)) return false;
      *proto = f[off + 9];
      if (!add(layer, type, off, ihl, *proto)) return false;
      *l4off = off + ihl;
      return (be16(f + off + 6) & 0x1FFF) == 0;  // later fragments carry no L4 header
    }
    if (type != VMK_PKT_HEADER_L3_IPv6) return false;
    if (!fits(off, 40, layer)) return false;
    if ((f[off] >> 4) != 6) return false;
    uint8_t next = f[off + 6];
    if (!add(layer, type, off, 40, next)) return false;
    off += 40;
    for (;;) {
      uint32_t h;
      if (next == 0 || next == 43 || next == 60 || next == 135) {
        if (!fits(off, 2, layer)) return false;
        h = (f[off + 1] + 1u) * 8;
      } else if (next == 44) {
        h = 8;
      } else if (next == 51) {
        if (!fits(off, 2, layer)) return false;
        h = (f[off + 1] + 2u) * 4;
      } else {
        break;
      }
      if (!fits(off, h, layer)) return false;
      uint8_t after = f[off];
      if (!add(layer, next, off, h, after)) return false;
      if (next == 44 && (be16(f + off + 2) & 0xFFF8) != 0) return false;  // a later fragment
      next = after;
      off += h;
    }
    *proto = next;
    *l4off = off;
    return true;
  }

  // An L4 header; true with the inner link header's offset when it is the
  // UDP header of a VXLAN frame.
  bool l4(uint32_t off, uint8_t proto, Layer layer, bool outer, uint32_t* innerOff) {
    if (proto == VMK_PKT_HEADER_L4_TCP) {
      if (!fits(off, 20, layer)) return false;
      uint32_t h = (f[off + 12] >> 4) * 4u;
      if (h < 20 || !fits(off, h, layer)) return false;
      add(layer, proto, off, h, VMK_PKT_HEADER_NONE);
      return false;
    }
    if (proto == VMK_PKT_HEADER_L4_UDP) {
      if (!fits(off, 8, layer)) return false;
      uint16_t port = vmk_UplinkVXLANPortNBOGet();
      port = (uint16_t)(port >> 8 | port << 8);
      if (port == 0) port = kDefaultVxlanPort;
      bool vxlan = outer && be16(f + off + 2) == port;
      if (!add(layer, proto, off, 8, vxlan ? VMK_PKT_HEADER_ENCAP_VXLAN : VMK_PKT_HEADER_NONE)) return false;
      if (!vxlan) return false;
      if (!fits(off + 8, 8, kEncap)) return false;
      if (!add(kEncap, VMK_PKT_HEADER_ENCAP_VXLAN, off + 8, 8, VMK_PKT_HEADER_L2_ETHERNET)) return false;
      *innerOff = off + 16;
      return true;
    }
    if (proto == 1 || proto == VMK_PKT_HEADER_L4_ICMPv6) {
      if (fits(off, 4, layer)) add(layer, proto, off, 4, VMK_PKT_HEADER_NONE);
    }
    return false;
  }

  void run() {
    p->numHdr = 0;
    p->cutAt = kNoLayer;
    uint32_t off = 0;
    for (int pass = 0; pass < 2; pass++) {
      bool outer = pass == 0;
      uint16_t l3type;
      uint32_t l3off, l4off, inner;
      uint8_t proto;
      if (!l2(off, outer ? kL2 : kInL2, &l3type, &l3off)) return;
      if (l3type == VMK_PKT_HEADER_NONE) return;
      if (!l3(l3off, l3type, outer ? kL3 : kInL3, &proto, &l4off)) return;
      if (!l4(l4off, proto, outer ? kL4 : kInL4, outer, &inner)) return;
      off = inner;
    }
  }
};

void parse(vmk_PktHandle* pkt) {
  if (pkt->parsed) return;
  Parser{pkt, frame(pkt), pkt->frameLen}.run();
  pkt->parsed = true;
}

VMK_ReturnStatus find(vmk_PktHandle* pkt, Layer layer, uint32_t maxOffset, vmk_PktHeaderEntry* entry,
                      vmk_uint32* index) {
  if (pkt == nullptr || entry == nullptr) return VMK_BAD_PARAM;
  parse(pkt);
  for (uint32_t i = 0; i < pkt->numHdr; i++) {
    if (pkt->layer[i] != layer) continue;
    const vmk_PktHeaderEntry& e = pkt->hdr[i];
    if (maxOffset != 0 && e.offset + e.length > maxOffset) return VMK_HEADER_BEYOND_LIMIT;
    *entry = e;
    if (index) *index = i;
    return VMK_OK;
  }
  // A chain cut off by the frame end says nothing about the layers after it.
  return pkt->cutAt <= layer ? VMK_HEADER_BEYOND_LIMIT : VMK_NOT_FOUND;
}

}  // namespace

// One look-up per layer, each its own service (and fault point).
#define VMK_PKT_HEADER_FIND(service, layer)                                                             \
  VMK_ReturnStatus service(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,        \
                           vmk_uint32* index) {                                                         \
    VMK_FAULT_RETURN(#service);                                                                         \
    return find(pkt, layer, maxOffset, entry, index);                                                   \
  }
VMK_PKT_HEADER_FIND(vmk_PktHeaderL2Find, kL2)
VMK_PKT_HEADER_FIND(vmk_PktHeaderL3Find, kL3)
VMK_PKT_HEADER_FIND(vmk_PktHeaderL4Find, kL4)
VMK_PKT_HEADER_FIND(vmk_PktHeaderEncapFind, kEncap)
VMK_PKT_HEADER_FIND(vmk_PktHeaderEncapL3Find, kInL3)
VMK_PKT_HEADER_FIND(vmk_PktHeaderEncapL4Find, kInL4)
#undef VMK_PKT_HEADER_FIND

VMK_ReturnStatus vmk_PktHeaderEntryGet(vmk_PktHandle* pkt, vmk_uint32 index, vmk_PktHeaderEntry* entry) {
  VMK_FAULT_RETURN("vmk_PktHeaderEntryGet");
  if (pkt == nullptr || entry == nullptr) return VMK_BAD_PARAM;
  parse(pkt);
  if (index >= pkt->numHdr) return VMK_NOT_FOUND;
  *entry = pkt->hdr[index];
  return VMK_OK;
}

vmk_uint32 vmk_PktHeaderCountGet(vmk_PktHandle* pkt) {
  parse(pkt);
  return pkt->numHdr;
}

VMK_ReturnStatus vmk_PktHeaderDataGet(vmk_PktHandle* pkt, const vmk_PktHeaderEntry* entry, void** data) {
  VMK_FAULT_RETURN("vmk_PktHeaderDataGet");
  if (pkt == nullptr || entry == nullptr || data == nullptr) return VMK_BAD_PARAM;
  if ((uint64_t)entry->offset + entry->length > pkt->frameLen) return VMK_HEADER_BEYOND_LIMIT;
  *data = frame(pkt) + entry->offset;
  return VMK_OK;
}

void vmk_PktHeaderInvalidate(vmk_PktHandle* pkt, vmk_uint32 index) {
  // The whole chain is parsed again: the headers before `index` come out the
  // same, as the caller promised they did not change.
  (void)index;
  pkt->parsed = false;
}

/* ---- Software TCP segmentation ---------------------------------------------- */

namespace {

// One's complement sum of 16-bit big-endian words (an odd last byte is padded).
uint32_t sum16(const uint8_t* p, size_t n, uint32_t acc = 0) {
  for (size_t i = 0; i + 1 < n; i += 2) acc += be16(p + i);
  if (n & 1) acc += (uint32_t)p[n - 1] << 8;
  return acc;
}
uint16_t fold(uint32_t acc) {
  while (acc >> 16) acc = (acc & 0xFFFF) + (acc >> 16);
  return (uint16_t)~acc;
}

}  // namespace

VMK_ReturnStatus vmk_PktTcpSegmentation(vmk_PktHandle* pkt, vmk_uint32 maxPayload, vmk_PktList* out) {
  VMK_FAULT_RETURN("vmk_PktTcpSegmentation");
  if (pkt == nullptr || out == nullptr) return VMK_BAD_PARAM;
  if (maxPayload == 0) maxPayload = pkt->mss;
  if (maxPayload == 0) return VMK_BAD_PARAM;
  vmk_PktHeaderEntry l3, l4, encap;
  if (find(pkt, kEncap, 0, &encap, nullptr) == VMK_OK) return VMK_NOT_SUPPORTED;
  if (find(pkt, kL3, 0, &l3, nullptr) != VMK_OK || find(pkt, kL4, 0, &l4, nullptr) != VMK_OK ||
      l4.type != VMK_PKT_HEADER_L4_TCP)
    return VMK_BAD_PARAM;
  bool v4 = l3.type == VMK_PKT_HEADER_L3_IPv4;
  if (!v4 && l3.nextHdrType != VMK_PKT_HEADER_L4_TCP) return VMK_NOT_SUPPORTED;  // extension headers
  const uint8_t* f = frame(pkt);
  uint32_t hdrLen = l4.offset + l4.length;
  // The payload ends where L3 says (a frame may carry trailing pad), unless
  // the packet is too large for the L3 length field: then at the frame end.
  uint32_t l3End = pkt->frameLen;
  if (pkt->frameLen - l3.offset <= 0xFFFF)
    l3End = v4 ? l3.offset + be16(f + l3.offset + 2) : l3.offset + 40 + be16(f + l3.offset + 4);
  if (l3End > pkt->frameLen || l3End < hdrLen) return VMK_BAD_PARAM;
  uint32_t payload = l3End - hdrLen;
  uint32_t pieces = payload == 0 ? 1 : (payload + maxPayload - 1) / maxPayload;
  uint16_t ipID = v4 ? be16(f + l3.offset + 4) : 0;
  uint32_t seq = be32(f + l4.offset + 4);
  uint8_t flags = f[l4.offset + 13];

  vmk_PktList made;
  vmk_PktListInit(&made);
  for (uint32_t i = 0; i < pieces; i++) {
    uint32_t at = i * maxPayload;
    uint32_t n = std::min(maxPayload, payload - at);
    vmk_PktHandle* s = newPacket(0, hdrLen + n, pkt->buf->below4GB);
    if (s == nullptr) {
      vmk_PktListReleaseAllPkts(&made);
      return VMK_NO_MEMORY;
    }
    uint8_t* d = frame(s);
    memcpy(d, f, hdrLen);
    memcpy(d + hdrLen, f + hdrLen + at, n);
    s->frameLen = hdrLen + n;
    copyMarks(s, pkt);
    s->tso = false;
    s->mss = 0;
    s->mustCsum = false;  // the checksums are filled in here
    uint8_t* ip = d + l3.offset;
    uint8_t* tcp = d + l4.offset;
    uint32_t tcpLen = l4.length + n;
    uint32_t pseudo;
    if (v4) {
      put16(ip + 2, (uint16_t)(l3.length + tcpLen));
      put16(ip + 4, (uint16_t)(ipID + i));
      put16(ip + 10, 0);
      put16(ip + 10, fold(sum16(ip, l3.length)));
      pseudo = sum16(ip + 12, 8) + VMK_PKT_HEADER_L4_TCP + tcpLen;
    } else {
      put16(ip + 4, (uint16_t)tcpLen);
      pseudo = sum16(ip + 8, 32) + VMK_PKT_HEADER_L4_TCP + tcpLen;
    }
    put32(tcp + 4, seq + at);
    uint8_t fl = flags;
    if (i + 1 < pieces) fl &= (uint8_t)~0x09;  // FIN and PSH only on the last piece
    if (i > 0) fl &= (uint8_t)~0x80;           // CWR only on the first
    tcp[13] = fl;
    put16(tcp + 16, 0);
    put16(tcp + 16, fold(sum16(tcp, tcpLen, pseudo)));
    vmk_PktListAppendPkt(&made, s);
  }
  vmk_PktListAppendList(out, &made);
  return VMK_OK;
}

/* ---- Test controls ------------------------------------------------------------ */

namespace vmktest {

vmk_PktHandle* pktMake(const std::vector<uint8_t>& bytes, uint32_t headroom, bool below4GB) {
  vmk_PktHandle* p = newPacket(headroom, (uint32_t)std::max<size_t>(bytes.size(), 1), below4GB);
  if (p == nullptr) return nullptr;
  memcpy(frame(p), bytes.data(), bytes.size());
  p->frameLen = (uint32_t)bytes.size();
  return p;
}

std::vector<uint8_t> pktBytes(vmk_PktHandle* pkt) {
  return std::vector<uint8_t>(frame(pkt), frame(pkt) + pkt->frameLen);
}

void pktSetMustVlanTag(vmk_PktHandle* pkt, bool must) { pkt->mustVlanTag = must; }
void pktSetMustCsum(vmk_PktHandle* pkt, bool must) { pkt->mustCsum = must; }

bool pktSetSgLayout(vmk_PktHandle* pkt, const std::vector<uint32_t>& lengths) {
  if (lengths.empty() || lengths.size() > kMaxSg) return false;
  uint64_t sum = 0;
  for (uint32_t l : lengths) {
    if (l == 0) return false;
    sum += l;
  }
  if (pkt->start + sum > pkt->buf->capacity()) return false;
  std::copy(lengths.begin(), lengths.end(), pkt->sgLen);
  pkt->numSg = (uint32_t)lengths.size();
  return true;
}

PktFaults pktFaults() { return PktFaults{releasedWhileMapped.load()}; }

void setPanicContext(bool on) { panicContext.store(on); }

}  // namespace vmktest
