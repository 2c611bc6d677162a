// RetrieveQuorvantixCoreDump over the emulated host: the file is parsed
// here, every compressed segment inflated, and each segment compared with
// what its program or the firmware's component holds.
#include <errno.h>
#include <sys/mount.h>

#include <algorithm>

#include "backend/orsa_propertyutil.h"
#include "dump_fixture.h"
#include "tree/hm_lookup.h"

namespace {

struct Want {
    uint32_t component, segment, instance;
    uint32_t compress;
    uint8_t low, high;
    uint32_t status;
    std::vector<uint8_t> data;
    std::string what;
};

const DumpProgramInfo *programOf(const DumpTemplate *t, uint32_t seg)
{
    for (size_t i = 0; i < orsa_dump_program_count; ++i)
        if (orsa_dump_programs[i].tmpl == t && orsa_dump_programs[i].segment == seg)
            return &orsa_dump_programs[i];
    return nullptr;
}

// The template rows a dump collects, in order, with their content.
void templateRows(const DumpTemplate *t, bool dead, adapter::Adapter &card, std::vector<Want> *out)
{
    for (uint32_t s = 0; s < t->row_count; ++s) {
        const core_dump_template &r = t->rows[s];
        if (r.SegmentByteCode == nullptr || !(dead ? r.dead : r.live))
            continue;
        const DumpProgramInfo *p = programOf(t, s);
        for (uint32_t i = 0; i <= r.max_instance; ++i)
            out->push_back({1, s, i, r.compress, (uint8_t)r.low_version, (uint8_t)r.high_version,
                            dumptest::programStatus(p->name, i),
                            dumptest::programContent(p->name, s, i, r.seg_len, card), p->name});
    }
}

// The firmware's components 2 and 3 as the emulated firmware describes them.
void firmwareRows(adapter::DumpSetup &d, std::vector<Want> *out)
{
    for (uint32_t c : {2u, 3u}) {
        const adapter::DumpComponent &comp = d.components.at(c);
        for (uint32_t s = 0; s < comp.segments.size(); ++s) {
            const adapter::DumpSegment &seg = comp.segments[s];
            if (seg.status != 0)
                continue;
            for (int32_t i = 0; i <= seg.max_instance; ++i)
                out->push_back({c, s, (uint32_t)i, 0, seg.low_version, seg.high_version, 0,
                                dumptest::firmwareContent(c, s, (uint32_t)i, seg.length),
                                "component " + std::to_string(c)});
        }
    }
}

void expectSegments(const dumptest::File &f, const std::vector<Want> &want)
{
    ASSERT_EQ(f.error, "");
    ASSERT_EQ(f.segments.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        const dumptest::Segment &s = f.segments[i];
        const Want &w = want[i];
        SCOPED_TRACE(w.what + " segment " + std::to_string(w.segment) + " instance " + std::to_string(w.instance));
        EXPECT_EQ(s.component, w.component);
        EXPECT_EQ(s.segment, w.segment);
        EXPECT_EQ(s.instance, w.instance);
        EXPECT_EQ(s.compress, w.compress);
        EXPECT_EQ(s.low, w.low);
        EXPECT_EQ(s.high, w.high);
        EXPECT_EQ(s.pci_function, 0u);
        EXPECT_EQ(s.offset, 0u);
        EXPECT_EQ(s.status, w.status);
        EXPECT_EQ(s.header_size, 64u);
        EXPECT_TRUE(s.reserved_zero);
        ASSERT_TRUE(s.inflated_ok);
        if (s.compress == 1) {
            EXPECT_EQ(s.uncompressed_length, w.data.size());
            EXPECT_EQ(s.length, s.stored.size());
        }
        ASSERT_EQ(s.data.size(), w.data.size());
        EXPECT_TRUE(s.data == w.data) << "content differs";
    }
}

void expectTrailerBasics(const dumptest::File &f)
{
    ASSERT_TRUE(f.has_trailer);
    const dumptest::Trailer &t = f.trailer;
    EXPECT_TRUE(t.fixed_bytes_ok());
    char host[256] = "";
    gethostname(host, sizeof host);
    EXPECT_EQ(t.host(), std::string(host).substr(0, 31));
    EXPECT_GE(t.start(0), 2024);
    EXPECT_GE(t.start(1), 1);
    EXPECT_LE(t.start(1), 12);
    EXPECT_GE(t.written(0), t.start(0));
    EXPECT_EQ(t.os_name(), "VMWare ESX Server");
    EXPECT_EQ(t.successful(), f.segments.size());
}

class CoreDump : public DumpHost {};

class CoreDumpGen : public CoreDump, public ::testing::WithParamInterface<adapter::Gen> {};

const DumpTemplate *templateOf(adapter::Gen g)
{
    return g == adapter::Gen::KS2 ? &ks2_template : g == adapter::Gen::KS3 ? &ks3_template : &vek_template;
}

}  // namespace

