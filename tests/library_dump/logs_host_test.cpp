// The firmware trace log (FAT), its Pivard object and the firmware command
// line; the extended firmware log saved to a file; the extended log's
// configuration actions.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "backend/orsa_extlog.h"
#include "backend/orsa_propertyutil.h"
#include "dump_fixture.h"
#include "extfat_image.h"
#include "fw_discovery.h"
#include "maintenance/maint_startup.h"
#include "tree/hm_lookup.h"

namespace {

using adapter::Gen;

std::vector<uint8_t> bytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = (uint8_t)(i * 7 + seed + (i >> 9));
    return v;
}

class Logs : public DumpHost {
protected:
    HmNode *ks3() { return controllerOf(Gen::KS3); }
    HmNode *fat(Gen g) { return group(controllerOf(g), "FATData"); }
    HmNode *xd() { return group(ks3(), "ExtFATData"); }
    // The controller's commands go through its first iSCSI function.
    std::vector<std::vector<u8>> requests(u8 sub, u8 op) { return sent(sub, op); }
};

}  // namespace

// ---- FAT ----

TEST_F(Logs, FatLargerThanOneReadComesInChunksWithoutItsHeader)
{
    std::vector<uint8_t> log = bytes(150000, 3);
    fw(Gen::KS3).fatLog() = log;
    std::string p = path("fat.bin");
    host_->clearLog();
    ASSERT_EQ(run(fat(Gen::KS3), "RetrieveFATData", {p.c_str()}), 0u) << last_text();
    EXPECT_EQ(dumptest::readAll(p), log);
    // The size, then reads of 64000 bytes and a short last one.
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (const std::vector<u8> &r : requests(1, 68))
        if (dumptest::le32(&r[0]) == 0)
            reads.push_back({dumptest::le32(&r[4]), dumptest::le32(&r[8])});
    using Reads = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(reads, (Reads{{0, 64000}, {64000, 64000}, {128000, 22004}}));
}

TEST_F(Logs, FatSizesWithoutALog)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> image;  // the FAT as the adapter keeps it
        bool file;
    } cases[] = {
        {"empty", {}, false},          {"one byte", {1}, false}, {"three bytes", {1, 2, 3}, false},
        {"header only", {0, 0, 0, 0}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        setup(Gen::KS3).fat_raw = true;
        setup(Gen::KS3).fat = c.image;
        std::string p = path("fat-small.bin");
        unlink(p.c_str());
        orsa_reset_last_status();
        ASSERT_EQ(run(fat(Gen::KS3), "RetrieveFATData", {p.c_str()}), 0u);
        EXPECT_EQ(last_code(), c.file ? 0u : 77u);
        EXPECT_EQ(exists(p), c.file);
        if (c.file) {
            EXPECT_EQ(dumptest::readAll(p).size(), 0u);
        }
    }
    EXPECT_EQ(last_text(), "");
}

TEST_F(Logs, FatFailuresLeaveTheOutputUntouched)
{
    fw(Gen::KS3).fatLog() = bytes(100000, 5);
    std::string p = path("fat-kept.bin");
    FILE *fp = fopen(p.c_str(), "wb");
    fputs("before", fp);
    fclose(fp);
    // The second read fails.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 36 && r[0] == 68 && r[1] == 1 && dumptest::le32(r + 16) == 0 && dumptest::le32(r + 20) == 64000)
            r[4] = 3;
    });
    EXPECT_EQ(run(fat(Gen::KS3), "RetrieveFATData", {p.c_str()}), 1u);
    host_->setReplyRewrite({});
    EXPECT_EQ(last_code(), 65u);
    EXPECT_EQ(dumptest::readAll(p), std::vector<uint8_t>({'b', 'e', 'f', 'o', 'r', 'e'}));

    EXPECT_EQ(run(fat(Gen::KS3), "RetrieveFATData", {"/tmp/no/such/folder/fat.bin"}), 1u);
    EXPECT_EQ(last_code(), 66u);
}

