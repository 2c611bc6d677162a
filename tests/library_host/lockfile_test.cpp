// Lock files under /tmp: taken, busy with the one timed re-check, released.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tree/orsa_lockfile.h"

namespace {

bool exists(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

// The wait is replaced so no test sleeps; each records what happened in it.
int g_waits;
uint32_t g_wait_seconds;
std::string g_remove_during_wait;

void fake_wait(uint32_t seconds)
{
    g_waits++;
    g_wait_seconds = seconds;
    if (!g_remove_during_wait.empty())
        unlink(g_remove_during_wait.c_str());
}

class LockFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_waits = 0;
        g_wait_seconds = 0;
        g_remove_during_wait.clear();
        orsa_lockfile_set_wait(fake_wait);
        unlink("/tmp/ORSA_ASIC_card0.txt");
        unlink("/tmp/orsa_lock_init.txt");
    }
    void TearDown() override { orsa_lockfile_set_wait(nullptr); }
};

TEST_F(LockFiles, TakeCreatesAnEmptyFileAndReleaseDeletesIt)
{
    ASSERT_EQ(orsa_acquire_lock("card0"), 0u);
    struct stat st{};
    ASSERT_EQ(stat("/tmp/ORSA_ASIC_card0.txt", &st), 0);
    EXPECT_EQ(st.st_size, 0);
    EXPECT_EQ(g_waits, 0);
    EXPECT_EQ(orsa_release_lock("card0"), 0u);
    EXPECT_FALSE(exists("/tmp/ORSA_ASIC_card0.txt"));
    EXPECT_EQ(orsa_release_lock("card0"), 1u);  // nothing to release
}

TEST_F(LockFiles, BusyLockWaitsThreeSecondsOnceThenFails)
{
    ASSERT_EQ(orsa_acquire_lock("card0"), 0u);
    EXPECT_EQ(orsa_acquire_lock("card0"), 1u);
    EXPECT_EQ(g_waits, 1);
    EXPECT_EQ(g_wait_seconds, 3u);
    EXPECT_TRUE(exists("/tmp/ORSA_ASIC_card0.txt"));
}

TEST_F(LockFiles, LockFreedDuringTheWaitIsTakenAndHeld)
{
    ASSERT_EQ(orsa_acquire_lock("card0"), 0u);
    g_remove_during_wait = "/tmp/ORSA_ASIC_card0.txt";
    EXPECT_EQ(orsa_acquire_lock("card0"), 0u);
    EXPECT_EQ(g_waits, 1);
    // The second holder owns the file: a third caller finds it busy.
    g_remove_during_wait.clear();
    EXPECT_TRUE(exists("/tmp/ORSA_ASIC_card0.txt"));
    EXPECT_EQ(orsa_acquire_lock("card0"), 1u);
}

TEST_F(LockFiles, InitLockUsesItsOwnFile)
{
    ASSERT_EQ(orsa_init_acquire_lock(), 0u);
    EXPECT_TRUE(exists("/tmp/orsa_lock_init.txt"));
    EXPECT_EQ(orsa_init_acquire_lock(), 1u);
    EXPECT_EQ(g_waits, 1);
    EXPECT_EQ(orsa_init_release_lock(), 0u);
    EXPECT_EQ(orsa_init_release_lock(), 1u);
    EXPECT_EQ(orsa_lock_init(), 0u);
    EXPECT_EQ(orsa_lock_free(), 0u);
}

TEST_F(LockFiles, RefusedNames)
{
    std::string too_long(256, 'x');  // the path would exceed 255 characters
    std::string longest(255 - std::string("/tmp/ORSA_ASIC_.txt").size(), 'y');
    struct Case {
        const char *name;
    } refused[] = {{nullptr}, {""}, {too_long.c_str()}, {"../etc/x"}, {"a/b"}};
    for (const Case &c : refused) {
        EXPECT_EQ(orsa_acquire_lock(c.name), 1u) << (c.name ? c.name : "(null)");
        EXPECT_EQ(orsa_release_lock(c.name), 1u);
    }
    EXPECT_EQ(g_waits, 0);
    EXPECT_EQ(orsa_acquire_lock(longest.c_str()), 0u);
    EXPECT_EQ(orsa_release_lock(longest.c_str()), 0u);
}

TEST_F(LockFiles, TwoProcessesRacingGetOneLock)
{
    // Both children try at the same moment; exactly one may win because the
    // file is created in one step.
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t kids[2];
    for (pid_t &k : kids) {
        k = fork();
        ASSERT_GE(k, 0);
        if (k == 0) {
            char c;
            close(go[1]);
            if (read(go[0], &c, 1) != 1)
                _exit(3);
            _exit(static_cast<int>(orsa_acquire_lock("card0")));
        }
    }
    close(go[0]);
    ASSERT_EQ(write(go[1], "gg", 2), 2);
    close(go[1]);
    int won = 0;
    for (pid_t k : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(k, &status, 0), k);
        ASSERT_TRUE(WIFEXITED(status));
        won += WEXITSTATUS(status) == 0;
    }
    EXPECT_EQ(won, 1);
}

}  // namespace
