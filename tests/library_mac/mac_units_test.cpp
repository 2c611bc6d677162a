// The MAC text check, the legacy table look-up, the single-function write and
// the NIC region walk, on bytes made here.
#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "config/cfg_mac.h"
#include "config/cfg_personality.h"
#include "config/cfg_profile_model.h"
#include "config/cfg_profile_props.h"
#include "drelmo.h"

namespace {

using Bytes = std::vector<u8>;

TEST(MacText, SixGroupsOfOneOrTwoHexDigitsAndNothingElse)
{
    struct Case {
        const char *text;
        bool valid;
        Bytes bytes;
    } cases[] = {
        {"02:aa:bb:01:02:03", true, {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}},
        {"02-AA-BB-01-02-03", true, {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}},
        {"2:aa:bb:1:2:3", true, {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}},
        {"02:aa:bb:01:02:3", true, {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}},
        {"02-aa:bb-01:02-03", true, {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03}},
        {"ff-ff-ff-ff-ff-ff", true, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff}},
        {"", false, {}},
        {"02:aa:bb:01:02", false, {}},
        {"02:aa:bb:01:02:03:04", false, {}},
        {"02:aa:bb:01:02:03:", false, {}},
        {"02-aa-bb-01-02-03-", false, {}},
        {"100-aa-bb-01-02-03", false, {}},
        {"zz-zz-zz-zz-zz-zz", false, {}},
        {"02--aa-bb-01-02", false, {}},
        {"02-AA-BB-01-02-0345", false, {}},
        {"02-aa-bb-01-02-03 ", false, {}},
        {"02.aa.bb.01.02.03", false, {}},
        {"-02-aa-bb-01-02-03", false, {}},
        {"02-aa-bb-01-02-0g", false, {}},
    };
    for (const Case &c : cases) {
        u8 out[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        EXPECT_EQ(validateMACAddress(c.text, out), c.valid ? 1u : 0u) << '"' << c.text << '"';
        if (c.valid)
            EXPECT_EQ(Bytes(out, out + 6), c.bytes) << c.text;
        else
            EXPECT_EQ(Bytes(out, out + 6), Bytes(6, 0xEE)) << c.text << ": nothing written";
    }
    EXPECT_EQ(validateMACAddress(nullptr, nullptr), 0u);
    EXPECT_EQ(validateMACAddress("02:aa:bb:01:02:03", nullptr), 1u);
}

TEST(MacText, ConvertReplacesEveryCharacter)
{
    char out[32];
    EXPECT_EQ(ORSA_convert_mac_addr("02:aa:bb:01:02:03", ':', out, '-'), 0u);
    EXPECT_STREQ(out, "02-aa-bb-01-02-03");
    EXPECT_EQ(ORSA_convert_mac_addr("", ':', out, '-'), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(ORSA_convert_mac_addr(nullptr, ':', out, '-'), 1u);
    EXPECT_EQ(ORSA_convert_mac_addr("a", ':', nullptr, '-'), 1u);
}

// An 836-byte legacy table; entry i at 4 + 52i.
struct KsTable {
    Bytes t = Bytes(ORSA_KS_CONF_SIZE, 0);
    u8 *entry(size_t i) { return &t[4 + 52 * i]; }
    void count(u32 n) { memcpy(t.data(), &n, 4); }
    void function(size_t i, u8 fn, u8 type, u8 state = 0, u8 kind = 0)
    {
        entry(i)[0] = kind;
        entry(i)[4] = fn;
        entry(i)[5] = state;
        entry(i)[6] = type;
    }
};

TEST(MacLegacyTable, PositionsOfTheSameEntryAndTheBounds)
{
    KsTable k;
    k.count(4);
    k.function(0, 0, 0);        // NIC function 0
    k.function(1, 10, 0);       // NIC function 0xa
    k.function(2, 2, 1);        // iSCSI function 2
    k.function(3, 3, 1, 1);     // iSCSI function 3, not in state 0
    struct Case {
        const char *what;
        const char *fn;
        bool iscsi;
        u32 at;
    } cases[] = {
        {"NIC position of entry 0", "0x0", false, 64},
        {"the case of the number does not matter", "0XA", false, 64 + 52},
        {"iSCSI position of entry 2", "0x2", true, 68 + 104},
        {"a NIC function is no iSCSI function", "0x0", true, 0},
        {"an iSCSI function is no NIC function", "0x2", false, 0},
        {"not in state 0", "0x3", true, 0},
        {"no entry at all", "0x7", false, 0},
        {"a decimal text names nothing", "10", false, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), k.t.size(), c.fn, c.iscsi), c.at) << c.what;

    // Entries past the count are not looked at; a count above 16 reads 16.
    k.function(5, 5, 0);
    EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), k.t.size(), "0x5", false), 0u);
    k.count(0xFFFFFFFF);
    EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), k.t.size(), "0x5", false), 4u + 52 * 5 + 60);
    // The last entries' addresses would lie past the 836 bytes.
    k.function(14, 14, 1);
    k.function(15, 15, 0);
    EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), k.t.size(), "0xe", true), 4u + 52 * 14 + 64);
    EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), k.t.size(), "0xf", false), 0u);
    k.function(15, 15, 1);
    EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), k.t.size(), "0xf", true), 0u);
    // A table cut short holds only whole entries.
    EXPECT_EQ(mac::legacy_mac_offset(k.t.data(), 4 + 52 * 5, "0x5", false), 0u);
    EXPECT_EQ(mac::legacy_mac_offset(nullptr, 836, "0x0", false), 0u);
}

