// Permanent, factory and current MAC addresses and the NIC region restore as
// a client reaches them through the tree API over the emulated host
// (controller 0 a KS3, controller 1 a Veskarn), with chosen adapter commands
// answered by replies made here.
#include <string.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_tree.h"
#include "tree/hm_lookup.h"
#include "config/cfg_mac.h"
#include "fw_cfg_mac.h"
#include "fw_profile.h"
#include "personality_fixture.h"
#include "profile_fixture.h"
#include "tree/hm_engine.h"

namespace {

using Bytes = std::vector<u8>;
using Mac = std::array<u8, 6>;

std::string text(const Mac &m)
{
    char t[24];
    mac::text_of(m.data(), t, sizeof t);
    return t;
}

class MacHost : public ProfileHost {
protected:
    static HmNode *nic(HmNode *ks, int n = 0)
    {
        HmNode *g = get_first_instance(ks, "NICPhysicalHBA");
        while (g != nullptr && n-- > 0)
            g = hm_next_instance(g);
        return g;
    }
    adapter::Engine &fw(size_t i) { return host_->engine(i); }
    adapter::ProfileStore &store(size_t i) { return fw(i).profiles(); }
    Mac factory(size_t i, unsigned pf) { return adapter::factoryMac(fw(i), pf); }
};

TEST_F(MacHost, PermanentAddressThroughTheProfile)
{
    HmNode *g = nic(vsk);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(cached(internal_get_node(g, "PCI", HM_KIND_GROUP), "FunctionNumber"), "0x0");
    EXPECT_EQ(get(g, "PermanentMACAddress"), text(factory(1, 0)));

    host_->clearLog();
    ASSERT_EQ(set(g, "PermanentMACAddress", "02-AA-BB-01-02-03"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    std::vector<Bytes> reqs = sent(165);
    ASSERT_EQ(reqs.size(), 1u);
    ASSERT_EQ(reqs[0].size(), ORSA_SET_ONE_FUNCTION_SIZE);
    const u8 *r = &reqs[0][8];
    EXPECT_EQ(reqs[0][4], 1);
    EXPECT_EQ(r[0], ORSA_RES_NIC_FUNCTION);
    EXPECT_EQ(r[1], 88);
    EXPECT_EQ(r[3] & 0xC2, 0x02);
    EXPECT_EQ(Bytes(r + 10, r + 16), (Bytes{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}));
    EXPECT_EQ(r[8] | r[9] << 8, 0xFFFF);
    EXPECT_EQ(r[44] & 0x3F, 0) << "the physical-HBA port";
    EXPECT_EQ(cached(g, "PermanentMACAddress"), "02-AA-BB-01-02-03");
    // The configured profile holds it from now on, the adapter runs it.
    EXPECT_EQ(get(g, "PermanentMACAddress"), "02-aa-bb-01-02-03");
    EXPECT_EQ(store(1).permanent_macs.at(0), (Mac{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}));
    EXPECT_TRUE(store(1).permanent_macs.count(1) == 0) << "the other function keeps its own";

    // The address it already has is written again, with the notice.
    host_->clearLog();
    orsa_reset_last_status();
    ASSERT_EQ(set(g, "PermanentMACAddress", "02-aa-bb-01-02-03"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    EXPECT_EQ(sent(165).size(), 1u);
}

TEST_F(MacHost, PermanentAddressRefusals)
{
    HmNode *g = nic(vsk);
    ProfileImage ports_only;
    ports_only.port(0, 1);
    ports_only.port(1, 1);
    struct Case {
        const char *what;
        const char *value;
        int opcode;  // answered by the reply below (0: none; negative: the adapter refuses it)
        CannedReply reply;
        u32 code;
        size_t writes;
    } cases[] = {
        {"not hexadecimal", "zz-zz-zz-zz-zz-zz", 0, {}, ORSA_STATUS_MAC_INVALID, 0},
        {"an empty group", "02--aa-bb-01-02-3", 0, {}, ORSA_STATUS_MAC_INVALID, 0},
        {"a digit too many", "02-aa-bb-01-02-030", 0, {}, ORSA_STATUS_MAC_INVALID, 0},
        {"the write fails", "02-aa-bb-01-02-03", -165, {}, ORSA_STATUS_MAC_SET_FAILED, 1},
        {"no record of the function", "02-aa-bb-01-02-03", 164, {ports_only.bytes}, ORSA_FAILURE, 0},
        {"the profile cannot be read", "02-aa-bb-01-02-03", 164, {{}, 2, 99}, ORSA_STATUS_PROFILE_CONFIG_FAILED, 0},
    };
    for (const Case &c : cases) {
        replies_.clear();
        fw(1).clearFaults();
        if (c.opcode > 0)
            answer((u8)c.opcode, std::vector<CannedReply>{c.reply});
        else if (c.opcode < 0)
            fw(1).setFault(1, (u8)-c.opcode, {.status = 2, .additional = 99});
        set_prop_val(g, "PermanentMACAddress", "sentinel");
        host_->clearLog();
        orsa_reset_last_status();
        u32 rc = set(g, "PermanentMACAddress", c.value);
        if (strlen(c.value) != 17) {
            EXPECT_EQ(rc, 1u) << c.what;
            EXPECT_EQ(last_code(), (u32)ORSA_STATUS_BAD_LENGTH) << c.what << ": the tree's length check";
        } else {
            EXPECT_EQ(rc, 1u) << c.what;
            EXPECT_EQ(last_code(), c.code) << c.what;
        }
        EXPECT_EQ(sent(165).size(), c.writes) << c.what;
        EXPECT_EQ(cached(g, "PermanentMACAddress"), "sentinel") << c.what;
    }
    EXPECT_TRUE(store(1).permanent_macs.empty());
}

TEST_F(MacHost, ResetMacAddressWritesTheFactoryAddress)
{
    HmNode *g = nic(vsk, 1);
    ASSERT_EQ(cached(internal_get_node(g, "PCI", HM_KIND_GROUP), "FunctionNumber"), "0x1");
    ASSERT_EQ(set(g, "PermanentMACAddress", "02-aa-bb-01-02-03"), 0u);
    host_->clearLog();
    orsa_reset_last_status();
    ASSERT_EQ(act(g, "ResetMACAddress"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    std::vector<Bytes> q = sent(1);
    ASSERT_EQ(q.size(), 1u);
    EXPECT_EQ(q[0].size(), ORSA_MAC_QUERY_SIZE);
    EXPECT_EQ(q[0][0], 9);
    std::vector<Bytes> w = sent(165);
    ASSERT_EQ(w.size(), 1u);
    Mac written;
    memcpy(written.data(), &w[0][8 + 10], 6);
    EXPECT_EQ(written, factory(1, 1));
    EXPECT_EQ(cached(g, "PermanentMACAddress"), text(factory(1, 1)));
    EXPECT_EQ(store(1).permanent_macs.at(1), factory(1, 1));

    // The factory query fails: nothing is written.
    host_->clearLog();
    fw(1).setFault(1, 1, {.status = 2, .additional = 99});
    EXPECT_EQ(act(g, "ResetMACAddress"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_FACTORY_MAC_FAILED);
    EXPECT_TRUE(sent(165).empty());
    fw(1).clearFault(1, 1);

    // The query holds functions 0 to 7 only.
    HmNode *pci = internal_get_node(g, "PCI", HM_KIND_GROUP);
    set_prop_val(pci, "FunctionNumber", "0x8");
    host_->clearLog();
    EXPECT_EQ(act(g, "ResetMACAddress"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_FACTORY_MAC_FAILED);
    EXPECT_TRUE(sent(1).empty());
    set_prop_val(pci, "FunctionNumber", "junk");
    EXPECT_EQ(act(g, "ResetMACAddress"), 1u);
    set_prop_val(pci, "FunctionNumber", "0x1");
}

TEST_F(MacHost, CurrentAndFactoryAddressesAndTheMtu)
{
    HmNode *g = nic(vsk);
    EXPECT_EQ(get(g, "MACAddress"), text(fw(1).permanentMac(0)));
    EXPECT_EQ(set(g, "MACAddress", "02-aa-bb-01-02-03"), 1u);
    EXPECT_EQ(last_code(), 70u);

    HmNode *cp = group(vsk, "ProfileManagement/ConfiguredProfile");
    int seen = 0;
    for (HmNode *p = get_first_instance(cp, "Port"); p != nullptr; p = hm_next_instance(p)) {
        for (HmNode *f = get_first_instance(p, "Function"); f != nullptr; f = hm_next_instance(f)) {
            u32 pf = 0;
            ASSERT_TRUE(mac::parse_function(cached(f, "FunctionNumber").c_str(), &pf));
            EXPECT_EQ(get(f, "MACAddress"), text(factory(1, pf))) << "function " << pf;
            ++seen;
        }
    }
    EXPECT_EQ(seen, 4) << "two NIC and two storage functions";
    // A permanent address changes the function's address, not its factory one.
    ASSERT_EQ(set(g, "PermanentMACAddress", "02-aa-bb-01-02-03"), 0u);
    HmNode *f0 = get_first_instance(get_first_instance(cp, "Port"), "Function");
    EXPECT_EQ(get(f0, "MACAddress"), text(factory(1, 0)));
    answer(147, std::vector<u8>{}, 2, 99);
    u32 rc = 0;
    get(f0, "MACAddress", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_PERMANENT_MAC_FAILED);

    EXPECT_EQ(get(nic(ks3, 1), "MTUSize"), "9000");
    EXPECT_EQ(get(nic(ks3, 0), "MTUSize"), "1500");
}

// A property of a client's own, bound to one of the exported CIM handlers
// that no group of the schema binds.
HmNode *addProperty(HmNode *group, const char *name, HmPropertyHandler handler)
{
    HmNode *n = (HmNode *)orsa_dzalloc(sizeof(HmNode));
    HmProperty *p = (HmProperty *)orsa_dzalloc(sizeof(HmProperty));
    n->kind = HM_KIND_PROPERTY;
    n->name = orsa_dstrdup(name);
    n->description = orsa_dstrdup("a client's property");
    n->parent = group;
    n->body = p;
    p->handler = handler;
    p->flags = HM_PROP_READONLY;
    strcpy(p->value, "unset");
    if (add_node(n, hm_find_hierarchy_by_node(group)) == HM_TAG_NONE)
        return nullptr;
    return n;
}

TEST_F(MacHost, UnboundCimHandlersFillTheirGroup)
{
    HmNode *cim = group(nic(vsk), "CIM");
    ASSERT_NE(cim, nullptr);
    struct Case {
        const char *property;
        HmPropertyHandler handler;
    } cases[] = {
        {"IPv6GateWay", handle_CIM_IPv6GateWay},
        {"Gateway", handle_CIM_GateWay},
        {"SubnetMask", handle_NICPhysicalHBA_CIM_SubnetMask},
        {"IPProtocolIfType", handle_CIM_IPProtocolIfType},
    };
    for (const Case &c : cases) {
        ASSERT_NE(addProperty(cim, c.property, c.handler), nullptr) << c.property;
        u32 rc = 9;
        EXPECT_EQ(get(cim, c.property, &rc), "N/A") << c.property;
        EXPECT_EQ(rc, 0u) << c.property;
    }
    // The address origin first reads the function's IfName and MACAddress and
    // the group's IPv4Address: without the last one it fails.
    ASSERT_NE(addProperty(cim, "AddressOrigin", handle_CIM_AddressOrigin), nullptr);
    u32 rc = 0;
    get(cim, "AddressOrigin", &rc);
    EXPECT_EQ(rc, 1u);
    EXPECT_EQ(cached(cim, "AddressOrigin"), "unset");
    ASSERT_NE(addProperty(cim, "IPv4Address", handle_internal_property), nullptr);
    EXPECT_EQ(get(cim, "AddressOrigin", &rc), "N/A");
    EXPECT_EQ(rc, 0u);
    char out[HM_VALUE_SIZE] = "";
    EXPECT_EQ(handle_CIM_GateWay(nullptr, out, 0), 1u);
}

// Region images: a 16-byte header (TLV length at 4), then one MAC TLV.
Bytes region(const Mac &m, u8 type = 0x20)
{
    Bytes b(16, 0x3C);
    Bytes tlv(10, 0);
    tlv[0] = type;
    tlv[1] = 7;
    std::copy(m.begin(), m.end(), tlv.begin() + 4);
    b[4] = (u8)tlv.size();
    b[5] = b[6] = b[7] = 0;
    b.insert(b.end(), tlv.begin(), tlv.end());
    return b;
}

TEST_F(MacHost, VirtualMacRestore)
{
    // The configured profile with a NIC and an iSCSI function per port.
    store(1).configured = store(1).findListed(2)->records;
    HmNode *cp = group(vsk, "ProfileManagement/ConfiguredProfile");
    ASSERT_EQ(purge_nodes_within(cp, "Port"), 0u);
    ASSERT_EQ(ORSA_get_configured_profiles(vsk), 0u);
    struct Part {
        std::string name;
        Mac factory;
        bool first;
    };
    std::vector<Part> parts;
    const Mac foreign = {0x02, 0x33, 0x33, 0x33, 0x33, 0x33};
    for (HmNode *p = get_first_instance(cp, "Port"); p != nullptr; p = hm_next_instance(p)) {
        for (HmNode *f = get_first_instance(p, "Function"); f != nullptr; f = hm_next_instance(f)) {
            u32 pf = 0;
            ASSERT_TRUE(mac::parse_function(cached(f, "FunctionNumber").c_str(), &pf));
            char name[ORSA_NIC_REGION_NAME_SIZE];
            nic_region::object_name((u32)hm_instance_number(p), (u32)hm_instance_number(f) + 1, name);
            parts.push_back({name, factory(1, pf), hm_instance_number(f) == 0});
            fw(1).putObject(name, region(foreign));
        }
    }
    ASSERT_EQ(parts.size(), 4u);
    // One region already holds its factory address.
    fw(1).putObject(parts[1].name, region(parts[1].factory, 0x21));

    auto holds = [&](const Part &p, const Mac &m, u8 flag) {
        const Bytes *o = fw(1).object(p.name);
        return o != nullptr && o->size() == 26 && (*o)[19] == flag && Mac{(*o)[20], (*o)[21], (*o)[22], (*o)[23],
                                                                            (*o)[24], (*o)[25]} == m;
    };
    host_->clearLog();
    EXPECT_EQ(ORSA_reset_virt_mac(vsk, 1), 0u);
    size_t written = 0;
    for (const Part &p : parts) {
        if (p.first) {
            EXPECT_TRUE(holds(p, foreign, 0)) << p.name << " is left alone";
        } else {
            EXPECT_TRUE(holds(p, p.factory, p.name == parts[1].name ? 0 : 1)) << p.name;
            ++written;
        }
    }
    EXPECT_EQ(sent(172).size(), written) << "a region already right is still written back";
    for (const Bytes &w : sent(172)) {
        ASSERT_EQ(w.size(), 10u + 132u);
        EXPECT_EQ(w[0] | w[1] << 8 | w[2] << 16, 26);
        EXPECT_EQ(w[3], 0x80);
    }

    // Every partition; a missing region and a failed write do not stop the others.
    fw(1).eraseObject(parts[0].name);
    host_->clearLog();
    EXPECT_EQ(ORSA_reset_virt_mac(vsk, 0), 0u);
    EXPECT_EQ(sent(172).size(), parts.size() - 1);
    EXPECT_TRUE(holds(parts[2], parts[2].factory, 1));
    fw(1).putObject(parts[2].name, region(foreign));
    fw(1).setFault(1, 172, {.status = 2, .additional = 99, .times = 1});
    host_->clearLog();
    EXPECT_EQ(ORSA_reset_virt_mac(vsk, 0), 1u);
    EXPECT_EQ(sent(172).size(), parts.size() - 1);

    // A header naming more TLV bytes than the region has: only what was read
    // goes back.
    Bytes odd = region(foreign);
    odd[4] = 0xF0;
    odd[5] = 0x7F;
    fw(1).putObject(parts[3].name, odd);
    host_->clearLog();
    EXPECT_EQ(ORSA_reset_virt_mac(vsk, 0), 0u);
    const Bytes *o = fw(1).object(parts[3].name);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->size(), odd.size());
    EXPECT_TRUE(holds(parts[3], parts[3].factory, 1));
    EXPECT_EQ(Bytes(o->begin(), o->begin() + 16), Bytes(odd.begin(), odd.begin() + 16)) << "the header as it was";
}

}  // namespace
