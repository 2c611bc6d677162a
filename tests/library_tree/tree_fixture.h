/* A tree opened through ORSA_init in the throw-away test root, torn down
 * after each test with a check that every allocation was given back. */
#ifndef TESTS_LIBRARY_TREE_TREE_FIXTURE_H
#define TESTS_LIBRARY_TREE_TREE_FIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include "tree/orsa_api.h"
#include "tree_build.h"

class TreeTest : public ::testing::Test {
protected:
    TreeBuild b;
    i32 counter_before = 0;
    HmNode *root = &ROOT;

    void SetUp() override
    {
        unlink(ORSA_CONF_FILE);
        unlink(ORSA_LOG_FILE);
        orsa_debug_level = 0;
        orsa_debug_subsystem = 3;
        counter_before = orsa_counter;
        ASSERT_EQ(ORSA_init(), 0u);
    }

    void TearDown() override
    {
        while (orsa_client_count > 0)
            ORSA_exit();
        b.release();
        EXPECT_EQ(orsa_counter, counter_before) << "allocations not given back";
        orsa_dmalloc_fail_countdown = -1;
    }
};

#endif
