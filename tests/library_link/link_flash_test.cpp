// A port speed set through the library is kept in the adapter's flash: the
// flash file holds it, and an adapter that boots from that file answers the
// driver's port speed query (its bring-up reads the code from bytes 2-3)
// with it.
#include <stdio.h>

#include <fstream>
#include <iterator>

#include "link_fixture.h"
#include "wire.h"

namespace {

const char *kFile = "/tmp/link_vsk.flash";

// The body of the first section with the tag, or none.
std::vector<u8> section(const std::vector<u8> &file, u16 tag)
{
    if (file.size() < 16)
        return {};
    u32 count = adapter::wire::get32(file.data(), 12);
    size_t at = 16;
    for (u32 i = 0; i < count && at + 8 <= file.size(); i++) {
        u16 t = adapter::wire::get16(file.data(), at);
        u32 len = adapter::wire::get32(file.data(), at + 4);
        if (at + 8 + len > file.size())
            return {};
        if (t == tag)
            return std::vector<u8>(file.begin() + (long)at + 8, file.begin() + (long)(at + 8 + len));
        at += 8 + len;
    }
    return {};
}

class LinkFlash : public LinkHost {};

TEST_F(LinkFlash, PortSpeedLandsInTheFlashFileAsTheDriverReadsIt)
{
    remove(kFile);
    chardev::HostSpec spec = chardev::defaultHost();
    spec.adapters[1].flash_file = kFile;
    boot(spec);
    HmNode *p1 = port(ctrl(1), "1");
    ASSERT_NE(p1, nullptr);
    fw(1).profiles().vnics[1].enabled = false;
    ASSERT_EQ(act(p1, "SetPortSpeed", {"10Gb", "Force", "7"}), 0u);
    ASSERT_EQ(act(p1, "SetPortSpeed", {"10Gb/1Gb", "Auto-Negotiate", "3"}), 0u);

    std::ifstream in(kFile, std::ios::binary);
    ASSERT_TRUE(in.good());
    std::vector<u8> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Section 20: u16 count; per port u8 port, u16 code, u16 DAC length, u32 NVP.
    std::vector<u8> link = section(file, 20);
    ASSERT_GE(link.size(), 2u);
    u16 n = adapter::wire::get16(link.data(), 0);
    bool found = false;
    for (u16 i = 0; i < n && 2 + 9u * (i + 1) <= link.size(); i++) {
        const u8 *e = link.data() + 2 + 9 * i;
        if (e[0] != 1)
            continue;
        found = true;
        EXPECT_EQ(adapter::wire::get16(e, 1), 6u);
        EXPECT_EQ(adapter::wire::get16(e, 3), 3u);
        EXPECT_EQ(adapter::wire::get32(e, 5), 72u);
    }
    EXPECT_TRUE(found);

    // The adapter boots from the file: the driver's query (20-byte payload,
    // through the mailbox) reads the code where its bring-up takes it.
    adapter::EngineConfig cfg = adapter::engineDefaults(adapter::Gen::Veskarn, 2);
    cfg.flash_file = kFile;
    adapter::Engine booted(cfg);
    ASSERT_TRUE(booted.bootedFromFlash());
    std::vector<u8> buf(16 + 20, 0);
    buf[0] = 134;
    buf[1] = 1;
    adapter::wire::put32(buf.data(), 8, 20);
    buf[16] = 1;  // port
    adapter::Request rq;
    rq.fn = 1;
    rq.carrier = adapter::Carrier::Mailbox;
    rq.buf = buf.data();
    rq.cap = buf.size();
    ASSERT_EQ(booted.execute(rq).status, 0u);
    EXPECT_EQ(adapter::wire::get16(buf.data(), 16 + 2), 6u);
    // And the library's own read after the reset.
    EXPECT_EQ(booted.profiles().port_links[1].dac_length, 3u);
    remove(kFile);
}

}  // namespace
