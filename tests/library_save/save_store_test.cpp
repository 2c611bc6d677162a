// A save from the client's staging to the adapter's next boot: values staged
// through the tree, the request as the emulated firmware decodes it, the
// flash file, and after the adapter's reset and a new start of the library
// the new profile running and shown.
#include <stdio.h>

#include "save_fixture.h"

namespace {

const char *kFlash = "/tmp/save_vsk.flash";

class SaveStore : public SaveHost {};

TEST_F(SaveStore, StagedProfileRunsAfterTheReboot)
{
    remove(kFlash);
    ASSERT_NO_FATAL_FAILURE(bootVeskarn(1, 1, kFlash));
    HmNode *ap = group(pm, "ActiveProfile");
    ASSERT_NE(ap, nullptr);
    ASSERT_EQ(get(function(ap, "0x1"), "SRIOVState"), "Disabled");
    ASSERT_EQ(get(group(ap, "Port0"), "MCType"), "None");
    HmNode *port0 = group(cp, "Port0");
    ASSERT_NE(port0, nullptr);
    ASSERT_EQ(set(port0, "MCType", "NPAR"), 0u) << last_text();
    ASSERT_EQ(set(function(cp, "0x1"), "SRIOVState", "Enabled"), 0u) << last_text();
    ASSERT_EQ(save(), 0u) << last_text();
    EXPECT_EQ(last_code(), (u32)ORSA_STATUS_SAVE_REBOOT);
    EXPECT_TRUE(store().reset_needed);

    // The records as the firmware took them from the request.
    const adapter::Engine::SetProfile &got = fw(1).lastSetProfile();
    EXPECT_EQ(got.count, 4u);
    ASSERT_EQ(got.descriptors.size(), 88u * 3 + 68);
    const unsigned pfs[] = {0, 1, 4};
    const u8 states[] = {1, 1, 0}, sriov[] = {0, 1, 0};
    for (size_t i = 0; i < 3; i++) {
        SCOPED_TRACE(pfs[i]);
        const u8 *r = got.descriptors.data() + 88 * i;
        EXPECT_EQ(r[0], adapter::kRecPcie);
        EXPECT_EQ(adapter::recordPf(adapter::ProfileRecord(r, r + 88)), pfs[i]);
        EXPECT_EQ(r[13], states[i]);
        EXPECT_EQ(r[14], 1);
        EXPECT_EQ(r[12], sriov[i]);
        EXPECT_EQ(r[16] | r[17] << 8, sriov[i] != 0 ? 255 : 0);
    }
    const u8 *mc = got.descriptors.data() + 88 * 3;
    EXPECT_EQ(mc[0], adapter::kRecMcTypes);
    EXPECT_EQ(mc[52], 5);
    EXPECT_EQ(mc[53], 1);
    const adapter::ProfileRecord *p0 = nullptr;
    for (const adapter::ProfileRecord &r : store().configured)
        if (r[0] == adapter::kRecPort && (r[4] & 63) == 0)
            p0 = &r;
    ASSERT_NE(p0, nullptr);
    EXPECT_EQ((*p0)[5], 5);

    // The tree shows what the adapter will run.
    EXPECT_EQ(get(group(cp, "Port0"), "MCType"), "NPAR");
    EXPECT_EQ(get(function(cp, "0x1"), "SRIOVState"), "Enabled");

    // The flash file holds it.
    adapter::ProfileStore flash;
    ASSERT_TRUE(adapter::loadFlash(kFlash, adapter::Gen::Veskarn, &flash));
    EXPECT_EQ(flash.configured, store().configured);

    // The adapter's reset, and the library started again over the host.
    host_->rebootAdapter(1);
    EXPECT_EQ(ORSA_exit(), 0u);
    started_ = false;
    ASSERT_EQ(start(), 0u);
    vsk = ctrl(1);
    pm = group(vsk, "ProfileManagement");
    ap = group(pm, "ActiveProfile");
    ASSERT_NE(ap, nullptr);
    EXPECT_EQ(store().active, flash.configured);
    EXPECT_EQ(get(group(ap, "Port0"), "MCType"), "NPAR");
    EXPECT_EQ(get(group(ap, "Port1"), "MCType"), "None");
    EXPECT_EQ(get(function(ap, "0x1"), "SRIOVState"), "Enabled");
    EXPECT_EQ(get(function(ap, "0x0"), "SRIOVState"), "Disabled");
    remove(kFlash);
}

}  // namespace