TEST_F(Logs, ClearFatEmptiesTheLog)
{
    fw(Gen::KS3).fatLog() = bytes(1000, 1);
    EXPECT_EQ(get(fat(Gen::KS3), "FATDataValid"), "Yes");
    ASSERT_EQ(run(fat(Gen::KS3), "ClearFATData", {}), 0u);
    EXPECT_TRUE(fw(Gen::KS3).fatLog().empty());
    EXPECT_EQ(get(fat(Gen::KS3), "FATDataValid"), "No");
    std::string p = path("none.bin");
    orsa_reset_last_status();
    EXPECT_EQ(run(fat(Gen::KS3), "RetrieveFATData", {p.c_str()}), 0u);
    EXPECT_EQ(last_code(), 77u);
    EXPECT_FALSE(exists(p));

    fw(Gen::KS3).setFault(1, 68, {.status = 3});
    EXPECT_EQ(run(fat(Gen::KS3), "ClearFATData", {}), 1u);
    EXPECT_EQ(last_code(), 65u);
}

TEST_F(Logs, PivardFatIsTheDumpObjectAppended)
{
    std::vector<uint8_t> obj = bytes(70000, 9);
    fw(Gen::Pivard).putObject("/dbg/dump.bin", obj);
    std::string p = path("pivard-fat.bin");
    host_->clearLog();
    ASSERT_EQ(run(fat(Gen::Pivard), "RetrieveFATData", {p.c_str()}), 0u) << last_text();
    EXPECT_EQ(dumptest::readAll(p), obj);
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (const std::vector<u8> &r : requests(1, 171))
        reads.push_back({dumptest::le32(&r[0]) & 0xFFFFFF, dumptest::le32(&r[4])});
    using Reads = std::vector<std::pair<uint32_t, uint32_t>>;
    // FATDataValid's length query, the action's, then the reads.
    EXPECT_EQ(reads, (Reads{{0, 0}, {0, 0}, {32768, 0}, {32768, 32768}, {4464, 65536}}));

    ASSERT_EQ(run(fat(Gen::Pivard), "RetrieveFATData", {p.c_str()}), 0u);
    std::vector<uint8_t> twice = obj;
    twice.insert(twice.end(), obj.begin(), obj.end());
    EXPECT_EQ(dumptest::readAll(p), twice) << "appended, not truncated";

    // The length the action asks answers 0: nothing to read.
    int queries = 0;
    host_->setReplyRewrite([&](uint8_t *r, size_t n) {
        if (n >= 24 && r[0] == 171 && r[1] == 1 && ++queries == 2)
            memset(r + 16, 0, 4);
    });
    std::string q = path("pivard-none.bin");
    EXPECT_EQ(run(fat(Gen::Pivard), "RetrieveFATData", {q.c_str()}), 1u);
    host_->setReplyRewrite({});
    EXPECT_EQ(last_code(), 271u);
    EXPECT_EQ(last_text(), "No data avaialable to read.");
    EXPECT_EQ(dumptest::readAll(q).size(), 0u);
}

TEST_F(Logs, PivardObjectRepliesAreHeldToWhatWasAsked)
{
    fw(Gen::Pivard).putObject("/dbg/dump.bin", bytes(50000, 2));
    // A read claims more than it was asked for.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 24 && r[0] == 171 && r[1] == 1 && (dumptest::le32(r + 16) & 0xFFFFFF) == 32768)
            memset(r + 16, 0xFF, 3);
    });
    std::string p = path("pivard-claim.bin");
    EXPECT_EQ(run(fat(Gen::Pivard), "RetrieveFATData", {p.c_str()}), 1u);
    host_->setReplyRewrite({});
    EXPECT_EQ(last_code(), 65u);
}

// ---- firmware command line ----

TEST_F(Logs, FwCliOutputGoesToItsFile)
{
    setup(Gen::KS3).cli["show ports"] = "port 0 up\nport 1 down\n";
    std::string p = path("cli.txt");
    host_->clearLog();
    ASSERT_EQ(run(ks3(), "RetrieveFwCliData", {p.c_str(), "show ports"}), 0u) << last_text();
    std::vector<uint8_t> out = dumptest::readAll(p);
    EXPECT_EQ(std::string(out.begin(), out.end()), "port 0 up\nport 1 down\n");
    std::vector<std::vector<u8>> reqs = requests(11, 24);
    ASSERT_EQ(reqs.size(), 1u);
    const std::vector<u8> &r = reqs[0];
    ASSERT_EQ(r.size(), 65000u);
    EXPECT_EQ(dumptest::le32(&r[0]), 3u);
    EXPECT_EQ(dumptest::le32(&r[4]), 0xFFFFFFFFu);
    EXPECT_EQ(dumptest::le32(&r[8]), 0u);
    EXPECT_EQ(dumptest::le32(&r[12]), 0u);
    EXPECT_EQ(dumptest::le32(&r[16]), 64000u);
    EXPECT_EQ(dumptest::le32(&r[20]), 10u);
    EXPECT_EQ(std::string(r.begin() + 24, r.begin() + 34), "show ports");
    EXPECT_EQ(r[34], 0) << "no terminator sent";
    EXPECT_EQ(host_->log().back().dev, chardev::Dev::Iscsi) << "the controller's first function";
}