TEST(MacSingleWrite, CopiedRecordWithTheAddressAndTheKeptFields)
{
    const u8 m[6] = {0x02, 0xaa, 0xbb, 0x01, 0x02, 0x03};
    Bytes nic(ORSA_RES_DESC_LEN);
    for (size_t i = 0; i < nic.size(); i++)
        nic[i] = (u8)(0x40 + i);
    nic[0] = ORSA_RES_NIC_FUNCTION;
    u8 req[ORSA_SET_ONE_FUNCTION_SIZE];
    memset(req, 0x77, sizeof req);
    mac::build_single_write(req, nic.data(), (u32)nic.size(), 0x205, 3, m);
    Bytes want(ORSA_SET_ONE_FUNCTION_SIZE, 0);
    want[4] = 1;
    std::copy(nic.begin(), nic.end(), want.begin() + 8);
    u8 *r = &want[8];
    r[1] = 88;
    r[3] = (u8)((nic[3] & 0x3F) | 0x02);
    r[6] = 0x05;
    r[7] = (u8)((nic[7] & ~3u) | 2);
    memcpy(r + 10, m, 6);
    for (size_t off : {8, 18, 20, 28, 32, 38, 60, 62})
        r[off] = r[off + 1] = 0xFF;
    memset(r + 48, 0xFF, 8);
    r[44] = (u8)((nic[44] & 0xC0) | 3);
    EXPECT_EQ(Bytes(req, req + sizeof req), want);

    Bytes iscsi(ORSA_RES_DESC_LEN, 0x11);
    iscsi[0] = ORSA_RES_ISCSI_FUNCTION;
    mac::build_single_write(req, iscsi.data(), 50, 2, 1, m);  // a short record: the rest is zero
    want.assign(ORSA_SET_ONE_FUNCTION_SIZE, 0);
    want[4] = 1;
    std::fill(want.begin() + 8, want.begin() + 58, 0x11);
    r = &want[8];
    r[0] = ORSA_RES_ISCSI_FUNCTION;
    r[1] = 88;
    r[3] = 0x13;
    r[6] = 2;
    r[7] = 0x10;
    memcpy(r + 14, m, 6);
    memset(r + 36, 0xFF, 8);
    EXPECT_EQ(Bytes(req, req + sizeof req), want);
}

// A region image: 16-byte header with the TLV length at 4, TLVs after it.
struct Region {
    Bytes b = Bytes(16, 0xA5);
    Region() { length(0); }
    void length(u32 n) { memcpy(&b[4], &n, 4); }
    Region &tlv(u8 type, Bytes value)
    {
        b.push_back(type);
        b.push_back((u8)value.size());
        b.push_back((u8)(value.size() >> 8));
        b.insert(b.end(), value.begin(), value.end());
        length((u32)b.size() - 16);
        return *this;
    }
    static Bytes mac(u8 flag, u8 last, size_t extra = 0)
    {
        Bytes v = {flag, 0x02, 0x10, 0x20, 0x30, 0x40, last};
        v.resize(v.size() + extra, 0x5A);
        return v;
    }
};

