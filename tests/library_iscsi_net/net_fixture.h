// The library over an emulated host whose adapters carry iSCSI functions:
// adapter 0 a Veskarn (IPv6) with a NIC function 0 and iSCSI functions 1 and
// 2, adapter 1 a KS3 (no IPv6) with a NIC function 0 and an iSCSI function 1.
#pragma once

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "host_fixture.h"
#include "iscsi/fw_iscsi_net.h"
#include "iscsi/iscsi_addr.h"
#include "iscsi/iscsi_net.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

class NetHost : public DiscoveryHost {
protected:
    static constexpr size_t kVsk = 0, kKs3 = 1;
    static constexpr const char *kVskSerial = "VSKEMU0000N1";
    static constexpr const char *kKs3Serial = "KS3EMU0000N2";

    static chardev::HostSpec netHost(const char *flash_file = nullptr)
    {
        chardev::HostSpec spec;
        spec.adapters.push_back(adapterSpec(adapter::Gen::Veskarn, 7, kVskSerial,
                                            {nicFn(0, "vmnic0"), iscsiFn(1, "vmhba33", 0), iscsiFn(2, "vmhba34", 1)}));
        spec.adapters.push_back(
            adapterSpec(adapter::Gen::KS3, 9, kKs3Serial, {nicFn(0, "vmnic1"), iscsiFn(1, "vmhba35", 2)}));
        if (flash_file != nullptr)
            spec.adapters[kVsk].flash_file = flash_file;
        return spec;
    }

    // Starts the library over a new host; `before` shapes the adapters first.
    void boot(const chardev::HostSpec &spec = netHost(),
              const std::function<void(chardev::EmulatedHost &)> &before = {})
    {
        if (started_) {
            ASSERT_EQ(ORSA_exit(), 0u);
            started_ = false;
        }
        chardev::install(nullptr);
        host_.reset();
        ASSERT_NO_FATAL_FAILURE(make(spec));
        if (before)
            before(*host_);
        ASSERT_EQ(start(), 0u);
    }
    // The library's restart over the same host (the adapters keep running).
    void restart()
    {
        ASSERT_EQ(ORSA_exit(), 0u);
        started_ = false;
        ASSERT_EQ(start(), 0u);
    }

    adapter::Engine &fw(size_t i) { return host_->engine(i); }
    adapter::IscsiPortNet &net(size_t i, unsigned fn) { return adapter::iscsiNet(fw(i), fn); }

    static HmNode *controller(const char *serial)
    {
        for (HmNode *ks = get_first_instance(&ROOT, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks))
            if (cached(ks, "SerialNumber") == serial)
                return ks;
        return nullptr;
    }
    // The iSCSI physical HBA of a PCI function of an adapter.
    static HmNode *phba(size_t adapter_index, unsigned fn)
    {
        HmNode *ks = controller(adapter_index == kVsk ? kVskSerial : kKs3Serial);
        char want[16];
        snprintf(want, sizeof want, "0x%x", fn);
        for (HmNode *g = ks != nullptr ? get_first_instance(ks, "iSCSIPhysicalHBA") : nullptr; g != nullptr;
             g = hm_next_instance(g))
            if (cached(internal_get_node(g, "PCI", HM_KIND_GROUP), "FunctionNumber") == want)
                return g;
        return nullptr;
    }
    static HmNode *tcpip(size_t a, unsigned fn) { return group(phba(a, fn), "Network/TCPIPConfiguration"); }
    static HmNode *ipv6(size_t a, unsigned fn) { return group(phba(a, fn), "Network/TCPIPConfiguration/IPv6Configuration"); }
    static HmNode *nicconf(size_t a, unsigned fn) { return group(phba(a, fn), "Network/NICConfiguration"); }
    static HmNode *names(size_t a, unsigned fn) { return group(phba(a, fn), "LogicalHBA0/InitiatoriSCSIName"); }

    // Runs an action as a client does; a parameter "-" is not given.
    static u32 run(HmNode *g, const char *action, const std::vector<std::string> &params = {})
    {
        u32 tag = 0;
        if (g == nullptr || ORSA_get_node_tag(g->tag, action, &tag, HM_KIND_ACTION) != 0)
            return 0xFFFF;
        HmValueSlot slots[HM_MAX_PARAMS];
        memset(slots, ORSA_PARAM_NOT_GIVEN, sizeof slots);
        for (size_t i = 0; i < params.size() && i < HM_MAX_PARAMS; i++)
            if (params[i] != "-")
                snprintf(slots[i], sizeof slots[i], "%s", params[i].c_str());
        return ORSA_do_action(g->tag, tag, slots, nullptr);
    }
    static std::string last_text()
    {
        u32 code = 0;
        char text[ORSA_STATUS_TEXT_SIZE] = "";
        ORSA_get_last_status(&code, text);
        return text;
    }
    static u32 rd32(const std::vector<u8> &b, size_t at)
    {
        return b.at(at) | b.at(at + 1) << 8 | b.at(at + 2) << 16 | (u32)b.at(at + 3) << 24;
    }
    // Requests of one command that reached the devices since the log was cleared.
    size_t count(u8 subsystem, u8 opcode) const { return sent(subsystem, opcode).size(); }
    // The adapter's side of the network as one comparable text.
    std::string state(size_t a, unsigned fn)
    {
        const adapter::IscsiPortNet &n = net(a, fn);
        std::string s;
        char part[80];
        for (const adapter::IscsiAddressEntry &e : n.addresses) {
            snprintf(part, sizeof part, "[%u:", e.kind);
            s += part;
            for (u8 b : e.address)
                snprintf(part, sizeof part, "%02x", b), s += part;
            s += "/";
            for (u8 b : e.mask)
                snprintf(part, sizeof part, "%02x", b), s += part;
            s += "]";
        }
        snprintf(part, sizeof part, " gw4 %d %u.%u.%u.%u gw6 %d dhcp %d v6 %x vlan %u ", n.gw4_set, n.gw4[0], n.gw4[1],
                 n.gw4[2], n.gw4[3], n.gw6_set, n.dhcp, n.ipv6_flags, n.vlan_tag);
        s += part;
        for (u8 b : n.gw6)
            snprintf(part, sizeof part, "%02x", b), s += part;
        return s + " name " + n.initiator_name + " alias " + n.alias;
    }
};
