// Broken images and adapter replies: refused before anything reaches the
// adapter, or ending the update as failed, never reported as updated.
#include <stdio.h>

#include "firmware_fixture.h"
#include "maintenance/maint_flash.h"

namespace {

class BrokenImage : public FirmwareHost {
protected:
    bool nothingSent(Card c) { return adapter::flashWrites(fw(c)).empty() && adapter::programWrites(fw(c)).empty(); }
};

fwimage::Ufi cut(fwimage::Ufi u, uint64_t size)
{
    u.image.resize(size);
    return u;
}

fwimage::Ufi edited(fwimage::Ufi u, const std::function<void(fwimage::Ufi &)> &edit)
{
    edit(u);
    return u;
}

// The firmware (written first) and a second component after it in the file.
const fwimage::Ufi &ks3Image()
{
    static const fwimage::Ufi u = fwimage::ks3({.revision = 16, .entries = {{0xA0}, {0xB0}}, .version = "10.7.300.1"});
    return u;
}

const fwimage::Ufi &veskarnImage()
{
    static const fwimage::Ufi u = fwimage::veskarn({.revision = 16, .version = "11.4.300.1"});
    return u;
}

// Each row is refused with its status and sends nothing; the rows marked
// "mend" would have flashed (partly) or reported success before.
TEST_F(BrokenImage, RefusedWithNothingSent)
{
    const fwimage::Ufi &k3 = ks3Image();
    const fwimage::Ufi &vk = veskarnImage();
    struct Case {
        const char *what;
        Card card;
        fwimage::Image image;
        u32 status;
    } cases[] = {
        // KS3
        {"mend: KS3 cut inside its second component", kKs3, cut(k3, k3.base + 0x500000).image, kFailed},
        {"KS3 without directory", kKs3, edited(k3, fwimage::breakCookie).image, kFailed},
        {"mend: KS3 image headers beyond the file", kKs3,
         edited(k3, [](fwimage::Ufi &u) { fwimage::setImageCount(u, 0x01000000); }).image, kFailed},
        {"mend: KS3 without firmware header", kKs3,
         edited(k3, [](fwimage::Ufi &u) { fwimage::setImageId(u, 0, 2); }).image, kFailed},
        {"mend: KS3 naming no component", kKs3, fwimage::ks3({.revision = 16, .entries = {{0x99}}}).image, kFailed},
        // Veskarn
        {"mend: Veskarn cut inside its last component", kVeskarn, cut(vk, vk.base + 0xD000 + 0x100).image, kFailed},
        {"mend: Veskarn directory of 40 entries", kVeskarn,
         edited(vk, [](fwimage::Ufi &u) { fwimage::setDirectoryCount(u, 40); }).image, kFailed},
        {"mend: Veskarn entry beyond the file", kVeskarn,
         edited(vk, [](fwimage::Ufi &u) { fwimage::setEntryField(u, 1, 4, 0x10000000); }).image, kFailed},
        {"mend: Veskarn entry wrapping around", kVeskarn,
         edited(vk,
                [](fwimage::Ufi &u) {
                    fwimage::setEntryField(u, 3, 4, 0xFFFFFFF0u);
                    fwimage::setEntryField(u, 3, 8, 0x20);
                })
             .image,
         kFailed},
        {"mend: Veskarn explicit entry too short for its CRC", kVeskarn,
         edited(vk, [](fwimage::Ufi &u) { fwimage::setEntryField(u, 1, 8, 2); }).image, kFailed},
        {"mend: Veskarn of no entry", kVeskarn, edited(vk, [](fwimage::Ufi &u) { fwimage::setDirectoryCount(u, 0); }).image,
         kFailed},
        {"mend: Veskarn of unknown components only", kVeskarn,
         fwimage::veskarn({.revision = 16, .entries = {{0x77, 0xFFFF, 0x1000, 0x1000}}}).image, kFailed},
        {"mend: Veskarn without firmware header", kVeskarn,
         edited(vk, [](fwimage::Ufi &u) { fwimage::setImageId(u, 0, 0); }).image, kFailed},
        {"Veskarn without directory", kVeskarn, edited(vk, fwimage::breakCookie).image, kFailed},
        {"Veskarn of another generation", kVeskarn,
         edited(vk, [](fwimage::Ufi &u) { fwimage::setGeneration(u, '5'); }).image, kIncompatible},
        // KS2
        {"mend: KS2 cut before its last regions", kKs2, cut(fwimage::ks2({}), 0x500000).image, kFailed},
        {"KS2 without directory", kKs2, edited(fwimage::ks2({}), fwimage::breakCookie).image, kFailed},
        // Pivard
        {"Pivard size field", kPivard, [] {
             fwimage::Image i = fwimage::pivard({});
             i.put32(0, 5000);
             return i;
         }(), 263},
        {"Pivard magic", kPivard, [] {
             fwimage::Image i = fwimage::pivard({});
             i.put16(4, 2);
             return i;
         }(), 263},
        {"Pivard file type", kPivard, [] {
             fwimage::Image i = fwimage::pivard({});
             i.put8(11, 0xF6);
             return i;
         }(), 263},
        {"Pivard shorter than its header", kPivard, [] {
             fwimage::Image i = fwimage::pivard({.data_bytes = 0});
             i.resize(100);
             return i;
         }(), 263},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        boot(spec());   // an adapter that holds none of the components yet
        Outcome o = upgrade(c.card, write(c.image, "broken.img"));
        EXPECT_NE(o.rc, 0u);
        EXPECT_EQ(o.status, c.status) << o.text;
        EXPECT_TRUE(nothingSent(c.card));
    }
    fwimage::Image short_obj = fwimage::pivard({.data_bytes = 0});
    short_obj.resize(183);
    EXPECT_EQ(upgrade(kPivard, write(short_obj, "short.obj")).text,
              "Invalid file format. Please use the valid file and check orsa2d.log file for more information.");
}

// Entries the update passes over may be anything: the image stays valid.
TEST_F(BrokenImage, SkippedEntriesDoNotMatter)
{
    fwimage::Ufi u = edited(veskarnImage(), [](fwimage::Ufi &v) {
        // A third directory entry of an unknown type far beyond the file.
        fwimage::setDirectoryCount(v, 5);
        fwimage::setEntryField(v, 4, 0, 0x77);
        fwimage::setEntryField(v, 4, 4, 0x7FFFFFF0);
        fwimage::setEntryField(v, 4, 8, 0x100000);
        fwimage::setEntryField(v, 4, 24, 0xFFFF, 2);
    });
    Outcome o = upgrade(kVeskarn, write(u.image, "skipped.ufi"));
    EXPECT_EQ(o.rc, 0u) << o.text;
    EXPECT_EQ(o.status, kUpdated);
    EXPECT_EQ(commits(kVeskarn), commitsOf(veskarnPlaces(u, true)));
}

// A failure is the result, whatever comes after it.
TEST_F(BrokenImage, FailuresAreNotReportedAsUpdated)
{
    // mend: the first failure stands; the second firmware header is not flashed after it.
    fwimage::Ufi twice = fwimage::ks3({.revision = 16, .image_ids = {1, 1}});
    adapter::addChunkFault(fw(kKs3), {.optype = 1, .chunk = 0, .status = 1});
    Outcome o = upgrade(kKs3, write(twice.image, "twice.ufi"));
    EXPECT_EQ(o.status, kFailed);
    EXPECT_EQ(commits(kKs3), (std::vector<Commit>{{0, 0, 0x200000}})) << "nothing after the failure";

    // mend: a refused derived component: the update goes on, and ends failed.
    const fwimage::Ufi &vk = veskarnImage();
    adapter::addChunkFault(fw(kVeskarn), {.optype = 22, .status = 1});
    o = upgrade(kVeskarn, write(vk.image, "derived.ufi"));
    EXPECT_EQ(o.rc, 1u);
    EXPECT_EQ(o.status, kFailed);
    std::vector<Place> rest = veskarnPlaces(vk, true);
    rest.erase(std::remove_if(rest.begin(), rest.end(), [](const Place &p) { return p.optype == 22; }), rest.end());
    EXPECT_EQ(commits(kVeskarn), commitsOf(rest)) << "the other components still went";

    // mend: the KS3 PHY component the adapter refuses: the rest goes, the end is a failure.
    fwimage::Ufi phy = fwimage::ks3({.revision = 16, .entries = {{0xA0}, {0xC0}, {0xE0}}});
    adapter::clearFlashLogs(fw(kKs3));
    adapter::phyPort(fw(kKs3), 2).type = 13;
    adapter::phyPort(fw(kKs3), 2).if_type = 6;
    adapter::addChunkFault(fw(kKs3), {.optype = 99, .status = 2});
    o = upgrade(kKs3, write(phy.image, "phy.ufi"));
    EXPECT_EQ(o.status, kFailed);
    EXPECT_EQ(commits(kKs3), commitsOf(ks3Places(phy, {99})));
}

TEST_F(BrokenImage, PivardRepliesAreTrustedNoFurtherThanTheChunk)
{
    fwimage::Image obj = fwimage::pivard({.data_bytes = 70000});
    const std::string path = write(obj, "replies.obj");
    // Short writes: the rest is sent from where the adapter stopped.
    adapter::setProgramWriteLimit(fw(kPivard), 1000);
    Outcome o = upgrade(kPivard, path);
    EXPECT_EQ(o.rc, 0u) << o.text;
    EXPECT_TRUE(fw(kPivard).profiles().flash.program == obj.flat());
    // Nothing written: a failure.
    adapter::setProgramWriteLimit(fw(kPivard), 0);
    EXPECT_EQ(upgrade(kPivard, path).status, kFailed);
    adapter::setProgramWriteLimit(fw(kPivard), -1);
    // mend: more written than was sent: a failure, nothing read past the file.
    adapter::clearFlashLogs(fw(kPivard));
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        if (n >= 20 && r[0] == 172 && r[1] == 1) {
            r[16] = 0;
            r[17] = 0;
            r[18] = 0x10;   // 1 MiB
            r[19] = 0;
        }
    });
    o = upgrade(kPivard, path);
    host_->setReplyRewrite({});
    EXPECT_EQ(o.status, kFailed);
    EXPECT_EQ(adapter::programWrites(fw(kPivard)).size(), 1u);
}

