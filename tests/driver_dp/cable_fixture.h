// Fixture of the tests that join two emulated ports by a cable and drive
// each through its uplink as the network stack does.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "dp_fixture.h"
#include "frames.h"

namespace cabletest {

using netframes::Bytes;

struct End {
  adapter::Adapter* card = nullptr;
  vmk_Device dev = nullptr, child = nullptr;
  Adapter* a = nullptr;
  vmk_Uplink uplink = nullptr;
  vmk_AddrCookie cookie{};
  const vmk_UplinkOps& ops() const { return regDataOf(child)->ops; }
  netframes::Mac mac() const {
    netframes::Mac m;
    std::copy(a->uplink_reg.perm_mac, a->uplink_reg.perm_mac + 6, m.begin());
    return m;
  }
};

// What the stack asks of one transmitted frame.
struct Send {
  const char* what;
  netframes::Spec spec;
  bool csum = true;            // the device fills the checksums
  uint32_t mss = 0;            // TSO
  int vlan = -1;               // the device inserts this tag
};

class CableTest : public BringupTest {
 protected:
  void join(adapter::Gen g) {
    for (int i = 0; i < 2; ++i) {
      End& e = ends_[i];
      e.card = &newCard(g);
      e.dev = plug(*e.card);
      ASSERT_EQ(VMK_OK, vmktest::attachDevice(e.dev));
      ASSERT_EQ(VMK_OK, vmktest::scanDevice(e.dev));
      e.a = adapterOf(e.dev);
      ASSERT_NE(nullptr, e.a);
      e.child = vmktest::childDevices(e.dev).at(0);
      ASSERT_EQ(VMK_OK, vmktest::uplinkAssociate(regDataOf(e.child), i == 0 ? "vmnic1" : "vmnic2", &e.uplink));
      e.cookie.ptr = e.a;
    }
    adapter::Adapter::connectCable(*ends_[0].card, 0, *ends_[1].card, 0);
    startBoth();
  }
  void startBoth() {
    for (End& e : ends_) ASSERT_EQ(VMK_OK, e.ops().uplinkStartIO(e.cookie));
    // Each adapter serves doorbells on its own thread: frames the sender's
    // device puts on the cable before the receiver's device has taken the
    // buffers just posted would be dropped for want of a buffer.
    for (End& e : ends_) ASSERT_TRUE(waitPosted(e, 64, true)) << "the device never took the first buffers";
  }
  // Buffers the device holds posted: on the ring with the fewest (`every`)
  // or the most.
  static unsigned posted(End& e, bool every) {
    unsigned least = ~0u, most = 0;
    for (vmk_uint32 i = 0; i < e.a->num_vectors && i < TAMSIL_MAX_VECTORS; ++i) {
      if (!e.a->rxo[i].rxq.created) continue;
      const unsigned n = e.card->rxPosted(0, e.a->rxo[i].rxq.id);
      least = std::min(least, n);
      most = std::max(most, n);
    }
    return every ? (most == 0 ? 0 : least) : most;
  }
  // Waits (real time, up to 5 s) until posted(e, every) reaches `n`.
  static bool waitPosted(End& e, unsigned n, bool every) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (posted(e, every) < n) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  void quiesceBoth() {
    for (End& e : ends_) ASSERT_EQ(VMK_OK, e.ops().uplinkQuiesceIO(e.cookie));
    vmktest::netPollDrain();
  }
  void TearDown() override {
    for (End& e : ends_) {
      if (e.uplink == nullptr) continue;
      // As the kernel does: whatever the driver is doing (a reset it
      // started waits the quiesce out).
      e.ops().uplinkQuiesceIO(e.cookie);
      vmktest::netPollDrain();
      vmktest::uplinkDisassociate(regDataOf(e.child), e.uplink);
      vmktest::removeDevice(e.child);
      e.uplink = nullptr;
    }
    BringupTest::TearDown();
  }

  // Hands the frames to the sender's default transmit queue.
  void transmit(End& from, const std::vector<Send>& sends, const netframes::Mac& dst) {
    vmk_PktList list;
    vmk_PktListInit(&list);
    for (const Send& s : sends) {
      netframes::Spec spec = s.spec;
      spec.dst = dst;
      spec.src = from.mac();
      Bytes f = netframes::build(spec);
      if (s.csum) zeroChecksums(f);
      vmk_PktHandle* p = vmktest::pktMake(f);
      ASSERT_NE(nullptr, p);
      vmktest::pktSetMustCsum(p, s.csum);
      if (s.mss != 0) {
        ASSERT_EQ(VMK_OK, vmk_PktSetLargeTcpPacket(p, s.mss));
      }
      if (s.vlan >= 0) {
        vmktest::pktSetMustVlanTag(p, true);
        ASSERT_EQ(VMK_OK, vmk_PktVlanIDSet(p, static_cast<vmk_uint16>(s.vlan & 0xFFF)));
        ASSERT_EQ(VMK_OK, vmk_PktPrioritySet(p, static_cast<vmk_uint8>(s.vlan >> 13)));
      }
      vmk_PktQueueIDSet(p, from.a->queue_info.maxRxQueues);   // default transmit queue
      ASSERT_EQ(VMK_OK, vmk_PktListAppendPkt(&list, p));
    }
    ASSERT_EQ(VMK_OK, from.ops().uplinkTx(from.cookie, &list));
  }

