// The profile payloads: field decoding, the bounded record walk, the capped
// descriptor counts, and the profile readers against replies made by hand.
#include <string>

#include "backend/orsa_identity.h"
#include "profile_fixture.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"

namespace {

std::vector<u32> walk_types(const ProfileImage &image)
{
    std::vector<u32> types;
    OrsaProfileWalk w;
    orsa_profile_walk_begin_raw(&w, image.bytes.data(), (u32)image.bytes.size());
    while (const u8 *rec = orsa_profile_walk_next(&w))
        types.push_back(rec[0]);
    return types;
}

}  // namespace

TEST(ProfileFields, FunctionNumbersCountsAndMultichannelTexts)
{
    struct PfCase {
        u8 lo, hi;
        u32 pf;
    } pfs[] = {{0x05, 0x02, 0x205}, {0x05, 0xFE, 0x205}, {0xFF, 0x03, 0x3FF}, {0x00, 0xFC, 0}};
    for (const PfCase &c : pfs) {
        u8 rec[8] = {81, 88, 0, 0, 0, 0, c.lo, c.hi};
        EXPECT_EQ(orsa_res_pf(rec), c.pf) << std::hex << (int)c.lo << "/" << (int)c.hi;
    }
    struct CountCase {
        u8 lo, hi;
        u32 count;
    } counts[] = {{0x10, 0x21, 0x110}, {0xFF, 0xFF, 0xFFF}, {0x08, 0xF0, 8}};
    for (const CountCase &c : counts) {
        u8 field[2] = {c.lo, c.hi};
        EXPECT_EQ(orsa_res_count12(field), c.count);
    }
    struct McCase {
        u32 code;
        const char *text;
    } mcs[] = {{0, "None"},    {1, "None"},      {2, "UMC"},   {3, "HPFlex"}, {4, "vNIC1"}, {5, "NPAR"},
               {6, "UFP"},     {7, "vNIC2"},     {8, "HPFlexQBG"}, {9, nullptr}, {10, "HPUMC"}, {11, nullptr},
               {255, nullptr}};
    for (const McCase &c : mcs) {
        const char *t = orsa_mc_type_text(c.code);
        EXPECT_EQ(t == nullptr ? std::string("<none>") : std::string(t),
                  c.text == nullptr ? std::string("<none>") : std::string(c.text))
            << c.code;
    }
    ProfileImage img;
    u8 *nic = img.function(ORSA_RES_NIC_FUNCTION, 3, 2);
    u8 *iscsi = img.function(ORSA_RES_ISCSI_FUNCTION, 4, 1);
    u8 *fcoe = img.function(ORSA_RES_FCOE_FUNCTION, 5, 3);
    EXPECT_EQ(orsa_res_port(nic), 2) << "bits 6-7 of the port byte are not the port";
    EXPECT_EQ(orsa_res_port(iscsi), 1);
    EXPECT_EQ(orsa_res_port(fcoe), 3);
    EXPECT_EQ(orsa_res_port(img.roce(6)), -1);
    EXPECT_EQ(orsa_res_mac(fcoe)[5], 5);
}

TEST(ProfileWalk, StopsAtZeroLengthBufferEndAndShortRecords)
{
    ProfileImage zero;  // a record of length 0 would step in place for ever
    zero.port(0, 2);
    zero.add(ORSA_RES_NIC_FUNCTION, 0);
    zero.port(1, 2);
    zero.count(60000);
    EXPECT_EQ(walk_types(zero), std::vector<u32>({85}));

    ProfileImage full;  // a count beyond the records the buffer holds
    while (full.end + ORSA_RES_DESC_LEN <= full.bytes.size())
        full.pcie(0, 1);
    EXPECT_EQ(full.count(), 257);
    full.count(0xFFFF);
    EXPECT_EQ(walk_types(full).size(), 257u);

    ProfileImage over;  // the last record claims bytes past the end
    while (over.end + 2 * ORSA_RES_DESC_LEN <= over.bytes.size())
        over.pcie(0, 1);
    size_t left = over.bytes.size() - over.end;
    over.add(ORSA_RES_PORT, 255);
    over.end = over.bytes.size();
    EXPECT_LT(left, 255u);
    EXPECT_EQ(walk_types(over).size(), (size_t)over.count() - 1);

    ProfileImage shorty;  // a function record too short for its port byte
    shorty.add(ORSA_RES_NIC_FUNCTION, 20);
    shorty.add(ORSA_RES_MC_TYPES, ORSA_RES_MC_DESC_LEN);
    shorty.add(ORSA_RES_ROCE_FUNCTION, 8);
    EXPECT_EQ(walk_types(shorty), std::vector<u32>({86, 84}));

    ProfileImage none;
    none.port(0, 2);
    none.count(0);
    EXPECT_TRUE(walk_types(none).empty());
}

TEST(ProfileCounts, DescriptorCountsAreCappedAtTheBuffers)
{
    auto *list = (ProfileList *)orsa_dzalloc(sizeof(ProfileList));
    auto *links = (LinkReconfigInfo *)orsa_dzalloc(sizeof(LinkReconfigInfo));
    auto *common = (CommonProfileConfig *)orsa_dzalloc(sizeof(CommonProfileConfig));
    ASSERT_TRUE(list && links && common);
    struct Case {
        i32 claimed;
        u32 list, links, common;
    } cases[] = {{0, 0, 0, 0}, {5, 5, 5, 5}, {33, 33, 33, 33}, {34, 34, 33, 34},
                 {101, 101, 33, 101}, {102, 101, 33, 102}, {257, 101, 33, 256}, {-1, 0, 0, 256}};
    for (const Case &c : cases) {
        list->profile_descriptor_count = c.claimed;
        links->link_config_descriptor_count = c.claimed;
        common->entry_count = (u32)c.claimed;
        EXPECT_EQ(orsa_profile_list_count(list), c.list) << c.claimed;
        EXPECT_EQ(orsa_link_config_count(links), c.links) << c.claimed;
        EXPECT_EQ(orsa_common_profile_count(common), c.common) << c.claimed;
    }
    orsa_dfree(list);
    orsa_dfree(links);
    orsa_dfree(common);
}

