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

u32 le(const std::vector<u8> &b, size_t at, size_t n)
{
    u32 v = 0;
    for (size_t k = 0; k < n; k++)
        v |= (u32)b.at(at + k) << (8 * k);
    return v;
}

// The flash file read by its layout: a 16-byte head ("EMFL", version,
// generation, u32 length at 8, u32 section count at 12), then sections of
// u16 tag, u16 0, u32 length and the payload. The payload of the first
// section of a tag; empty without one.
std::vector<u8> flashSection(const std::vector<u8> &file, u16 tag)
{
    if (file.size() < 16 || memcmp(file.data(), "EMFL", 4) != 0 || le(file, 8, 4) != file.size())
        return {};
    size_t at = 16;
    for (u32 i = 0, n = le(file, 12, 4); i < n && at + 8 <= file.size(); i++) {
        size_t len = le(file, at + 4, 4);
        if (len > file.size() - at - 8)
            return {};
        if (le(file, at, 2) == tag)
            return std::vector<u8>(file.begin() + (long)at + 8, file.begin() + (long)(at + 8 + len));
        at += 8 + len;
    }
    return {};
}

// The records of a records section: u16 count, each u16 length and its bytes.
std::vector<std::vector<u8>> flashRecords(const std::vector<u8> &body)
{
    std::vector<std::vector<u8>> out;
    if (body.size() < 2)
        return out;
    size_t at = 2;
    for (u32 i = 0, n = le(body, 0, 2); i < n && at + 2 <= body.size(); i++) {
        size_t len = le(body, at, 2);
        if (len > body.size() - at - 2)
            break;
        out.emplace_back(body.begin() + (long)at + 2, body.begin() + (long)(at + 2 + len));
        at += 2 + len;
    }
    return out;
}

class SriovStore : public DiscoveryHost {
protected:
    void boot(const chardev::HostSpec &spec)
    {
        ASSERT_NO_FATAL_FAILURE(remake(spec));
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

// The SR-IOV state the library writes lands in the adapter's flash file at
// the bytes the firmware gives the driver's bring-up its VF limit from:
// Veskarn, the function's PCIe record of the configured profile (state at
// 12, the state-applies flag bit 4 of 23, VF count at 16); KS3, the
// function's entry of the configuration table (state at 12, VF count at 10).
// A firmware booted from that file reports that limit for the function.
TEST_F(SriovStore, StateInTheFlashFileWhereTheBringUpTakesItsVfLimit)
{
    struct Row {
        const char *what;
        size_t adapter;
        const char *before, *value;
        u8 state;
    } rows[] = {
        {"Veskarn enables", 1, "Disabled", "Enabled", 1},
        {"Veskarn disables", 1, "Enabled", "Disabled", 0},
        {"KS3 enables", 0, "Disabled", "Enabled", 1},
        {"KS3 disables", 0, "Enabled", "Disabled", 0},
    };
    const char *kFile = "/tmp/sriov_bringup.flash";
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        ASSERT_NO_FATAL_FAILURE(boot(withFlash(r.adapter, kFile)));
        HmNode *g = nic(ctrl((int)r.adapter));
        ASSERT_NE(g, nullptr);
        ASSERT_EQ(cached(internal_get_node(g, "PCI", HM_KIND_GROUP), "FunctionNumber"), "0x0");
        if (get(g, "SRIOVState") != r.before) {
            ASSERT_EQ(set(g, "SRIOVState", r.before), 0u) << last_code();
        }
        ASSERT_EQ(get(g, "SRIOVState"), r.before);
        ASSERT_EQ(set(g, "SRIOVState", r.value), 0u) << last_code();
        EXPECT_EQ(last_code(), ORSA_STATUS_SRIOV_CHANGED);

        const std::vector<u8> file = readFile(kFile);
        const adapter::EngineConfig cfg = host_->engine(r.adapter).config();
        const u16 most = cfg.max_vfs;
        ASSERT_NE(most, 0);
        if (r.adapter == 1) {
            const std::vector<std::vector<u8>> records = flashRecords(flashSection(file, 3));
            const std::vector<u8> *rec = nullptr;
            for (const std::vector<u8> &x : records)
                if (x.size() >= 88 && x[0] == 80 && (x[6] | (x[7] & 3) << 8) == 0)
                    rec = &x;
            ASSERT_NE(rec, nullptr) << "the configured profile holds function 0";
            EXPECT_EQ((*rec)[12], r.state);
            EXPECT_EQ((*rec)[23] & 0x10, 0x10);
            EXPECT_EQ(le(*rec, 16, 2), r.state == 1 ? 255u : 0u) << "255: as many as the function may have";
        } else {
            const std::vector<u8> table = flashSection(file, 6);
            ASSERT_EQ(table.size(), 4u + 16 * 68);
            const u8 *entry = nullptr;
            for (u32 i = 0; i < std::min<u32>(le(table, 0, 4), 16); i++)
                if (table[4 + i * 68] == 0 && table[4 + i * 68 + 4] == 0)
                    entry = &table[4 + i * 68];
            ASSERT_NE(entry, nullptr) << "the table holds function 0";
            EXPECT_EQ(entry[12], r.state);
            if (r.state == 1) {
                EXPECT_EQ(entry[10] | entry[11] << 8, most);
            }
        }

        adapter::Engine booted(cfg);
        ASSERT_TRUE(booted.bootedFromFlash());
        EXPECT_EQ(booted.limits(0).sriov, r.state == 1);
        EXPECT_EQ(booted.limits(0).max_vfs, r.state == 1 ? most : 0);
    }
    remove(kFile);
}

// A KS3 firmware that also answers profile reads shows the state of its
// configuration table in the function's PCIe record: the library reads it
// on the profile road, writes it with the single record, and reads back
// what it wrote.
TEST_F(SriovStore, Ks3ProfileReadShowsTheTablesState)
{
    chardev::HostSpec spec = chardev::defaultHost();
    make(spec);
    store(0).ks3_profile_reads = true;
    store(0).configured.push_back(adapter::pcieRecord(0, 1, 1, 0x1));
    store(0).active = store(0).configured;
    ASSERT_EQ(start(), 0u);
    HmNode *g = nic(ctrl(0));
    ASSERT_NE(g, nullptr);
    host_->clearLog();
    EXPECT_EQ(get(g, "SRIOVState"), "Enabled");
    for (const char *value : {"Disabled", "Enabled", "Disabled"}) {
        SCOPED_TRACE(value);
        ASSERT_EQ(set(g, "SRIOVState", value), 0u) << last_code();
        EXPECT_EQ(store(0).legacyEntry(0)[12], strcmp(value, "Enabled") == 0 ? 1 : 0);
        EXPECT_EQ(get(g, "SRIOVState"), value);
    }
    bool table_read = false;
    for (const chardev::LoggedIoctl &l : host_->log())
        for (size_t at : {size_t{0}, size_t{21}})
            if (l.bytes.size() > at + 1 && l.bytes[at] == 81 && l.bytes[at + 1] == 1)
                table_read = true;
    EXPECT_FALSE(table_read) << "the profile road answered: the table was not asked";
    // A state that does not apply there reads "N/A".
    store(0).legacyEntry(0)[12] = 255;
    EXPECT_EQ(get(g, "SRIOVState"), "N/A");
}

}  // namespace
