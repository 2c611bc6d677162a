// What drelmo.h says of results, checked over the whole tree of an emulated
// host through the exported calls: every read, every write of a value back,
// every action with no parameter given. A call that fails leaves a status
// with a text, and returns that status or 1; a success may leave a notice.
#include <algorithm>
#include <string>
#include <vector>

#include "api_host.h"
#include "backend/orsa_cmdrun.h"

namespace {

class Conventions : public ApiHost {
protected:
    void SetUp() override
    {
        ApiHost::SetUp();
        // The VF settings' "ip link" commands reach the emulated host's ip.
        orsa_set_command_runner(
            [](void *h, const char *const argv[]) {
                std::vector<std::string> v;
                for (size_t i = 0; argv[i] != nullptr; ++i)
                    v.emplace_back(argv[i]);
                return static_cast<chardev::EmulatedHost *>(h)->runIpLink(v);
            },
            host_.get());
    }
    void TearDown() override
    {
        orsa_set_command_runner(nullptr, nullptr);
        ApiHost::TearDown();
    }
};

struct Tally {
    unsigned calls = 0, direct = 0, one = 0, notices = 0;
    std::vector<std::string> faults;

    void check(const std::string &what, u32 rc)
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        calls++;
        if (rc == 0) {
            notices += code != 0;
            if (code != 0 && text[0] == '\0')
                faults.push_back(what + ": a notice " + std::to_string(code) + " without text");
            return;
        }
        if (code == 0 || text[0] == '\0')
            faults.push_back(what + ": returned " + std::to_string(rc) + " and left no status");
        else if (rc == code)
            direct++;
        else if (rc == 1)
            one++;
        else
            faults.push_back(what + ": returned " + std::to_string(rc) + " with status " + std::to_string(code));
    }
};

std::string label(u32 tag, u32 kind)
{
    char name[HM_NAME_SIZE] = "";
    ORSA_get_node_name(tag, name, kind);
    return name;
}

std::vector<u32> children(u32 group, u32 filter)
{
    std::vector<u32> tags(ORSA_MAX_CHILD_TAGS);
    u32 n = 0;
    if (ORSA_get_child_tags(group, tags.data(), &n, filter) != 0)
        return {};
    tags.resize(n);
    return tags;
}

struct ActionAt {
    u32 group, action;
    std::string path;
};

void walk(u32 group, const std::string &path, Tally &t, std::vector<ActionAt> &actions)
{
    std::vector<u32> writable = children(group, ORSA_FILTER_WRITABLE);
    for (u32 p : children(group, ORSA_FILTER_PROPERTIES)) {
        std::string what = path + "/" + label(p, HM_KIND_PROPERTY);
        char value[HM_VALUE_SIZE] = "";
        t.check("read " + what, ORSA_get_property_val(group, p, value, sizeof value));
        if (std::find(writable.begin(), writable.end(), p) != writable.end())
            t.check("write back " + what, ORSA_set_property_val(group, p, value, sizeof value));
    }
    for (u32 a : children(group, ORSA_FILTER_ACTIONS))
        actions.push_back({group, a, path + "/" + label(a, HM_KIND_ACTION)});
    for (u32 g : children(group, ORSA_FILTER_GROUPS))
        walk(g, path + "/" + label(g, HM_KIND_GROUP), t, actions);
}

TEST_F(Conventions, EveryFailureOfTheTreeComesWithItsStatus)
{
    ASSERT_EQ(ORSA_init(), 0u) << status_text();
    Tally t;
    std::vector<ActionAt> actions;
    walk(0, "ROOT", t, actions);
    // Actions may make and delete groups: after each one the tags of the
    // walk may name nothing any more, which is refused with a status too.
    for (const ActionAt &a : actions) {
        HmValueSlot params[HM_MAX_PARAMS];
        memset(params, ORSA_PARAM_NOT_GIVEN, sizeof params);
        t.check("run " + a.path, ORSA_do_action(a.group, a.action, params, nullptr));
    }
    for (const std::string &f : t.faults)
        ADD_FAILURE() << f;
    EXPECT_GT(t.calls, 1000u) << "the whole tree of two adapters";
    // Both forms of a failure, and notices after successes, are there.
    EXPECT_GT(t.direct, 0u);
    EXPECT_GT(t.one, 0u);
    EXPECT_GT(t.notices, 0u);
}

TEST_F(Conventions, StatusesAndBuffersAsTheHeaderTellsThem)
{
    ASSERT_EQ(ORSA_init(), 0u) << status_text();
    u32 ctl = group_tag_of("Kalderstone0");
    ASSERT_NE(ctl, HM_TAG_NONE);

    // A read this library cannot serve yet: 259 itself, and the property's
    // default text in the buffer.
    char value[HM_VALUE_SIZE] = "";
    u32 stats = group_tag_of("Kalderstone0/iSCSIPhysicalHBA0/LogicalHBA0/iSCSIStatistics");
    ASSERT_NE(stats, HM_TAG_NONE);
    u32 sessions = child_tag_of(stats, "SessionCount", HM_KIND_PROPERTY);
    EXPECT_EQ(ORSA_get_property_val(stats, sessions, value, sizeof value), (u32)ORSA_STATUS_NOT_SUPPORTED);
    EXPECT_EQ(status_text(), "259 This operation is not supported on this controller.");
    EXPECT_STREQ(value, "1");

    // A read-only write: 1, the code in the last status.
    u32 serial = child_tag_of(ctl, "SerialNumber", HM_KIND_PROPERTY);
    strcpy(value, "X");
    EXPECT_EQ(ORSA_set_property_val(ctl, serial, value, sizeof value), 1u);
    EXPECT_EQ(status_text(), "10 Read only property");

    // An unknown name: 1, status 1 with a text.
    u32 tag = 12345;
    EXPECT_EQ(ORSA_get_node_tag(ctl, "NoSuchProperty", &tag, HM_KIND_PROPERTY), 1u);
    EXPECT_EQ(tag, 12345u);
    EXPECT_EQ(status_text(), "1 Group tag " + std::to_string(ctl) + " has no property named \"NoSuchProperty\".");

    // A value longer than the buffer: what fits, and 11.
    char small[5];
    EXPECT_EQ(ORSA_get_property_val(ctl, serial, small, sizeof small), (u32)ORSA_STATUS_NO_ROOM);
    EXPECT_STREQ(small, "KS3E");
    EXPECT_EQ(status_text(), "11 The value has 12 characters: the buffer of 5 bytes holds 4 and the terminator.");
    char fits[13];
    EXPECT_EQ(ORSA_get_property_val(ctl, serial, fits, sizeof fits), 0u);
    EXPECT_STREQ(fits, "KS3EMU000001");

    // A setting taken that needs a reboot: 0 with a notice.
    u32 advanced = child_tag_of(ctl, "AdvancedMode", HM_KIND_PROPERTY);
    ASSERT_EQ(ORSA_get_property_val(ctl, advanced, value, sizeof value), 0u);
    EXPECT_EQ(ORSA_set_property_val(ctl, advanced, value, sizeof value), 0u);
    EXPECT_EQ(status_text().substr(0, 4), "312 ");

    static_assert(HM_MAX_NEW_TAGS == ORSA_MAX_NEW_TAGS, "one bound of the new tags");
}

} // namespace
