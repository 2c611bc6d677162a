// The iSCSI flash regions as images: pad rules, CHAP and boot-target TLVs,
// what a read accepts; and the bounded readers of session, target and LUN
// replies. Pure image and byte work: no adapter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "iscsi/iscsi_targets.h"
#include "tree/hm_log.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An image: the header (words 7, area length, 1, 0), then the area.
Bytes image_of(const Bytes &area)
{
    Bytes b(16, 0);
    b[0] = 7;
    uint32_t n = (uint32_t)area.size();
    memcpy(b.data() + 4, &n, 4);
    b[8] = 1;
    b.insert(b.end(), area.begin(), area.end());
    return b;
}

// The image a library function returned, as bytes; frees it.
Bytes take(uint8_t *image)
{
    if (image == nullptr)
        return {};
    Bytes b(image, image + 16 + orsa_region_length(image));
    orsa_dfree(image);
    return b;
}

Bytes area_of(const Bytes &image)
{
    return Bytes(image.begin() + 16, image.end());
}

Bytes tlv(uint8_t type, const Bytes &value)
{
    Bytes b = {type, (uint8_t)value.size(), (uint8_t)(value.size() >> 8)};
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A session record: one connection to address:port, qualifier q, CHAP as given.
session_info session(const char *target, const Bytes &address, uint16_t port, uint16_t q, int chap,
                     const std::string &tname = "", const std::string &tsecret = "", const std::string &iname = "",
                     const std::string &isecret = "")
{
    session_info r;
    memset(&r, 0, sizeof r);
    r.flags = ORSA_SESSION_FLAG_BOOT;
    r.isid[0] = 0x80, r.isid[4] = (uint8_t)(q >> 8), r.isid[5] = (uint8_t)q;
    strcpy(r.target_name, target);
    r.connection_count = 1;
    session_connection_entry &e = r.connections[0];
    e.destination_kind = address.size() == 16 ? ORSA_ADDRESS_IPV6 : ORSA_ADDRESS_IPV4;
    memcpy(e.destination_address, address.data(), address.size());
    e.destination_port = port;
    negotiated_connection_record &c = e.login;
    c.authentication = chap > 0 ? 1 : 0;
    c.mutual_chap = chap > 1 ? 1 : 0;
    c.header_digest = 1;
    memcpy(c.target_chap_name, tname.data(), tname.size());
    c.target_chap_name_length = (uint16_t)tname.size();
    memcpy(c.target_secret, tsecret.data(), tsecret.size());
    c.target_secret_length = (uint16_t)tsecret.size();
    memcpy(c.initiator_chap_name, iname.data(), iname.size());
    c.initiator_chap_name_length = (uint16_t)iname.size();
    memcpy(c.initiator_secret, isecret.data(), isecret.size());
    c.initiator_secret_length = (uint16_t)isecret.size();
    return r;
}

const Bytes kV4 = {192, 0, 2, 1};
const Bytes kV6 = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9};

TEST(Regions, PadGrowsTheAreaToAMultipleOfFour)
{
    struct Case {
        size_t area;
        Bytes pad;
    } cases[] = {
        {13, {0xFF, 0, 0}}, {14, {0xFF, 3, 0, 0, 0, 0}}, {15, {0xFF, 2, 0, 0, 0}}, {16, {}}, {0, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.area);
        Bytes in = image_of(Bytes(c.area, 0x11));
        Bytes out = take(ORSA_add_pad_tlv(in.data()));
        ASSERT_EQ(out.size(), in.size() + c.pad.size());
        EXPECT_EQ(orsa_region_length(out.data()) % 4, 0u);
        EXPECT_EQ(Bytes(out.begin() + (long)in.size(), out.end()), c.pad);
        EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 16), Bytes(in.begin() + 8, in.begin() + 16))
            << "header words 2 and 3 carried over";
        EXPECT_EQ(out[0], 7);
    }
}

