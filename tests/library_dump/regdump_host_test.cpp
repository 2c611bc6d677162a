// PCI configuration bytes of a NIC or iSCSI function and a transceiver page
// of a port, as hexadecimal text in the last status.
#include "dump_fixture.h"

namespace {

using adapter::Gen;

// The configuration space as the adapter shows it to the library (what its
// configuration read answers).
std::vector<uint8_t> configSpace(Gen g)
{
    std::vector<uint8_t> c(256, 0);
    auto put16 = [&](size_t at, uint16_t v) {
        c[at] = (uint8_t)v;
        c[at + 1] = (uint8_t)(v >> 8);
    };
    put16(0x00, adapter::defaultVendorId(g));
    put16(0x02, adapter::defaultDeviceId(g));
    put16(0x2C, adapter::defaultVendorId(g));
    put16(0x2E, adapter::adapterDefaults(g).subsys_device_id);
    uint32_t link = (3u << 16) | (8u << 20);
    for (int i = 0; i < 4; ++i)
        c[0xD0 + i] = (uint8_t)(link >> (8 * i));
    return c;
}

std::string hexBytes(const std::vector<uint8_t> &c, uint32_t from, uint32_t count)
{
    std::string s;
    char b[4];
    for (uint32_t i = 0; i < count && from + i < 256; ++i) {
        if (i > 0 && i % 16 == 0)
            s += '\n';
        snprintf(b, sizeof b, "%02x ", c[from + i]);
        s += b;
    }
    return s.substr(0, 599);
}

class RegDump : public DumpHost {
protected:
    HmNode *nicPci(Gen g) { return group(controllerOf(g), "NICPhysicalHBA0/PCI"); }
    HmNode *iscsiPci() { return group(controllerOf(Gen::KS3), "iSCSIPhysicalHBA0/PCI"); }
    HmNode *port(Gen g, int n) { return group(controllerOf(g), "PortDiscoveryAndConfiguration" + std::to_string(n)); }

    // The handler called directly, with values the schema's bounds keep
    // clients from giving.
    static u32 direct(u32 (*handler)(HmNode *, HmNode *, HmValueSlot *), HmNode *g, const char *a, const char *b)
    {
        HmValueSlot slots[HM_MAX_PARAMS];
        memset(slots, 0, sizeof slots);
        snprintf(slots[0], sizeof slots[0], "%s", a);
        snprintf(slots[1], sizeof slots[1], "%s", b);
        orsa_reset_last_status();
        return handler(g, nullptr, slots);
    }
};

}  // namespace

TEST_F(RegDump, NicConfigurationBytes)
{
    std::vector<uint8_t> space = configSpace(Gen::KS3);
    struct Case {
        const char *offset, *count;
        uint32_t from, n;
    } cases[] = {{"0x10", "8", 0x10, 8}, {"0", "20", 0, 20}, {"0xD0", "4", 0xD0, 4}, {"010", "2", 8, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.offset) + "," + c.count);
        ASSERT_EQ(run(nicPci(Gen::KS3), "DumpNICPCIConfigRegion", {c.offset, c.count}), 0u);
        EXPECT_EQ(last_code(), 61u);
        EXPECT_EQ(last_text(), hexBytes(space, c.from, c.n));
    }
    EXPECT_EQ(last_text(), "00 00 ");
    ASSERT_EQ(run(nicPci(Gen::KS3), "DumpNICPCIConfigRegion", {"0x10", "8"}), 0u);
    EXPECT_EQ(last_text(), "00 00 00 00 00 00 00 00 ");
    ASSERT_EQ(run(nicPci(Gen::KS3), "DumpNICPCIConfigRegion", {"0", "17"}), 0u);
    EXPECT_EQ(last_text().find('\n'), 48u) << "a line feed before the 17th byte";
}

