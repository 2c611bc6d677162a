// The adapter's event log in the tree: read at start-up, refreshed and
// cleared on request, each entry's texts, and replies that claim more than
// they hold.
#include "diag_fixture.h"

namespace {

class EventLog : public DiagHost {
protected:
    struct Shown {
        std::string code, severity, description, sequence, timestamp;
        bool operator==(const Shown &o) const
        {
            return code == o.code && severity == o.severity && description == o.description &&
                   sequence == o.sequence && timestamp == o.timestamp;
        }
    };
    static std::vector<Shown> entries(Card c)
    {
        std::vector<Shown> out;
        for (HmNode *e = get_first_instance(group(ks(c), "EventLog"), "EventLogEntry"); e != nullptr;
             e = hm_next_instance(e))
            out.push_back({cached(e, "ErrorCode"), cached(e, "Severity"), cached(e, "Description"),
                           cached(e, "SequenceNumber"), cached(e, "TimeStamp")});
        return out;
    }
    static void fill(adapter::Engine &e)
    {
        adapter::addEvent(e, {.code = 41, .timestamp = 100, .sequence = 1, .severity = 0, .params = {1}});
        adapter::addEvent(e, {.code = 7, .timestamp = 200, .sequence = 2, .severity = 2,
                              .params = {0x1e, 1, 0xabc, 2, 0x4d}});
        adapter::addEvent(e, {.code = 95, .timestamp = 300, .sequence = 3, .severity = 1, .text = "fan slow"});
        adapter::addEvent(e, {.code = 200, .timestamp = 400, .sequence = 4, .severity = 3,
                              .text = std::string(48, 'x')});
        adapter::addEvent(e, {.code = 41, .timestamp = 500, .sequence = 5, .severity = 7, .params = {1}});
        adapter::addEvent(e, {.code = 66, .timestamp = 600, .sequence = 6, .severity = 0,
                              .params = {0xdeadbeef, 0x42}});
    }
};

TEST_F(EventLog, StartUpShowsEachEntryWithItsTexts)
{
    boot([](chardev::EmulatedHost &h) { fill(h.engine(kKs3)); });
    std::vector<Shown> want = {
        {"41", "Informational", "Ethernet link is up on Port :1", "1", "100"},
        {"7", "Error", "Ioctl failed: page code:1e, subsystem:1, IRB:abc, status:2, addnl status:4d", "2", "200"},
        {"95", "Warning", "fan slow", "3", "300"},
        // A text that fills its 48 bytes ends there.
        {"200", "Fatal", std::string(48, 'x'), "4", "400"},
        {"41", "INVALID SEVERITY LEVEL!", "INVALID Description!!", "5", "500"},
        {"66", "Informational", "Tessguard: ESP inbound [deadbeef] | outbound [00000042]", "6", "600"},
    };
    EXPECT_EQ(entries(kKs3), want);
    const std::vector<u8> *req = lastPayload(fw(kKs3), 2, 63);
    ASSERT_NE(req, nullptr);
    EXPECT_EQ(req->size(), 65480u);
    EXPECT_TRUE(entries(kPivard).empty()) << "Pivard's log is not read";
    EXPECT_EQ(fw(kPivard).commandsSeen(2, 63), 0u);
}

TEST_F(EventLog, RefreshAndClear)
{
    HmNode *log = group(ks(kKs3), "EventLog");
    EXPECT_TRUE(entries(kKs3).empty());
    fill(fw(kKs3));
    ASSERT_EQ(run(log, "RefreshEventLog", {}).rc, 0u);
    EXPECT_EQ(entries(kKs3).size(), 6u);
    adapter::addEvent(fw(kKs3), {.code = 0, .sequence = 7});
    ASSERT_EQ(run(log, "RefreshEventLog", {}).rc, 0u);
    ASSERT_EQ(entries(kKs3).size(), 7u) << "made afresh, not added to";
    EXPECT_EQ(entries(kKs3).back().description, "Management firmware load successful");
    ASSERT_EQ(run(log, "ClearEventLog", {}).rc, 0u);
    EXPECT_TRUE(entries(kKs3).empty());
    EXPECT_TRUE(adapter::libraryEventLog(fw(kKs3)).empty());

    struct Case {
        const char *what;
        Card card;
        const char *action;
        u32 status;
        const char *text;
    } cases[] = {
        {"Pivard refresh", kPivard, "RefreshEventLog", 259, "This operation is not supported on this controller."},
        {"Pivard clear", kPivard, "ClearEventLog", 259, "This operation is not supported on this controller."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Outcome o = run(group(ks(c.card), "EventLog"), c.action, {});
        EXPECT_EQ(o.rc, 1u);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.text, c.text);
    }
    fw(kVeskarn).setFault(2, 62, {.status = 1, .times = 1});
    Outcome o = run(group(ks(kVeskarn), "EventLog"), "ClearEventLog", {});
    EXPECT_NE(o.rc, 0u);
    EXPECT_EQ(o.status, 113u);
    fw(kVeskarn).setFault(2, 63, {.status = 3, .times = 1});
    o = run(group(ks(kVeskarn), "EventLog"), "RefreshEventLog", {});
    EXPECT_EQ(o.status, 112u);
    vm_flag = 1;
    o = run(log, "RefreshEventLog", {});
    vm_flag = 0;
    EXPECT_EQ(o.status, 256u);
}

// A failed read at start-up is logged; start-up goes on.
TEST_F(EventLog, StartUpGoesOnWithoutTheLog)
{
    boot([](chardev::EmulatedHost &h) {
        fill(h.engine(kKs3));
        h.engine(kKs3).setFault(2, 63, {.status = 3, .times = 1});
    });
    EXPECT_TRUE(entries(kKs3).empty());
    EXPECT_NE(diag(kKs3), nullptr);
    EXPECT_EQ(cached(diag(kKs3), "IsLoopbackSupported"), "True") << "the fillers after it ran";
}

// mend: the count of a reply that claims more entries than its 65480 bytes
// hold shows the entries it holds.
TEST_F(EventLog, CountIsBoundedByTheReply)
{
    fill(fw(kKs3));
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 24 && r[0] == 63 && r[1] == 2) {
            r[20] = 0x88;   // 5000
            r[21] = 0x13;
            r[22] = 0;
            r[23] = 0;
        }
    });
    Outcome o = run(group(ks(kKs3), "EventLog"), "RefreshEventLog", {});
    host_->setReplyRewrite({});
    EXPECT_EQ(o.rc, 0u) << o.text;
    std::vector<Shown> shown = entries(kKs3);
    ASSERT_EQ(shown.size(), (65480u - 8u) / 64u);
    EXPECT_EQ(shown[0].description, "Ethernet link is up on Port :1");
    EXPECT_EQ(shown.back().description, "Management firmware load successful") << "the reply's zeros";
}

