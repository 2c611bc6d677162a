// The exported client hooks backend_client_init/backend_client_exit work on
// the tree of the clients that ORSA_init counted. Called while the library is
// not open they refuse with a status and build, open and leak nothing.
#include "api_host.h"
#include "backend/orsa_backend.h"

namespace {

constexpr const char *kRefusal = "1 The library is not open. Please call ORSA_init first.";

class Hooks : public ApiHost {
protected:
    // Both hooks, twice each, refused; nothing left behind.
    void expect_refused(const char *when)
    {
        SCOPED_TRACE(when);
        i32 counter = orsa_counter;
        int fds = open_descriptors();
        for (int round = 0; round < 2; round++) {
            EXPECT_EQ(backend_client_init(1), 1u);
            EXPECT_EQ(status_text(), kRefusal);
            backend_client_exit(0);
            EXPECT_EQ(status_text(), kRefusal);
        }
        EXPECT_EQ(orsa_hierarchy_count, 0u) << "no tree without a client";
        EXPECT_EQ(orsa_counter, counter) << "allocations";
        EXPECT_EQ(open_descriptors(), fds);
        EXPECT_EQ(host_->openDescriptors(), 0u);
    }
};

TEST_F(Hooks, RefusedBeforeInitAndAfterExitAndTheNextOpenIsWhole)
{
    i32 counter = orsa_counter;
    int fds = open_descriptors();
    expect_refused("before ORSA_init");

    ASSERT_EQ(ORSA_init(), 0u);
    EXPECT_EQ(orsa_hierarchy_count, 1u) << "one tree, registered once";
    u32 ks = group_tag_of("Kalderstone1");
    EXPECT_NE(ks, HM_TAG_NONE);
    EXPECT_EQ(group_tag_of("Kalderstone2"), HM_TAG_NONE) << "each adapter once";
    ASSERT_EQ(ORSA_exit(), 0u);

    expect_refused("after ORSA_exit");
    EXPECT_EQ(orsa_counter, counter);
    EXPECT_EQ(open_descriptors(), fds);
}

TEST_F(Hooks, TwiceWhileOpenLeaveNothingBehind)
{
    i32 counter = orsa_counter;
    int fds = open_descriptors();
    ASSERT_EQ(ORSA_init(), 0u);
    for (int round = 0; round < 2; round++) {
        EXPECT_EQ(backend_client_init(1), 0u) << status_text();
        backend_client_exit(0);
    }
    EXPECT_EQ(backend_client_init(1), 0u) << "the devices open again for the client";
    EXPECT_NE(group_tag_of("Kalderstone0/iSCSIPhysicalHBA0"), HM_TAG_NONE);
    ASSERT_EQ(ORSA_exit(), 0u);
    EXPECT_EQ(orsa_hierarchy_count, 0u);
    EXPECT_EQ(orsa_counter, counter) << "allocations";
    EXPECT_EQ(open_descriptors(), fds);
}

}  // namespace