  // The stack's transmit to `queue` of the sender, for a sender that may be
  // resetting meanwhile: what a busy driver leaves with the stack is dropped
  // here. The addresses are the caller's (a resetting end rewrites its own).
  static VMK_ReturnStatus offer(End& from, vmk_uint32 queue, const netframes::Mac& src, const netframes::Mac& dst,
                                const std::vector<Send>& sends) {
    vmk_PktList list;
    vmk_PktListInit(&list);
    for (const Send& s : sends) {
      netframes::Spec spec = s.spec;
      spec.dst = dst;
      spec.src = src;
      Bytes f = netframes::build(spec);
      if (s.csum) zeroChecksums(f);
      vmk_PktHandle* p = vmktest::pktMake(f);
      if (p == nullptr) continue;
      vmktest::pktSetMustCsum(p, s.csum);
      vmk_PktQueueIDSet(p, queue);
      vmk_PktListAppendPkt(&list, p);
    }
    const VMK_ReturnStatus st = from.ops().uplinkTx(from.cookie, &list);
    vmk_PktListReleaseAllPkts(&list);
    return st;
  }

  // Frames the receiver's NetPolls handed to the stack, until `n` arrived
  // or a (real) second passed without a new one.
  std::vector<Bytes> receive(End& at, size_t n, std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    std::vector<Bytes> got;
    auto last = std::chrono::steady_clock::now();
    while (got.size() < n && std::chrono::steady_clock::now() - last < quiet) {
      bool any = false;
      for (vmk_uint32 v = 0; v < TAMSIL_MAX_VECTORS; ++v) {
        if (at.a->netpoll[v].netpoll == nullptr) continue;
        for (vmk_PktHandle* p : vmktest::netPollTakeRx(at.a->netpoll[v].netpoll)) {
          got.push_back(vmktest::pktBytes(p));
          vlans_.push_back(vmk_PktMustVlanTag(p) ? vmk_PktVlanIDGet(p) : -1);
          csum_marked_ += vmk_PktIsCsumVfd(p) ? 1 : 0;
          vmk_PktRelease(p);
          any = true;
        }
      }
      if (any) last = std::chrono::steady_clock::now();
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return got;
  }

  // Frames ending in each of `payloads` that reach `at`, taken until every
  // one came or `quiet` (real time) passed without one of them; frames a
  // stream left behind are taken and passed over.
  size_t receiveEach(End& at, const std::vector<Bytes>& payloads,
                     std::chrono::milliseconds quiet = std::chrono::seconds(5)) {
    std::vector<bool> seen(payloads.size(), false);
    size_t found = 0;
    auto last = std::chrono::steady_clock::now();
    while (found < payloads.size() && std::chrono::steady_clock::now() - last < quiet) {
      for (const Bytes& f : receive(at, ~size_t{0}, std::chrono::milliseconds(10)))
        for (size_t i = 0; i < payloads.size(); ++i) {
          const Bytes& p = payloads[i];
          if (seen[i] || f.size() < p.size() || !std::equal(p.begin(), p.end(), f.end() - static_cast<long>(p.size())))
            continue;
          seen[i] = true;
          ++found;
          last = std::chrono::steady_clock::now();
          break;
        }
    }
    return found;
  }

  static void zeroChecksums(Bytes& f) {
    const netframes::Parsed p = netframes::parse(f, 0, false);
    if (!p.ok) return;
    if (!p.ipv6) f[p.l3 + 10] = f[p.l3 + 11] = 0;
    const size_t at = p.l4 + (p.proto == 6 ? 16 : 6);
    f[at] = f[at + 1] = 0;
  }

  // The default transmit queue of an end: the one after its receive queues.
  static vmk_uint32 defaultTxQueue(End& e) { return e.a->queue_info.maxRxQueues; }

  // UDP frames from one end to the other on a thread of their own until
  // stopStreams(), as the stack sends them while either end resets. A
  // resetting end rewrites its records: what the frames need is taken now.
  void startStream(End& from, End& to) {
    stop_ = false;
    const netframes::Mac src = from.mac(), dst = to.mac();
    const vmk_uint32 queue = defaultTxQueue(from);
    streams_.emplace_back([this, &from, src, dst, queue] {
      uint8_t tag = 0;
      while (!stop_) {
        std::vector<Send> sends;
        for (int i = 0; i < 4; ++i) {
          Send s{"udp", {}, true, 0, -1};
          s.spec.proto = 17;
          s.spec.payload = netframes::pattern(300, tag++);
          sends.push_back(s);
        }
        offer(from, queue, src, dst, sends);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  void stopStreams() {
    stop_ = true;
    for (std::thread& t : streams_) t.join();
    streams_.clear();
  }

  End ends_[2];
  std::vector<int> vlans_;
  unsigned csum_marked_ = 0;
  std::atomic<bool> stop_{false};
  std::vector<std::thread> streams_;
};

}  // namespace cabletest