// A healthy adapter and no dump string: "live", the live rows and the
// firmware's components.
TEST_P(CoreDumpGen, LiveDumpOfAHealthyAdapter)
{
    adapter::Gen g = GetParam();
    HmNode *ks = controllerOf(g);
    ASSERT_NE(ks, nullptr);
    std::string p = path("live.dmp");
    orsa_reset_last_status();
    ASSERT_EQ(run(ks, "RetrieveQuorvantixCoreDump", {p.c_str(), nullptr}), 0u) << last_text();
    EXPECT_NE(last_code(), 239u);
    dumptest::File f = dumptest::parse(p);
    std::vector<Want> want;
    templateRows(templateOf(g), false, card(g), &want);
    firmwareRows(setup(g), &want);
    expectSegments(f, want);
    expectTrailerBasics(f);
    EXPECT_EQ(f.trailer.dump_string(), "live");
    EXPECT_EQ(f.trailer.chip_state(), 0);
    EXPECT_EQ(f.trailer.failed(), 0u);
    EXPECT_EQ(f.trailer.sli_intf(), adapter::sliIntf(g));
    EXPECT_EQ(f.trailer.asic_id(), adapter::asicId(g));
    EXPECT_EQ(f.trailer.low(), 0);
    EXPECT_EQ(f.trailer.high(), 1);
    EXPECT_EQ(ORSA_CORE_DUMP_STATUS, 0);
    EXPECT_EQ(successful_segments, 0u);
}

// A card in error: the NIC driver answers the dump properties itself; the
// dump becomes "Dead", collects the dead rows and skips components 2 and 3,
// and the client is told to reboot.
TEST_P(CoreDumpGen, DeadDumpOfACardInError)
{
    adapter::Gen g = GetParam();
    HmNode *ks = controllerOf(g);
    card(g).injectUe(1u << 4, 0, 0xD001);
    unsigned props_before = fw(g).commandsSeen(11, 21);
    std::string p = path("dead.dmp");
    ASSERT_EQ(run(ks, "RetrieveQuorvantixCoreDump", {p.c_str(), nullptr}), 0u) << last_text();
    EXPECT_EQ(last_code(), 239u);
    dumptest::File f = dumptest::parse(p);
    std::vector<Want> want;
    templateRows(templateOf(g), true, card(g), &want);
    expectSegments(f, want);
    expectTrailerBasics(f);
    EXPECT_EQ(f.trailer.dump_string(), "Dead");
    EXPECT_EQ(f.trailer.chip_state(), 1);
    EXPECT_EQ(f.trailer.failed(), 0u);
    EXPECT_EQ(f.trailer.sli_intf(), adapter::sliIntf(g));
    EXPECT_EQ(f.trailer.asic_id(), adapter::asicId(g));
    EXPECT_EQ(f.trailer.low(), 0);
    EXPECT_EQ(f.trailer.high(), 1);
    // Nothing else reached the firmware of a card in error.
    EXPECT_EQ(fw(g).commandsSeen(11, 21), props_before);
}

INSTANTIATE_TEST_SUITE_P(Generations, CoreDumpGen,
                         ::testing::Values(adapter::Gen::KS2, adapter::Gen::KS3, adapter::Gen::Veskarn),
                         [](const ::testing::TestParamInfo<adapter::Gen> &i) { return adapter::genName(i.param); });

