// Asynchronous firmware events and what they change in the Adapter.
#include <cstring>
#include <functional>

#include "rig.h"
#include "tamsil_cmds_priv.h"

using adapter::AsyncEvent;
using adapter::Gen;
using cmdtest::GenRigTest;
using cmdtest::genParamName;
using cmdtest::kAllGens;
using cmdtest::RigOptions;

namespace {

AsyncEvent rawEvent(uint8_t code, uint8_t type, std::initializer_list<uint8_t> data) {
  AsyncEvent e;
  e.code = code;
  e.type = type;
  size_t i = 0;
  for (uint8_t b : data) e.data[i++] = b;
  return e;
}

class EventTest : public GenRigTest {
 protected:
  void SetUp() override {
    RigOptions o;
    o.poller = false;
    bringUp(o, true);
  }
  // Posts the event and drains it; false when the MCC queue does not take
  // events of that code.
  bool deliver(const AsyncEvent& e) {
    if (!rig->card->injectAsyncEvent(0, e)) return false;
    EXPECT_EQ(1u, tamsil_processMcc(a));
    return true;
  }
};

INSTANTIATE_TEST_SUITE_P(Gens, EventTest, testing::ValuesIn(kAllGens), genParamName);

struct EventCase {
  const char* name;
  std::function<void(Adapter*)> before;
  AsyncEvent event;
  std::function<void(Adapter*, Gen)> check;
  const char* line;  // a log line the event must produce, or nullptr
};

TEST_P(EventTest, EventsUpdateTheAdapter) {
  Gen g = GetParam();
  const EventCase cases[] = {
      {"link up, speed code", nullptr, adapter::linkStateEvent(0, true, true, 4, 0, 0),
       [](Adapter* x, Gen) {
         EXPECT_EQ(1, x->link.link_up);
         EXPECT_EQ(10000, x->link.link_speed);
         EXPECT_EQ(0, x->link.link_down_reason);
       },
       nullptr},
      {"link up, QoS speed", nullptr, adapter::linkStateEvent(0, true, true, 4, 0, 250),
       [](Adapter* x, Gen) {
         EXPECT_EQ(2500, x->link.link_speed);
         EXPECT_EQ(250, x->link.qos_link_speed);
       },
       nullptr},
      {"link up, unknown speed code", nullptr, adapter::linkStateEvent(0, true, true, 9, 0, 0),
       [](Adapter* x, Gen) { EXPECT_EQ(0, x->link.link_speed); }, nullptr},
      {"link down with reason", nullptr, adapter::linkStateEvent(0, false, true, 4, 4, 0),
       [](Adapter* x, Gen) {
         EXPECT_EQ(0, x->link.link_up);
         EXPECT_EQ(0, x->link.link_speed);
         EXPECT_EQ(4, x->link.link_down_reason);
       },
       "Link down event type: 4"},
      {"link event without the logical bit", [](Adapter* x) { x->link.link_up = 7; },
       adapter::linkStateEvent(0, true, false, 4, 0, 0),
       [](Adapter* x, Gen gg) { EXPECT_EQ(gg == Gen::Pivard ? 7 : 1, x->link.link_up); }, nullptr},
      {"supported mode from the speed code", [](Adapter* x) { x->num_supported_modes = 0; },
       adapter::linkStateEvent(0, true, true, 3, 0, 0),
       [](Adapter* x, Gen gg) {
         if (gg == Gen::KS2) {
           EXPECT_EQ(1u, x->num_supported_modes);
           EXPECT_EQ(1000u, x->supported_modes[0].speed);
           EXPECT_EQ(2u, x->supported_modes[0].duplex);
         } else {
           EXPECT_EQ(0u, x->num_supported_modes);
         }
       },
       nullptr},
      {"supported mode for speed code 0", [](Adapter* x) { x->port_num = 1; },
       adapter::linkStateEvent(0, true, true, 0, 0, 0),
       [](Adapter* x, Gen) {
         EXPECT_EQ(1u, x->num_supported_modes);
         EXPECT_EQ(10000u, x->supported_modes[0].speed);
         x->port_num = 0;
       },
       nullptr},
      {"QoS speed of this port", [](Adapter* x) { x->link.qos_link_speed = 0; }, adapter::qosSpeedEvent(0, 400),
       [](Adapter* x, Gen) {
         EXPECT_EQ(400, x->link.qos_link_speed);
         EXPECT_EQ(4000, x->link.link_speed);
       },
       nullptr},
      {"QoS speed of another port", [](Adapter* x) { x->link.qos_link_speed = 1; }, adapter::qosSpeedEvent(1, 400),
       [](Adapter* x, Gen) { EXPECT_EQ(1, x->link.qos_link_speed); }, nullptr},
      {"priority", nullptr, adapter::priorityEvent(0x0F, 3, true),
       [](Adapter* x, Gen) {
         EXPECT_EQ(0x0F, x->vlan_prio_bmap);
         EXPECT_EQ(3 << 13, x->recommended_prio);
       },
       nullptr},
      {"priority not valid", [](Adapter* x) { x->vlan_prio_bmap = 0xFF; }, adapter::priorityEvent(0x01, 5, false),
       [](Adapter* x, Gen) { EXPECT_EQ(0xFF, x->vlan_prio_bmap); }, nullptr},
      {"PVID", nullptr, adapter::pvidEvent(true, 42), [](Adapter* x, Gen) { EXPECT_EQ(42, x->pvid); }, nullptr},
      {"PVID off", nullptr, adapter::pvidEvent(false, 42), [](Adapter* x, Gen) { EXPECT_EQ(0, x->pvid); }, nullptr},
      {"OS2BMC", nullptr, adapter::os2bmcEvent(true, 0x0123),
       [](Adapter* x, Gen) {
         EXPECT_TRUE(x->features & TAMSIL_FEAT_OS2BMC);
         EXPECT_EQ(0x0123, x->os2bmc_filter);
       },
       nullptr},
      {"debug data", nullptr, adapter::debugDataEvent(1, 2, 3), [](Adapter*, Gen) {},
       "Debug Data Event - 0x1, 0x2, 0x3, 0x"},
      {"grp5 type 4", nullptr, rawEvent(5, 4, {}), [](Adapter*, Gen) {}, "Unknown grp5 event!"},
      {"grp5 type 0", nullptr, rawEvent(5, 0, {}), [](Adapter*, Gen) {}, "Unknown grp5 event!"},
      {"grp5 type 7", nullptr, rawEvent(5, 7, {}), [](Adapter*, Gen) {}, "Unknown grp5 event!"},
      {"QnQ", nullptr, adapter::qnqEvent(true, 300),
       [](Adapter* x, Gen) {
         EXPECT_EQ(300, x->qnq_vid);
         EXPECT_EQ(1, x->qnq_received);
       },
       nullptr},
      {"QnQ not valid", [](Adapter* x) { x->qnq_received = 0; }, adapter::qnqEvent(false, 301),
       [](Adapter* x, Gen) {
         EXPECT_EQ(300, x->qnq_vid);
         EXPECT_EQ(1, x->qnq_received);
       },
       nullptr},
      {"debug event of another type", nullptr, rawEvent(6, 2, {}), [](Adapter*, Gen) {}, "Unknown debug event"},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.name);
    vmktest::clearLog();
    if (c.before) c.before(a);
    ASSERT_TRUE(deliver(c.event));
    c.check(a, g);
    if (c.line != nullptr) {
      EXPECT_EQ(1u, vmktest::logCount(c.line));
    }
  }
}

