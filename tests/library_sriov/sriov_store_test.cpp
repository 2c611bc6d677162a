// SR-IOV state from a client down to the emulated adapters' profile store,
// nothing answered in between: what the library writes is what the adapter
// keeps, it survives in the adapter's flash file, and a fresh adapter booted
// from that file runs it.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_sriov.h"
#include "fw_profile.h"
#include "host_fixture.h"

namespace {

std::vector<u8> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool holdsRecord(const std::vector<u8> &file, const adapter::ProfileRecord &rec)
{
    std::vector<u8> framed = {(u8)rec.size(), (u8)(rec.size() >> 8)};  // u16 length, then the bytes
    framed.insert(framed.end(), rec.begin(), rec.end());
    return std::search(file.begin(), file.end(), framed.begin(), framed.end()) != file.end();
}

class SriovStore : public DiscoveryHost {
protected:
    void boot(const chardev::HostSpec &spec)
    {
        if (started_) {
            ASSERT_EQ(ORSA_exit(), 0u);
            started_ = false;
        }
        make(spec);
        ASSERT_EQ(start(), 0u);
    }
    // The default host with adapter i keeping its flash in a fresh file.
    static chardev::HostSpec withFlash(size_t i, const char *file)
    {
        remove(file);
        chardev::HostSpec spec = chardev::defaultHost();
        spec.adapters[i].flash_file = file;
        return spec;
    }
    adapter::ProfileStore &store(size_t i) { return host_->engine(i).profiles(); }
    static HmNode *nic(HmNode *ks) { return get_first_instance(ks, "NICPhysicalHBA"); }
    static const adapter::ProfileRecord *pcie(const std::vector<adapter::ProfileRecord> &records, unsigned pf)
    {
        for (const adapter::ProfileRecord &r : records)
            if (r[0] == adapter::kRecPcie && adapter::recordPf(r) == pf)
                return &r;
        return nullptr;
    }
};

TEST_F(SriovStore, ProfileRoadChangeIsKeptInTheFlashFile)
{
    const char *kFile = "/tmp/sriov_vsk.flash";
    const chardev::HostSpec spec = withFlash(1, kFile);
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    HmNode *vsk = ctrl(1);
    HmNode *g = nic(vsk);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(cached(internal_get_node(g, "PCI", HM_KIND_GROUP), "FunctionNumber"), "0x0");
    // The adapter comes with SR-IOV on for function 0.
    EXPECT_EQ(get(g, "SRIOVState"), "Enabled");
    ASSERT_EQ(set(g, "SRIOVState", "Disabled"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);
    EXPECT_EQ((*pcie(store(1).configured, 0))[12], 0);
    EXPECT_EQ((*pcie(store(1).configured, 0))[16], 0) << "no VFs";
    EXPECT_EQ(get(g, "SRIOVState"), "Disabled") << "the configured state reads back";

    const adapter::ProfileRecord before = *pcie(store(1).configured, 0);
    const adapter::ProfileRecord other = *pcie(store(1).configured, 1);
    store(1).reset_needed = false;
    ASSERT_EQ(set(g, "SRIOVState", "Enabled"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);
    EXPECT_TRUE(store(1).reset_needed);

    // The configured record: enabled with 255 VFs, the rest as it was; the
    // other function untouched.
    adapter::ProfileRecord want = before;
    want[3] &= 0x3F;
    want[12] = 1;
    want[16] = 255;
    want[17] = 0;
    EXPECT_EQ(*pcie(store(1).configured, 0), want);
    EXPECT_EQ(*pcie(store(1).configured, 1), other);
    EXPECT_EQ(get(g, "SRIOVState"), "Enabled") << "the configured state reads back";

    // The flash file holds the record the driver's bring-up takes its VF
    // limit from: SR-IOV state at byte 12, the VF count at 16.
    std::vector<u8> file = readFile(kFile);
    ASSERT_GE(file.size(), 16u);
    EXPECT_TRUE(holdsRecord(file, want));

    // A fresh host boots the adapter from the file: the active profile
    // runs it.
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    EXPECT_TRUE(host_->engine(1).bootedFromFlash());
    EXPECT_EQ(*pcie(store(1).active, 0), want);
    HmNode *aport = get_first_instance(group(ctrl(1), "ProfileManagement/ActiveProfile"), "Port");
    HmNode *afn = aport != nullptr ? get_first_instance(aport, "Function") : nullptr;
    ASSERT_NE(afn, nullptr);
    ASSERT_EQ(cached(afn, "FunctionNumber"), "0x0");
    EXPECT_EQ(get(afn, "SRIOVState"), "Enabled");
    remove(kFile);
}

TEST_F(SriovStore, Ks3ChangeIsKeptInTheFlashFile)
{
    const char *kFile = "/tmp/sriov_ks3.flash";
    const chardev::HostSpec spec = withFlash(0, kFile);
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    HmNode *g = nic(ctrl(0));
    ASSERT_NE(g, nullptr);
    // The legacy road reads the state of a NIC function entry in state 0.
    store(0).legacyEntry(0)[5] = 0;
    store(0).legacyEntry(0)[12] = 0;
    EXPECT_EQ(get(g, "SRIOVState"), "Disabled");
    const u8 other = store(0).legacyEntry(1)[12];

    // The single-record write: the adapter keeps the state in its table,
    // with the resource bytes the driver's bring-up reads (state at 7, VF
    // count at 10).
    ASSERT_EQ(set(g, "SRIOVState", "Enabled"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);
    const u8 *e = store(0).legacyEntry(0);
    EXPECT_EQ(e[12], 1);
    EXPECT_EQ(e[7], 1);
    EXPECT_NE(e[10] | e[11] << 8, 0);
    EXPECT_EQ(store(0).legacyEntry(1)[12], other) << "the other NIC function is left";
    EXPECT_TRUE(store(0).reset_needed);
    EXPECT_EQ(get(g, "SRIOVState"), "Enabled");
    std::vector<u8> entry(e, e + 68);
    std::vector<u8> file = readFile(kFile);
    EXPECT_NE(std::search(file.begin(), file.end(), entry.begin(), entry.end()), file.end())
        << "the changed entry is in the file";

    // An adapter without the profile write: the table itself is written.
    host_->engine(0).setFault(1, 165, {.status = 2, .additional = 30});
    ASSERT_EQ(set(g, "SRIOVState", "Disabled"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);
    EXPECT_EQ(store(0).legacyEntry(0)[12], 0);
    // No entry the legacy road names: refused, no reboot notice.
    store(0).legacyEntry(0)[5] = 1;
    store(0).reset_needed = false;
    EXPECT_EQ(set(g, "SRIOVState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
    EXPECT_EQ(store(0).legacyEntry(0)[12], 0);
    EXPECT_FALSE(store(0).reset_needed);
    store(0).legacyEntry(0)[5] = 0;
    host_->engine(0).clearFaults();
    ASSERT_EQ(set(g, "SRIOVState", "Enabled"), 0u);

    // A fresh host boots the adapter from the file.
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    EXPECT_TRUE(host_->engine(0).bootedFromFlash());
    EXPECT_EQ(get(nic(ctrl(0)), "SRIOVState"), "Enabled");
    EXPECT_EQ(store(0).legacyEntry(0)[7], 1);
    remove(kFile);
}

TEST_F(SriovStore, VepaOnTheVeskarnPort)
{
    ASSERT_NO_FATAL_FAILURE(boot(chardev::defaultHost()));
    HmNode *g = nic(ctrl(1));
    ASSERT_NE(g, nullptr);
    unsigned port = (unsigned)get_phba_port_number(g);
    EXPECT_EQ(get(g, "VEPAState"), "Disabled");
    set_prop_val(g, "SRIOVState", "Disabled");
    EXPECT_EQ(set(g, "VEPAState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_VEPA_UNSUPPORTED);
    EXPECT_EQ(store(1).forwarding.count(port), 0u) << "nothing sent";

    ASSERT_EQ(get(g, "SRIOVState"), "Enabled");
    ASSERT_EQ(set(g, "VEPAState", "Enabled"), 0u);
    EXPECT_EQ(store(1).forwarding[port], adapter::kForwardVepa);
    EXPECT_EQ(get(g, "VEPAState"), "Enabled");
    ASSERT_EQ(set(g, "VEPAState", "Disabled"), 0u);
    EXPECT_EQ(store(1).forwarding[port], adapter::kForwardVeb);
    EXPECT_EQ(get(g, "VEPAState"), "Disabled");
}

TEST_F(SriovStore, Ks2AndPivardHaveNoChangeableState)
{
    chardev::HostSpec spec;
    spec.adapters = {adapterSpec(adapter::Gen::KS2, 3, "KS2EMU000030", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")}),
                     adapterSpec(adapter::Gen::Pivard, 5, "PIVEMU000031", {nicFn(0, "vmnic2"), nicFn(1, "vmnic3")})};
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    HmNode *ks2 = nullptr, *piv = nullptr;
    for (int k = 0; k < 2; k++) {
        u32 gen = get_ks_type(ctrl(k));
        (gen == 2 ? ks2 : piv) = ctrl(k);
    }
    ASSERT_TRUE(ks2 && piv);
    host_->clearLog();
    u32 rc = 1;
    EXPECT_EQ(get(nic(ks2), "SRIOVState", &rc), "N/A");
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(set(nic(ks2), "SRIOVState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
    EXPECT_TRUE(host_->log().empty()) << "KS2 asks the adapter nothing";

    // Pivard: read from the common configuration, never changed.
    for (adapter::ProfileRecord &e : store(1).common)
        if ((e[6] & 3) == 0)
            e[12] = 1;
    EXPECT_EQ(get(nic(piv), "SRIOVState", &rc), "Enabled");
    EXPECT_EQ(rc, 0u);
    EXPECT_EQ(set(nic(piv), "SRIOVState", "Disabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_NOT_CHANGEABLE);
    EXPECT_EQ(set(nic(piv), "VEPAState", "Enabled"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_VEPA_UNSUPPORTED);
}

}  // namespace