// The dump properties command failing is the other dead road: nothing names
// the generation, so no template applies; the file holds the record.
TEST_F(CoreDump, DeadWhenThePropertiesCommandFails)
{
    HmNode *ks = controllerOf(adapter::Gen::KS3);
    fw(adapter::Gen::KS3).setFault(11, 21, {.status = 3});
    unsigned components_before = fw(adapter::Gen::KS3).commandsSeen(11, 22);
    std::string p = path("noprops.dmp");
    orsa_reset_last_status();
    ASSERT_EQ(run(ks, "RetrieveQuorvantixCoreDump", {p.c_str(), nullptr}), 0u);
    EXPECT_NE(last_code(), 239u);
    dumptest::File f = dumptest::parse(p);
    expectSegments(f, {});
    expectTrailerBasics(f);
    EXPECT_EQ(f.size, 1024u);
    EXPECT_EQ(f.trailer.dump_string(), "Dead");
    EXPECT_EQ(f.trailer.chip_state(), 1);
    EXPECT_EQ(f.trailer.sli_intf(), 0u);
    EXPECT_EQ(f.trailer.asic_id(), 0u);
    EXPECT_EQ(f.trailer.low(), 1);
    EXPECT_EQ(f.trailer.high(), 0);
    EXPECT_EQ(fw(adapter::Gen::KS3).commandsSeen(11, 22), components_before)
        << "components 2 and 3 are skipped, 4 is the driver's";
}

// "Dead" asked of a live chip: the dead rows, chip state 1 and the notice.
TEST_F(CoreDump, DeadAskedOfALiveChip)
{
    adapter::Gen g = adapter::Gen::KS2;
    std::string p = path("asked.dmp");
    ASSERT_EQ(run(controllerOf(g), "RetrieveQuorvantixCoreDump", {p.c_str(), "Dead"}), 0u);
    EXPECT_EQ(last_code(), 239u);
    EXPECT_EQ(last_text(),
              "The operation completed successfully. Please reboot the machine immediately in order to avoid "
              "inconsistent behaviour.");
    dumptest::File f = dumptest::parse(p);
    std::vector<Want> want;
    templateRows(&ks2_template, true, card(g), &want);
    expectSegments(f, want);
    EXPECT_EQ(f.trailer.chip_state(), 1);
    EXPECT_EQ(f.trailer.dump_string(), "Dead");
}

// The test template: every row flagged live, the instances, lengths and
// statuses of the audits, the chunks asked.
TEST_F(CoreDump, TestLiveCollectsTheLiveAuditRows)
{
    adapter::Gen g = adapter::Gen::KS3;
    std::string p = path("test.dmp");
    host_->clearLog();
    ASSERT_EQ(run(controllerOf(g), "RetrieveQuorvantixCoreDump", {p.c_str(), "Test live"}), 0u);
    dumptest::File f = dumptest::parse(p);
    std::vector<Want> want;
    templateRows(&test_template, false, card(g), &want);
    firmwareRows(setup(g), &want);
    expectSegments(f, want);
    EXPECT_EQ(f.trailer.dump_string(), "Test live");
    EXPECT_EQ(f.trailer.chip_state(), 0);

    std::map<uint32_t, uint32_t> instances;
    for (const dumptest::Segment &s : f.segments) {
        if (s.component != 1)
            continue;
        ++instances[s.segment];
        if (s.segment == 0xD0) {
            EXPECT_GE(s.elapsed, 5u) << "the program stalls 5 ms";
        }
        if (s.segment == 0xDD) {
            EXPECT_EQ(s.status, s.instance);
            EXPECT_EQ(s.length, 16u - s.instance);
        }
    }
    std::map<uint32_t, uint32_t> expected = {{0xD0, 10}, {0xD1, 1}, {0xD3, 1}, {0xD4, 2}, {0xD6, 4096}, {0xD7, 1},
                                             {0xD9, 1},  {0xDA, 1}, {0xDB, 1}, {0xDC, 1}, {0xDD, 6}};
    EXPECT_EQ(instances, expected);

    // The reads asked: whole chunks of 64000 and a short last one; a read of
    // 0 bytes for the row of length 0.
    std::map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> asked;
    for (const std::vector<u8> &req : sent(11, 24)) {
        if (dumptest::le32(&req[0]) != 1 || dumptest::le32(&req[8]) != 0)
            continue;
        asked[dumptest::le32(&req[4])].push_back({dumptest::le32(&req[12]), dumptest::le32(&req[16])});
        EXPECT_EQ(req.size(), ORSA_COREDUMP_SEG_REQUEST);
    }
    using Chunks = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(asked[0xD3], (Chunks{{0, 64000}, {64000, 64000}, {128000, 22000}}));
    EXPECT_EQ(asked[0xD4], (Chunks{{0, 64000}, {64000, 3}}));
    EXPECT_EQ(asked[0xDB], (Chunks{{0, 0}}));
    const dumptest::Segment *nodata = nullptr;
    for (const dumptest::Segment &s : f.segments)
        if (s.component == 1 && s.segment == 0xDB)
            nodata = &s;
    ASSERT_NE(nodata, nullptr);
    EXPECT_EQ(nodata->length, 0u);
}