TEST_F(Logs, FwCliRefusals)
{
    std::string p = path("cli-old.txt");
    FILE *fp = fopen(p.c_str(), "w");
    fputs("stale", fp);
    fclose(fp);
    EXPECT_EQ(run(ks3(), "RetrieveFwCliData", {p.c_str(), "no such command"}), 331u);
    EXPECT_EQ(last_code(), 331u);
    EXPECT_EQ(last_text(), "Given FWCliString not supported.");
    EXPECT_FALSE(exists(p)) << "the old output is deleted first";

    // An output longer than the reply holds is no answer.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 24 && r[0] == 24 && r[1] == 11)
            memset(r + 16 + 4, 0xFF, 4);
    });
    EXPECT_EQ(run(ks3(), "RetrieveFwCliData", {p.c_str(), "help"}), 1u);
    host_->setReplyRewrite({});
    EXPECT_EQ(last_code(), 269u);
    EXPECT_FALSE(exists(p));

    fw(Gen::KS3).setFault(11, 24, {.status = 3});
    EXPECT_EQ(run(ks3(), "RetrieveFwCliData", {p.c_str(), "help"}), 1u);
    EXPECT_EQ(last_code(), 269u);
    fw(Gen::KS3).clearFault(11, 24);

    orsa_reset_last_status();
    EXPECT_EQ(run(controllerOf(Gen::Pivard), "RetrieveFwCliData", {p.c_str(), "help"}), 1u);
    // The handler sets no status of its own: the API gives its bare 1 the
    // generic code and text.
    EXPECT_EQ(last_code(), 1u) << "a Pivard refuses with the generic status";
    EXPECT_EQ(last_text(), "Operation failed.");
    vm_flag = 1;
    EXPECT_EQ(run(ks3(), "RetrieveFwCliData", {p.c_str(), "help"}), 1u);
    vm_flag = 0;
    EXPECT_FALSE(exists(p));
}

// ---- extended log retrieval ----

namespace {

class ArmLog : public Logs {
protected:
    void SetUp() override
    {
        Logs::SetUp();
        adapter::ExtLogSetup &e = setup(Gen::KS3).extlog;
        e.strings = bytes(100000, 11);
        e.ram = bytes(2000 * 64, 13);
        e.flash = bytes(2500 * 64, 17);
        // A file of that name in the working folder stays as it is, and no
        // other is made there.
        ASSERT_NE(getcwd(cwd_, sizeof cwd_), nullptr);
        ASSERT_EQ(chdir(kDir), 0);
        FILE *fp = fopen(kWork, "wb");
        ASSERT_NE(fp, nullptr);
        fputs("mine", fp);
        fclose(fp);
    }
    void TearDown() override
    {
        std::vector<uint8_t> mine = dumptest::readAll(kWork);
        EXPECT_EQ(std::string(mine.begin(), mine.end()), "mine");
        unlink(kWork);
        EXPECT_EQ(chdir(cwd_), 0);
        Logs::TearDown();
    }
    char cwd_[4096] = "";
    std::vector<uint32_t> indexes(uint32_t source)
    {
        std::vector<uint32_t> v;
        for (const std::vector<u8> &r : requests(1, 128))
            if (dumptest::le32(&r[0]) == source)
                v.push_back(dumptest::le32(&r[4]));
        return v;
    }
    std::vector<uint8_t> expected(const std::vector<uint8_t> &entries, size_t count)
    {
        std::vector<uint8_t> v = setup(Gen::KS3).extlog.strings;
        v.insert(v.end(), entries.begin(), entries.begin() + (long)(count * 64));
        return v;
    }
    static constexpr const char *kWork = "arm_string_table.bin";
};

}  // namespace

