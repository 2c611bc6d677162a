// QCN of a port's DCBX group: the three views of the version 1 DCBX block,
// the administrator's writes and the generations without QCN.
#include <string.h>

#include "lldp_fixture.h"

namespace {

using adapter::Fault;

constexpr size_t kBlock = 368;

class Qcn : public LldpHost {
protected:
    void SetUp() override { boot(); }
    static HmNode *qcn(HmNode *pg, const char *view) { return group(pg, std::string("DCBX/QCN/") + view); }
    HmNode *vsk(const char *view) { return qcn(port(ctrl(1), "0"), view); }
    // What the Veskarn's port 0 answers a DCBX block read with.
    std::vector<u8> &answer() { return adapter::librarySlot(fw(1), 0, 16, 1); }
    void setAnswer(u32 flags, u8 cnpv, u8 ready)
    {
        std::vector<u8> &b = answer();
        b.assign(kBlock, 0);
        b[12] = (u8)flags;
        b[13] = (u8)(flags >> 8);
        b[14] = (u8)(flags >> 16);
        b[15] = (u8)(flags >> 24);
        b[312] = cnpv;
        b[316] = ready;
    }
};

TEST_F(Qcn, EachGroupReadsItsViewOfTheBlock)
{
    struct Case {
        const char *view;
        u8 selector;
        u32 flags;
        std::vector<std::pair<const char *, const char *>> want;
    } cases[] = {
        {"AdministratorQCNSetting", 0, 0x5,
         {{"Enabled", "Yes"}, {"Advertise", "No"}, {"Willing", "Yes"}, {"CNPVBitMap", "0x28"}}},
        {"PeerQCNSetting", 2, 0x80000002,
         {{"Enabled", "No"}, {"Advertise", "Yes"}, {"Willing", "No"}, {"Error", "Yes"}, {"CNPVBitMap", "0x28"},
          {"ReadyBitMap", "0xc"}}},
        {"OperationalQCNSettings", 1, 0x9,
         {{"OperationalMode", "True"}, {"Error", "No"}, {"Synced", "Yes"}, {"CNPVBitMap", "0x28"}, {"ReadyBitMap", "0xc"}}},
        {"OperationalQCNSettings", 1, 0x0, {{"OperationalMode", "False"}, {"Synced", "No"}}},
        {"OperationalQCNSettings", 1, 0x40000001, {{"OperationalMode", "N/A"}}},
    };
    for (const Case &c : cases) {
        HmNode *g = vsk(c.view);
        ASSERT_NE(g, nullptr) << c.view;
        setAnswer(c.flags, 0x28, 0x0C);
        host_->clearLog();
        for (const auto &[name, text] : c.want) {
            u32 rc = 9;
            EXPECT_EQ(get(g, name, &rc), text) << c.view << "/" << name << " flags " << c.flags;
            EXPECT_EQ(rc, 0u);
        }
        std::vector<std::vector<u8>> reqs = sent(16, 1);
        ASSERT_FALSE(reqs.empty());
        ASSERT_EQ(reqs[0].size(), kBlock);
        EXPECT_EQ(reqs[0][0], c.selector) << c.view;
        for (size_t i = 1; i < kBlock; i++)
            ASSERT_EQ(reqs[0][i], 0u) << "request byte " << i;
    }
}

TEST_F(Qcn, WillingNoKeepsTheEntriesTheirCountAndTheCnpv)
{
    std::vector<u8> &b = answer();
    b.assign(kBlock, 0);
    b[0] = 1;     // DCBX enabled
    b[1] = 0x77;  // not used in a reply
    b[2] = 3;     // application entries in use
    b[3] = 8;     // priority groups supported
    for (size_t i = 4; i < 20; i++)
        b[i] = (u8)(0x10 + i);
    b[12] = 0x07;  // QCN enabled, advertise, willing
    b[13] = b[14] = b[15] = 0;
    for (size_t i = 20; i < 24; i++)
        b[i] = 0xAA;
    for (size_t i = 24; i < 312; i++)
        b[i] = (u8)(i * 7);
    b[312] = 0x28;
    b[316] = 0x0C;
    for (size_t i = 317; i < kBlock; i++)
        b[i] = 0x55;
    const std::vector<u8> reply = b;

    HmNode *admin = vsk("AdministratorQCNSetting");
    ASSERT_EQ(get(admin, "Willing"), "Yes");
    host_->clearLog();
    EXPECT_EQ(set(admin, "Willing", "No"), 0u) << last_text();
    std::vector<std::vector<u8>> reads = sent(16, 1), writes = sent(16, 2);
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.back()[0], 0u) << "an administrator read";
    ASSERT_EQ(writes.size(), 1u);
    const std::vector<u8> &w = writes[0];
    ASSERT_EQ(w.size(), kBlock);
    EXPECT_EQ(w[0], 1u);
    EXPECT_EQ(w[1], 3u) << "the count of entries in use, unchanged";
    EXPECT_EQ(w[2], 0u);
    EXPECT_EQ(w[3], 0u);
    EXPECT_EQ(rd32(w, 12), 0x03u) << "willing cleared, the rest kept";
    for (size_t i : {4u, 8u, 16u})
        EXPECT_EQ(rd32(w, i), rd32(reply, i)) << "flags at " << i;
    EXPECT_EQ(rd32(w, 20), 0u);
    EXPECT_EQ(memcmp(w.data() + 24, reply.data() + 24, 288), 0) << "bandwidths, PGs, PFC and the 15 entries";
    EXPECT_EQ(w[312], 0x28u) << "the CNPV bitmap as read";
    for (size_t i = 313; i < kBlock; i++)
        ASSERT_EQ(w[i], 0u) << "byte " << i;
    EXPECT_EQ(cached(admin, "Willing"), "No");