// "Test" on a healthy adapter whose interface word names no generation
// still takes the test template; on a Pivard nothing is collected.
TEST_F(CoreDump, TestStringTemplateWhateverTheGeneration)
{
    adapter::Gen g = adapter::Gen::KS3;
    card(g).setCfgBarRegister(0, 0x58, 0x12345678);
    std::string p = path("unknown.dmp");
    ASSERT_EQ(run(controllerOf(g), "RetrieveQuorvantixCoreDump", {p.c_str(), "Test"}), 0u);
    dumptest::File f = dumptest::parse(p);
    std::vector<Want> want;
    templateRows(&test_template, false, card(g), &want);
    firmwareRows(setup(g), &want);
    expectSegments(f, want);
    EXPECT_EQ(f.trailer.dump_string(), "Test live");
    EXPECT_EQ(f.trailer.sli_intf(), 0x12345678u);

    unsigned pivard_props = fw(adapter::Gen::Pivard).commandsSeen(11, 21);
    std::string q = path("pivard.dmp");
    ASSERT_EQ(run(controllerOf(adapter::Gen::Pivard), "RetrieveQuorvantixCoreDump", {q.c_str(), "Test"}), 0u);
    dumptest::File pv = dumptest::parse(q);
    EXPECT_EQ(pv.size, 1024u);
    expectSegments(pv, {});
    expectTrailerBasics(pv);
    EXPECT_EQ(pv.trailer.sli_intf(), 0xC0010A40u);
    EXPECT_EQ(pv.trailer.chip_state(), 0);
    EXPECT_EQ(pv.trailer.asic_id(), 0u);
    EXPECT_EQ(pv.trailer.low(), 1);
    EXPECT_EQ(pv.trailer.high(), 0);
    EXPECT_EQ(pv.trailer.dump_string(), "Test") << "unchanged on a Pivard";
    EXPECT_EQ(fw(adapter::Gen::Pivard).commandsSeen(11, 21), pivard_props);
}

// Component counts: none past the properties' maximum.
TEST_F(CoreDump, ComponentCountsBoundTheDump)
{
    adapter::Gen g = adapter::Gen::KS3;
    struct Case {
        uint32_t max_components;
        const char *string_in_file;
    } cases[] = {{1, "live"}, {0, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.max_components);
        setup(g).max_components = c.max_components;
        std::string p = path("few.dmp");
        ASSERT_EQ(run(controllerOf(g), "RetrieveQuorvantixCoreDump", {p.c_str(), nullptr}), 0u);
        dumptest::File f = dumptest::parse(p);
        expectSegments(f, {});
        EXPECT_EQ(f.size, 1024u);
        EXPECT_EQ(f.trailer.dump_string(), c.string_in_file);
    }
}

