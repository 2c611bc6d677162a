// The demo's traffic step: for each generation two emulated adapters whose
// first ports are joined by a cable, each attached and started as an uplink;
// a mix of frames goes one way and comes back the other, and what arrived is
// checked against what was sent.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "adapter.h"
#include "frames.h"
#include "tamsil_demo_ports.h"
#include "tamsil.h"
#include "tamsil_bringup.h"
#include "vmk_pkt_testing.h"
#include "vmk_testing.h"
#include "vmk_uplink_testing.h"

namespace {

using netframes::Bytes;

struct Kind {
  const char* name;
  size_t payload;
  bool v6;
  uint8_t proto;
  uint32_t mss;   // TSO when not 0
  int vlan;       // tag the device inserts, -1 none
  bool vxlan;
};

struct Tally {
  unsigned sent = 0, segments = 0, received = 0, good_csums = 0;
  uint64_t bytes_sent = 0, bytes_received = 0;
  bool payload_ok = true;
};

// One way: every kind from `from` to `to`.
Tally oneWay(Port& from, Port& to, const std::vector<Kind>& kinds) {
  Tally t;
  vmk_PktList list;
  vmk_PktListInit(&list);
  // Each kind travels as a flow of its own (its source port), so what
  // arrived is put back together per flow whatever ring it came through.
  std::map<uint16_t, Bytes> expected;
  uint16_t sport = 41000;
  for (const Kind& k : kinds) {
    netframes::Spec s;
    s.dst = macOf(to);
    s.src = macOf(from);
    s.ipv6 = k.v6;
    s.proto = k.proto;
    s.vxlan = k.vxlan;
    s.payload = netframes::pattern(k.payload, static_cast<uint8_t>(t.sent));
    s.sport = sport++;
    Bytes f = netframes::build(s);
    expected[s.sport] = k.mss != 0 ? s.payload : netframes::payloadOf(f);
    vmk_PktHandle* pkt = vmktest::pktMake(f);
    vmktest::pktSetMustCsum(pkt, true);
    if (k.mss != 0) vmk_PktSetLargeTcpPacket(pkt, k.mss);
    if (k.vlan >= 0) {
      vmktest::pktSetMustVlanTag(pkt, true);
      vmk_PktVlanIDSet(pkt, static_cast<vmk_uint16>(k.vlan));
    }
    vmk_PktQueueIDSet(pkt, from.a->queue_info.maxRxQueues);
    vmk_PktListAppendPkt(&list, pkt);
    t.sent++;
    t.segments += k.mss != 0 ? static_cast<unsigned>((k.payload + k.mss - 1) / k.mss) : 1;
    t.bytes_sent += f.size();
  }
  from.reg->ops.uplinkTx(from.cookie, &list);
  std::vector<Bytes> got;
  auto last = std::chrono::steady_clock::now();
  while (got.size() < t.segments && std::chrono::steady_clock::now() - last < std::chrono::seconds(5)) {
    bool any = false;
    for (auto& np : to.a->netpoll) {
      if (np.netpoll == nullptr) continue;
      for (vmk_PktHandle* p : vmktest::netPollTakeRx(np.netpoll)) {
        got.push_back(vmktest::pktBytes(p));
        vmk_PktRelease(p);
        any = true;
      }
    }
    if (any) last = std::chrono::steady_clock::now();
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::map<uint16_t, std::vector<Bytes>> flows;
  for (const Bytes& f : got) {
    t.received++;
    t.bytes_received += f.size();
    if (netframes::checksumsValid(f)) t.good_csums++;
    const netframes::Parsed p = netframes::parse(f, 0, false);
    if (p.ok) flows[netframes::get16(f, p.l4)].push_back(f);
  }
  for (const auto& [port, want] : expected) {
    const std::vector<Bytes>& frames = flows[port];
    std::optional<Bytes> have;
    if (frames.size() == 1) have = netframes::payloadOf(frames[0]);
    else have = netframes::reassemble(frames);
    if (!have || *have != want) t.payload_ok = false;
  }
  from.card->takeWire(0);
  return t;
}

}  // namespace

int tamsil_demoTraffic() {
  const adapter::Gen gens[] = {adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Pivard, adapter::Gen::Veskarn};
  if (vmktest::loadModule(init_module, "") != 0) {
    printf("   The module refused to load.\n");
    return 1;
  }
  vmktest::setClockRate(1000.0);
  int failures = 0, n = 0;
  for (adapter::Gen g : gens) {
    Port ports[2];
    bool up = bringUp(ports[0], g, n++) && bringUp(ports[1], g, n++);
    if (up) adapter::Adapter::connectCable(*ports[0].card, 0, *ports[1].card, 0);
    for (Port& p : ports)
      if (up && (p.reg->ops.uplinkStartIO(p.cookie) != VMK_OK || !deviceHoldsBuffers(p))) up = false;
    if (!up) {
      printf("   %-7s the two ports could not be brought up\n", adapter::genName(g));
      failures++;
    } else {
      std::vector<Kind> kinds = {
          {"small UDP", 18, false, 17, 0, -1, false},   {"full TCP", 1460, false, 6, 0, -1, false},
          {"TSO 64 KB", 65000, false, 6, 1448, -1, false}, {"VLAN 100", 700, false, 6, 0, 100, false},
          {"IPv6 UDP", 1200, true, 17, 0, -1, false},
      };
      if (g == adapter::Gen::Veskarn) kinds.push_back({"VXLAN", 900, false, 17, 0, -1, true});
      for (int dir = 0; dir < 2; ++dir) {
        Tally t = oneWay(ports[dir], ports[1 - dir], kinds);
        bool ok = t.received == t.segments && t.good_csums == t.received && t.payload_ok;
        printf("   %-7s %s -> %s: %u packets (%llu bytes) sent as %u frames; %u frames (%llu bytes) received, "
               "%u with every checksum valid; payloads %s\n",
               adapter::genName(g), dir == 0 ? "port A" : "port B", dir == 0 ? "port B" : "port A", t.sent,
               static_cast<unsigned long long>(t.bytes_sent), t.segments, t.received,
               static_cast<unsigned long long>(t.bytes_received), t.good_csums,
               t.payload_ok ? "identical" : "DIFFER");
        if (!ok) failures++;
      }
    }
    for (Port& p : ports) takeDown(p);
  }
  vmktest::unloadModule(cleanup_module);
  vmktest::setClockRate(1.0);
  return failures;
}