    // Enabled and Advertise are bits 0 and 1 of the same word (the adapter
    // now holds the write above).
    host_->clearLog();
    EXPECT_EQ(set(admin, "Enabled", "No"), 0u);
    EXPECT_EQ(rd32(sent(16, 2).back(), 12), 0x02u);
    host_->clearLog();
    EXPECT_EQ(set(admin, "Advertise", "No"), 0u);
    EXPECT_EQ(rd32(sent(16, 2).back(), 12), 0x00u);
    host_->clearLog();
    EXPECT_EQ(set(admin, "Willing", "Yes"), 0u);
    EXPECT_EQ(rd32(sent(16, 2).back(), 12), 0x04u);
}

TEST_F(Qcn, FailuresKeepTheTextAndSayWhy)
{
    HmNode *admin = vsk("AdministratorQCNSetting");
    setAnswer(0x4, 0, 0);
    ASSERT_EQ(get(admin, "Willing"), "Yes");
    fw(1).setFault(16, 2, Fault{.status = 1});
    EXPECT_NE(set(admin, "Willing", "No"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DCBX_SET_FAILED);
    EXPECT_EQ(cached(admin, "Willing"), "Yes");
    fw(1).clearFaults();
    fw(1).setFault(16, 1, Fault{.status = 1});
    host_->clearLog();
    EXPECT_NE(set(admin, "Willing", "No"), 0u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_DCBX_GET_FAILED);
    EXPECT_TRUE(sent(16, 2).empty());
    u32 rc = 0;
    get(admin, "Enabled", &rc);
    EXPECT_NE(rc, 0u);
    EXPECT_EQ(cached(admin, "Willing"), "Yes");
}

TEST_F(Qcn, NoOperationalViewShowsNotApplicable)
{
    HmNode *op = vsk("OperationalQCNSettings"), *admin = vsk("AdministratorQCNSetting");
    ASSERT_TRUE(op && admin);
    setAnswer(0x1, 0x28, 0);
    ASSERT_EQ(get(op, "OperationalMode"), "True");
    // The status map turns every failure of the block read into another
    // status: the firmware's "not there" (additional status 75) arrives as 213.
    fw(1).setFault(16, 1, Fault{.status = 2, .additional = 75});
    u32 rc = 0;
    get(op, "OperationalMode", &rc);
    EXPECT_EQ(rc, 213u);
    EXPECT_EQ(cached(op, "OperationalMode"), "True");
    // The branch itself, with the status injected.
    HmNode *synced = internal_get_node(op, "Synced", HM_KIND_PROPERTY);
    char value[HM_VALUE_SIZE] = "";
    EXPECT_EQ(orsa_qcn_read_failed(synced, value, ORSA_STATUS_QCN_NO_OPERATIONAL), 0u);
    EXPECT_EQ(cached(op, "OperationalMode"), "N/A");
    EXPECT_STREQ(value, HM_PROPERTY(synced)->value);
    EXPECT_EQ(orsa_qcn_read_failed(synced, value, 213), 213u);
    HmNode *willing = internal_get_node(admin, "Willing", HM_KIND_PROPERTY);
    EXPECT_EQ(orsa_qcn_read_failed(willing, value, ORSA_STATUS_QCN_NO_OPERATIONAL), ORSA_STATUS_QCN_NO_OPERATIONAL);
}

TEST_F(Qcn, CnpvBitmapIsTheAdaptersToSet)
{
    HmNode *admin = vsk("AdministratorQCNSetting");
    setAnswer(0x4, 0x28, 0);
    host_->clearLog();
    EXPECT_NE(set(admin, "CNPVBitMap", "0x3"), 0u);
    EXPECT_EQ(last_code(), 10u) << "read-only in the tree";
    EXPECT_TRUE(sent(16, 2).empty());
    // Called directly: a bitmap of eight priorities, nothing else.
    HmNode *cnpv = internal_get_node(admin, "CNPVBitMap", HM_KIND_PROPERTY);
    OrsaPort at = orsa_port_of(get_valid_phba(ctrl(1), "0"));
    for (const char *bad : {"0x1ff", "-1", "12abc", ""}) {
        EXPECT_EQ(ORSA_set_QCN_props(at, 0, 0, cnpv, bad, 1), 1u) << bad;
        EXPECT_EQ(last_code(), 6u);
    }
    EXPECT_TRUE(sent(16, 2).empty());
    EXPECT_EQ(ORSA_set_QCN_props(at, 0, 0, cnpv, "012", 1), 0u);
    EXPECT_EQ(sent(16, 2).back()[312], 012u);
    EXPECT_EQ(ORSA_set_QCN_props(at, 0, 0, nullptr, "1", 1), 1u);
    EXPECT_EQ(ORSA_set_QCN_props(at, 0, 0, cnpv, nullptr, 1), 1u);
}

TEST_F(Qcn, VirtualFunctionReadsButDoesNotWrite)
{
    HmNode *admin = vsk("AdministratorQCNSetting");
    setAnswer(0x4, 0, 0);
    vm_flag = 1;
    EXPECT_EQ(get(admin, "Willing"), "Yes");
    host_->clearLog();
    EXPECT_EQ(set(admin, "Willing", "No"), 1u);
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_VF_REFUSED);
    vm_flag = 0;
    EXPECT_TRUE(sent(16, 2).empty());
}