TEST_P(EventTest, TransceiverStateOnlyOnPivardAndVeskarn) {
  Gen g = GetParam();
  AsyncEvent ev = adapter::transceiverEvent(0x00000002, 0x00000001);
  bool taken = rig->card->injectAsyncEvent(0, ev);
  EXPECT_EQ(g == Gen::Pivard || g == Gen::Veskarn, taken);
  if (!taken) return;
  EXPECT_EQ(1u, tamsil_processMcc(a));
  EXPECT_EQ(2, a->sfp_state);
  EXPECT_EQ(1, a->sfp_link_effect);
  EXPECT_TRUE(vmk_BitVectorAtomicTestAndClear(a->flags, TAMSIL_FLAG_SFP_CHECK));
  // The same state again: nothing pending.
  ASSERT_TRUE(deliver(ev));
  EXPECT_FALSE(vmk_BitVectorTest(a->flags, TAMSIL_FLAG_SFP_CHECK));
  // Another type of the same code is ignored silently.
  vmktest::clearLog();
  ASSERT_TRUE(deliver(rawEvent(17, 3, {9, 9, 9, 9})));
  EXPECT_EQ(2, a->sfp_state);
  EXPECT_EQ(0u, vmktest::logCount("Unknown"));

  // The worker's transceiver check reports the stored state.
  a->debug_mask |= TAMSIL_DBG_DRIVER;
  tamsil_checkSFPs(a);
  EXPECT_EQ(1u, vmktest::logCount("Port 0: Optics of two types installed"));
  EXPECT_EQ(1u, vmktest::logCount("Link is non-operational"));
}