TEST(EventTexts, NinetyFiveFormatsAndFourSeverities)
{
    const char *spot[][2] = {{"0", "Management firmware load successful"},
                             {"5", "Ioctl with page code:%x timed out, IRB:%x"},
                             {"43", "DHCP Renew request was NAK'd; But, continue to use current IP"},
                             {"61", "Tessguard: Diffie-Hellman group %u (%u bits)"},
                             {"94", "Tessguard: Could not start certificate request operation"}};
    for (auto &s : spot)
        EXPECT_STREQ(ks_event_desc[atoi(s[0])], s[1]);
    for (u32 i = 0; i < ORSA_EVENT_FORMATS; ++i) {
        ASSERT_NE(ks_event_desc[i], nullptr) << i;
        // Every conversion takes one of the five u32 parameters.
        for (const char *p = strchr(ks_event_desc[i], '%'); p != nullptr; p = strchr(p + 1, '%'))
            EXPECT_TRUE(strspn(p + 1, "0123456789") < 3 && strchr("xdu", p[1 + strspn(p + 1, "0123456789")]) != nullptr)
                << i;
    }
    const char *sev[] = {"Informational", "Warning", "Error", "Fatal"};
    for (u32 i = 0; i < 4; ++i)
        EXPECT_STREQ(event_severity_to_str(i), sev[i]);
    EXPECT_EQ(event_severity_to_str(4), nullptr);
}

}  // namespace