class QcnOther : public LldpHost {};

TEST_F(QcnOther, NotOnKs2Ks3OrPivard)
{
    struct Case {
        adapter::Gen gen;
        const char *serial;
    } cases[] = {{adapter::Gen::KS2, "KS2EMU000001"}, {adapter::Gen::KS3, "KS3EMU000009"},
                 {adapter::Gen::Pivard, "PIVEMU000001"}};
    for (const Case &c : cases) {
        boot(singleHost(c.gen, c.serial));
        HmNode *pg = port(ctrl(0), "0");
        host_->clearLog();
        for (const char *view : {"AdministratorQCNSetting", "PeerQCNSetting", "OperationalQCNSettings"}) {
            HmNode *g = group(pg, std::string("DCBX/QCN/") + view);
            ASSERT_NE(g, nullptr);
            u32 rc = 0;
            get(g, "CNPVBitMap", &rc);
            EXPECT_EQ(rc, 1u) << c.serial << " " << view;
            EXPECT_EQ(last_code(), (u32)ORSA_STATUS_QCN_UNSUPPORTED);
            EXPECT_EQ(last_text(), "Configuring QCN parameters are not supported on this adapter.");
        }
        EXPECT_EQ(set(group(pg, "DCBX/QCN/AdministratorQCNSetting"), "Willing", "No"), 1u);
        EXPECT_EQ(last_code(), (u32)ORSA_STATUS_QCN_UNSUPPORTED);
        EXPECT_TRUE(sent(16, 1).empty()) << c.serial;
        EXPECT_TRUE(sent(16, 2).empty()) << c.serial;
    }
}

}  // namespace
