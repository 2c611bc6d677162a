// A writer that dies after it wrote the staging file and before it renamed
// it over the data file: the data file stays whole, and the next writer takes
// the staging file over. This program's rename() kills its caller when told
// to, in a child process that runs one rewrite.
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

#include "iscsi_tree.h"

namespace {
volatile sig_atomic_t die_at_rename = 0;
}

extern "C" int rename(const char *from, const char *to)
{
    if (die_at_rename)
        raise(SIGKILL);
    return (int)syscall(SYS_rename, from, to);
}

namespace {

std::string lines(const std::vector<std::string> &ls)
{
    std::string s;
    for (const std::string &l : ls)
        s += l + "\n";
    return s;
}

class Crash : public IscsiTree {};

TEST_F(Crash, BetweenTheStagingWriteAndTheRenameTheOldFileStaysWhole)
{
    HmNode *t = Target(lhba_[0], "iqn.a", {{"10.0.0.1", "3260"}});
    HmNode *stp = Stp(lhba_[0], "10.0.0.9", "3260");
    struct Case {
        const char *what;
        const char *data, *temp;
        std::string text;
        std::function<u32()> write;
    } cases[] = {
        {"a target option", ORSA_SAVETGT_FILE, ORSA_TEMP_TGT_FILE,
         lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260"), tgt_line(kKey1, "iqn.b", "10.0.0.2", "3260")}),
         [&] {
             return ORSA_set_target_loginoptions(t, Options(t, "TargetLoginOptions"), Auth(t, "TargetLoginOptions"),
                                                 "HeaderDigest", "CRC32C");
         }},
        {"a removal", ORSA_SAVETGT_FILE, ORSA_TEMP_TGT_FILE,
         lines({tgt_line(kKey0, "iqn.a", "10.0.0.1", "3260"), tgt_line(kKey1, "iqn.b", "10.0.0.2", "3260")}),
         [&] { return ORSA_remove_entry_from_file(lhba_[0], nullptr, nullptr, nullptr, 0, ORSA_ENTRY_LHBA); }},
        {"a portal option", ORSA_SAVESTP_FILE, ORSA_TEMP_STP_FILE, lines({stp_line(kKey0, "10.0.0.9", "3260")}),
         [&] {
             return ORSA_set_stploginoptions(stp, Options(stp, "SendTargetPortalLoginOptions"),
                                             Auth(stp, "SendTargetPortalLoginOptions"), "DataDigest", "CRC32C");
         }},
        {"an initiator option", ORSA_LOGOPTS_FILE, ORSA_TEMP_LOGOPTS_FILE,
         lines({logopts_line(kKey0), logopts_line(kKey1)}),
         [&] {
             return ORSA_set_initiator_loginoptions(lhba_[0], Options(lhba_[0], "InitiatorLoginOptions"),
                                                    Auth(lhba_[0], "InitiatorLoginOptions"), "HeaderParam",
                                                    "Preferred");
         }},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        write_file(c.data, c.text);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            die_at_rename = 1;
            c.write();
            _exit(0);  // not reached: the rename kills it
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer reached no rename";
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        EXPECT_EQ(read_file(c.data), c.text) << "the data file is the old one, whole";
        ASSERT_TRUE(file_exists(c.temp)) << "the writer died after staging";
        EXPECT_NE(read_file(c.temp), c.text);

        // The dead writer's lock went with it: the next writer stages anew.
        ASSERT_EQ(c.write(), 0u);
        EXPECT_NE(read_file(c.data), c.text);
        EXPECT_FALSE(file_exists(c.temp));
    }
}

}  // namespace
