// Two threads of one client process open the library, walk it, read and
// write properties, run an action and close it again, over and over. Every
// call must see a whole tree, and each thread must read its own last status
// however the other thread's calls fall in between.
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

#include "api_host.h"

namespace {

constexpr int kRounds = 40;

struct Expected {
    u32 controller_groups;  // group children of Kalderstone0
    std::string serial;
};

// One thread's round. Thread 0 fails a write on a read-only property, thread
// 1 runs an action without its required parameters; each then reads its own
// status.
bool client_round(int id, const Expected &want, std::string *why)
{
    auto fail = [why](std::string text) {
        *why = std::move(text);
        return false;
    };
    if (ORSA_init() != 0)
        return fail("ORSA_init");
    u32 ks = ApiHost::group_tag_of("Kalderstone0");
    char name[HM_NAME_SIZE] = "";
    if (ks == HM_TAG_NONE || ORSA_get_node_name(ks, name, HM_KIND_GROUP) != 0 || strcmp(name, "Kalderstone0") != 0)
        return fail("controller group");
    u32 tags[512], count = 0;
    if (ORSA_get_child_tags(ks, tags, &count, ORSA_FILTER_GROUPS) != 0 || count != want.controller_groups)
        return fail("children of the controller: " + std::to_string(count));
    u32 serial = ApiHost::child_tag_of(ks, "SerialNumber", HM_KIND_PROPERTY);
    char value[HM_VALUE_SIZE] = "";
    if (serial == HM_TAG_NONE || ORSA_get_property_val(ks, serial, value, sizeof value) != 0 || value != want.serial)
        return fail(std::string("serial number read: ") + value);
    u32 level = ApiHost::child_tag_of(0, "ORSADebugLevel", HM_KIND_PROPERTY);
    char zero[HM_VALUE_SIZE] = "0";
    if (ORSA_set_property_val(0, level, zero, sizeof zero) != 0)
        return fail("log level write");

    std::string expected;
    if (id == 0) {
        char text[HM_VALUE_SIZE] = "other";
        if (ORSA_set_property_val(ks, serial, text, sizeof text) != 1)
            return fail("write of a read-only property");
        expected = "10 Read only property";
    } else {
        u32 tcpip = ApiHost::group_tag_of("Kalderstone0/iSCSIPhysicalHBA0/Network/TCPIPConfiguration");
        u32 action = ApiHost::child_tag_of(tcpip, "ConfigureIPAddress", HM_KIND_ACTION);
        HmValueSlot params[HM_MAX_PARAMS];
        memset(params, 0xFF, sizeof params);
        if (action == HM_TAG_NONE || ORSA_do_action(tcpip, action, params, nullptr) != 1)
            return fail("action");
        expected = "9 IPAddress: Parameter missing.";
    }
    // Let the other thread run its calls before this one looks.
    for (int k = 0; k < 3; k++) {
        sched_yield();
        usleep(100);
    }
    std::string got = ApiHost::status_text();
    if (got != expected)
        return fail("own last status: " + got);
    if (ORSA_exit() != 0)
        return fail("ORSA_exit");
    return true;
}

class Threads : public ApiHost {};

TEST_F(Threads, TwoClientsOfOneProcessCallAtOnce)
{
    i32 counter_before = orsa_counter;
    int fds_before = open_descriptors();

    Expected want;
    ASSERT_EQ(ORSA_init(), 0u);
    u32 tags[512];
    u32 ks = group_tag_of("Kalderstone0");
    ASSERT_NE(ks, HM_TAG_NONE);
    ASSERT_EQ(ORSA_get_child_tags(ks, tags, &want.controller_groups, ORSA_FILTER_GROUPS), 0u);
    ASSERT_GT(want.controller_groups, 4u);
    want.serial = "KS3EMU000001";
    ASSERT_EQ(ORSA_exit(), 0u);

    std::atomic<int> rounds_done[2] = {0, 0};
    std::string why[2];
    std::vector<std::thread> threads;
    for (int id = 0; id < 2; id++)
        threads.emplace_back([&, id] {
            for (int r = 0; r < kRounds; r++) {
                if (!client_round(id, want, &why[id]))
                    return;
                rounds_done[id]++;
            }
        });
    for (std::thread &t : threads)
        t.join();

    for (int id = 0; id < 2; id++)
        EXPECT_EQ(rounds_done[id].load(), kRounds) << "thread " << id << " stopped at: " << why[id];
    EXPECT_EQ(orsa_client_count, 0);
    EXPECT_EQ(orsa_hierarchy_count, 0u) << "the last ORSA_exit takes the tree down";
    EXPECT_EQ(orsa_counter, counter_before) << "allocations not given back";
    EXPECT_EQ(open_descriptors(), fds_before);
}

}  // namespace
