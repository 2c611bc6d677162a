/* libdrelmo.so exports its API and nothing else: the defined global symbols
 * of its dynamic symbol table, read straight from the ELF file. */
#include <elf.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> read_all(const char *path)
{
    std::vector<unsigned char> data;
    FILE *f = fopen(path, "rb");
    if (f == nullptr)
        return data;
    unsigned char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.insert(data.end(), buf, buf + n);
    fclose(f);
    return data;
}

/* Defined global or weak symbols of the dynamic symbol table. */
std::set<std::string> exported_symbols(const std::vector<unsigned char> &elf)
{
    std::set<std::string> names;
    if (elf.size() < sizeof(Elf32_Ehdr) || memcmp(elf.data(), ELFMAG, SELFMAG) != 0 ||
        elf[EI_CLASS] != ELFCLASS32) {
        ADD_FAILURE() << "not a 32-bit ELF file";
        return names;
    }
    Elf32_Ehdr eh;
    memcpy(&eh, elf.data(), sizeof eh);
    if (eh.e_shoff == 0 || eh.e_shoff + (size_t)eh.e_shnum * sizeof(Elf32_Shdr) > elf.size()) {
        ADD_FAILURE() << "bad section table";
        return names;
    }
    std::vector<Elf32_Shdr> sh(eh.e_shnum);
    memcpy(sh.data(), elf.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf32_Shdr));
    for (const Elf32_Shdr &s : sh) {
        if (s.sh_type != SHT_DYNSYM)
            continue;
        const Elf32_Shdr &str = sh.at(s.sh_link);
        for (size_t off = 0; off + sizeof(Elf32_Sym) <= s.sh_size; off += sizeof(Elf32_Sym)) {
            Elf32_Sym sym;
            memcpy(&sym, elf.data() + s.sh_offset + off, sizeof sym);
            unsigned bind = ELF32_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK) || sym.st_name == 0)
                continue;
            names.insert((const char *)elf.data() + str.sh_offset + sym.st_name);
        }
    }
    return names;
}

TEST(Exports, OnlyTheLibrarysApi)
{
    std::vector<unsigned char> elf = read_all(DRELMO_SO_PATH);
    ASSERT_FALSE(elf.empty()) << DRELMO_SO_PATH;
    std::set<std::string> names = exported_symbols(elf);
    ASSERT_FALSE(names.empty());

    /* Besides ORSA_ and IMA_, the library publishes a few named entry points
     * for outside clients: the property utilities, the tree state file and
     * lock functions, and the software-initiator flag. Nothing else. */
    const std::set<std::string> utilities = {
        "swap16_buffer", "word_count", "get_field", "get_nic_count",
        "save_node", "restore_hm",
        "orsa_acquire_lock", "orsa_release_lock", "orsa_init_acquire_lock", "orsa_init_release_lock",
        "orsa_lock_init", "orsa_lock_free",
        "OPEN_ISCSI_DRIVER_LOADED",
        "backend_client_init", "backend_client_exit", "get_vpd_data", "update_nic_ifname",
        "handle_CIM_IPv4Address", "handle_CIM_IPv6Address", "handle_CIM_IPProtocolEndPointName",
    };
    /* The action descriptors of the port groups, shared by every port. */
    const std::set<std::string> descriptors = {
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_Beacon_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_SetPortSpeed_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_DumpTransceiverData_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_ErasePortandDiscoveryConfiguration_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_SelfTest_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_RunTDR_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_BaseT10G_ClearCounters_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_AddApplicationTLV_action",
        "ROOT_Kalderstone_PortDiscoveryAndConfiguration_DCBX_ApplicationTLVGroups_AdministratorTLVSetting_DeleteApplicationTLV_action",
    };
    for (const std::string &d : descriptors)
        EXPECT_EQ(names.count(d), 1u) << "missing: " << d;
    for (const std::string &n : names) {
        bool api = n.rfind("ORSA_", 0) == 0 || n.rfind("IMA_", 0) == 0 || utilities.count(n) == 1 ||
                   descriptors.count(n) == 1;
        EXPECT_TRUE(api) << "exported but not API: " << n;
    }
    const char *required[] = {
        "ORSA_init",
        "ORSA_exit",
        "ORSA_get_last_status",
        "ORSA_get_param_info",
        "ORSA_get_child_tags",
        "ORSA_get_parent_tag",
        "ORSA_refresh_group",
        "ORSA_get_persistence_info",
        "ORSA_get_node_description",
        "ORSA_get_node_name",
        "ORSA_get_persistent_nodes",
        "ORSA_get_valid_instances",
        "ORSA_get_property_val",
        "ORSA_set_property_val",
        "ORSA_do_action",
        "ORSA_get_node_tag",
        "ORSA_set_debug_level",
        "ORSA_get_debug_level",
        "ORSA_update_loglevel",
        "swap16_buffer",
        "word_count",
        "get_field",
        "get_nic_count",
    };
    for (const char *r : required)
        EXPECT_EQ(names.count(r), 1u) << "missing: " << r;
    /* engine internals stay inside */
    for (const char *hidden : {"add_node", "pdebug", "orsa_dmalloc", "internal_get_node", "init_hm_data"})
        EXPECT_EQ(names.count(hidden), 0u) << hidden;
}

} // namespace
