// The DCBX configuration block layer: the write request built from a read
// reply, the entry and PG bitmaps, the bitmap parse, the mode texts and the
// MIB layout, and the block read and written through the emulated firmware.
#include "dcbx_fixture.h"

namespace {

// A reply whose every byte differs from its neighbours', so that a byte
// copied from the wrong place shows.
std::vector<u8> patterned(u32 size)
{
    std::vector<u8> b(size);
    for (u32 i = 0; i < size; i++)
        b[i] = (u8)(i * 7 + 3);
    return b;
}

TEST(DcbxBlock, WriteRequestCarriesTheReplyOverByteByByte)
{
    for (u32 version : {0u, 1u}) {
        u32 size = orsa_dcbx_size(version);
        std::vector<u8> reply = patterned(size), request(size, 0xEE);
        orsa_dcbx_write_request(reply.data(), version, request.data());
        for (u32 i = 0; i < size; i++) {
            u8 want;
            if (i == 0)
                want = reply[0];
            else if (i == 1)
                want = reply[2];  // the count of entries in use moves to byte 1
            else if (i == 2 || i == 3 || (i >= 20 && i < 24))
                want = 0;
            else if (i >= 12 && i < 16)
                want = version == 1 ? reply[i] : 0;
            else if (i < 312)
                want = reply[i];
            else if (i == 312)
                want = reply[312];  // the CNPV bitmap; the ready bitmap and the rest stay 0
            else
                want = 0;
            ASSERT_EQ(request[i], want) << "version " << version << " byte " << i;
        }
    }
    EXPECT_EQ(orsa_dcbx_size(0), 312u);
    EXPECT_EQ(orsa_dcbx_size(1), 368u);
}

TEST(DcbxBlock, EntryAndGroupBitmaps)
{
    std::vector<u8> b(ORSA_DCBX_V0_SIZE, 0);
    u8 *e = orsa_dcbx_app_entry(b.data(), 14);
    EXPECT_EQ(e - b.data(), 72 + 16 * 14);
    orsa_dcbx_app_set_members(e, 0xA5);
    for (u32 k = 0; k < 8; k++)
        EXPECT_EQ(e[8 + k], (0xA5 >> k) & 1) << k;
    EXPECT_EQ(orsa_dcbx_app_members(e), 0xA5);
    e[8 + 1] = 2;  // only 1 makes a member
    EXPECT_EQ(orsa_dcbx_app_members(e), 0xA5);

    const u8 ids[8] = {0, 15, 2, 15, 0, 7, 2, 15};
    for (u32 k = 0; k < 8; k++)
        b[32 + 4 * k] = ids[k];
    b[33] = 15;  // the rest of a slot is not the id
    EXPECT_EQ(orsa_dcbx_pg_members(b.data(), 0), 0x11);
    EXPECT_EQ(orsa_dcbx_pg_members(b.data(), 2), 0x44);
    EXPECT_EQ(orsa_dcbx_pg_members(b.data(), 15), 0x8A);
    EXPECT_EQ(orsa_dcbx_pg_members(b.data(), 7), 0x20);
    EXPECT_EQ(orsa_dcbx_pg_members(b.data(), 3), 0x00);
}

TEST(DcbxBlock, BitmapTextsAndModeTexts)
{
    struct Case {
        const char *text;
        bool ok;
        u8 value;
    } cases[] = {
        {"0", true, 0},     {"8", true, 8},       {"0x8", true, 8},   {"0xff", true, 0xFF}, {"010", true, 8},
        {"255", true, 255}, {"256", false, 0},    {"0x100", false, 0}, {"-1", false, 0},    {"8x", false, 0},
        {"", false, 0},     {"abc", false, 0},    {"0x", false, 0},
    };
    for (const Case &c : cases) {
        u8 v = 0x5A;
        EXPECT_EQ(orsa_dcbx_parse_bitmap(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    const char *modes[] = {"CEE", "CIN", "Auto-CEE", "Auto-IEEE"};
    for (u32 code = 0; code < 4; code++) {
        EXPECT_STREQ(orsa_dcbx_mode_text(code), modes[code]);
        EXPECT_EQ(orsa_dcbx_mode_code(modes[code]), (int)code);
    }
    EXPECT_EQ(orsa_dcbx_mode_text(4), nullptr);
    EXPECT_EQ(orsa_dcbx_mode_code("auto-ieee"), 3);
    EXPECT_EQ(orsa_dcbx_mode_code("IEEE"), -1);
}

TEST(DcbxBlock, MibValuesOfBothForms)
{
    // Every field a distinct value at its offset in each form.
    struct Form {
        bool pivard;
        u32 size;
    } forms[] = {{false, ORSA_DCBX_MIB_SIZE}, {true, ORSA_DCBX_MIB_PIVARD_SIZE}};
    for (const Form &f : forms) {
        std::vector<u8> reply(f.size, 0xFF);
        for (u32 i = 0; i < ORSA_DCBX_MIB_FIELDS; i++) {
            const OrsaDcbxMibField &m = orsa_dcbx_mib_fields[i];
            u32 at = f.pivard ? m.offset_pivard : m.offset;
            ASSERT_LE(at + m.width, f.size) << m.property;
            u32 v = m.width == 1 ? 10 + i : 0x01020300u + i;
            for (u32 b = 0; b < m.width; b++)
                reply[at + b] = (u8)(v >> (8 * b));
        }
        u32 values[ORSA_DCBX_MIB_FIELDS];
        orsa_dcbx_mib_values(reply.data(), f.pivard, values);
        for (u32 i = 0; i < ORSA_DCBX_MIB_FIELDS; i++)
            EXPECT_EQ(values[i], orsa_dcbx_mib_fields[i].width == 1 ? 10 + i : 0x01020300u + i)
                << orsa_dcbx_mib_fields[i].property << (f.pivard ? " (Pivard)" : "");
    }
}

class DcbxBlockHost : public DcbxHost {
protected:
    void SetUp() override { boot(); }
};

TEST_F(DcbxBlockHost, ReadsEachViewInBothFormsAndWritesTheAdministratorView)
{
    HmNode *pg = port(ctrl(1), "1");
    ASSERT_NE(pg, nullptr);
    adapter::DcbxPort &d = fwPort(1, 1);
    d.admin.pfc_flags = 0x5;
    d.oper.pfc_flags = 0x9;
    d.peer.pfc_flags = 0x80000002u;
    d.peer.qcn_flags = 0x40000001u;
    d.peer.cnpv = 0x28;
    d.peer.ready = 0x08;
    d.peer.app_count = 1;
    d.peer.apps[0] = adapter::DcbxAppEntry{.protocol = 0x8906, .selector = 0, .in_use = 1, .oui = 0x1b21,
                                           .members = {0, 0, 0, 1, 0, 0, 0, 0}};
    OrsaWhere w;
    ASSERT_TRUE(orsa_dcbx_where(pg, &w));
    EXPECT_EQ(w.phba_port, 1);
    EXPECT_EQ(w.at.protocol, ORSA_PROTO_NIC);
    struct View {
        u32 view, pfc;
    } views[] = {{ORSA_DCBX_VIEW_ADMIN, 0x5}, {ORSA_DCBX_VIEW_OPER, 0x9}, {ORSA_DCBX_VIEW_PEER, 0x80000002u}};
    for (u32 version : {0u, 1u})
        for (const View &v : views) {
            u8 b[ORSA_DCBX_V1_SIZE];
            ASSERT_EQ(orsa_dcbx_read(w, v.view, version, b), 0u) << v.view;
            EXPECT_EQ(orsa_rd32(b + ORSA_DCBX_PFC_FLAGS), v.pfc) << v.view;
            EXPECT_EQ(sent(16, 1).back().at(0), v.view);
            EXPECT_EQ(sent(16, 1).back().size(), orsa_dcbx_size(version));
        }
    u8 b[ORSA_DCBX_V1_SIZE];
    ASSERT_EQ(orsa_dcbx_read(w, ORSA_DCBX_VIEW_PEER, 1, b), 0u);
    EXPECT_EQ(orsa_rd32(b + ORSA_DCBX_QCN_FLAGS), 0x40000001u);
    EXPECT_EQ(b[ORSA_DCBX_QCN_CNPV], 0x28);
    EXPECT_EQ(b[ORSA_DCBX_QCN_READY], 0x08);
    EXPECT_EQ(b[ORSA_DCBX_APP_COUNT], 1);
    const u8 *e = orsa_dcbx_app_entry(b, 0);
    EXPECT_EQ(orsa_rd16(e), 0x8906);
    EXPECT_EQ(e[ORSA_DCBX_APP_IN_USE], 1);
    EXPECT_EQ(orsa_rd32(e + ORSA_DCBX_APP_OUI), 0x1b21u);
    EXPECT_EQ(orsa_dcbx_app_members(e), 0x08);
    ASSERT_EQ(orsa_dcbx_read(w, ORSA_DCBX_VIEW_PEER, 0, b), 0u);
    EXPECT_EQ(orsa_rd32(b + ORSA_DCBX_QCN_FLAGS), 0u);  // version 0 has no QCN

    // A version 1 write: the administrator view takes it, QCN included.
    ASSERT_EQ(orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 1, b), 0u);
    u8 request[ORSA_DCBX_V1_SIZE];
    orsa_dcbx_write_request(b, 1, request);
    request[ORSA_DCBX_QCN_FLAGS] = 0x7;
    request[ORSA_DCBX_QCN_CNPV] = 0x10;
    ASSERT_EQ(orsa_dcbx_write(w, 1, request), 0u);
    EXPECT_EQ(d.admin.qcn_flags, 0x7u);
    EXPECT_EQ(d.admin.cnpv, 0x10);
    EXPECT_EQ(d.admin.pfc_flags, 0x5u);
    EXPECT_EQ(fwPort(1, 0).writes, 0u);  // the other port is untouched
    EXPECT_EQ(writes().back(), std::vector<u8>(request, request + ORSA_DCBX_V1_SIZE));

    // A firmware without the version 1 form answers 213; version 0 still works.
    adapter::dcbxState(fw(1)).v1 = false;
    EXPECT_EQ(orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 1, b), (u32)ORSA_STATUS_DCBX_CMD_UNSUPPORTED);
    EXPECT_EQ(orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 0, b), 0u);
    // An injected status comes back as the wrapper's status.
    fw(1).setFault(16, 1, adapter::Fault{.status = 1});
    EXPECT_NE(orsa_dcbx_read(w, ORSA_DCBX_VIEW_ADMIN, 0, b), 0u);
}

}  // namespace