TEST_P(EventTest, EventsAndCompletionsShareTheQueue) {
  // An event posted between a command and its completion does not confuse
  // the waiter.
  rig->pollerOn(true);
  ASSERT_TRUE(rig->card->injectAsyncEvent(0, adapter::pvidEvent(true, 7)));
  EXPECT_EQ(0u, tamsil_cmdSetQos(a, 10, 0));
  EXPECT_EQ(7, a->pvid);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
}

TEST_P(EventTest, AsyncRearmWritesTheCompletionQueueDoorbell) {
  tamsil_asyncMccEnable(a);
  EXPECT_EQ(1, a->async_mcc_enabled);
  uint32_t db = rig->card->counters(0).last_eq_cq_doorbell;
  EXPECT_TRUE(db & (1u << 29));
  EXPECT_EQ(a->mcc_cq.id, db & 0x3FF);
  tamsil_asyncMccDisable(a);
  ASSERT_TRUE(deliver(adapter::pvidEvent(true, 9)));
  db = rig->card->counters(0).last_eq_cq_doorbell;
  EXPECT_FALSE(db & (1u << 29));
  EXPECT_EQ(1u, (db >> 16) & 0x1FFF);
}

// The firmware posts only the codes the MCC queue asked for; an entry of
// any other code, written straight into the queue, is consumed and logged.
TEST_P(EventTest, EventOfAnUnknownCodeIsConsumedAndLogged) {
  MccCompletion* c = reinterpret_cast<MccCompletion*>(static_cast<uint8_t*>(a->mcc_cq.mem.va) +
                                                      16u * a->mcc_cq.tail);
  memset(c, 0xA5, 12);
  c->flags = TAMSIL_CQE_VALID | TAMSIL_CQE_ASYNC | (3u << TAMSIL_CQE_EVT_CODE_SHIFT) | (1u << TAMSIL_CQE_EVT_TYPE_SHIFT);
  uint16_t pvid = a->pvid;
  EXPECT_EQ(1u, tamsil_processMcc(a));
  EXPECT_EQ(0u, c->flags);
  EXPECT_EQ(1u, vmktest::logCount("Unknown grp5 event!"));
  EXPECT_EQ(pvid, a->pvid);
  EXPECT_EQ(0u, vmk_AtomicRead64(&a->mcc_q.used));
}

using EventDeathTest = EventTest;
INSTANTIATE_TEST_SUITE_P(Gens, EventDeathTest, testing::Values(Gen::KS3, Gen::Pivard), genParamName);

TEST_P(EventDeathTest, CompletionWithoutValidBitStopsTheSystem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Gen g = GetParam();
  MccCompletion* c = reinterpret_cast<MccCompletion*>(static_cast<uint8_t*>(a->mcc_cq.mem.va) +
                                                      16u * a->mcc_cq.tail);
  c->flags = TAMSIL_CQE_COMPLETED;
  EXPECT_DEATH(tamsil_processMcc(a), "Unrecoverable error in tamsil attamsil_cmds:tamsil_mccComplIsNew");
  c->flags = 0;
  (void)g;
}

}  // namespace