// A read that fails in the middle of a segment: what was collected is
// written, the record says the dump failed, the action still succeeds
// with the failure in the last status.
TEST_F(CoreDump, ChunkFailureMidSegmentMarksTheDumpFailed)
{
    adapter::Gen g = adapter::Gen::KS3;
    setup(g).chunk_faults.push_back({1, 0xD3, 0, 64000});
    std::string p = path("broken.dmp");
    ASSERT_EQ(run(controllerOf(g), "RetrieveQuorvantixCoreDump", {p.c_str(), "Test live"}), 0u);
    EXPECT_EQ(last_code(), 269u);
    dumptest::File f = dumptest::parse(p);
    ASSERT_EQ(f.error, "");
    const dumptest::Segment *data = nullptr;
    for (const dumptest::Segment &s : f.segments)
        if (s.component == 1 && s.segment == 0xD3)
            data = &s;
    ASSERT_NE(data, nullptr);
    ASSERT_TRUE(data->inflated_ok);
    EXPECT_EQ(data->data, dumptest::pattern(0xD3, 0, 64000));
    EXPECT_EQ(f.trailer.failed(), 0xFFFFFFFFu);
    EXPECT_EQ(f.trailer.successful(), f.segments.size());
    EXPECT_EQ(ORSA_CORE_DUMP_STATUS, 0) << "cleared when the action ends";
}

// Where the dump cannot start or has no function 0.
TEST_F(CoreDump, NoFileNoFunctionZero)
{
    adapter::Gen g = adapter::Gen::KS3;
    HmNode *ks = controllerOf(g);
    EXPECT_EQ(run(ks, "RetrieveQuorvantixCoreDump", {"/tmp/no/such/folder/x.dmp", nullptr}), 1u);
    EXPECT_EQ(last_code(), 257u);
    EXPECT_FALSE(exists("/tmp/no/such/folder/x.dmp"));

    for (HmNode *n = get_first_instance(ks, "NICPhysicalHBA"); n != nullptr; n = hm_next_instance(n))
        set_prop_val(group(n, "PCI"), "FunctionNumber", "%s", "0x4");
    unsigned components_before = fw(g).commandsSeen(11, 22);
    std::string p = path("nofn0.dmp");
    ASSERT_EQ(run(ks, "RetrieveQuorvantixCoreDump", {p.c_str(), nullptr}), 0u);
    dumptest::File f = dumptest::parse(p);
    expectSegments(f, {});
    EXPECT_EQ(f.trailer.failed(), 0xFFFFFFFFu);
    EXPECT_EQ(f.trailer.dump_string(), "live") << "an empty string of a failed dump";
    EXPECT_EQ(fw(g).commandsSeen(11, 22), components_before);
}

// The firmware's claims are held to the limits: a segment longer than the
// library collects is skipped and the dump marked failed; a reply that
// names more bytes than it carries fills no more than the segment.
TEST_F(CoreDump, FirmwareClaimsAreBounded)
{
    adapter::Gen g = adapter::Gen::KS3;
    setup(g).components[2].segments[0].length = 1u << 30;
    setup(g).components[3].segments[0].max_instance = 100000;
    host_->setReplyRewrite([](uint8_t *r, size_t n) {
        // The component-2 segment-1 reads claim all of 4 GiB.
        if (n >= 16 + 24 && r[0] == 24 && r[1] == 11 && dumptest::le32(r + 16) == 2 && dumptest::le32(r + 20) == 1)
            memset(r + 16 + 4, 0xFF, 4);
    });
    std::string p = path("claims.dmp");
    ASSERT_EQ(run(controllerOf(g), "RetrieveQuorvantixCoreDump", {p.c_str(), nullptr}), 0u);
    host_->setReplyRewrite({});
    dumptest::File f = dumptest::parse(p);
    ASSERT_EQ(f.error, "");
    EXPECT_EQ(f.trailer.failed(), 0xFFFFFFFFu);
    size_t fw_segments = 0;
    for (const dumptest::Segment &s : f.segments) {
        if (s.component == 1)
            continue;
        ++fw_segments;
        EXPECT_EQ(s.component, 2u);
        EXPECT_EQ(s.segment, 1u);
        EXPECT_EQ(s.length, 70000u);
        // The adapter's own bytes where it sent them; its claim adds nothing.
        EXPECT_TRUE(std::equal(s.data.begin(), s.data.begin() + 64000,
                               dumptest::firmwareContent(2, 1, 0, 64000).begin()));
    }
    EXPECT_EQ(fw_segments, 1u);
}