TEST(Regions, TlvEditsKeepTheOtherTlvsInOrder)
{
    const Bytes boot = tlv(3, Bytes(10, 0xB0));
    const Bytes other = tlv(9, {1, 2});
    const Bytes kind2 = tlv(4, Bytes(6, 0xB4));
    const Bytes name = tlv(2, {3, 'a', 'b'});
    const Bytes pad = {0xFF, 3, 0, 0, 0, 0};
    struct Case {
        const char *what;
        Bytes area;
        uint8_t *(*edit)(const uint8_t *);
        Bytes want;
    } cases[] = {
        {"pad removed", cat({other, pad}), ORSA_remove_pad_tlv, other},
        {"no pad: unchanged copy", cat({other, boot}), ORSA_remove_pad_tlv, cat({other, boot})},
        {"only the first pad goes", cat({pad, other, pad}), ORSA_remove_pad_tlv, cat({other, pad})},
        {"CHAP TLVs (2 and 3) removed", cat({name, other, boot}), ORSA_delete_initiator_chap_tlv, other},
        {"no CHAP TLV: unchanged", cat({other, kind2}), ORSA_delete_initiator_chap_tlv, cat({other, kind2})},
        {"every boot entry (3 and 4) removed", cat({boot, other, kind2}),
         [](const uint8_t *i) { return ORSA_remove_boot_tlv(i, nullptr, 1); }, other},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in = image_of(c.area);
        Bytes before = in;
        Bytes out = take(c.edit(in.data()));
        EXPECT_EQ(area_of(out), c.want);
        EXPECT_EQ(orsa_region_length(out.data()), c.want.size());
        EXPECT_EQ(in, before) << "the image passed in is left untouched";
    }
}

TEST(Regions, ChapTlvsOfASessionAreNameThenSecret)
{
    session_info r = session("iqn.t", kV4, 3260, 5, 2, "tgtname", "tgtsecret1234", "ininame", "inisecret123");
    Bytes in = image_of(tlv(9, {1}));
    Bytes out = take(ORSA_add_initiator_chap_tlv(in.data(), &r));
    Bytes want = cat(
        {tlv(9, {1}), tlv(2, cat({{3}, Bytes{'i', 'n', 'i', 'n', 'a', 'm', 'e'}})),
         tlv(3, cat({{3},
                     Bytes(r.connections[0].login.initiator_secret, r.connections[0].login.initiator_secret + 12)}))});
    EXPECT_EQ(area_of(out), want);
    Bytes back = take(ORSA_delete_initiator_chap_tlv(out.data()));
    EXPECT_EQ(area_of(back), tlv(9, {1}));
}

