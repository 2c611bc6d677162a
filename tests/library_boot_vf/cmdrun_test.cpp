// The host's command runner: the program gets the argument vector as it is,
// no shell reads it, and the exit status comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend/orsa_cmdrun.h"

namespace {

TEST(CmdRun, ExitStatusComesBack)
{
    struct Case {
        std::vector<const char *> argv;
        int status;
    } cases[] = {
        {{"true"}, 0},
        {{"false"}, 1},
        {{"sh", "-c", "exit 3"}, 3},
        // Not found: the child that was to run it answers 127, as a shell would.
        {{"no-such-program-of-this-host"}, 127},
        {{"sh", "-c", "kill -9 $$"}, -1},
    };
    for (Case &c : cases) {
        c.argv.push_back(nullptr);
        EXPECT_EQ(orsa_run_command(c.argv.data()), c.status) << c.argv[0] << " " << (c.argv[1] ? c.argv[1] : "");
    }
}

TEST(CmdRun, NoShellReadsTheArguments)
{
    const char *marker = "/tmp/cmdrun-marker";
    unlink(marker);
    std::string text = std::string("a; touch ") + marker;
    // test(1) compares its two texts; a shell would have run the touch.
    const char *argv[] = {"test", text.c_str(), "=", text.c_str(), nullptr};
    EXPECT_EQ(orsa_run_command(argv), 0);
    struct stat st;
    EXPECT_NE(stat(marker, &st), 0);
}

int fixed_answer(void *context, const char *const argv[])
{
    *static_cast<std::string *>(context) = argv[0];
    return 42;
}

TEST(CmdRun, ARunnerStandsInAndTheHostsComesBack)
{
    std::string seen;
    orsa_set_command_runner(fixed_answer, &seen);
    const char *argv[] = {"false", nullptr};
    EXPECT_EQ(orsa_run_command(argv), 42);
    EXPECT_EQ(seen, "false");
    orsa_set_command_runner(nullptr, nullptr);
    EXPECT_EQ(orsa_run_command(argv), 1);
}

}  // namespace