TEST_F(ArmLog, SnapshotOfRamOrDdr)
{
    for (const char *mode : {"RAM", "DDR"}) {
        SCOPED_TRACE(mode);
        std::string p = path("arm.bin");
        host_->clearLog();
        ASSERT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), mode}), 0u) << last_text();
        EXPECT_EQ(dumptest::readAll(p), expected(setup(Gen::KS3).extlog.ram, 2000));
        EXPECT_EQ(indexes(0), (std::vector<uint32_t>{0, 998, 1996}));
        EXPECT_EQ(requests(1, 127).size(), 1u);
        EXPECT_EQ(requests(1, 127)[0], std::vector<u8>(4, 0)) << "the configure request carries no mode";
        std::vector<std::pair<uint32_t, uint32_t>> table;
        for (const std::vector<u8> &r : requests(1, 130))
            table.push_back({dumptest::le32(&r[0]), dumptest::le32(&r[4])});
        using Reads = std::vector<std::pair<uint32_t, uint32_t>>;
        EXPECT_EQ(table, (Reads{{0, 62992}, {62992, 62992}}));
    }
}

TEST_F(ArmLog, FlashCopyUntilAnEmptyReply)
{
    std::string p = path("arm-flash.bin");
    host_->clearLog();
    ASSERT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), "flash"}), 0u) << last_text();
    EXPECT_EQ(dumptest::readAll(p), expected(setup(Gen::KS3).extlog.flash, 2500));
    EXPECT_EQ(indexes(1), (std::vector<uint32_t>{0, 998, 1996, 2500}));

    setup(Gen::KS3).extlog.flash = bytes(64, 1);
    EXPECT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), "FLASH"}), 1u);
    EXPECT_EQ(last_code(), 205u);
    EXPECT_EQ(dumptest::readAll(p), setup(Gen::KS3).extlog.strings) << "the table only";
}

TEST_F(ArmLog, AReplyOfMoreThanRemainIsWrittenWhole)
{
    adapter::ExtLogSetup &e = setup(Gen::KS3).extlog;
    e.ram = bytes(5 * 64, 3);
    e.reported_total = 3;
    std::string p = path("arm-more.bin");
    ASSERT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), "RAM"}), 0u);
    EXPECT_EQ(dumptest::readAll(p), expected(e.ram, 5));
}

TEST_F(ArmLog, Failures)
{
    std::string p = path("arm-fail.bin");
    adapter::Engine &f = fw(Gen::KS3);
    struct Case {
        const char *what;
        const char *mode;
        uint8_t op;                         // the command that fails (0: none)
        std::function<void(adapter::ExtLogSetup &)> shape;
        u32 status;
    } cases[] = {
        {"configure fails", "RAM", 127, nullptr, 204},
        {"nothing in the snapshot", "RAM", 0, [](adapter::ExtLogSetup &e) { e.ram.clear(); }, 205},
        {"retrieve fails", "RAM", 128, nullptr, 206},
        {"retrieve fails on flash", "FLASH", 128, nullptr, 206},
        {"no string table on flash", "FLASH", 130, nullptr, 257},
        {"no string table for a snapshot", "RAM", 130, nullptr, 207},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        adapter::ExtLogSetup saved = setup(Gen::KS3).extlog;
        if (c.op != 0)
            f.setFault(1, c.op, {.status = 3});
        if (c.shape)
            c.shape(setup(Gen::KS3).extlog);
        EXPECT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), c.mode}), 1u);
        EXPECT_EQ(last_code(), c.status);
        f.clearFaults();
        setup(Gen::KS3).extlog = saved;
    }
    // Counts and lengths beyond their reply are no answer.
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 20 && r[0] == 128 && r[1] == 1)
            memset(r + 16, 0x7F, 4);
    });
    EXPECT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), "RAM"}), 1u);
    EXPECT_EQ(last_code(), 206u);
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 20 && r[0] == 130 && r[1] == 1)
            memset(r + 16, 0x7F, 4);
    });
    EXPECT_EQ(run(xd(), "RetrieveARMLog", {p.c_str(), "FLASH"}), 1u);
    EXPECT_EQ(last_code(), 257u);
    host_->setReplyRewrite({});
}

TEST_F(ArmLog, StringTableInMemory)
{
    OrsaStringTable t;
    ASSERT_EQ(read_extfat_string_table(ks3(), &t), 0u);
    EXPECT_EQ(std::vector<uint8_t>(t.data, t.data + t.size), setup(Gen::KS3).extlog.strings);
    orsa_dfree(t.data);
    // One byte a reply is still read whole.
    setup(Gen::KS3).extlog.strings_per_reply = 1;
    setup(Gen::KS3).extlog.strings = bytes(300, 4);
    ASSERT_EQ(read_extfat_string_table(ks3(), &t), 0u);
    EXPECT_EQ(std::vector<uint8_t>(t.data, t.data + t.size), setup(Gen::KS3).extlog.strings);
    orsa_dfree(t.data);
}

