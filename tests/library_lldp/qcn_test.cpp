// QCN of a port's DCBX group: the three views of the version 1 DCBX block,
// the administrator's writes and the generations without QCN.
#include <string.h>

#include "fw_cfg_dcbx.h"
#include "lldp_fixture.h"

namespace {

using adapter::Fault;

constexpr size_t kBlock = 368;

class Qcn : public LldpHost {
protected:
    void SetUp() override { boot(); }
    static HmNode *qcn(HmNode *pg, const char *view) { return group(pg, std::string("DCBX/QCN/") + view); }
    HmNode *vsk(const char *view) { return qcn(port(ctrl(1), "0"), view); }
    // The DCBX views of the Veskarn's port 0.
    adapter::DcbxPort &dport() { return adapter::dcbxPort(fw(1), 0); }
    adapter::DcbxView &view(const char *name)
    {
        std::string n = name;
        return n == "AdministratorQCNSetting" ? dport().admin : n == "PeerQCNSetting" ? dport().peer : dport().oper;
    }
    void setQcn(adapter::DcbxView &v, u32 flags, u8 cnpv, u8 ready)
    {
        v.qcn_flags = flags;
        v.cnpv = cnpv;
        v.ready = ready;
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
        setQcn(view(c.view), c.flags, 0x28, 0x0C);
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
    adapter::DcbxView &a = dport().admin;
    a.state = 1;
    a.app_count = 3;
    a.pg_flags = 0x5;
    a.pfc_flags = 0x3;
    a.app_flags = 0x80000007;
    a.bandwidth = {40, 30, 20, 10, 0, 0, 0, 0};
    a.pg_id = {0, 1, 2, 3, 15, 0, 1, 2};
    a.pfc = {0, 0, 0, 1, 0, 0, 0, 0};
    a.apps[0] = adapter::DcbxAppEntry{0x8906, 0, 1, 0x001B21, {0, 0, 0, 1, 0, 0, 0, 0}};
    a.apps[1] = adapter::DcbxAppEntry{3260, 1, 1, 0x001B21, {0, 0, 0, 0, 1, 0, 0, 0}};
    a.apps[4] = adapter::DcbxAppEntry{0x8914, 0, 1, 0x020000, {1, 1, 0, 0, 0, 0, 0, 0}};
    setQcn(a, 0x07, 0x28, 0x0C);  // enabled, advertise, willing
    const adapter::DcbxView before = a;

    HmNode *admin = vsk("AdministratorQCNSetting");
    ASSERT_EQ(get(admin, "Willing"), "Yes");
    host_->clearLog();
    EXPECT_EQ(set(admin, "Willing", "No"), 0u) << last_text();
    std::vector<std::vector<u8>> reads = sent(16, 1), writes = sent(16, 2);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0][0], 0u) << "an administrator read";
    ASSERT_EQ(writes.size(), 1u);
    const std::vector<u8> &w = writes[0];
    ASSERT_EQ(w.size(), kBlock);
    EXPECT_EQ(w[0], 1u);
    EXPECT_EQ(w[1], 3u) << "the count of entries in use, unchanged";
    EXPECT_EQ(w[2], 0u);
    EXPECT_EQ(w[3], 0u);
    EXPECT_EQ(rd32(w, 4), 0x5u);
    EXPECT_EQ(rd32(w, 8), 0x3u);
    EXPECT_EQ(rd32(w, 12), 0x03u) << "willing cleared, the rest kept";
    EXPECT_EQ(rd32(w, 16), 0x80000007u);
    EXPECT_EQ(rd32(w, 20), 0u);
    EXPECT_EQ(w[72 + 16 * 4], 0x14u) << "entry 4's protocol id";
    EXPECT_EQ(w[312], 0x28u) << "the CNPV bitmap as read";
    for (size_t i = 313; i < kBlock; i++)
        ASSERT_EQ(w[i], 0u) << "byte " << i;
    EXPECT_EQ(cached(admin, "Willing"), "No");

    // What the adapter holds now: only the willing bit moved.
    const adapter::DcbxView &after = dport().admin;
    EXPECT_EQ(after.qcn_flags, 0x03u);
    EXPECT_EQ(after.app_count, 3u);
    EXPECT_EQ(after.cnpv, 0x28u);
    EXPECT_EQ(after.state, before.state);
    EXPECT_EQ(after.pg_flags, before.pg_flags);
    EXPECT_EQ(after.pfc_flags, before.pfc_flags);
    EXPECT_EQ(after.app_flags, before.app_flags);
    EXPECT_EQ(after.bandwidth, before.bandwidth);
    EXPECT_EQ(after.pg_id, before.pg_id);
    EXPECT_EQ(after.pfc, before.pfc);
    for (size_t n = 0; n < before.apps.size(); n++) {
        const adapter::DcbxAppEntry &x = after.apps[n], &y = before.apps[n];
        EXPECT_TRUE(x.protocol == y.protocol && x.selector == y.selector && x.in_use == y.in_use && x.oui == y.oui &&
                    x.members == y.members)
            << "entry " << n;
    }

    // Enabled and Advertise are bits 0 and 1 of the same word.
    struct Step {
        const char *name, *value;
        u32 flags;
    } steps[] = {{"Enabled", "No", 0x02}, {"Advertise", "No", 0x00}, {"Willing", "Yes", 0x04}, {"Enabled", "Yes", 0x05}};
    for (const Step &st : steps) {
        host_->clearLog();
        EXPECT_EQ(set(admin, st.name, st.value), 0u) << st.name;
        EXPECT_EQ(rd32(sent(16, 2).back(), 12), st.flags) << st.name << " " << st.value;
        EXPECT_EQ(dport().admin.qcn_flags, st.flags);
        EXPECT_EQ(get(admin, st.name), st.value);
    }
}

TEST_F(Qcn, FailuresKeepTheTextAndSayWhy)
{
    HmNode *admin = vsk("AdministratorQCNSetting");
    setQcn(dport().admin, 0x4, 0, 0);
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
    setQcn(dport().oper, 0x1, 0x28, 0);
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
    setQcn(dport().admin, 0x4, 0x28, 0);
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
    setQcn(dport().admin, 0x4, 0, 0);
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