// Allocation failures anywhere in the writing of a compressed segment: the
// file holds whole segments only, each with the flag its data has, and a
// failed write marks the dump failed.
TEST_F(CoreDump, AllocationFailuresLeaveWholeSegments)
{
    HmNode *ks = controllerOf(adapter::Gen::KS3);
    const core_dump_template &r = test_template.rows[0xD3];
    std::string p = path("alloc.dmp");
    bool completed = false;
    i32 n = 0;
    for (; n < 200 && !completed; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        unlink(p.c_str());
        ORSA_CORE_DUMP_STATUS = 0;
        successful_segments = 0;
        i32 live = orsa_counter;
        orsa_dmalloc_fail_countdown = n;
        ORSA_start_clock(ks);
        u32 rc = ORSA_write_each_segment_data(1, 0xD3, 0, 0, r.seg_len, r.byte_code_len, r.SegmentByteCode, p.c_str(),
                                              ks, 1, 0, 0);
        completed = orsa_dmalloc_fail_countdown >= 0;
        orsa_dmalloc_fail_countdown = -1;
        EXPECT_EQ(orsa_counter, live) << "a block left behind";
        dumptest::File f = dumptest::parse(p);
        if (!exists(p)) {
            EXPECT_NE(rc, 0u);
            EXPECT_EQ(ORSA_CORE_DUMP_STATUS, 1);
            continue;
        }
        EXPECT_EQ(f.error, "no closing record") << "whole segments only";
        ASSERT_EQ(f.segments.size(), 1u);
        const dumptest::Segment &s = f.segments[0];
        ASSERT_TRUE(s.inflated_ok) << "flag " << s.compress << " with its data";
        std::vector<uint8_t> want = dumptest::pattern(0xD3, 0, r.seg_len);
        EXPECT_TRUE(std::equal(s.data.begin(), s.data.end(), want.begin())) << "a prefix of the segment";
        EXPECT_EQ(rc, 0u);
        EXPECT_EQ(ORSA_CORE_DUMP_STATUS, s.data.size() == r.seg_len ? 0 : 1);
        if (completed) {
            EXPECT_EQ(s.compress, 1u);
            EXPECT_EQ(s.data.size(), r.seg_len);
        }
    }
    EXPECT_TRUE(completed);
    EXPECT_GE(n, 10) << "fewer allocations than a segment of three chunks makes";
    ORSA_CORE_DUMP_STATUS = 0;
    successful_segments = 0;
}

// A file system that fills up during the dump: no segment is left cut
// short, and the dump is not reported as a success.
TEST_F(CoreDump, FullFileSystemIsNoSuccess)
{
    static const char *const dir = "/tmp/dumps/small";
    mkdir(dir, 0755);
    ASSERT_EQ(mount("dumptest", dir, "tmpfs", 0, "size=256k"), 0) << strerror(errno);
    struct Unmount {
        ~Unmount() { EXPECT_EQ(umount(dir), 0); }
    } unmount;
    std::string p = std::string(dir) + "/full.dmp";
    u32 rc = run(controllerOf(adapter::Gen::KS3), "RetrieveQuorvantixCoreDump", {p.c_str(), "Test live"});
    dumptest::File f = dumptest::parse(p);
    if (rc == 0) {
        EXPECT_EQ(f.error, "");
        EXPECT_EQ(f.trailer.failed(), 0xFFFFFFFFu);
    } else {
        EXPECT_TRUE(f.error == "no closing record" || f.error == "no file") << f.error;
    }
    EXPECT_NE(rc == 0 && f.trailer.failed() == 0, true);
    for (const dumptest::Segment &s : f.segments)
        EXPECT_TRUE(s.inflated_ok);
}