TEST(MacRegionWalk, MacTlvsTakeTheFactoryAddressWithinTheBytesRead)
{
    const u8 factory[6] = {0x02, 0x10, 0x20, 0x30, 0x40, 0x50};
    struct Case {
        const char *what;
        Region region;
        i32 claimed;   // -1: the header's length as built
        size_t cut;    // bytes read (0: all)
        u32 changed, same;
        std::vector<size_t> rewritten;  // TLV offsets whose value becomes 01 + factory
    } cases[] = {
        {"NIC, iSCSI and FCoE TLVs; one already right; another type passed over",
         Region().tlv(0x20, Region::mac(0, 0x99)).tlv(0x10, Bytes(4, 1)).tlv(0x21, Region::mac(1, 0x50))
             .tlv(0x22, Region::mac(0, 0x98, 3)),
         -1, 0, 2, 1, {16, 16 + 10 + 7 + 10}},
        {"a MAC TLV too short for its address", Region().tlv(0x20, Bytes(5, 0)).tlv(0x21, Region::mac(0, 1)), -1, 0, 1,
         0, {16 + 8}},
        {"a header longer than the bytes read", Region().tlv(0x20, Region::mac(0, 1)).tlv(0x21, Region::mac(0, 2)),
         4000, 0, 2, 0, {16, 26}},
        {"a TLV reaching past the bytes read", Region().tlv(0x20, Region::mac(0, 1)).tlv(0x21, Region::mac(0, 2)),
         -1, 16 + 10 + 6, 1, 0, {16}},
        {"a TLV reaching past the header's length", Region().tlv(0x20, Region::mac(0, 1)).tlv(0x21, Region::mac(0, 2)),
         15, 0, 1, 0, {16}},
        {"a header without TLVs", Region().tlv(0x20, Region::mac(0, 1)), 0, 0, 0, 0, {}},
        {"a TLV length of 0xFFFF", Region().tlv(0x20, Region::mac(0, 1)).tlv(0x20, Bytes(2, 0)), -1, 0, 1, 0, {16}},
    };
    for (Case &c : cases) {
        Bytes &img = c.region.b;
        if (c.claimed >= 0)
            c.region.length((u32)c.claimed);
        if (strcmp(c.what, "a TLV length of 0xFFFF") == 0)
            img[16 + 10 + 1] = img[16 + 10 + 2] = 0xFF;
        size_t size = c.cut != 0 ? c.cut : img.size();
        Bytes before = img;
        Bytes work(img.begin(), img.begin() + (long)size);
        u32 same = 99;
        EXPECT_EQ(nic_region::restore_macs(work.data(), (u32)size, factory, &same), c.changed) << c.what;
        EXPECT_EQ(same, c.same) << c.what;
        Bytes want(before.begin(), before.begin() + (long)size);
        for (size_t at : c.rewritten) {
            want[at + 3] = 1;
            memcpy(&want[at + 4], factory, 6);
        }
        EXPECT_EQ(work, want) << c.what;
    }
    EXPECT_EQ(nic_region::tlv_area(Region().b.data(), 15), 0u);
    Region r;
    r.tlv(0x20, Region::mac(0, 1));
    EXPECT_EQ(nic_region::tlv_area(r.b.data(), (u32)r.b.size()), 10u);
    EXPECT_EQ(nic_region::tlv_area(r.b.data(), 20), 4u);
    u8 tiny[8] = {};
    EXPECT_EQ(nic_region::restore_macs(tiny, sizeof tiny, factory, nullptr), 0u);
    char name[ORSA_NIC_REGION_NAME_SIZE];
    nic_region::object_name(3, 2, name);
    EXPECT_STREQ(name, "/nicdata/Port3/Partition2/Region1");
}

TEST(ProfilePropsUnits, ParametersAndTheEraseBytes)
{
    u32 v = 0;
    EXPECT_TRUE(profile_props::parse_decimal("255", 1, 255, &v));
    EXPECT_EQ(v, 255u);
    EXPECT_FALSE(profile_props::parse_decimal("256", 1, 255, &v));
    EXPECT_FALSE(profile_props::parse_decimal("0", 1, 255, &v));
    EXPECT_FALSE(profile_props::parse_decimal("", 1, 255, &v));
    EXPECT_FALSE(profile_props::parse_decimal("-1", 0, 255, &v));
    EXPECT_FALSE(profile_props::parse_decimal("7x", 0, 255, &v));
    EXPECT_FALSE(profile_props::parse_decimal(" 7", 0, 255, &v));
    u8 p[20];
    memset(p, 0xEE, sizeof p);
    profile_props::factory_erase_payload(p);
    Bytes want(20, 0);
    want[0] = 3;
    want[4] = 27;
    EXPECT_EQ(Bytes(p, p + 20), want);
}

}  // namespace
