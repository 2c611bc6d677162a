// VPD texts, boot state, PCI domain from esx.conf and the constant CIM
// properties.
#include <stdio.h>
#include <sys/stat.h>

#include <vector>

#include "backend/orsa_vpd.h"
#include "discovery_tree.h"

TEST(VpdText, ChunksOfTheArea)
{
    std::vector<u8> area(1024, 0xAB);
    char text[HM_VALUE_SIZE];
    for (u32 i = 0; i < 8; ++i) {
        orsa_hex_chunk(area.data(), 1024, i, false, text);
        std::string expected;
        for (int k = 0; k < 127; ++k)
            expected += "ab";
        EXPECT_EQ(std::string(text), expected);
    }
    orsa_hex_chunk(area.data(), 1024, 8, true, text);
    EXPECT_EQ(std::string(text), std::string("abababababababab"));
    // the second FRU block: bytes 127 on, cut to 255 characters
    for (u32 i = 0; i < 1024; ++i)
        area[i] = (u8)i;
    orsa_hex_chunk(area.data(), 1024, 1, true, text);
    ASSERT_EQ(strlen(text), 255u);
    EXPECT_EQ(std::string(text, 4), "7f80");
    EXPECT_EQ(std::string(text + 252, 3), "fdf"); // byte 253, then the high digit of byte 254 (0xfe)
}

TEST_F(DiscoveryTree, VpdChunksGoToTheirProperties)
{
    HmNode *ks = controller();
    HmNode *n = nic(ks, "0x3A21");
    HmNode *vpd = internal_get_node(n, "VPD", HM_KIND_GROUP);
    ASSERT_NE(vpd, nullptr);
    std::vector<u8> area(1024, 0xAB);
    EXPECT_EQ(orsa_store_hex_chunks(vpd, "VPDData", 0, area.data(), 1024, 9), 0u);
    EXPECT_EQ(value(vpd, "VPDData0").size(), 254u);
    EXPECT_EQ(value(vpd, "VPDData8").size(), 16u);
    HmNode *fru = internal_get_node(ks, "FRUVPD", HM_KIND_GROUP);
    EXPECT_EQ(orsa_store_hex_chunks(fru, "FRUVPDData", 9, area.data(), 1024, 2), 0u);
    EXPECT_EQ(value(fru, "FRUVPDData9").size(), 254u);
    EXPECT_EQ(value(fru, "FRUVPDData10").size(), 255u);
}

TEST_F(DiscoveryTree, FunctionNumberParse)
{
    HmNode *ks = controller();
    struct Case {
        const char *text;
        u32 rc;
        u32 function;
    } cases[] = {{"0x3", 0, 3}, {"3", 0, 3}, {"3x", 1, 0}, {"-1", 1, 0}, {"0x1f", 0, 31}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        HmNode *n = nic(ks, "0x3A21", c.text);
        u32 f = 0;
        EXPECT_EQ(orsa_phba_function_number(n, &f, "test"), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(f, c.function);
        }
        delete_node(n);
    }
}

TEST(BootState, ExpansionRomBitPerGeneration)
{
    struct Case {
        u32 asic, function, word;
        u8 enabled;
        const char *text;
    } cases[] = {
        {ORSA_ASIC_KS3, 2, 0x3, 1, "N/A"},
        {ORSA_ASIC_KS3, 2, 0x4, 1, "Enabled"},
        {ORSA_ASIC_KS3, 2, 0x4, 0, "Disabled"},
        {ORSA_ASIC_KS2, 10, 0x4, 1, "Enabled"},     // function & 7
        {ORSA_ASIC_VESKARN, 10, 0x400, 1, "Enabled"},
        {ORSA_ASIC_VESKARN, 10, 0x4, 1, "N/A"},
        // a function beyond the 32-bit word has no bit: never a shift past it
        {ORSA_ASIC_VESKARN, 40, 0xFFFFFFFF, 1, "N/A"},
        {ORSA_ASIC_PIVARD, 255, 0xFFFFFFFF, 1, "N/A"},
        {ORSA_ASIC_VESKARN, 31, 0x80000000, 1, "Enabled"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        EXPECT_STREQ(orsa_boot_state_text(c.asic, c.function, c.word, c.enabled), c.text);
    }
}

TEST(EsxConfDomain, WholeVmhbaNameMatches)
{
    mkdir("/tmp/h9conf", 0755);
    const char *path = "/tmp/h9conf/esx.conf";
    FILE *f = fopen(path, "w");
    ASSERT_NE(f, nullptr);
    fputs("/system/uuid = \"x\"\n", f);
    fputs("/device/001:004:00.0/vmkname = \"vmhba33\"\n", f);
    fputs("/device/000:004:00.1/vmkname = \"vmhba3\"\n", f);
    fputs("/device/002:005:00.0/vmkname = \"vmhba4\"\n", f);
    fputs("vmkname = \"vmhba9\"\n", f);
    fclose(f);
    struct Case {
        const char *vmhba;
        u32 rc;
        u32 domain;
    } cases[] = {{"vmhba3", 0, 0}, {"vmhba33", 0, 1}, {"vmhba4", 0, 2}, {"vmhba5", 1, 0}, {"vmhba9", 1, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.vmhba);
        u32 d = 99;
        EXPECT_EQ(orsa_domain_from_esx_conf(path, c.vmhba, &d), c.rc);
        if (c.rc == 0) {
            EXPECT_EQ(d, c.domain);
        }
    }
    u32 d = 0;
    EXPECT_EQ(orsa_domain_from_esx_conf("/tmp/h9conf/none", "vmhba3", &d), 2u);
}

TEST_F(DiscoveryTree, ConstantCimProperties)
{
    HmNode *ks = controller();
    HmNode *n = nic(ks, "0x5C20");
    HmNode *cim = internal_get_node(n, "CIM", HM_KIND_GROUP);
    ASSERT_NE(cim, nullptr);
    EXPECT_EQ(read(cim, "Capabilities"), "LoadBalancing,FailOver,WakeOnLAN");
    EXPECT_EQ(read(cim, "EnabledCapabilities"), "LoadBalancing,FailOver,WakeOnLAN");
    EXPECT_EQ(read(cim, "LinkTechnology"), "Ethernet");
    EXPECT_EQ(read(cim, "ProtocolIfType"), "Ethernet CSMA/CD");
    HmNode *boot = internal_get_node(n, "NetworkBootConfiguration", HM_KIND_GROUP);
    EXPECT_EQ(read(boot, "AvailableNetworkBootMethods"), "PXE,iBFT");
    HmNode *ks2 = controller();
    HmNode *n2 = nic(ks2, "0x3A21");
    EXPECT_EQ(read(internal_get_node(n2, "NetworkBootConfiguration", HM_KIND_GROUP), "AvailableNetworkBootMethods"),
              "PXE");
    // the DomainNumber of a function without a logical HBA cannot be had
    HmNode *is = iscsi(ks2, "0x3A21");
    u32 rc = 0;
    read(internal_get_node(is, "PCI", HM_KIND_GROUP), "DomainNumber", &rc);
    EXPECT_EQ(rc, 1u);
}
