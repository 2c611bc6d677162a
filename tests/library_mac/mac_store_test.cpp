// A permanent MAC address set through the library is what the adapter keeps
// in its flash file and what a later driver bring-up reads (the MAC query
// with the permanent flag); on KS2 adapters the address goes through the
// legacy configuration table.
#include <stdio.h>
#include <string.h>

#include <array>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "backend/orsa_propertyutil.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_tree.h"
#include "tree/hm_lookup.h"
#include "config/cfg_mac.h"
#include "fw_cfg_mac.h"
#include "fw_profile.h"
#include "host_fixture.h"
#include "personality_fixture.h"

namespace {

using Bytes = std::vector<u8>;
using Mac = std::array<u8, 6>;

Bytes readFile(const char *path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The permanent addresses of a flash file: section 8, a u16 count, then per
// address a u16 PCI function and its six bytes.
std::map<unsigned, Mac> flashMacs(const Bytes &file)
{
    std::map<unsigned, Mac> out;
    size_t off = 16;
    while (off + 8 <= file.size()) {
        unsigned tag = file[off] | file[off + 1] << 8;
        size_t len = file[off + 4] | file[off + 5] << 8 | file[off + 6] << 16 | (size_t)file[off + 7] << 24;
        const u8 *p = &file[off + 8];
        if (off + 8 + len > file.size())
            break;
        if (tag == 8 && len >= 2) {
            unsigned n = p[0] | p[1] << 8;
            for (unsigned i = 0; i < n && 2 + 8 * (i + 1) <= len; ++i) {
                const u8 *e = p + 2 + 8 * i;
                Mac m;
                memcpy(m.data(), e + 2, 6);
                out[e[0] | e[1] << 8] = m;
            }
        }
        off += 8 + len;
    }
    return out;
}

std::string text(const Mac &m)
{
    char t[24];
    mac::text_of(m.data(), t, sizeof t);
    return t;
}

class MacStore : public DiscoveryHost {
protected:
    void boot(const chardev::HostSpec &spec)
    {
        ASSERT_NO_FATAL_FAILURE(remake(spec));
        ASSERT_EQ(start(), 0u);
    }
    adapter::Engine &fw(size_t i) { return host_->engine(i); }
    static HmNode *phba(HmNode *ks, const char *kind, const char *fn)
    {
        for (HmNode *g = get_first_instance(ks, kind); g != nullptr; g = hm_next_instance(g))
            if (cached(internal_get_node(g, "PCI", HM_KIND_GROUP), "FunctionNumber") == fn)
                return g;
        return nullptr;
    }
    // What the driver's bring-up reads: the MAC query with the permanent flag,
    // through the mailbox.
    static Mac driverQuery(adapter::Engine &fw, unsigned fn)
    {
        std::vector<u8> buf(16 + 8, 0);
        buf[0] = 1;
        buf[1] = 1;
        buf[8] = 8;
        buf[16 + 1] = 1;
        adapter::Request rq{.fn = fn, .carrier = adapter::Carrier::Mailbox, .buf = buf.data(), .cap = buf.size()};
        adapter::Outcome out = fw.execute(rq);
        Mac m{};
        if (out.status == 0)
            memcpy(m.data(), &buf[16 + 2], 6);
        return m;
    }
};

TEST_F(MacStore, PermanentMacIsInTheFlashFileTheDriverBootsFrom)
{
    const char *kFile = "/tmp/mac_vsk.flash";
    remove(kFile);
    chardev::HostSpec spec = chardev::defaultHost();
    spec.adapters[1].flash_file = kFile;
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    HmNode *g = phba(ctrl(1), "NICPhysicalHBA", "0x1");
    ASSERT_NE(g, nullptr);
    const Mac want = {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03};
    ASSERT_EQ(set(g, "PermanentMACAddress", "02-aa-bb-01-02-03"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    std::map<unsigned, Mac> kept = flashMacs(readFile(kFile));
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[1], want);

    // A fresh host boots the adapter from the file.
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    ASSERT_TRUE(fw(1).bootedFromFlash());
    EXPECT_EQ(driverQuery(fw(1), 1), want);
    EXPECT_EQ(driverQuery(fw(1), 0), adapter::factoryMac(fw(1), 0));
    g = phba(ctrl(1), "NICPhysicalHBA", "0x1");
    EXPECT_EQ(get(g, "PermanentMACAddress"), "02-aa-bb-01-02-03");

    // Back to the factory address: the file says so too.
    ASSERT_EQ(act(g, "ResetMACAddress"), 0u);
    EXPECT_EQ(flashMacs(readFile(kFile))[1], adapter::factoryMac(fw(1), 1));
    remove(kFile);
}

TEST_F(MacStore, IscsiFunctionThroughTheProfile)
{
    chardev::HostSpec spec = chardev::defaultHost();
    spec.adapters[1].functions.push_back(iscsiFn(2, "vmhba40", 2));
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    HmNode *h = phba(ctrl(1), "iSCSIPhysicalHBA", "0x2");
    ASSERT_NE(h, nullptr);
    HmNode *conf = group(h, "Network/NICConfiguration");
    EXPECT_EQ(get(conf, "PermanentMACAddress"), text(adapter::factoryMac(fw(1), 2)));
    host_->clearLog();
    ASSERT_EQ(set(conf, "PermanentMACAddress", "02:aa:bb:01:02:06"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    // The iSCSI record went through the iSCSI device, address at 14-19.
    std::vector<Bytes> writes;
    for (const chardev::LoggedIoctl &l : host_->log())
        if (l.dev != chardev::Dev::Nic && l.bytes.size() >= 16 + ORSA_SET_ONE_FUNCTION_SIZE && l.bytes[0] == 165)
            writes.emplace_back(l.bytes.begin() + 16, l.bytes.end());
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0][8], ORSA_RES_ISCSI_FUNCTION);
    EXPECT_EQ(Bytes(&writes[0][8 + 14], &writes[0][8 + 20]), (Bytes{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x06}));
    EXPECT_EQ(fw(1).profiles().permanent_macs.at(2), (Mac{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x06}));
    EXPECT_EQ(cached(conf, "PermanentMACAddress"), text(adapter::factoryMac(fw(1), 2)))
        << "the set leaves the text to the next read";
    EXPECT_EQ(get(conf, "PermanentMACAddress"), "02-aa-bb-01-02-06");
    ASSERT_EQ(act(conf, "ResetMACAddress"), 0u);
    EXPECT_EQ(get(conf, "PermanentMACAddress"), text(adapter::factoryMac(fw(1), 2)));
}

TEST_F(MacStore, Ks2TableCarriesTheAddresses)
{
    const char *kFile = "/tmp/mac_ks2.flash";
    remove(kFile);
    chardev::HostSpec spec = chardev::defaultHost();
    spec.adapters[0].gen = adapter::Gen::KS2;
    spec.adapters[0].flash_file = kFile;
    ASSERT_NO_FATAL_FAILURE(boot(spec));
    HmNode *ks = ctrl(0);
    HmNode *n0 = phba(ks, "NICPhysicalHBA", "0x0");
    HmNode *i2 = phba(ks, "iSCSIPhysicalHBA", "0x2");
    ASSERT_TRUE(n0 != nullptr && i2 != nullptr);
    HmNode *conf = group(i2, "Network/NICConfiguration");
    ASSERT_NE(conf, nullptr);
    EXPECT_EQ(get(n0, "PermanentMACAddress"), text(adapter::factoryMac(fw(0), 0)));
    EXPECT_EQ(get(conf, "PermanentMACAddress"), text(adapter::factoryMac(fw(0), 2)));
    const Bytes entries_before = fw(0).profiles().legacy;

    host_->clearLog();
    ASSERT_EQ(set(n0, "PermanentMACAddress", "02-aa-bb-01-02-03"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    ASSERT_EQ(set(conf, "PermanentMACAddress", "02-aa-bb-01-02-04"), 0u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_CHANGED);
    // Entry 0 (function 0) takes the NIC position, entry 2 (function 2) the
    // iSCSI one; the table is written whole.
    std::vector<Bytes> writes;
    for (const chardev::LoggedIoctl &l : host_->log()) {
        size_t start = l.dev == chardev::Dev::Nic ? 21 : 0;
        if (l.bytes.size() >= start + 16 + ORSA_KS_CONF_SIZE && l.bytes[start] == 82)
            writes.emplace_back(l.bytes.begin() + (long)start + 16, l.bytes.end());
    }
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(Bytes(&writes[0][64], &writes[0][70]), (Bytes{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}));
    EXPECT_EQ(Bytes(&writes[1][68 + 104], &writes[1][74 + 104]), (Bytes{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x04}));
    EXPECT_EQ(fw(0).profiles().legacy, entries_before) << "the entries under the addresses are left";
    std::map<unsigned, Mac> kept = flashMacs(readFile(kFile));
    EXPECT_EQ(kept[0], (Mac{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}));
    EXPECT_EQ(kept[2], (Mac{0x02, 0xaa, 0xbb, 0x01, 0x02, 0x04}));
    EXPECT_EQ(get(n0, "PermanentMACAddress"), "02-aa-bb-01-02-03");
    EXPECT_EQ(get(conf, "PermanentMACAddress"), "02-aa-bb-01-02-04");

    // The iSCSI function's factory address back through the iSCSI device.
    ASSERT_EQ(act(conf, "ResetMACAddress"), 0u);
    EXPECT_EQ(get(conf, "PermanentMACAddress"), text(adapter::factoryMac(fw(0), 2)));

    // A function without an entry of its own shows no other function's address.
    HmNode *n1 = phba(ks, "NICPhysicalHBA", "0x1");
    fw(0).profiles().legacyEntry(1)[5] = 1;
    EXPECT_EQ(get(n1, "PermanentMACAddress"), "N/A");
    host_->clearLog();
    EXPECT_EQ(set(n1, "PermanentMACAddress", "02-aa-bb-01-02-05"), 1u);
    bool wrote = false;
    for (const chardev::LoggedIoctl &l : host_->log())
        wrote |= l.bytes.size() > 21 && (l.bytes[21] == 82 || l.bytes[0] == 82);
    EXPECT_FALSE(wrote) << "nothing written without an entry";
    fw(0).setFault(1, 81, {.status = 2, .additional = 99});
    EXPECT_EQ(set(n0, "PermanentMACAddress", "02-aa-bb-01-02-05"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_GET_FAILED);
    fw(0).clearFault(1, 81);
    fw(0).setFault(1, 82, {.status = 2, .additional = 99});
    EXPECT_EQ(set(n0, "PermanentMACAddress", "02-aa-bb-01-02-05"), 1u);
    EXPECT_EQ(last_code(), ORSA_STATUS_MAC_SET_FAILED);
    fw(0).clearFault(1, 82);
    remove(kFile);
}

}  // namespace
