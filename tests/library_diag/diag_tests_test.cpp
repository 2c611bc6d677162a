// The DMA test, the beacon of a port and the 10GBase-T self test and cable
// test through the tree: the requests, the results and the refusals.
#include "diag_fixture.h"

namespace {

class AdapterTests : public DiagHost {};

TEST_F(AdapterTests, DmaTestSendsThePatternAndCountsWhatComesBackWrong)
{
    HmNode *d = diag(kKs3);
    adapter::setDmaMiscompares(fw(kKs3), {1, 3});
    adapter::setDmaSendErrors(fw(kKs3), {2});
    Outcome o = run(d, "HostToDDRDMATest", {"0102030405060708", "100", "4"});
    ASSERT_EQ(o.rc, 0u) << o.text;
    EXPECT_EQ(adapter::dmaCommands(fw(kKs3)), 4u);
    const std::vector<u8> *req = lastPayload(fw(kKs3), 11, 17);
    ASSERT_NE(req, nullptr);
    ASSERT_EQ(req->size(), 8208u);
    EXPECT_EQ(rd32(*req, 8), 96u) << "rounded down to whole patterns";
    for (size_t k = 0; k < 96; ++k)
        ASSERT_EQ((*req)[16 + k], 8 - k % 8) << k;
    EXPECT_EQ((*req)[16 + 96], 0) << "nothing past the byte count";
    std::vector<std::string> r = results(d);
    EXPECT_EQ(std::vector<std::string>(r.begin() + 3, r.end()),
              (std::vector<std::string>{"1", "2", "2", "1"}));
    int m = atoi(r[0].c_str());
    EXPECT_GE(m, 0);
    EXPECT_EQ(atoi(r[1].c_str()), m * 1 / 4);
    EXPECT_EQ(atoi(r[2].c_str()), 3 * m / 4);

    struct Case {
        const char *what;
        Card card;
        std::vector<std::string> params;
        u32 status;
        const char *text;
    } cases[] = {
        {"pattern not hexadecimal", kKs3, {"0x12g4", "64", "1"}, 78,
         "Invalid pattern value. Please provide a valid hexadecimal value."},
        {"Pivard", kPivard, {"a5a5", "64", "1"}, 259, "This operation is not supported on this controller."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        o = run(diag(c.card), "HostToDDRDMATest", c.params);
        EXPECT_EQ(o.rc, 1u);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.text, c.text);
    }
    // A pattern of more than 64 bits (longer than the tree lets through, so
    // the handler is called as the tree would call it).
    HmValueSlot params[HM_MAX_PARAMS];
    memset(params, ORSA_PARAM_NOT_GIVEN, sizeof params);
    snprintf(params[0], sizeof params[0], "%s", "0x10000000000000000");
    snprintf(params[1], sizeof params[1], "%s", "64");
    snprintf(params[2], sizeof params[2], "%s", "1");
    EXPECT_EQ(do_HostToDDRDMATest(d, nullptr, params), 1u);
    EXPECT_EQ(orsa_last_status_code, 7u);
    snprintf(params[1], sizeof params[1], "%s", "1500");
    snprintf(params[3], sizeof params[3], "%s", "0");
    snprintf(params[4], sizeof params[4], "%s", "0");
    snprintf(params[5], sizeof params[5], "%s", "MacLoopBack");
    ASSERT_EQ(run(d, "EnterLoopBackMode", {"0", "0", "MacLoopBack"}).rc, 0u);
    EXPECT_EQ(do_NetworkLoopBackTest(d, nullptr, params), 1u);
    EXPECT_EQ(orsa_last_status_code, 7u);
    EXPECT_STREQ(orsa_last_status_string, "Value out of range.");

    fw(kKs3).setFault(11, 17, {.status = 1, .times = 1});
    o = run(d, "HostToDDRDMATest", {"a5a5", "64", "2"});
    EXPECT_EQ(o.status, 63u);
    EXPECT_EQ(results(d), (std::vector<std::string>(7, "0")));
}

TEST_F(AdapterTests, BeaconOfAPort)
{
    HmNode *p = port(kKs3, "1");
    EXPECT_EQ(get(p, "BeaconState"), "Disabled");
    Outcome o = run(p, "Beacon", {"10", "20", "Enabled"});
    ASSERT_EQ(o.rc, 0u) << o.text;
    adapter::BeaconState b = adapter::beacon(fw(kKs3), 1);
    EXPECT_EQ(b.state, 1);
    EXPECT_EQ(b.beacon_duration, 10);
    EXPECT_EQ(b.status_duration, 20);
    EXPECT_EQ(get(p, "BeaconState"), "Enabled");
    EXPECT_EQ(get(port(kKs3, "0"), "BeaconState"), "Disabled") << "per port";

    o = run(p, "Beacon", {"-", "20", "Enabled"});
    EXPECT_EQ(o.status, 134u);
    EXPECT_EQ(o.text, "BeaconDuration or StatusDuration parameter is missing. Please provide the parameter value while "
                      "enabling the beacon state.");
    o = run(p, "Beacon", {"1", "2", "Enabled"});
    EXPECT_EQ(o.status, 236u) << "on already";
    EXPECT_EQ(o.text, "Failed set Beacon. Beacon operation is already in active state.");

    ASSERT_EQ(run(p, "Beacon", {"-", "-", "Disabled"}).rc, 0u);
    b = adapter::beacon(fw(kKs3), 1);
    EXPECT_EQ(b.state, 0);
    EXPECT_EQ(b.beacon_duration, 0) << "a missing duration is 0 when switching off";
    unsigned sets = b.sets;
    o = run(p, "Beacon", {"-", "-", "Disabled"});
    EXPECT_EQ(o.rc, 0u);
    EXPECT_EQ(o.status, 244u);
    EXPECT_EQ(o.text, "Beacon is already in disabled state.");
    EXPECT_EQ(adapter::beacon(fw(kKs3), 1).sets, sets) << "nothing sent";

    // An adapter without beacon; a virtual function.
    adapter::setBeaconSupported(fw(kVeskarn), false);
    EXPECT_EQ(get(port(kVeskarn, "0"), "BeaconState"), "Not Supported");
    o = run(port(kVeskarn, "0"), "Beacon", {"1", "1", "Enabled"});
    EXPECT_EQ(o.status, 150u);
    EXPECT_EQ(o.text, "Beaconing is not supported on this model of Kalderstone controller.");
    fw(kKs3).setFault(1, 70, {.status = 1, .times = 1});
    u32 rc = 0;
    get(p, "BeaconState", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), 120u);
    vm_flag = 1;
    EXPECT_EQ(get(p, "BeaconState", &rc), "N/A");
    vm_flag = 0;
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), 256u);
}

