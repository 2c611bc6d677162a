/* A tree opened through ORSA_init in the throw-away test root, torn down
 * after each test with a check that every allocation was given back. */
#ifndef TESTS_LIBRARY_TREE_TREE_FIXTURE_H
#define TESTS_LIBRARY_TREE_TREE_FIXTURE_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "tree/orsa_api.h"
#include "tree_build.h"

class TreeTest : public ::testing::Test {
protected:
    TreeBuild b;
    i32 counter_before = 0;
    HmNode *root = &ROOT;
    bool started = false;

    void SetUp() override
    {
        /* The library writes below /scratch: never on the machine itself. */
        const char *in_root = getenv("TAMSIL_IN_TESTROOT");
        ASSERT_TRUE(in_root != nullptr && strcmp(in_root, "1") == 0) << "run through run-in-testroot";
        unlink(ORSA_CONF_FILE);
        unlink(ORSA_LOG_FILE);
        orsa_debug_level = 0;
        orsa_debug_subsystem = 3;
        counter_before = orsa_counter;
        ASSERT_EQ(ORSA_init(), 0u);
        started = true;
    }

    void TearDown() override
    {
        if (!started)
            return;
        while (orsa_client_count > 0)
            ORSA_exit();
        b.release();
        EXPECT_EQ(orsa_counter, counter_before) << "allocations not given back";
        orsa_dmalloc_fail_countdown = -1;
    }
};

#endif
