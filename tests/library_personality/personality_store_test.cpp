// Personality, erase and factory reset from a client down to the emulated
// adapters' profile store, nothing answered in between: what the library
// writes is what the adapter keeps, what it keeps survives in its flash
// file, and a fresh adapter booted from that file shows it.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "fw_profile.h"
#include "personality_fixture.h"
#include "schema/builders.h"

namespace {

// The default host: controller 0 a KS3 (legacy table: NIC functions 0 and
// 1, iSCSI functions 2 and 3), controller 1 a Veskarn (profile 1 "NIC",
// storage functions 2 and 3 present nothing).
class PersonalityStore : public DiscoveryHost {
protected:
    void boot(const chardev::HostSpec &spec)
    {
        ASSERT_NO_FATAL_FAILURE(remake(spec));
        ASSERT_EQ(start(), 0u);
        ks3 = ctrl(0);
        vsk = ctrl(1);
        ASSERT_TRUE(ks3 && vsk);
    }
    void SetUp() override { boot(chardev::defaultHost()); }
    adapter::ProfileStore &store(size_t i) { return host_->engine(i).profiles(); }
    // The configured PCIe function record of a function.
    static const adapter::ProfileRecord *pcie(const std::vector<adapter::ProfileRecord> &records, unsigned pf)
    {
        for (const adapter::ProfileRecord &r : records)
            if (r[0] == adapter::kRecPcie && adapter::recordPf(r) == pf)
                return &r;
        return nullptr;
    }

public:
    HmNode *ks3 = nullptr, *vsk = nullptr;
};

TEST_F(PersonalityStore, StartUpShowsWhatTheAdaptersKeep)
{
    struct Case {
        HmNode *PersonalityStore::*ks;
        const char *property;
        const char *want;
    } cases[] = {
        {&PersonalityStore::ks3, "CurrentPersonality", "iSCSI"},
        {&PersonalityStore::ks3, "AvailablePersonalities", "NIC,iSCSI,FCoE"},
        {&PersonalityStore::ks3, "ConfiguredPersonality", "iSCSI"},
        {&PersonalityStore::vsk, "CurrentPersonality", "NIC"},
        {&PersonalityStore::vsk, "AvailablePersonalities", "NIC"},  // the schema's, nothing to fill
        {&PersonalityStore::vsk, "ConfiguredPersonality", "NIC"},
    };
    for (const Case &c : cases) {
        u32 rc = 0;
        EXPECT_EQ(get(persona(this->*c.ks), c.property, &rc), c.want) << c.property;
        EXPECT_EQ(rc, 0u) << c.property;
    }
}

TEST_F(PersonalityStore, LongPersonalityTextsAreCut)
{
    // More text than a value holds: 255 characters of it; the configured
    // personality is at most 8.
    store(0).available_personalities = std::string(300, 'N');
    store(0).configured_personality_text = "iSCSI/FCoE";
    ASSERT_EQ(ORSA_update_available_personalities(ks3), 0u);
    EXPECT_EQ(cached(persona(ks3), "AvailablePersonalities"), std::string(255, 'N'));
    EXPECT_EQ(get(persona(ks3), "ConfiguredPersonality"), "iSCSI/FC");
}

TEST_F(PersonalityStore, PersonalityChangeTakesEffectAtTheNextReset)
{
    struct Case {
        const char *what;
        HmNode *PersonalityStore::*ks;
        size_t adapter;
        const char *before, *after;
    } cases[] = {
        {"profile road", &PersonalityStore::vsk, 1, "NIC", "iSCSI"},
        // The one legacy table holds what runs and what comes next alike.
        {"legacy road", &PersonalityStore::ks3, 0, "FCoE", "FCoE"},
    };
    for (const Case &c : cases) {
        HmNode *ks = this->*c.ks;
        ASSERT_EQ(act(persona(ks), "SetPersonality", {c.after}), 0u) << c.what;
        EXPECT_EQ(last_code(), ORSA_STATUS_PERSONALITY_CHANGED) << c.what;
        EXPECT_TRUE(store(c.adapter).reset_needed) << c.what;
        EXPECT_EQ(get(internal_get_node(ks, "ProfileManagement", HM_KIND_GROUP), "RebootRequired"), "Yes") << c.what;
        EXPECT_EQ(get(persona(ks), "ConfiguredPersonality"), c.after) << c.what;
        ASSERT_EQ(ORSA_update_current_personality(ks), 0u);
        EXPECT_EQ(cached(persona(ks), "CurrentPersonality"), c.before) << c.what << ": not before the reset";

        host_->rebootAdapter(c.adapter);
        ASSERT_EQ(ORSA_update_current_personality(ks), 0u);
        EXPECT_EQ(cached(persona(ks), "CurrentPersonality"), c.after) << c.what;

        // The personality already running: written again, no notice.
        ASSERT_EQ(act(persona(ks), "SetPersonality", {c.after}), 0u) << c.what;
        EXPECT_EQ(last_code(), 0u) << c.what;
    }
    // Both storage functions of the Veskarn now present iSCSI; its NIC
    // functions are untouched.
    for (unsigned pf : {2u, 3u}) {
        const adapter::ProfileRecord *r = pcie(store(1).active, pf);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ((*r)[13], 1);
        EXPECT_EQ((*r)[14], 2);
    }
    EXPECT_EQ((*pcie(store(1).active, 0))[14], 1);
    // The KS3's functions 2 and 3: FCoE, out of the NIC state.
    for (size_t i = 2; i < 4; i++) {
        EXPECT_EQ(store(0).legacyEntry(i)[6], 2);
        EXPECT_EQ(store(0).legacyEntry(i)[5], 0);
    }
}

TEST_F(PersonalityStore, AvailableProtocolsOfTheConfiguredProfile)
{
    HmNode *configured = group(vsk, "ProfileManagement/ConfiguredProfile");
    HmNode *port = initialize_ConfiguredProfile_Port(configured, nullptr, nullptr, nullptr);
    HmNode *fn = port != nullptr ? initialize_ConfiguredProfile_Port_Function(port, nullptr, nullptr, nullptr) : nullptr;
    ASSERT_NE(fn, nullptr);
    // The adapter's storage functions may take iSCSI or FCoE; function 3
    // changes what it presents at the next reset.
    adapter::ProfileRecord *r3 = const_cast<adapter::ProfileRecord *>(pcie(store(1).configured, 3));
    ASSERT_NE(r3, nullptr);
    (*r3)[23] |= 0x08;
    struct Case {
        const char *number;
        const char *want;
    } cases[] = {{"0", "NIC"}, {"2", "iSCSI,FCoE"}, {"3", "iSCSI,FCoE,None"}, {"9", ""}};
    for (const Case &c : cases) {
        set_prop_val(fn, "FunctionNumber", "%s", c.number);
        u32 rc = 1;
        EXPECT_EQ(get(fn, "AvailableProtocols", &rc), c.want) << c.number;
        EXPECT_EQ(rc, 0u) << c.number;
    }
}

TEST_F(PersonalityStore, EraseAndFactoryReset)
{
    adapter::ProfileStore &s = store(0);
    HmNode *nic = group(ks3, "NICPhysicalHBA0");
    ASSERT_EQ(act(nic, "EraseNICConfiguration"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_DONE_REBOOT_NOW) << "the adapter asks for a reboot";
    s.erase_status[14] = 0;
    ASSERT_EQ(act(nic, "EraseNICConfiguration"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_ERASED);
    HmNode *port = group(ks3, "PortDiscoveryAndConfiguration2");
    ASSERT_EQ(act(port, "ErasePortandDiscoveryConfiguration"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_ERASED);
    s.erase_status[15] = 3;
    EXPECT_NE(act(port, "ErasePortandDiscoveryConfiguration"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_ERASE_PORT_FAILED);
    EXPECT_EQ(s.erased, std::vector<u32>({14, 14, 15, 15}));

    // Back to the Veskarn's factory profile from another one.
    store(1).next_id = 3;
    store(1).factory_profile = 2;
    ASSERT_EQ(act(vsk, "ResetFactoryDefaults"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_DONE_REBOOT_NOW);
    EXPECT_EQ(store(1).next_id, 2);
    ASSERT_EQ(act(vsk, "ResetFactoryDefaults", {"4"}), 0u);
    EXPECT_EQ(store(1).next_id, 4);
    EXPECT_EQ(act(ks3, "ResetFactoryDefaults"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_FACTORY_RESET_UNSUPPORTED);
}

TEST_F(PersonalityStore, PivardPersonalityFromTheCommonConfiguration)
{
    chardev::HostSpec spec;
    spec.adapters = {adapterSpec(adapter::Gen::Pivard, 3, "PIVEMU000010",
                                 {nicFn(0, "vmnic0"), nicFn(1, "vmnic1"), iscsiFn(2, "vmhba35", 2),
                                  iscsiFn(3, "vmhba36", 3)})};
    ASSERT_NO_FATAL_FAILURE(remake(spec));
    // Functions 2 and 3 present FCoE.
    for (adapter::ProfileRecord &e : host_->engine(0).profiles().common)
        if ((e[6] & 3) >= 2)
            e[14] = 4;
    ASSERT_EQ(start(), 0u);
    HmNode *pivard = ctrl(0);
    EXPECT_EQ(cached(persona(pivard), "CurrentPersonality"), "FCoE");
    EXPECT_EQ(cached(persona(pivard), "AvailablePersonalities"), "");
    EXPECT_EQ(get(persona(pivard), "ConfiguredPersonality"), "N/A");
}

TEST_F(PersonalityStore, NicEraseOfAControllerGoesToItsOwnNicFunction)
{
    // The first NIC function of the host is the Veskarn's; the KS3's first
    // iSCSI function has the same instance number on its own device.
    chardev::HostSpec spec;
    spec.adapters = {
        adapterSpec(adapter::Gen::Veskarn, 3, "VSKEMU000020", {nicFn(0, "vmnic0"), nicFn(1, "vmnic1")}),
        adapterSpec(adapter::Gen::KS3, 5, "KS3EMU000021",
                    {nicFn(0, "vmnic2"), nicFn(1, "vmnic3"), iscsiFn(2, "vmhba33", 0), iscsiFn(3, "vmhba34", 1)}),
    };
    ASSERT_NO_FATAL_FAILURE(remake(spec));
    ASSERT_EQ(start(), 0u);
    HmNode *ks = nullptr;
    for (int k = 0; k < 2; k++)
        if (ctrl(k) != nullptr && get_first_instance(ctrl(k), "iSCSIPhysicalHBA") != nullptr)
            ks = ctrl(k);
    ASSERT_NE(ks, nullptr);
    EXPECT_EQ(ORSA_EraseNICConfiguration(ks), 0u);
    EXPECT_EQ(store(1).erased, std::vector<u32>({14}));
    EXPECT_TRUE(store(0).erased.empty()) << "the other adapter's NIC configuration is left alone";
}

// The adapters' flash as files in the test root's /tmp.
std::vector<u8> readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<u8>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(PersonalityStore, PersonalityChangeIsKeptInTheFlashFile)
{
    const char *kFiles[] = {"/tmp/persona_ks3.flash", "/tmp/persona_vsk.flash"};
    chardev::HostSpec spec = chardev::defaultHost();
    for (size_t i = 0; i < 2; i++) {
        remove(kFiles[i]);
        spec.adapters[i].flash_file = kFiles[i];
    }
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    ASSERT_EQ(act(persona(vsk), "SetPersonality", {"FCoE"}), 0u);
    ASSERT_EQ(act(persona(ks3), "SetPersonality", {"NIC"}), 0u);

    // The Veskarn's file: the header, and the configured records of its
    // storage functions as the library changed them.
    std::vector<u8> vfile = readFile(kFiles[1]);
    ASSERT_GE(vfile.size(), 16u);
    const u8 head[8] = {'E', 'M', 'F', 'L', 1, 0, static_cast<u8>(adapter::Gen::Veskarn), 0};
    EXPECT_EQ(0, memcmp(vfile.data(), head, 8));
    for (unsigned pf : {2u, 3u}) {
        adapter::ProfileRecord want = adapter::pcieRecord(pf, 1, 4, 0x6);
        std::vector<u8> framed = {88, 0};  // a record in the file: u16 length, then its bytes
        framed.insert(framed.end(), want.begin(), want.end());
        EXPECT_NE(std::search(vfile.begin(), vfile.end(), framed.begin(), framed.end()), vfile.end())
            << "function " << pf << " presents FCoE in the file";
    }
    // The KS3's file: its legacy table with functions 2 and 3 back to NIC.
    std::vector<u8> kfile = readFile(kFiles[0]);
    ASSERT_GE(kfile.size(), 16u);
    EXPECT_EQ(kfile[6], static_cast<u8>(adapter::Gen::KS3));

    // A fresh host boots its adapters from the files: the library started
    // on it finds the new personalities running.
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    EXPECT_TRUE(host_->engine(0).bootedFromFlash());
    EXPECT_TRUE(host_->engine(1).bootedFromFlash());
    EXPECT_EQ(cached(persona(vsk), "CurrentPersonality"), "FCoE");
    EXPECT_EQ(get(persona(vsk), "ConfiguredPersonality"), "FCoE");
    EXPECT_EQ(cached(persona(ks3), "CurrentPersonality"), "NIC");
    EXPECT_EQ(get(persona(ks3), "ConfiguredPersonality"), "NIC");
    for (size_t i = 2; i < 4; i++)
        EXPECT_EQ(store(0).legacyEntry(i)[6], 0) << "entry " << i;
    for (const char *f : kFiles)
        remove(f);
}

}  // namespace