TEST(Regions, BootTargetTlvLayout)
{
    struct Case {
        const char *what;
        session_info record;
        size_t length;
        uint8_t auth;
        uint8_t mutual_name, mutual_secret;
    } cases[] = {
        {"no CHAP", session("iqn.2026-01.emu:tgt1", kV4, 3260, 0x1234, 0), 29 + 4 + 20, 0, 0, 0},
        {"one-way CHAP, name 20, CHAP name 8, secret 12",
         session("iqn.2026-01.emu:tgt1", kV4, 3260, 0x1234, 1, "chapname", "secret123456"), 73, 1, 0, 0},
        {"mutual CHAP also carries the initiator's",
         session("iqn.2026-01.emu:tgt1", kV4, 3260, 0x1234, 2, "chapname", "secret123456", "ini", "inisecret123"),
         73 + 3 + 12, 2, 3, 12},
        {"IPv6", session("iqn.2026-01.emu:tgt1", kV6, 3261, 0x1234, 0), 29 + 16 + 20, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t *t = ORSA_create_TLV(&c.record);
        ASSERT_NE(t, nullptr);
        Bytes b(t, t + c.length);
        orsa_dfree(t);
        EXPECT_EQ(b[0], 3);
        EXPECT_EQ(b[1] | b[2] << 8, (int)c.length);
        EXPECT_EQ(Bytes(b.begin() + 3, b.begin() + 8), (Bytes{3, 1, 1, 0, 1}));
        EXPECT_EQ(b[16], c.auth);
        EXPECT_EQ(b[17] | b[18] << 8, 0x1234) << "the ISID qualifier";
        EXPECT_EQ(b[19], 1) << "header digest";
        const bool v6 = c.record.connections[0].destination_kind == ORSA_ADDRESS_IPV6;
        EXPECT_EQ(b[21] | b[22] << 8, v6 ? 3261 : 3260);
        EXPECT_EQ(b[23], v6 ? 1 : 0);
        EXPECT_EQ(b[24], 20);
        const size_t addr = v6 ? 16 : 4;
        EXPECT_EQ(std::string(b.begin() + 27 + (long)addr, b.begin() + 27 + (long)addr + 20), "iqn.2026-01.emu:tgt1");
        size_t after = 27 + addr + 20 + b[25] + b[26];
        EXPECT_EQ(b[after], c.mutual_name);
        EXPECT_EQ(b[after + 1], c.mutual_secret);
    }
    // One byte holds the CHAP name's length: a 256-character name is refused.
    session_info long_name = session("iqn.t", kV4, 3260, 1, 1, std::string(255, 'n'), "secret123456");
    uint8_t *ok = ORSA_create_TLV(&long_name);
    EXPECT_NE(ok, nullptr) << "255 characters fit";
    orsa_dfree(ok);
    long_name.connections[0].login.target_chap_name_length = 256;
    EXPECT_EQ(ORSA_create_TLV(&long_name), nullptr);
}

TEST(Regions, BootTargetOfASessionIsFoundAgain)
{
    struct Case {
        const char *what;
        session_info made;  // the session whose entry is in the region
        session_info asked; // the session the delete is for
        bool removed;
    } cases[] = {
        {"IPv4", session("iqn.a:t", kV4, 3260, 7, 1, "n", "secret123456"), session("IQN.A:T", kV4, 3260, 7, 0), true},
        {"IPv6: the name after 16 address bytes", session("iqn.a:t", kV6, 3260, 7, 0),
         session("iqn.a:t", kV6, 3260, 7, 0), true},
        {"another qualifier", session("iqn.a:t", kV4, 3260, 7, 0), session("iqn.a:t", kV4, 3260, 8, 0), false},
        {"another address", session("iqn.a:t", kV4, 3260, 7, 0), session("iqn.a:t", {192, 0, 2, 2}, 3260, 7, 0), false},
        {"another target", session("iqn.a:t", kV4, 3260, 7, 0), session("iqn.a:u", kV4, 3260, 7, 0), false},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t *t = ORSA_create_TLV(&c.made);
        ASSERT_NE(t, nullptr);
        size_t length = t[1] | t[2] << 8;
        Bytes entry(t, t + length);
        orsa_dfree(t);
        entry.insert(entry.end(), 3, 0); // the three zero bytes the walker steps over
        Bytes in = image_of(cat({tlv(9, {1}), entry}));
        Bytes out = take(ORSA_remove_boot_tlv(in.data(), &c.asked, 2));
        EXPECT_EQ(area_of(out), c.removed ? tlv(9, {1}) : area_of(in));
        // A session that is no boot session matches nothing.
        c.asked.flags = 0;
        Bytes kept = take(ORSA_remove_boot_tlv(in.data(), &c.asked, 2));
        EXPECT_EQ(area_of(kept), area_of(in));
    }
}

TEST(Regions, ReadDataMustHoldItsHeaderAndTlvs)
{
    Bytes good = image_of(cat({tlv(9, {1, 2}), {0xFF, 3, 0, 0, 0, 0}}));
    struct Case {
        const char *what;
        Bytes data;
        bool accepted;
    } cases[] = {
        {"whole", good, true},
        {"extra bytes after the area are not part of it", cat({good, Bytes(5, 0xEE)}), true},
        {"shorter than the header says", Bytes(good.begin(), good.end() - 1), false},
        {"shorter than a header", Bytes(good.begin(), good.begin() + 10), false},
        {"a TLV runs past the area", image_of(cat({tlv(9, {1}), {2, 0x40, 0}})), false},
        {"two stray bytes", image_of({9, 0}), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t *image = orsa_region_from_data(c.data.data(), (uint32_t)c.data.size());
        EXPECT_EQ(image != nullptr, c.accepted);
        if (image != nullptr) {
            EXPECT_EQ(take(image), good);
        }
    }
}

TEST(Readers, SessionStatusTexts)
{
    struct Case {
        uint32_t state;
        const char *text;
    } cases[] = {{0x21, "Open"},          {0x20, "Closed"},         {0x2, "Login in Progress"},
                 {0x100, "Login failed"}, {0x800, "Logout failed"}, {0x40, "In Recovery"},
                 {0x1000, "In Recovery"}, {0x2000, "Deleted"},      {0, "Unknown"}};
    for (const Case &c : cases)
        EXPECT_STREQ(orsa_session_status_text(c.state), c.text) << std::hex << c.state;
}

TEST(Readers, CountsBeyondTheReplyMakeItMalformed)
{
    Bytes record(sizeof(session_info), 0);
    EXPECT_TRUE(orsa_session_record_ok(record.data(), (uint32_t)record.size()));
    record[20] = 2;
    EXPECT_FALSE(orsa_session_record_ok(record.data(), (uint32_t)record.size())) << "the record holds one connection";
    EXPECT_FALSE(orsa_session_record_ok(record.data(), 1000));

    struct ListCase {
        uint32_t count;
        uint32_t length;
        bool ok;
    } lists[] = {{0, 8, true}, {2, 16, true}, {3, 16, false}, {0xFFFFFFFF, 64, false}};
    for (const ListCase &c : lists) {
        Bytes b(c.length, 0);
        memcpy(b.data(), &c.count, 4);
        uint32_t n = 99;
        EXPECT_EQ(orsa_session_list_ok(b.data(), c.length, &n), c.ok) << c.count;
        if (c.ok) {
            EXPECT_EQ(n, c.count);
        }
    }
    struct TargetListCase {
        uint32_t count;
        uint32_t length;
        bool ok;
    } targets[] = {{7999, 64000, true}, {8000, 64000, false}, {1, 12, true}, {2, 12, false}};
    for (const TargetListCase &c : targets) {
        Bytes b(c.length, 0);
        memcpy(b.data(), &c.count, 4);
        uint32_t n = 0;
        EXPECT_EQ(orsa_target_list_ok(b.data(), c.length, &n), c.ok) << c.count;
    }
}

void collect(void *context, const orsa_target_portal *p)
{
    static_cast<std::vector<orsa_target_portal> *>(context)->push_back(*p);
}

// A target record: portal group g's header at 256 + 552g (tag at +8, count
// at +10), portal p of group g at 552g + 548p (kind +271, address +272,
// port +292).
struct TargetRecord {
    Bytes r = Bytes(2048, 0);
    TargetRecord(const char *name, uint32_t groups)
    {
        strcpy(reinterpret_cast<char *>(r.data()) + 4, name);
        memcpy(r.data() + 260, &groups, 4);
    }
    void group(size_t g, uint16_t tag, uint16_t portals)
    {
        memcpy(r.data() + 256 + 552 * g + 8, &tag, 2);
        memcpy(r.data() + 256 + 552 * g + 10, &portals, 2);
    }
    void portal(size_t g, size_t p, uint8_t last, uint16_t port)
    {
        size_t at = 552 * g + 548 * p;
        r[at + 271] = 1;
        r[at + 272] = 192, r[at + 273] = 0, r[at + 274] = 2, r[at + 275] = last;
        memcpy(r.data() + at + 292, &port, 2);
    }
};

TEST(Readers, TargetRecordPortalsStayInsideTheRecord)
{
    TargetRecord one("iqn.t", 1);
    one.group(0, 1, 2);
    one.portal(0, 0, 1, 3260);
    one.portal(0, 1, 2, 3261);
    TargetRecord two("iqn.u", 2);
    two.group(0, 1, 1);
    two.group(1, 5, 1);
    two.portal(0, 0, 1, 3260);
    two.portal(1, 0, 3, 3262);
    struct Case {
        const char *what;
        Bytes record;
        std::vector<std::pair<uint8_t, uint16_t>> portals; // last octet, port
        uint16_t last_tag;
    } cases[] = {
        {"one group, two portals", one.r, {{1, 3260}, {2, 3261}}, 1},
        {"two groups", two.r, {{1, 3260}, {3, 3262}}, 5},
    };
    for (const Case &c : cases) {
        std::vector<orsa_target_portal> got;
        char name[224];
        ASSERT_TRUE(orsa_target_record_walk(c.record.data(), (uint32_t)c.record.size(), name, collect, &got)) << c.what;
        ASSERT_EQ(got.size(), c.portals.size()) << c.what;
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i].kind, 1);
            EXPECT_EQ(got[i].address[3], c.portals[i].first) << c.what;
            EXPECT_EQ(got[i].port, c.portals[i].second) << c.what;
        }
        EXPECT_EQ(got.back().tag, c.last_tag) << c.what;
    }

    struct Bad {
        const char *what;
        size_t at;
        uint8_t value;
    } bad[] = {{"group count beyond the record", 260, 9}, {"portal count beyond the record", 256 + 10, 40}};
    for (const Bad &b : bad) {
        Bytes m = one.r;
        m[b.at] = b.value;
        std::vector<orsa_target_portal> got;
        char name[224];
        EXPECT_FALSE(orsa_target_record_walk(m.data(), (uint32_t)m.size(), name, collect, &got)) << b.what;
        EXPECT_TRUE(got.empty()) << b.what << ": nothing is reported from a malformed record";
    }
}