// ---- extended log configuration ----

namespace {

class ExtConfig : public Logs {
protected:
    void SetUp() override
    {
        Logs::SetUp();
        // Module A: UART and RAM; B: NVRAM and TFTP; C: no modes (56 bytes);
        // D: UART only.
        image_ = extfat_image(3, 4,
                              {{"A", 0x10, 2, {{0, 0x1, 5, 0x3}, {1, 0x2, 5, 0x3}}},
                               {"B", 0x11, 2, {{2, 0x1, 5, 0x1}, {3, 0x1, 5, 0x1}}},
                               {"C", 0x12, 0, {}}},
                              8, 2);
        image_.resize(image_.size() + 16, 0);
        std::vector<uint8_t> d = extfat_image(3, 1, {{"D", 0x13, 1, {{0, 0x3, 5, 0x7}}}}, 8, 2);
        image_.insert(image_.end(), d.begin() + 20, d.end());
        adapter::setExtFatImage(fw(Gen::KS3), image_);
        HmNode *data = xd();
        while (HmNode *m = get_first_instance(data, "ExtFATModule"))
            ASSERT_EQ(delete_node(m), 0u);
        ORSA_extfat_modules(ks3());
        ASSERT_EQ(instances(data, "ExtFATModule"), 3) << "enumeration stops after a module without modes";
    }
    // The trace levels of the image the adapter holds, mode by mode.
    std::vector<uint32_t> levels()
    {
        std::vector<uint8_t> img = adapter::extFatImage(fw(Gen::KS3));
        std::vector<uint32_t> v;
        for (uint32_t at : {20u + 40, 20u + 56, 20u + 72 + 40, 20u + 72 + 56, 20u + 72 + 72 + 56 + 40})
            v.push_back(dumptest::le32(&img[at + 4]));
        return v;
    }
    std::vector<uint8_t> image_;
};

}  // namespace