TEST_F(ProfileHost, GetProfileSendsTheRequestAndFreesOnFailure)
{
    ProfileImage img;
    img.port(0, 5);
    answer(164, img);
    host_->clearLog();
    i32 live = orsa_counter;
    ProfileConfig *p = ORSA_get_profile(vsk, 6, 42, 3);  // type reduced to 2 bits, flag to bit 0
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->resource_desc_count, 1);
    EXPECT_EQ(p->records[5], 5);
    orsa_dfree(p);
    auto reqs = sent(164);
    ASSERT_EQ(reqs.size(), 1u);
    ASSERT_EQ(reqs[0].size(), ORSA_PROFILE_CONFIG_SIZE);
    EXPECT_EQ(reqs[0][0], 42);
    EXPECT_EQ(reqs[0][1], 2 | 4);
    EXPECT_EQ(std::vector<u8>(reqs[0].begin() + 2, reqs[0].end()), std::vector<u8>(reqs[0].size() - 2, 0));

    answer(164, img.bytes, 2, 99);  // the adapter fails the read
    orsa_reset_last_status();
    EXPECT_EQ(ORSA_get_profile(vsk, ORSA_CFG_ACTIVE, 0, 0), nullptr);
    EXPECT_EQ(last_code(), 278u);
    EXPECT_EQ(orsa_counter, live) << "the failed read left its buffer behind";

    orsa_reset_last_status();
    EXPECT_EQ(ORSA_get_profile(nullptr, 0, 0, 0), nullptr);
    orsa_dmalloc_fail_countdown = 0;
    EXPECT_EQ(ORSA_get_profile(vsk, 0, 0, 0), nullptr);
    orsa_dmalloc_fail_countdown = -1;
    EXPECT_EQ(last_code(), 16u);
}

TEST_F(ProfileHost, StorageFunctionsByModeAndTheOlderCommandAnswers)
{
    ProfileImage img;
    img.port(0, 2);
    img.pcie(0, 1, 0, 1);            // NIC, no storage role
    img.pcie(0x205, 1, 2, 2);        // iSCSI
    img.pcie(3, 0, 4, 4);            // storage, disabled
    img.pcie(4, 7, 6, 4);            // FCoE
    img.add(ORSA_RES_PCIE_FUNCTION, 0);  // a zero length ends the walk
    img.pcie(5, 1, 2, 2);
    OrsaPort at = orsa_controller_port(vsk);
    u32 count = 99, fns[8] = {}, types[8] = {};

    answer(164, img);
    ASSERT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 8, 1), 0u);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::vector<u32>(fns, fns + 3), std::vector<u32>({0x205, 3, 4}));
    EXPECT_EQ(std::vector<u32>(types, types + 3), std::vector<u32>({2, 1, 4})) << "pf_state 0 reads type 1";

    ASSERT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 8, 0), 0u);
    ASSERT_EQ(count, 2u) << "mode 0 counts only enabled functions";
    EXPECT_EQ(std::vector<u32>(fns, fns + 2), std::vector<u32>({0x205, 4}));

    ASSERT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 2, 1), 0u);
    EXPECT_EQ(count, 2u) << "no more entries than the caller's arrays hold";

    ProfileImage old;
    old.add(79);
    struct Case {
        std::vector<u8> reply;
        u8 status, additional;
        u32 rc;
    } cases[] = {
        {old.bytes, 0, 0, 288},
        {ProfileImage().bytes, 0, 0, 288},  // no records, byte 4 zero
        {img.bytes, 2, 30, 213},            // the adapter does not know the command
        {img.bytes, 2, 99, 288},
    };
    for (const Case &c : cases) {
        answer(164, c.reply, c.status, c.additional);
        orsa_reset_last_status();
        EXPECT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 8, 1), c.rc);
        EXPECT_EQ(last_code(), 0u) << "the older-command answers set no status";
    }
    ProfileImage zero_count;  // no records, but a record type above 79 at byte 4
    zero_count.port(0, 2);
    zero_count.count(0);
    answer(164, zero_count);
    EXPECT_EQ(ORSA_get_storage_functions(at, 0, 0, vsk, &count, fns, types, 8, 1), 0u);
    EXPECT_EQ(count, 0u);
}

TEST_F(ProfileHost, ConfigSignatureOnlyForIscsiControllers)
{
    host_->clearLog();
    EXPECT_EQ(ORSA_set_config_signature(orsa_controller_port(vsk)), 0u);
    EXPECT_TRUE(sent(79).empty()) << "a NIC controller keeps no signature";
    EXPECT_EQ(ORSA_set_config_signature(orsa_controller_port(ks3)), 0u);
    auto reqs = sent(79);
    ASSERT_EQ(reqs.size(), 1u);
    ASSERT_EQ(reqs[0].size(), 132u);
    EXPECT_EQ(reqs[0][0], 3);
    EXPECT_EQ(std::vector<u8>(reqs[0].begin() + 1, reqs[0].end()), std::vector<u8>(131, 0));
}