TEST_F(AdapterTests, SelfTestAndCableTestOfATenGigabitPhy)
{
    HmNode *baset = group(port(kVeskarn, "1"), "BaseT10G");
    ASSERT_NE(baset, nullptr);
    adapter::setSelfTestResult(fw(kVeskarn), 1, 4);
    struct Case {
        std::vector<std::string> params;
        std::vector<u32> words;   // port, type, source pair, target pair
    } cases[] = {
        {{"Noise", "PairB"}, {1, 1, 1, 0}},
        {{"NonLinear", "PairD", "PairA"}, {1, 2, 3, 0}},
        {{"CrossTalk", "PairA", "PairC"}, {1, 5, 0, 2}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.params[0]);
        Outcome o = run(baset, "SelfTest", c.params);
        ASSERT_EQ(o.rc, 0u) << o.text;
        const std::vector<u8> *req = lastPayload(fw(kVeskarn), 18, 9);
        ASSERT_NE(req, nullptr);
        EXPECT_EQ(req->size(), 555u);
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(rd32(*req, 4 * i), c.words[i]) << i;
        EXPECT_EQ(get(baset, "SelfTestResult"), "4");
    }
    Outcome o = run(baset, "SelfTest", {"CrossTalk", "PairA"});
    EXPECT_EQ(o.status, 216u);
    EXPECT_EQ(o.text, "TargetCable should be given when TestType is CrossTalk.");
    fw(kVeskarn).setFault(18, 9, {.status = 1, .times = 1});
    EXPECT_EQ(run(baset, "SelfTest", {"Noise", "PairA"}).status, 217u);

    // Cable test: pair A reports no length (result 1) and keeps its estimate.
    set_prop_val(baset, "PairALengthEstimation", "%s", "33");
    adapter::setTdrAnswer(fw(kVeskarn), 1, {.pair_status = 0x3021, .lengths = {5, 7, 9, 11}, .nvp = 68});
    o = run(baset, "RunTDR", {});
    ASSERT_EQ(o.rc, 0u) << o.text;
    const std::vector<u8> *req = lastPayload(fw(kVeskarn), 18, 11);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(rd32(*req, 0), 1u);
    const char *names[] = {"PairAResult", "PairBResult", "PairCResult", "PairDResult", "PairALengthEstimation",
                           "PairBLengthEstimation", "PairCLengthEstimation", "PairDLengthEstimation", "NVPUsed"};
    const char *want[] = {"1", "2", "0", "3", "33", "70", "90", "110", "68"};
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(get(baset, names[i]), want[i]) << names[i];
    fw(kVeskarn).setFault(18, 11, {.status = 1, .times = 1});
    o = run(baset, "RunTDR", {});
    EXPECT_EQ(o.status, 218u);
    EXPECT_EQ(o.text, "Failed to run RunTDR test. Please check orsa2d.log file for more information.");
}

}  // namespace
