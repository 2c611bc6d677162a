/* The bootstrap: ROOT and its built-ins on a fresh tree, the tree rebuilt
 * after a teardown, and a failed start-up that leaves nothing behind. */
#include <string.h>

#include "tree_fixture.h"

namespace {

TEST(Bootstrap, EveryFailedAllocationLeavesNothingBehind)
{
    const char *in_root = getenv("TAMSIL_IN_TESTROOT");
    ASSERT_TRUE(in_root != nullptr && strcmp(in_root, "1") == 0) << "run through run-in-testroot";
    int failures = 0;
    for (i32 k = 0; k < 64; k++) {
        i32 before = orsa_counter;
        orsa_dmalloc_fail_countdown = k;
        u32 rc = ORSA_init();
        bool failed_alloc = orsa_dmalloc_fail_countdown < 0;
        orsa_dmalloc_fail_countdown = -1;
        if (rc != 0) {
            failures++;
            EXPECT_EQ(orsa_client_count, 0) << "allocation " << k;
            EXPECT_EQ(orsa_hierarchy_count, 0u) << "allocation " << k;
            EXPECT_EQ(orsa_counter, before) << "allocation " << k;
            continue;
        }
        /* an allocation that failed after the tree stood would be a built-in
         * refused and dropped; none of the bootstrap's allocations is such */
        EXPECT_FALSE(failed_alloc) << "allocation " << k << " failed but the start succeeded";
        EXPECT_EQ(ORSA_exit(), 0u);
        EXPECT_EQ(orsa_counter, before);
        break;
    }
    /* tag table, bitmap, ROOT's body, three property bodies */
    EXPECT_EQ(failures, 6);
    /* and a clean start afterwards */
    ASSERT_EQ(ORSA_init(), 0u);
    EXPECT_EQ(ORSADebugLevel_node.tag, 3u);
    EXPECT_EQ(orsa_hierarchy_count, 1u);
    ORSA_exit();
}

using Rebuild = TreeTest;

TEST_F(Rebuild, StaticNodesSurviveATeardownWithNewBodies)
{
    static u8 bits[2];
    memset(bits, 0, sizeof bits);
    ASSERT_NE(b.instance(root, "Kalderstone", bits, 16), nullptr);
    SET_CACHE_PROP_VAL(&ORSAServiceVersion_node, "%s", "12.0.1");
    exit_hm();
    EXPECT_EQ(ROOT.body, nullptr);
    EXPECT_EQ(ORSAServiceVersion_node.body, nullptr);
    EXPECT_EQ(bits[0], 0) << "deleting the instance cleared its bit";
    ASSERT_EQ(init_hm(), 0u);
    EXPECT_EQ(ROOT.tag, 0u);
    EXPECT_EQ(ORSADebugLevel_node.tag, 3u);
    EXPECT_STREQ(HM_PROPERTY(&ORSAServiceVersion_node)->value, "0");
    EXPECT_EQ(HM_GROUP(&ROOT)->first_child, &ORSAServiceVersion_node);
    EXPECT_EQ(persistency_priority, 1u);
    char value[HM_VALUE_SIZE];
    EXPECT_EQ(internal_get_property(&ROOT, "ORSAHierarchyVersion", value), 0u);
    EXPECT_STREQ(value, "0");
    const HmProperty *dl = HM_PROPERTY(&ORSADebugLevel_node);
    EXPECT_STREQ(dl->list, "0,1,2,3,4,5,6");
    EXPECT_EQ(dl->flags, HM_PROP_WRITABLE);
    EXPECT_EQ(dl->type, HM_TYPE_LIST);
    EXPECT_EQ(dl->handler, handle_ORSADebugLevel);
    EXPECT_EQ(HM_PROPERTY(&ORSAServiceVersion_node)->handler, handle_internal_property);
    EXPECT_EQ(HM_PROPERTY(&ORSAServiceVersion_node)->flags, HM_PROP_READONLY);
}

} // namespace