TEST_F(ExtConfig, ModesChosenByTheirParameters)
{
    struct Case {
        const char *what;
        const char *action;
        std::vector<const char *> params;
        std::vector<uint32_t> levels;  // A.UART A.RAM B.NVRAM B.TFTP D.UART
    } cases[] = {
        // D has no group in the tree (enumeration stopped at C): it never changes.
        {"UART only", "EnableLoggingOnAllModules", {"4", "Yes", "No"}, {4, 5, 5, 5, 5}},
        {"RAM only", "EnableLoggingOnAllModules", {"16", "No", "Yes"}, {5, 16, 5, 5, 5}},
        {"both yes", "EnableLoggingOnAllModules", {"32", "Yes", "Yes"}, {32, 32, 32, 32, 5}},
        {"none given", "EnableLoggingOnAllModules", {"8", nullptr, nullptr}, {8, 8, 8, 8, 5}},
        {"UART no, RAM not given", "EnableLoggingOnAllModules", {"8", "No", nullptr}, {5, 5, 5, 5, 5}},
        {"disable UART", "DisableLoggingOnAllModules", {"Yes", nullptr}, {255, 5, 5, 5, 5}},
        {"disable all", "DisableLoggingOnAllModules", {nullptr, nullptr}, {255, 255, 255, 255, 5}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        adapter::setExtFatImage(fw(Gen::KS3), image_);
        unsigned sets = fw(Gen::KS3).commandsSeen(1, 126);
        ASSERT_EQ(run(xd(), c.action, c.params), 0u) << last_text();
        EXPECT_EQ(fw(Gen::KS3).commandsSeen(1, 126), sets + 1);
        EXPECT_EQ(levels(), c.levels);
        const std::vector<uint8_t> *get = fw(Gen::KS3).lastRequest(1, 125);
        ASSERT_NE(get, nullptr);
        EXPECT_EQ(dumptest::le32(get->data() + 16), 1u) << "read-modify-write asks with selector 1";
    }
    // Both "No": nothing is sent.
    unsigned gets = fw(Gen::KS3).commandsSeen(1, 125), sets = fw(Gen::KS3).commandsSeen(1, 126);
    EXPECT_EQ(run(xd(), "DisableLoggingOnAllModules", {"No", "No"}), 0u);
    EXPECT_EQ(fw(Gen::KS3).commandsSeen(1, 125), gets);
    EXPECT_EQ(fw(Gen::KS3).commandsSeen(1, 126), sets);
}

TEST_F(ExtConfig, FailedCommandsNameTheAction)
{
    fw(Gen::KS3).setFault(1, 126, {.status = 3});
    EXPECT_EQ(run(xd(), "EnableLoggingOnAllModules", {"4", nullptr, nullptr}), 1u);
    EXPECT_EQ(last_code(), 211u);
    EXPECT_EQ(run(xd(), "DisableLoggingOnAllModules", {nullptr, nullptr}), 1u);
    EXPECT_EQ(last_code(), 212u);
    EXPECT_EQ(run(xd(), "SetDefaultLoggingConfiguration", {}), 1u);
    EXPECT_EQ(last_code(), 203u);
    fw(Gen::KS3).setFault(1, 125, {.status = 3});
    EXPECT_EQ(run(xd(), "SetDefaultLoggingConfiguration", {}), 1u);
    EXPECT_EQ(last_code(), 201u);
    EXPECT_EQ(run(xd(), "EnableLoggingOnAllModules", {"4", nullptr, nullptr}), 1u);
    EXPECT_EQ(last_code(), 211u);
}

TEST_F(ExtConfig, DefaultConfigurationIsSetAndMirrored)
{
    std::vector<uint8_t> defaults = image_;
    defaults[20 + 40 + 4] = 1;          // A.UART level 1
    defaults[20 + 40 + 2] = 0x2;        // A.UART port mask
    defaults[20 + 40 + 8] = 0xAB;       // A.UART function mask
    defaults[20 + 40 + 15] = 0x80;
    adapter::setExtFatImage(fw(Gen::KS3), defaults);
    ASSERT_EQ(run(xd(), "SetDefaultLoggingConfiguration", {}), 0u) << last_text();
    const std::vector<uint8_t> *get = fw(Gen::KS3).lastRequest(1, 125);
    EXPECT_EQ(dumptest::le32(get->data() + 16), 0u) << "the defaults are asked with selector 0";
    const std::vector<uint8_t> *set = fw(Gen::KS3).lastRequest(1, 126);
    ASSERT_NE(set, nullptr);
    std::vector<uint8_t> padded = defaults;
    padded.resize(ORSA_EXTFAT_CAPS_SIZE, 0);
    EXPECT_TRUE(std::equal(padded.begin(), padded.end(), set->begin() + 16)) << "written back unchanged";
    HmNode *mode = group(xd(), "ExtFATModule0/ExtFATMode0");
    EXPECT_EQ(cached(mode, "TraceLevel"), "1");
    EXPECT_EQ(cached(mode, "PortMask"), "2");
    EXPECT_EQ(cached(mode, "PCIFunctionMask"), "80000000000000ab");
    EXPECT_EQ(cached(mode, "Mode"), "UART");
    EXPECT_EQ(cached(group(xd(), "ExtFATModule1/ExtFATMode1"), "Mode"), "TFTP");
    EXPECT_EQ(cached(xd(), "MaxLogEntries"), "512");
    EXPECT_EQ(cached(xd(), "LoggingType"), "asynchronous");
    EXPECT_EQ(cached(xd(), "SupportedModes"), "UART,RAM");
    EXPECT_EQ(cached(group(xd(), "ExtFATModule2"), "ModuleString"), "C");
}

// The check of a mask written to one mode is the library's own (bounded at
// 16 digits, always against MaxLogging*): see the differences file.
TEST_F(ExtConfig, FunctionMaskOfSixteenDigitsIsParsed)
{
    HmNode *mode = group(xd(), "ExtFATModule0/ExtFATMode0");
    EXPECT_EQ(set(mode, "PCIFunctionMask", "0x0000000000000001"), 0u) << last_text();
    const std::vector<uint8_t> *sent = fw(Gen::KS3).lastRequest(1, 126);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(dumptest::le32(sent->data() + 16 + 20 + 40 + 8), 1u);
    EXPECT_EQ(dumptest::le32(sent->data() + 16 + 20 + 40 + 12), 0u);
    EXPECT_NE(set(mode, "PCIFunctionMask", "0x000000000000100"), 0u) << "17 characters are bound-checked too";
    EXPECT_EQ(last_code(), 6u);
}
