// Two emulated ports joined by a cable, each driven by the driver through
// its uplink as the network stack drives it: what one side transmits must
// arrive at the other byte for byte, with every checksum the wire carries
// valid (read by netframes, not by the adapter's own frame code).
#include <algorithm>
#include <chrono>
#include <thread>

#include "cable_fixture.h"

namespace {

using cabletest::Bytes;
using cabletest::CableTest;
using cabletest::End;
using cabletest::Send;

std::vector<Send> mix(adapter::Gen g) {
  std::vector<Send> v;
  auto add = [&](const char* what, size_t payload, bool v6, uint8_t proto, int vlan = -1) {
    Send s{what, {}, true, 0, vlan};
    s.spec.ipv6 = v6;
    s.spec.proto = proto;
    s.spec.payload = netframes::pattern(payload, static_cast<uint8_t>(v.size()));
    s.spec.ip_id = static_cast<uint16_t>(100 + v.size());
    v.push_back(s);
  };
  add("runt UDP", 1, false, 17);
  add("small TCP", 6, false, 6);
  add("mid UDP", 500, false, 17);
  add("full TCP", 1460, false, 6);
  add("full UDP", 1472, false, 17);
  add("IPv6 TCP", 1000, true, 6);
  add("IPv6 UDP", 1200, true, 17);
  add("tagged by the device", 800, false, 6, 0x6000 | 77);
  Send raw{"no offload asked", {}, false, 0, -1};
  raw.spec.payload = netframes::pattern(300, 9);
  v.push_back(raw);
  if (g == adapter::Gen::Veskarn) {
    Send vx{"VXLAN", {}, true, 0, -1};
    vx.spec.vxlan = true;
    vx.spec.payload = netframes::pattern(700, 11);
    v.push_back(vx);
  }
  return v;
}

TEST_F(CableTest, FramesCrossByteIdenticalWithValidChecksumsOnEveryGeneration) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(round == 0 ? "first start" : "after quiesce and start again");
      for (int dir = 0; dir < 2; ++dir) {
        End& from = ends_[dir];
        End& to = ends_[1 - dir];
        const std::vector<Send> sends = mix(g);
        vlans_.clear();
        transmit(from, sends, to.mac());
        std::vector<Bytes> got = receive(to, sends.size());
        ASSERT_EQ(sends.size(), got.size());
        // Flows hash to different rings, whose NetPolls hand over in any
        // order: match what arrived by payload (each frame's is distinct).
        const auto wire = from.card->takeWire(0);
        ASSERT_EQ(sends.size(), wire.size());
        for (size_t i = 0; i < sends.size(); ++i) {
          SCOPED_TRACE(sends[i].what);
          EXPECT_TRUE(netframes::checksumsValid(wire[i]));
          netframes::Spec spec = sends[i].spec;
          spec.dst = to.mac();
          spec.src = from.mac();
          const Bytes want = netframes::payloadOf(netframes::build(spec));
          auto hit = std::find_if(got.begin(), got.end(), [&](const Bytes& f) { return netframes::payloadOf(f) == want; });
          ASSERT_NE(got.end(), hit) << "not received";
          EXPECT_TRUE(netframes::checksumsValid(*hit));
          got.erase(hit);
          if (sends[i].vlan >= 0) {
            const netframes::Parsed on_wire = netframes::parse(wire[i]);
            ASSERT_TRUE(on_wire.vlan_tci.has_value());
            EXPECT_EQ(sends[i].vlan, *on_wire.vlan_tci);
          }
        }
      }
      quiesceBoth();
      startBoth();
    }
    TearDown();
    SetUp();
  }
}

TEST_F(CableTest, A100000ByteTsoSendArrivesAsMssSegmentsThatReassemble) {
  for (adapter::Gen g : allGens()) {
    SCOPED_TRACE(genText(g));
    join(g);
    // The rings start with a batch of buffers and grow by a batch a poll:
    // grow the TSO flow's ring first, as traffic before it would have (the
    // warm-up frames belong to the same flow, so they reach the same ring).
    const size_t segments = (100000 + 1447) / 1448;
    for (int i = 0; i < 60 && posted(ends_[1], false) < segments + 16; ++i) {
      Send small{"warm-up", {}, true, 0, -1};
      small.spec.payload = netframes::pattern(64, static_cast<uint8_t>(i));
      transmit(ends_[0], std::vector<Send>(32, small), ends_[1].mac());
      receive(ends_[1], 32, std::chrono::milliseconds(200));
    }
    ASSERT_TRUE(waitPosted(ends_[1], static_cast<unsigned>(segments) + 16, false));
    ends_[0].card->takeWire(0);
    Send big{"TSO", {}, true, 1448, -1};
    big.spec.payload = netframes::pattern(100000, 3);
    transmit(ends_[0], {big}, ends_[1].mac());
    const std::vector<Bytes> got = receive(ends_[1], segments);
    ASSERT_EQ(segments, got.size());
    for (const Bytes& s : got) {
      EXPECT_TRUE(netframes::checksumsValid(s));
      EXPECT_LE(netframes::payloadOf(s).size(), 1448u);
    }
    const auto whole = netframes::reassemble(got);
    ASSERT_TRUE(whole.has_value());
    EXPECT_EQ(big.spec.payload, *whole);
    TearDown();
    SetUp();
  }
}

}  // namespace
