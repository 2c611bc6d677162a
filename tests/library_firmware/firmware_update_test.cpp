// UpgradeFlashROM over the emulated host: each generation's image reaches
// the adapter's flash component by component, what the adapter holds
// already is skipped where the update asks, the gates refuse what does not
// suit the adapter, and the adapter's answers decide the result.
#include <sys/stat.h>

#include "firmware_fixture.h"
#include "fw_library_diag.h"

namespace {

std::string value(HmNode *g, const char *name)
{
    char v[HM_VALUE_SIZE] = "";
    return g != nullptr && internal_get_property(g, name, v) == 0 ? std::string(v) : std::string("<failed>");
}

class FirmwareUpdate : public FirmwareHost {};

struct Built {
    fwimage::Image image;
    std::vector<FirmwareHost::Place> first;   // what the first update writes
    std::vector<FirmwareHost::Place> second;  // what the same update writes again
};

TEST_F(FirmwareUpdate, EachGenerationFlashesItsComponentsAndRunsThemAfterAReset)
{
    struct Case {
        const char *what;
        Card card;
        std::string version;
        const char *running;   // the adapter's firmware before; "" its own
        std::function<Built(const std::string &)> build;
    } cases[] = {
        {"KS2 regions", kKs2, "4.9.520.7", "",
         [](const std::string &v) {
             fwimage::Ufi u = fwimage::ks2({.version = v});
             return Built{u.image, ks2Places(u, true), ks2Places(u, false)};
         }},
        {"KS3 table rows", kKs3, "10.7.200.3", "",
         [](const std::string &v) {
             fwimage::Ufi u = fwimage::ks3({.revision = 17, .version = v});
             return Built{u.image, ks3Places(u), ks3Places(u)};
         }},
        {"Veskarn by offset", kVeskarn, "11.4.204.0", "",
         [](const std::string &v) {
             fwimage::Ufi u = fwimage::veskarn({.revision = 32, .version = v});
             return Built{u.image, veskarnPlaces(u, true), veskarnPlaces(u, true, false)};
         }},
        {"Veskarn by optype", kVeskarn, "10.0.900.1", "10.0.803.37",
         [](const std::string &v) {
             fwimage::Ufi u = fwimage::veskarn({.revision = 32, .version = v});
             return Built{u.image, veskarnPlaces(u, false), veskarnPlaces(u, false, false)};
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        // The adapter runs `running` from the start: the library reads it at discovery.
        boot(spec(), [&c](chardev::EmulatedHost &h) {
            if (c.running[0] != '\0')
                h.engine(c.card).setFirmwareVersions(c.running, c.running);
        });
        const std::string before = value(ks(c.card), "ActiveFirmwareVersion");
        Built b = c.build(c.version);
        std::string path = write(b.image, "gen.ufi");

        Outcome o = upgrade(c.card, path);
        EXPECT_EQ(o.rc, 0u) << o.text;
        EXPECT_EQ(o.status, kUpdated);
        EXPECT_EQ(o.text, "Kalderstone firmware has been updated. Please reboot your system for the changes to take effect.");
        EXPECT_EQ(commits(c.card), commitsOf(b.first));
        expectFlashed(c.card, b.image, b.first);
        for (const adapter::FlashWrite &w : adapter::flashWrites(fw(c.card))) {
            EXPECT_EQ(w.request_length, 32788u) << "every chunk is a whole payload";
            EXPECT_LE(w.length, 32768u);
        }
        EXPECT_EQ(value(ks(c.card), "FirmwareVersionOnFlash"), c.version) << "in flash at once";
        EXPECT_EQ(value(ks(c.card), "ActiveFirmwareVersion"), before) << "running after the reset only";
        host_->rebootAdapter(c.card);
        restartLibrary();
        EXPECT_EQ(value(ks(c.card), "ActiveFirmwareVersion"), c.version);

        // The same image again: what the update tests and finds current stays.
        adapter::clearFlashLogs(fw(c.card));
        o = upgrade(c.card, path);
        EXPECT_EQ(o.rc, 0u) << o.text;
        EXPECT_EQ(o.status, kUpdated);
        EXPECT_EQ(commits(c.card), commitsOf(b.second));
    }
}

TEST_F(FirmwareUpdate, PivardObjectGoesWholeToTheProgramObject)
{
    struct Case {
        const char *what;
        fwimage::PivardOptions options;
        std::vector<uint32_t> chunks;
    } cases[] = {
        {"one chunk of 32768", {.data_bytes = 32768 - 184, .version = "PVD 3.4.210.0"}, {32768}},
        {"32769 in two", {.data_bytes = 32769 - 184, .version = "PVD 3.4.211.0"}, {32768, 1}},
        {"big-endian header", {.data_bytes = 1000, .version = "PVD 3.4.212.0", .big_endian = true}, {1184}},
        {"second magic", {.data_bytes = 1000, .version = "PVD 3.4.213.0", .second_magic = true}, {1184}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boot(spec());
        fwimage::Image img = fwimage::pivard(c.options);
        std::string path = write(img, "obj.bin");
        Outcome o = upgrade(kPivard, path);
        EXPECT_EQ(o.rc, 0u) << o.text;
        EXPECT_EQ(o.status, kUpdated) << "the program changed";
        const auto &writes = adapter::programWrites(fw(kPivard));
        ASSERT_EQ(writes.size(), c.chunks.size());
        uint32_t offset = 0;
        for (size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].length, c.chunks[i]) << i;
            EXPECT_EQ(writes[i].offset, offset) << i;
            EXPECT_EQ(writes[i].eof, i + 1 == writes.size()) << i;
            offset += c.chunks[i];
        }
        EXPECT_TRUE(fw(kPivard).profiles().flash.program == img.flat()) << "the file as read, not a reversed copy";
        host_->rebootAdapter(kPivard);
        restartLibrary();
        EXPECT_EQ(value(ks(kPivard), "ActiveFirmwareVersion"), c.options.version);

        // Again: written again; the adapter reports no change, so no notice.
        o = upgrade(kPivard, path);
        EXPECT_EQ(o.rc, 0u);
        EXPECT_EQ(o.status, 0u);
        EXPECT_EQ(adapter::programWrites(fw(kPivard)).size(), 2 * c.chunks.size());
    }
}

TEST_F(FirmwareUpdate, AdapterThatHoldsTheComponentsOrDiffers)
{
    // A component query that answers another CRC: the Veskarn update writes
    // the explicit components again.
    fwimage::Ufi u = fwimage::veskarn({.revision = 16, .version = "11.4.205.0"});
    std::string path = write(u.image, "again.ufi");
    ASSERT_EQ(upgrade(kVeskarn, path).rc, 0u);
    adapter::clearFlashLogs(fw(kVeskarn));
    adapter::setCrcMismatch(fw(kVeskarn), 7, true);
    EXPECT_EQ(upgrade(kVeskarn, path).rc, 0u);
    EXPECT_EQ(commits(kVeskarn), commitsOf(veskarnPlaces(u, true)));

    // Every component already current: nothing written, still a success.
    fwimage::Ufi only = fwimage::veskarn({.revision = 16,
                                          .entries = {{0xA0, 0, 0x1000, 0x9000}, {0xE0, 1, 0xA000, 0x2000}},
                                          .version = "11.4.205.0"});
    adapter::setCrcMismatch(fw(kVeskarn), 7, false);
    std::string current = write(only.image, "current.ufi");
    adapter::clearFlashLogs(fw(kVeskarn));
    Outcome o = upgrade(kVeskarn, current);
    EXPECT_EQ(o.rc, 0u);
    EXPECT_EQ(o.status, kUpdated);
    EXPECT_TRUE(adapter::flashWrites(fw(kVeskarn)).empty());
}

TEST_F(FirmwareUpdate, WhatWasFlashedIsKeptInTheFlashFile)
{
    const std::string flash = "/tmp/fwtest_flash.bin";
    files_.push_back(flash);
    chardev::HostSpec s = spec();
    s.adapters[kVeskarn].flash_file = flash;
    s.adapters[kPivard].flash_file = flash + ".pvd";
    files_.push_back(flash + ".pvd");
    boot(s);
    fwimage::Ufi u = fwimage::veskarn({.revision = 16, .version = "11.4.206.2"});
    std::string path = write(u.image, "kept.ufi");
    ASSERT_EQ(upgrade(kVeskarn, path).rc, 0u);
    fwimage::Image obj = fwimage::pivard({.data_bytes = 70000, .version = "PVD 3.5.0.1"});
    std::string obj_path = write(obj, "kept.obj");
    ASSERT_EQ(upgrade(kPivard, obj_path).rc, 0u);

    // Another host over the same flash files: the adapters boot from them.
    boot(s);
    expectFlashed(kVeskarn, u.image, veskarnPlaces(u, true));
    EXPECT_EQ(value(ks(kVeskarn), "ActiveFirmwareVersion"), "11.4.206.2");
    EXPECT_TRUE(fw(kPivard).profiles().flash.program == obj.flat());
    EXPECT_EQ(value(ks(kPivard), "ActiveFirmwareVersion"), "PVD 3.5.0.1");
    EXPECT_EQ(upgrade(kVeskarn, path).rc, 0u);
    EXPECT_EQ(commits(kVeskarn), commitsOf(veskarnPlaces(u, true, false))) << "the kept CRCs match";
}

TEST_F(FirmwareUpdate, GatesRefuseWhatDoesNotSuitTheAdapter)
{
    struct Case {
        const char *what;
        Card card;
        int adapter_revision;   // -1: the engine's own (1)
        fwimage::Ufi image;
        u32 rc, status;
    } cases[] = {
        {"KS3 image on KS2", kKs2, -1, fwimage::ks3({.revision = 16}), 1, kIncompatible},
        {"Veskarn image on KS3", kKs3, -1, fwimage::veskarn({.revision = 16}), 1, kIncompatible},
        {"KS3 image on Veskarn", kVeskarn, -1, fwimage::ks3({.revision = 16}), 1, kIncompatible},
        {"KS2 image on KS3", kKs3, -1, fwimage::ks2({}), 1, kIncompatible},
        // KS3: revision 17 takes 17 only; 16 takes 16 and 17; lower takes all.
        {"KS3 r17, image 17", kKs3, 17, fwimage::ks3({.revision = 17}), 0, kUpdated},
        {"KS3 r17, image 16", kKs3, 17, fwimage::ks3({.revision = 16}), 1, kIncompatible},
        {"KS3 r17, image 0x20", kKs3, 17, fwimage::ks3({.revision = 0x20}), 1, kIncompatible},
        {"KS3 r16, image 16", kKs3, 16, fwimage::ks3({.revision = 16}), 0, kUpdated},
        {"KS3 r16, image 17", kKs3, 16, fwimage::ks3({.revision = 17}), 0, kUpdated},
        {"KS3 r16, image 0x20", kKs3, 16, fwimage::ks3({.revision = 0x20}), 1, kIncompatible},
        {"KS3 r1, image 0x20", kKs3, 1, fwimage::ks3({.revision = 0x20}), 0, kUpdated},
        // Veskarn: an image of a lower revision code is refused.
        {"Veskarn r16, image 16", kVeskarn, 16, fwimage::veskarn({.revision = 16}), 0, kUpdated},
        {"Veskarn r16, image 32", kVeskarn, 16, fwimage::veskarn({.revision = 32}), 0, kUpdated},
        {"Veskarn r32, image 17", kVeskarn, 32, fwimage::veskarn({.revision = 17}), 1, kIncompatible},
        {"Veskarn r1, image 15", kVeskarn, 1, fwimage::veskarn({.revision = 15}), 1, kIncompatible},
        {"Veskarn r0, image 15", kVeskarn, 0, fwimage::veskarn({.revision = 15}), 0, kUpdated},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        adapter::clearFlashLogs(fw(c.card));
        adapter::setAsicRevision(fw(c.card), c.adapter_revision);
        Outcome o = upgrade(c.card, write(c.image.image, "gate.ufi"));
        EXPECT_EQ(o.rc, c.rc) << o.text;
        EXPECT_EQ(o.status, c.status) << o.text;
        if (c.rc != 0) {
            EXPECT_TRUE(adapter::flashWrites(fw(c.card)).empty()) << "nothing sent";
        }
    }

    // No file, no signature, a file too short for its header, a virtual function.
    fwimage::Ufi nosig = fwimage::veskarn({.revision = 16});
    fwimage::setSignature(nosig, "Kestrimondale Corq");
    fwimage::Image tiny;
    tiny.put(0, "Kestrimondale Corp", 18);
    struct Other {
        const char *what;
        std::string path;
        u32 status;
    } others[] = {
        {"missing file", "/tmp/fwtest_none.ufi", 39},
        {"no signature", write(nosig.image, "nosig.ufi"), kIncompatible},
        {"header cut", write(tiny, "tiny.ufi"), kIncompatible},
    };
    for (const Other &c : others) {
        SCOPED_TRACE(c.what);
        Outcome o = upgrade(kVeskarn, c.path);
        EXPECT_EQ(o.rc, 1u);
        EXPECT_EQ(o.status, c.status);
    }
    EXPECT_EQ(upgrade(kVeskarn, "/tmp/fwtest_none.ufi").text,
              "Cannot open the specified UFI file. Please make sure the UFI file is present in the specified path.");
    vm_flag = 1;
    Outcome vf = upgrade(kVeskarn, write(fwimage::veskarn({.revision = 16}).image, "vf.ufi"));
    vm_flag = 0;
    EXPECT_EQ(vf.rc, 1u);
    EXPECT_EQ(vf.status, 235u);
    EXPECT_EQ(vf.text, "Firmware update cannot be performed on a SR-IOV virtual function.");
}

TEST_F(FirmwareUpdate, Ks3WritesNcsiFromItsVersionOnAndPhyWhenThePhyNeedsIt)
{
    fwimage::Ufi with = fwimage::ks3({.revision = 16, .entries = {{0xA0}, {0x10}, {0xC0}}});
    fwimage::Ufi without = fwimage::ks3({.revision = 16, .entries = {{0xA0}}});
    struct Case {
        const char *running;
        const fwimage::Ufi *image;
        bool phy_needs_it;
        std::vector<uint32_t> skipped;   // optypes of the image left out
    } cases[] = {
        {"3.102.147.9", &with, false, {13, 99}},
        {"3.102.148.0", &with, false, {99}},
        {"3.103.0.0", &with, true, {}},
        {"3.101.999.999", &with, true, {13}},
        {"three", &with, false, {13, 99}},
        {"3.103.0.0", &without, true, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.running);
        boot(spec(), [&c](chardev::EmulatedHost &h) {
            h.engine(kKs3).setFirmwareVersions(c.running, c.running);
            // The PHY that needs its component: type 13 on interface 6, on the first physical HBA's port.
            adapter::PhyPort &phy = adapter::phyPort(h.engine(kKs3), 2);
            phy.type = c.phy_needs_it ? 13 : 7;
            phy.if_type = c.phy_needs_it ? 6 : 10;
        });
        Outcome o = upgrade(kKs3, write(c.image->image, "ncsi.ufi"));
        EXPECT_EQ(o.rc, 0u) << o.text;
        EXPECT_EQ(commits(kKs3), commitsOf(ks3Places(*c.image, c.skipped)));
    }
}

TEST_F(FirmwareUpdate, Ks2TakesARelativePathFromItsFallbackFolder)
{
    ASSERT_EQ(system("mkdir -p /opt/Talvor/Quorvantix"), 0);
    fwimage::Ufi u = fwimage::ks2({});
    std::string where = "/opt/Talvor/Quorvantix/fwtest_rel.ufi";
    ASSERT_TRUE(u.image.write(where));
    files_.push_back(where);
    Outcome o = upgrade(kKs2, "fwtest_rel.ufi");
    EXPECT_EQ(o.rc, 0u) << o.text;
    EXPECT_EQ(commits(kKs2), commitsOf(ks2Places(u, true)));
    // The other generations read the path as it is.
    fwimage::Ufi v = fwimage::veskarn({.revision = 16});
    ASSERT_TRUE(v.image.write("/opt/Talvor/Quorvantix/fwtest_rel4.ufi"));
    files_.push_back("/opt/Talvor/Quorvantix/fwtest_rel4.ufi");
    EXPECT_EQ(upgrade(kVeskarn, "fwtest_rel4.ufi").status, 39u);
}

// What the adapter answers decides the result.
TEST_F(FirmwareUpdate, AdapterAnswersDecideTheResult)
{
    fwimage::Ufi u = fwimage::veskarn({.revision = 16,
                                       .entries = {{0xA0, 0, 0x1000, 0x9000},
                                                   {0xE0, 1, 0xA000, 0x2000},
                                                   {0xD2, 0xFFFF, 0xC000, 0x1000},
                                                   {0x30, 0xFFFF, 0xD000, 0x1000}}});
    const std::string path = write(u.image, "answers.ufi");
    struct Case {
        const char *what;
        adapter::ChunkFault fault;
        u32 rc, status;
        size_t commits;   // components completed
    } cases[] = {
        {"explicit: status 3 asks for a second download", {.optype = 7, .chunk = 1, .status = 3}, 318, 318, 0},
        {"explicit: bad signature", {.optype = 7, .chunk = 0, .status = 23, .additional = 86}, 336, 336, 0},
        {"explicit: signature missing", {.optype = 7, .chunk = 1, .status = 23, .additional = 87}, 337, 337, 0},
        {"explicit: other status", {.optype = 7, .chunk = 0, .status = 1}, 1, kFailed, 0},
        // Optype 23 reports "already flashed" on its last chunk: that counts as written.
        {"derived 23: already flashed", {.optype = 23, .chunk = 0, .status = 1, .additional = 77}, 0, kUpdated, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boot(spec());
        adapter::addChunkFault(fw(kVeskarn), c.fault);
        Outcome o = upgrade(kVeskarn, path);
        EXPECT_EQ(o.rc, c.rc) << o.text;
        EXPECT_EQ(o.status, c.status) << o.text;
        EXPECT_EQ(adapter::flashCommits(fw(kVeskarn)).size(), c.commits);
    }

    // A release to be downloaded twice: refused until the adapter was reset.
    boot(spec());
    adapter::setTwoStepDownload(fw(kVeskarn), 2);
    Outcome o = upgrade(kVeskarn, path);
    EXPECT_EQ(o.rc, 318u);
    EXPECT_EQ(o.status, 318u);
    EXPECT_EQ(o.text, "This special firmware release requires the download be performed twice. You must reboot the "
                      "system and download the same firmware file again to complete the download process.");
    EXPECT_TRUE(adapter::flashWrites(fw(kVeskarn)).empty());
    host_->rebootAdapter(kVeskarn);
    EXPECT_EQ(upgrade(kVeskarn, path).status, kUpdated);

    // KS2 and KS3 writes that fail end the update; so does a Pivard chunk.
    struct Other {
        const char *what;
        Card card;
        fwimage::Image image;
        adapter::ChunkFault fault;
        size_t commits;
    } others[] = {
        {"KS2 region 3", kKs2, fwimage::ks2({}).image, {.optype = 10, .chunk = 4, .status = 1}, 2},
        {"KS3 boot code", kKs3, fwimage::ks3({.revision = 16}).image, {.optype = 1, .chunk = 0, .status = 3}, 1},
        {"Pivard second chunk", kPivard, fwimage::pivard({.data_bytes = 50000}), {.chunk = 1, .status = 1}, 0},
    };
    for (const Other &c : others) {
        SCOPED_TRACE(c.what);
        boot(spec());
        if (c.card == kPivard)
            adapter::addProgramFault(fw(c.card), c.fault);
        else
            adapter::addChunkFault(fw(c.card), c.fault);
        Outcome r = upgrade(c.card, write(c.image, "fails.img"));
        EXPECT_NE(r.rc, 0u);
        EXPECT_EQ(r.status, kFailed);
        EXPECT_EQ(r.text, "Failed to upgrade the firmware.");
        EXPECT_EQ(adapter::flashCommits(fw(c.card)).size(), c.commits);
    }
}

}  // namespace
