// Loopback modes and the network loopback test through the tree: what each
// action sends, what the adapter keeps per port, the results the test
// leaves and every refusal.
#include "diag_fixture.h"

namespace {

class Loopback : public DiagHost {};

TEST_F(Loopback, EnterTestAndExitOnePort)
{
    HmNode *d = diag(kKs3);
    EXPECT_EQ(cached(d, "IsLoopbackSupported"), "True");
    Outcome o = run(d, "EnterLoopBackMode", {"0", "0", "MacLoopBack"});
    ASSERT_EQ(o.rc, 0u) << o.text;
    EXPECT_EQ(adapter::loopbackMode(fw(kKs3), 0), 0);
    const std::vector<u8> *set = lastPayload(fw(kKs3), 11, 19);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(std::vector<u8>(set->begin(), set->begin() + 4), (std::vector<u8>{0, 0, 0, 1}));
    EXPECT_EQ(run(d, "EnterLoopBackMode", {"0", "0", "MacLoopBack"}).status, 172u) << "already set";

    adapter::setLoopbackAnswer(fw(kKs3), {.status = 0, .lost_sent = 2, .lost_received = 3, .elapsed = 50});
    o = run(d, "NetworkLoopBackTest", {"0102030405060708", "1500", "100", "0", "0", "MacLoopBack"});
    ASSERT_EQ(o.rc, 0u) << o.text;
    const std::vector<u8> *t = lastPayload(fw(kKs3), 11, 18);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(rd32(*t, 0), 0u);
    EXPECT_EQ(rd32(*t, 4), 100u);
    EXPECT_EQ(rd32(*t, 8), 0x05060708u);
    EXPECT_EQ(rd32(*t, 12), 0x01020304u);
    EXPECT_EQ(rd32(*t, 16), 0u);
    EXPECT_EQ(rd32(*t, 20), 0u);
    EXPECT_EQ(rd32(*t, 24), 1500u);
    // 98 sent, 95 received: S 2, R 5, E 7 of 100 loops over 50.
    EXPECT_EQ(results(d), (std::vector<std::string>{"50", "46", "3", "2", "5", "5", "93"}));
    // An elapsed time of 0 counts as 1.
    adapter::setLoopbackAnswer(fw(kKs3), {.elapsed = 0});
    ASSERT_EQ(run(d, "NetworkLoopBackTest", {"a5a5", "1500", "4", "0", "0", "MacLoopBack"}).rc, 0u);
    EXPECT_EQ(results(d), (std::vector<std::string>{"1", "1", "0", "0", "0", "0", "4"}));

    o = run(d, "ExitLoopBackMode", {"0", "0"});
    ASSERT_EQ(o.rc, 0u) << o.text;
    EXPECT_EQ(adapter::loopbackMode(fw(kKs3), 0), 255);
    set = lastPayload(fw(kKs3), 11, 19);
    EXPECT_EQ(std::vector<u8>(set->begin(), set->begin() + 4), (std::vector<u8>{0, 0, 255, 0}));
    o = run(d, "ExitLoopBackMode", {"0", "0"});
    EXPECT_EQ(o.status, 171u);
    EXPECT_EQ(o.text, "No LoopBack Mode is set on this port.");

    // Port numbers with base prefixes.
    ASSERT_EQ(run(d, "EnterLoopBackMode", {"0x1", "01", "OnePortLoopBack"}).rc, 0u);
    EXPECT_EQ(adapter::loopbackMode(fw(kKs3), 1), 2);
    ASSERT_EQ(run(d, "ExitLoopBackMode", {"1", "0x1"}).rc, 0u);
}

TEST_F(Loopback, TwoPortsGoTogether)
{
    HmNode *d = diag(kVeskarn);
    ASSERT_EQ(run(d, "EnterLoopBackMode", {"0", "1", "TwoPortLoopBack"}).rc, 0u);
    EXPECT_EQ(adapter::loopbackMode(fw(kVeskarn), 0), 3);
    EXPECT_EQ(adapter::loopbackMode(fw(kVeskarn), 1), 3);
    EXPECT_EQ(run(d, "NetworkLoopBackTest", {"fff", "8192", "2", "0", "1", "TwoPortLoopBack"}).rc, 0u);
    EXPECT_EQ(run(d, "ExitLoopBackMode", {"0", "0"}).status, 68u) << "two ports to leave";
    ASSERT_EQ(run(d, "ExitLoopBackMode", {"0", "1"}).rc, 0u);
    EXPECT_EQ(adapter::loopbackMode(fw(kVeskarn), 0), 255);
    EXPECT_EQ(adapter::loopbackMode(fw(kVeskarn), 1), 255);
}

TEST_F(Loopback, RefusalsBeforeAndFromTheAdapter)
{
    HmNode *k = diag(kKs3), *v = diag(kVeskarn);
    struct Case {
        const char *what;
        HmNode *diag;
        const char *action;
        std::vector<std::string> params;
        u32 status;
        const char *text;   // nullptr: not checked
    } cases[] = {
        {"MAC on two ports", k, "EnterLoopBackMode", {"0", "1", "MacLoopBack"}, 67,
         "Source port number and destination port number should be same for MAC loopback, PHY loopback and one "
         "port loopback."},
        {"two-port on one", k, "EnterLoopBackMode", {"1", "1", "TwoPortLoopBack"}, 68,
         "Source port number and destination port number should be different for two port loopback."},
        {"port with trailing text", k, "EnterLoopBackMode", {"1a", "1", "MacLoopBack"}, 6, nullptr},
        {"source without HBA", v, "EnterLoopBackMode", {"2", "2", "MacLoopBack"}, 231,
         "There is no PhysicalHBA for the given SourcePortNumber."},
        {"destination without HBA (enter)", v, "EnterLoopBackMode", {"0", "3", "TwoPortLoopBack"}, 231,
         "There is no PhysicalHBA for the given DestinationPortNumber."},
        {"destination without HBA (exit)", v, "ExitLoopBackMode", {"0", "3"}, 231,
         "There is no PhysicalHBA for thie given DestinationPortNumber."},
        {"test without the mode", k, "NetworkLoopBackTest", {"a5a5", "1500", "1", "0", "0", "MacLoopBack"}, 155,
         "This loopback mode is not set. Please set loopback mode using EnterLoopBackMode command before running "
         "this test."},
        {"pattern not hexadecimal", k, "NetworkLoopBackTest", {"a5a5x", "1500", "1", "0", "0", "MacLoopBack"}, 78,
         "Invalid pattern value. Please provide a valid hexadecimal value."},
        {"MAC frame over 4056", k, "NetworkLoopBackTest", {"a5a5", "4057", "1", "0", "0", "MacLoopBack"}, 167,
         "Maximum ByteCount supported for MACLoopBack is 4056."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        unsigned sets = fw(kKs3).commandsSeen(11, 19) + fw(kVeskarn).commandsSeen(11, 19);
        Outcome o = run(c.diag, c.action, c.params);
        EXPECT_EQ(o.rc, 1u);
        EXPECT_EQ(o.status, c.status) << o.text;
        if (c.text != nullptr) {
            EXPECT_EQ(o.text, c.text);
        }
        EXPECT_EQ(fw(kKs3).commandsSeen(11, 19) + fw(kVeskarn).commandsSeen(11, 19), sets) << "no mode was set";
    }
    // The failed test leaves all its results at 0.
    EXPECT_EQ(results(k), (std::vector<std::string>(7, "0")));
}

TEST_F(Loopback, TestStatusesOfTheAdapter)
{
    HmNode *d = diag(kKs3);
    ASSERT_EQ(run(d, "EnterLoopBackMode", {"0", "0", "MacLoopBack"}).rc, 0u);
    struct Case {
        u32 test_status, status;
        const char *text;
    } cases[] = {
        {1, 248, "Failed to perform loop back test. An error occurred in the transmit path of the loopback test."},
        {2, 249, "Failed to perform loop back test. An error occurred in the receive path of the loopback test."},
        {3, 250, "Failed to perform loop back test. Data integrity failure in the transmitted vs received packet."},
        {4, 251, "Failed to perform loop back test. Timed out on loopback test."},
        {5, 52, "The Link Status is Down. Please check the cable."},
        {9, 62, "Failed to perform loop back test. Application internal error occurred. Please check orsa2d.log "
                "file for more information."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.test_status);
        adapter::setLoopbackAnswer(fw(kKs3), {.status = c.test_status, .lost_sent = 1, .elapsed = 10});
        Outcome o = run(d, "NetworkLoopBackTest", {"a5a5", "1500", "10", "0", "0", "MacLoopBack"});
        EXPECT_EQ(o.rc, 1u);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.text, c.text);
        // The results still show the loops: S 1, R 1, E 2 of 10 over 10.
        EXPECT_EQ(results(d), (std::vector<std::string>{"10", "8", "2", "1", "1", "1", "8"}));
    }
}

TEST_F(Loopback, WhatTheAdapterOffers)
{
    // An adapter without loopback: start-up reads it, every action refuses.
    boot([](chardev::EmulatedHost &h) { adapter::setLoopbackSupported(h.engine(kKs3), false); });
    EXPECT_EQ(cached(diag(kKs3), "IsLoopbackSupported"), "False");
    Outcome o = run(diag(kKs3), "EnterLoopBackMode", {"0", "0", "MacLoopBack"});
    EXPECT_EQ(o.status, 324u);
    EXPECT_EQ(o.text, "Loopback test is not supported on specific adapter");
    EXPECT_EQ(run(diag(kKs3), "ExitLoopBackMode", {"0", "0"}).status, 324u);

    // PHY loopback: the attributes say whether it is there (not asked on Pivard).
    boot([](chardev::EmulatedHost &h) {
        adapter::setPhyLoopback(h.engine(kKs3), false);
        adapter::setPhyLoopback(h.engine(kPivard), false);
    });
    o = run(diag(kKs3), "EnterLoopBackMode", {"0", "0", "PhyLoopBack"});
    EXPECT_EQ(o.status, 168u);
    EXPECT_EQ(o.text, "PhyLoopBack is not supported on this controller.");
    EXPECT_EQ(run(diag(kKs3), "NetworkLoopBackTest", {"a5a5", "1500", "1", "0", "0", "PhyLoopBack"}).status, 168u);
    EXPECT_EQ(run(diag(kPivard), "EnterLoopBackMode", {"0", "0", "PhyLoopBack"}).rc, 0u);
    adapter::setPhyLoopback(fw(kKs3), true);
    EXPECT_EQ(run(diag(kKs3), "EnterLoopBackMode", {"0", "0", "PhyLoopBack"}).rc, 0u);
    const std::vector<u8> *attr = lastPayload(fw(kKs3), 1, 32);
    ASSERT_NE(attr, nullptr);

    // A mode the adapter lacks: its own answer stands.
    adapter::setLoopbackModeSupported(fw(kKs3), 2, false);
    o = run(diag(kKs3), "EnterLoopBackMode", {"1", "1", "OnePortLoopBack"});
    EXPECT_EQ(o.status, 153u);
    EXPECT_EQ(o.text, "This LoopBack type is not supported on this Kalderstone controller.");
    // An external test without its module.
    adapter::setLoopbackModeSupported(fw(kKs3), 2, true);
    ASSERT_EQ(run(diag(kKs3), "EnterLoopBackMode", {"1", "1", "OnePortLoopBack"}).rc, 0u);
    adapter::setLoopbackModuleMissing(fw(kKs3), true);
    o = run(diag(kKs3), "NetworkLoopBackTest", {"a5a5", "1500", "1", "1", "1", "OnePortLoopBack"});
    EXPECT_EQ(o.status, 198u);
    EXPECT_EQ(o.text, "Loopback test failed because module is not inserted for loopback test.");

    // Inside a virtual function: nothing of it.
    vm_flag = 1;
    o = run(diag(kKs3), "ExitLoopBackMode", {"1", "1"});
    vm_flag = 0;
    EXPECT_EQ(o.status, 256u);
    EXPECT_EQ(adapter::loopbackMode(fw(kKs3), 1), 2);
}

// The last client's exit hook ends every loopback and every beacon.
TEST_F(Loopback, LastClientExitEndsLoopbackAndBeacons)
{
    ASSERT_EQ(run(diag(kKs3), "EnterLoopBackMode", {"0", "0", "MacLoopBack"}).rc, 0u);
    ASSERT_EQ(run(diag(kVeskarn), "EnterLoopBackMode", {"0", "1", "TwoPortLoopBack"}).rc, 0u);
    ASSERT_EQ(run(port(kKs3, "2"), "Beacon", {"5", "6", "Enabled"}).rc, 0u);
    ASSERT_EQ(adapter::beacon(fw(kKs3), 2).state, 1);
    backend_client_exit(1);
    EXPECT_EQ(adapter::loopbackMode(fw(kKs3), 0), 0) << "a client is still there";
    backend_client_exit(0);
    EXPECT_EQ(adapter::loopbackMode(fw(kKs3), 0), 255);
    EXPECT_EQ(adapter::loopbackMode(fw(kVeskarn), 0), 255);
    EXPECT_EQ(adapter::loopbackMode(fw(kVeskarn), 1), 255);
    EXPECT_EQ(adapter::beacon(fw(kKs3), 2).state, 0);
    EXPECT_EQ(adapter::beacon(fw(kKs3), 2).sets, 2u);
}

}  // namespace