TEST(Readers, LunListsAndSerialNumbersAreBoundedByTheAnswer)
{
    auto answer = [](uint32_t list_length, size_t entries) {
        Bytes b(8 + 8 * entries, 0);
        b[0] = (uint8_t)(list_length >> 24), b[1] = (uint8_t)(list_length >> 16);
        b[2] = (uint8_t)(list_length >> 8), b[3] = (uint8_t)list_length;
        return b;
    };
    struct Case {
        const char *what;
        Bytes data;
        uint32_t want;
    } cases[] = {
        {"empty list", answer(0, 1), 0},
        {"three", answer(24, 3), 3},
        {"300 listed and held: 255 taken", answer(2400, 300), 255},
        {"more listed than the answer holds", answer(800, 4), 4},
    };
    for (const Case &c : cases)
        EXPECT_EQ(orsa_report_luns_entries(c.data.data(), (uint32_t)c.data.size()), c.want) << c.what;

    Bytes page(255, 'S');
    page[3] = 255;
    char serial[256];
    orsa_serial_number(page.data(), (uint32_t)page.size(), serial);
    EXPECT_EQ(strlen(serial), 251u) << "the serial number ends with the page";
    page[3] = 9;
    orsa_serial_number(page.data(), (uint32_t)page.size(), serial);
    EXPECT_STREQ(serial, "SSSSSSSSS");
}

TEST(Readers, LunSizeTexts)
{
    struct Case {
        uint64_t bytes;
        bool sixteen;
        const char *text;
    } cases[] = {
        {(4194303ull + 1) * 512, false, "2.00 GB"},
        {1000, false, "1000 Bytes"},
        {1536, false, "1.50 KB"},
        {3ull << 20, false, "3.00 MB"},
        {2ull << 40, true, "2.00 TB"},
        {2ull << 40, false, "2048.00 GB"},
    };
    for (const Case &c : cases) {
        char text[HM_VALUE_SIZE];
        orsa_lun_size_text(c.bytes, c.sixteen, text);
        EXPECT_STREQ(text, c.text) << c.bytes;
    }
}

TEST(Readers, TargetNamesThatMayGoIntoALine)
{
    struct Case {
        const char *name;
        bool ok;
    } cases[] = {{"iqn.2026-01.emu:disk1", true},
                 {"iqn.a,b", false},
                 {"iqn.a\nb", false},
                 {"iqn.a\tb", false},
                 {"iqn.a\x7f", false}};
    for (const Case &c : cases)
        EXPECT_EQ(orsa_target_name_ok(c.name), c.ok) << c.name;
}

} // namespace
