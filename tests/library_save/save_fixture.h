// The library over the emulated host with a Veskarn controller (1) whose
// profile store the test lays out: two ports of one multichannel type, NIC
// function 0 on port 0 and 1 on port 1 (LPVID 7, shares 10..50), and a
// function record 4 that no port's function names.
#pragma once

#include <string.h>

#include <string>
#include <vector>

#include "backend/orsa_handler_util.h"
#include "config/cfg_multichannel.h"
#include "config/cfg_profile_save.h"
#include "fw_profile.h"
#include "iscsi/iscsi_persist.h"
#include "link_fixture.h"

class SaveHost : public LinkHost {
protected:
    using Bytes = std::vector<u8>;

    static std::vector<adapter::ProfileRecord> layout(u8 mc)
    {
        std::vector<adapter::ProfileRecord> r = {adapter::portRecord(0, mc, 8, 0, 8, 0, 0, 0),
                                                 adapter::portRecord(1, mc, 8, 0, 8, 0, 0, 0)};
        for (unsigned pf : {0u, 1u}) {
            r.push_back(adapter::pcieRecord(pf, 1, 1, 0x1));
            adapter::ProfileRecord nic = adapter::functionRecord(adapter::kRecNic, pf, pf, {0x02, 0, 0, 0, 0, (u8)pf});
            nic[36] = 7;  // LPVID
            nic[48] = 10;
            nic[52] = 50;
            r.push_back(nic);
        }
        r.push_back(adapter::pcieRecord(4, 0, 0, 0x6));
        return r;
    }
    // Boots with the active profile of multichannel type active_mc and the
    // configured one of configured_mc.
    void bootVeskarn(u8 active_mc, u8 configured_mc, const std::string &flash = "")
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        chardev::HostSpec spec = chardev::defaultHost();
        spec.adapters[1].flash_file = flash;
        boot(spec, [&](chardev::EmulatedHost &h) {
            h.engine(1).profiles().active = layout(active_mc);
            h.engine(1).profiles().configured = layout(configured_mc);
        });
        vsk = ctrl(1);
        pm = group(vsk, "ProfileManagement");
        cp = group(pm, "ConfiguredProfile");
        ASSERT_TRUE(vsk && pm && cp);
    }
    void TearDown() override
    {
        unlink(ORSA_CONFIG_PROF_FILE);
        LinkHost::TearDown();
    }
    adapter::ProfileStore &store() { return fw(1).profiles(); }
    // A Function group of a Port group of ConfiguredProfile or ActiveProfile.
    HmNode *function(HmNode *profile, const char *number)
    {
        for (HmNode *p = get_first_instance(profile, "Port"); p != nullptr; p = hm_next_instance(p))
            for (HmNode *f = get_first_instance(p, "Function"); f != nullptr; f = hm_next_instance(f))
                if (cached(f, "FunctionNumber") == number)
                    return f;
        return nullptr;
    }
    u32 save() { return run(pm, "SaveProfile", {}); }
    // The save's own request: the first set-profile request since the log
    // was cleared.
    Bytes saveRequest()
    {
        std::vector<Bytes> all = sent(1, 165);
        return all.empty() ? Bytes{} : all[0];
    }
    // Record i (from 0) of a set-profile request.
    static Bytes record(const Bytes &req, size_t i)
    {
        size_t at = ORSA_SET_PROFILE_HEAD + ORSA_RES_DESC_LEN * i;
        return at + ORSA_RES_DESC_LEN <= req.size() ? Bytes(req.begin() + (long)at, req.begin() + (long)at + ORSA_RES_DESC_LEN)
                                                    : Bytes{};
    }
    const adapter::ProfileRecord *stored(const std::vector<adapter::ProfileRecord> &records, u8 type, unsigned pf)
    {
        for (const adapter::ProfileRecord &r : records)
            if (r[0] == type && adapter::recordPf(r) == pf)
                return &r;
        return nullptr;
    }
    void subsystem(const char *id)
    {
        HmNode *pci = internal_get_node(orsa_first_phba(vsk), "PCI", HM_KIND_GROUP);
        ASSERT_NE(pci, nullptr);
        ASSERT_EQ(set_prop_val(pci, "SubsysDeviceID", "%s", id), 0u);
    }

    HmNode *vsk = nullptr, *pm = nullptr, *cp = nullptr;
};