TEST_F(RegDump, ConfigurationEdges)
{
    std::vector<uint8_t> space = configSpace(Gen::KS3);
    // Count 0: an empty text.
    EXPECT_EQ(direct(do_DumpNICPCIConfigRegion, nicPci(Gen::KS3), "0", "0"), 0u);
    EXPECT_EQ(last_code(), 61u);
    EXPECT_EQ(last_text(), "");
    // The whole space is cut at 599 characters: 12 lines and the start of the 13th.
    EXPECT_EQ(direct(do_DumpNICPCIConfigRegion, nicPci(Gen::KS3), "0", "256"), 0u);
    std::string all = last_text();
    EXPECT_EQ(all.size(), 599u);
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 12);
    EXPECT_EQ(all, hexBytes(space, 0, 256));
    // Offset and count past the space stop at byte 255.
    EXPECT_EQ(direct(do_DumpNICPCIConfigRegion, nicPci(Gen::KS3), "0xF8", "64"), 0u);
    EXPECT_EQ(last_text(), hexBytes(space, 0xF8, 8));
}

TEST_F(RegDump, IscsiAndPivardConfigurationBytes)
{
    host_->clearLog();
    ASSERT_EQ(run(iscsiPci(), "DumpiSCSIPCIConfigRegion", {"0", "4"}), 0u);
    EXPECT_EQ(last_text(), hexBytes(configSpace(Gen::KS3), 0, 4));
    EXPECT_EQ(host_->log().back().dev, chardev::Dev::Iscsi);

    // A Pivard's bytes come through the NIC driver's configuration read.
    hostbus::Function *f = card(Gen::Pivard).function(0);
    std::vector<uint8_t> raw(8);
    for (uint32_t i = 0; i < 8; ++i)
        raw[i] = (uint8_t)f->configRead(i, 1);
    ASSERT_EQ(run(nicPci(Gen::Pivard), "DumpNICPCIConfigRegion", {"0", "8"}), 0u);
    EXPECT_EQ(last_code(), 61u);
    EXPECT_EQ(last_text(), hexBytes(raw, 0, 8));
    EXPECT_EQ(fw(Gen::Pivard).commandsSeen(1, 72), 0u);
}

TEST_F(RegDump, ConfigurationReadFails)
{
    fw(Gen::KS3).setFault(1, 72, {.status = 3});
    EXPECT_EQ(run(nicPci(Gen::KS3), "DumpNICPCIConfigRegion", {"0", "4"}), 1u);
    EXPECT_EQ(last_code(), 121u);
    EXPECT_EQ(last_text(), "Cannot dump the config region for the given offset.");
}

TEST_F(RegDump, TransceiverPages)
{
    struct Case {
        const char *wire;
        uint8_t page;
    } cases[] = {{"A0", 0xA0}, {"a0", 0xA0}, {"A2", 0xA2}, {"", 0xA2}, {"B7", 0xA2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.wire);
        host_->clearLog();
        EXPECT_EQ(direct(do_DumpTransceiverData, port(Gen::KS3, 1), c.wire, ""), 0u);
        EXPECT_EQ(last_code(), 60u);
        std::string want;
        char b[10];
        for (unsigned i = 0; i < 64; ++i) {
            if (i > 0 && i % 16 == 0)
                want += '\n';
            snprintf(b, sizeof b, "%08x ", adapter::transceiverPatternWord(1, c.page, i));
            want += b;
        }
        EXPECT_EQ(want.size(), 579u);
        EXPECT_EQ(last_text(), want);
        std::vector<std::vector<u8>> reqs = sent(1, 73);
        ASSERT_EQ(reqs.size(), 1u);
        EXPECT_EQ(dumptest::le32(&reqs[0][0]), c.page);
        EXPECT_EQ(reqs[0][4], 1) << "the port";
    }
    ASSERT_EQ(run(port(Gen::KS3, 0), "DumpTransceiverData", {"A0"}), 0u);
    EXPECT_EQ(last_code(), 60u);
}

TEST_F(RegDump, TransceiverRefusals)
{
    EXPECT_EQ(run(port(Gen::KS2, 0), "DumpTransceiverData", {"A0"}), 1u);
    EXPECT_EQ(last_code(), 191u);
    EXPECT_EQ(last_text(), "DumpTransceiverData is not supported on this model of Kalderstone controller.");
    fw(Gen::KS3).setFault(1, 73, {.status = 3});
    EXPECT_EQ(run(port(Gen::KS3, 0), "DumpTransceiverData", {"A0"}), 1u);
    EXPECT_EQ(last_code(), 64u);
}
