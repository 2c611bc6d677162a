/* libdrelmo.so exports its interface and nothing else: the defined global
 * symbols of its dynamic symbol table, read straight from the ELF file,
 * against the one list of exported names (drelmo.map). */
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
    if (elf.size() < sizeof(Elf32_Ehdr) || memcmp(elf.data(), ELFMAG, SELFMAG) != 0 || elf[EI_CLASS] != ELFCLASS32) {
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

std::string read_text(const char *path)
{
    std::vector<unsigned char> data = read_all(path);
    return std::string(data.begin(), data.end());
}

/* The names of the version script's global section (comments dropped). */
std::set<std::string> listed_names(std::string map)
{
    for (size_t c = map.find("/*"); c != std::string::npos; c = map.find("/*")) {
        size_t end = map.find("*/", c);
        map.erase(c, end == std::string::npos ? std::string::npos : end + 2 - c);
    }
    std::set<std::string> names;
    size_t from = map.find("global:"), to = map.find("local:");
    if (from == std::string::npos || to == std::string::npos || to < from) {
        ADD_FAILURE() << "no global and local sections";
        return names;
    }
    std::string body = map.substr(from + 7, to - from - 7);
    size_t start = 0;
    for (size_t semi = body.find(';'); semi != std::string::npos; semi = body.find(';', start)) {
        std::string name = body.substr(start, semi - start);
        name.erase(0, name.find_first_not_of(" \t\r\n"));
        name.erase(name.find_last_not_of(" \t\r\n") + 1);
        EXPECT_EQ(name.find_first_of("*?[ \t\n"), std::string::npos) << "not one plain name: " << name;
        EXPECT_TRUE(names.insert(name).second) << "listed twice: " << name;
        start = semi + 1;
    }
    return names;
}

/* The list in the version script is the interface: the shared object exports
 * every name on it and nothing else, and the public headers (the tree API's
 * and the IMA plugin's) declare each. */
TEST(Exports, ExactlyTheListedNamesBothWays)
{
    std::vector<unsigned char> elf = read_all(DRELMO_SO_PATH);
    ASSERT_FALSE(elf.empty()) << DRELMO_SO_PATH;
    std::set<std::string> exported = exported_symbols(elf);
    std::set<std::string> listed = listed_names(read_text(DRELMO_MAP_PATH));
    ASSERT_FALSE(listed.empty());

    for (const std::string &n : listed)
        EXPECT_EQ(exported.count(n), 1u) << "listed but not exported: " << n;
    for (const std::string &n : exported)
        EXPECT_EQ(listed.count(n), 1u) << "exported but not listed: " << n;

    std::string header = read_text(DRELMO_HEADER_PATH) + read_text(DRELMO_IMA_HEADER_PATH);
    for (const std::string &n : listed) {
        bool declared = header.find(" " + n + "(") != std::string::npos ||
                        header.find(" " + n + ";") != std::string::npos ||
                        header.find(" *" + n + "(") != std::string::npos;
        EXPECT_TRUE(declared) << "not declared in drelmo.h or drelmo_ima.h: " << n;
    }

    /* The tree API, and internal calls that were once exported by accident. */
    for (const char *api : {"ORSA_init", "ORSA_exit", "ORSA_get_property_val", "ORSA_do_action", "save_node",
                            "backend_client_init", "OPEN_ISCSI_DRIVER_LOADED", "IMA_VMW_PluginInit", "IMA_FreeMemory",
                            "IMA_check_session_status", "IMA_GetLhbaMutualAuthParmsList"})
        EXPECT_EQ(exported.count(api), 1u) << api;
    for (const char *internal : {"ORSA_IssueIOCTL",
                                 "ORSA_prepare_mailbox_cmd",
                                 "ORSA_set_debug_level",
                                 "ORSA_get_asic_type",
                                 "ORSA_ISCSI_INBOX_DRIVER_LOADED",
                                 "add_node",
                                 "pdebug",
                                 "orsa_dmalloc",
                                 "internal_get_node",
                                 "init_hm_data",
                                 "CheckParameters",
                                 "ValidateOidTag",
                                 "ErrorCheck",
                                 "ppdebug",
                                 "Sample_Iscsi_ToUtf8",
                                 "Iscsi_CodeSet_UTF8ToUTF32",
                                 "Covert_Hex_To_Bin",
                                 "IMA_copy_ipv6_addr",
                                 "MyOwnerId",
                                 "driver_open"})
        EXPECT_EQ(exported.count(internal), 0u) << internal;
}

} // namespace