// mend: a component test that cannot be made writes the component instead
// of passing it over.
TEST_F(BrokenImage, ComponentTestWithoutMemoryIsAFailure)
{
    const fwimage::Ufi &vk = veskarnImage();
    const std::string path = write(vk.image, "alloc.ufi");
    FILE *f = fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    OrsaPort at = orsa_controller_port(ks(kVeskarn));
    const fwimage::Part &p = vk.parts[0];
    EXPECT_EQ(is_required_flash(at, f, 0, 0, 7, p.size, p.offset, vk.base, 1), (u32)ORSA_FLASH_WRITE);
    orsa_dmalloc_fail_countdown = 0;
    u32 rc = is_required_flash(at, f, 0, 0, 7, p.size, p.offset, vk.base, 1);
    orsa_dmalloc_fail_countdown = -1;
    EXPECT_EQ(rc, (u32)ORSA_FLASH_CHECK_FAILED);
    EXPECT_EQ(orsa_last_status_code, 31u);
    fclose(f);
}

TEST(FirmwareImages, CompactFormKeepsTheFile)
{
    fwimage::Ufi u = fwimage::veskarn({.revision = 17, .version = "11.0.0.1"});
    std::vector<uint8_t> c = u.image.compact();
    EXPECT_LT(c.size(), 4096u) << "a seed of a few KB";
    fwimage::Image back = fwimage::Image::fromCompact(c.data(), c.size(), 1u << 24);
    EXPECT_EQ(back.size, u.image.size);
    EXPECT_TRUE(back.flat() == u.image.flat());
    EXPECT_EQ(fwimage::Image::fromCompact(c.data(), c.size(), 100).size, 100u) << "bounded";
    // Every component ends in its CRC, and the firmware carries its version.
    for (const fwimage::Part &p : u.parts)
        EXPECT_EQ(u.image.get32(p.file_offset + p.size - 4), p.crc);
    std::vector<uint8_t> fwbytes = u.image.read(u.parts[0].file_offset, u.parts[0].size);
    EXPECT_EQ(adapter::findFirmwareVersion(fwbytes.data(), fwbytes.size()), "11.0.0.1");
}

}  // namespace
