/* The dump templates of component 1 and the template pass.
 *
 * One row per segment the library collects itself, per generation, and the
 * test template of the audit dumps. Every used row has its own program,
 * built at compile time by maint_dump_asm.h from the shape named in its
 * line below: these programs are this project's own, written for the dump
 * byte code of its driver's interpreter; they say nothing of what another
 * adapter's dump tools collect or expect. */
#include <string.h>
#include <strings.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "maintenance/maint_dump.h"
#include "maintenance/maint_dump_asm.h"

namespace {

using dumpasm::Kind;
constexpr dumpasm::Shape P = dumpasm::pattern();
constexpr dumpasm::Shape RP = dumpasm::reg(dumpasm::kPciCfg);
constexpr dumpasm::Shape RC = dumpasm::reg(dumpasm::kCsr);
constexpr dumpasm::Shape S(Kind k) { return dumpasm::shape(k); }

/* Versions of the rows of each template. */
constexpr int8_t LOW_ks2 = 0, HIGH_ks2 = 1, LOW_ks3 = 0, HIGH_ks3 = 1, LOW_vek = 0, HIGH_vek = 1;
constexpr int8_t LOW_test = 0, HIGH_test = 0;

/* R(template, segment, content, dead, live, compress, max_instance, seg_len, words, shape) */

/* The endpoint processors: data memory, instruction memory, statistics. */
#define EP_ROWS(R, t, dram, iram, stats, name)                   \
    R(t, dram, name##_dram, 1, 0, 0, 0, 0x10000, 41, P)          \
    R(t, iram, name##_iram, 1, 0, 0, 0, 0x8000, 41, P)           \
    R(t, stats, name##_stats, 1, 0, 0, 0, 0x100, 33, P)

#define COMMON_HEAD(R, t)                                        \
    R(t, 000D, pci_cfg, 1, 0, 0, 0, 0x1000, 27, RP)              \
    R(t, 000E, vital_registers, 1, 0, 0, 0, 0x100, 29, RC)       \
    R(t, 0010, cause_ue, 1, 0, 0, 0, 0x40, 31, P)                \
    R(t, 0020, csr, 1, 0, 0, 0, 0x20000, 33, RC)

#define COMMON_EPS(R, t)                                         \
    R(t, 0026, cev, 1, 0, 0, 0, 0x4000, 35, P)                   \
    R(t, 0028, dt, 1, 0, 0, 0, 0x10000, 37, P)                   \
    EP_ROWS(R, t, 0040, 0041, 0042, ep_tpost)                    \
    EP_ROWS(R, t, 0048, 0049, 004A, ep_tpre)                     \
    EP_ROWS(R, t, 0050, 0051, 0052, ep_rxulp0)                   \
    EP_ROWS(R, t, 0058, 0059, 005A, ep_rxulp1)                   \
    EP_ROWS(R, t, 0060, 0061, 0062, ep_txulp0)                   \
    EP_ROWS(R, t, 0068, 0069, 006A, ep_txulp1)

#define KS2_ROWS(R)                                              \
    COMMON_HEAD(R, ks2)                                          \
    R(ks2, 0024, ctx, 1, 0, 1, 0, 0x80000, 91, P)                \
    COMMON_EPS(R, ks2)                                           \
    R(ks2, 0070, uc_stats, 1, 1, 0, 0, 0x44, 30, P)              \
    R(ks2, 0071, uc_stats, 1, 1, 0, 0, 0x44, 30, P)              \
    R(ks2, 0072, txp_stats, 1, 1, 0, 0, 0x100, 32, P)            \
    R(ks2, 0073, rxf_stats, 1, 1, 0, 0, 0x200, 32, P)            \
    R(ks2, 0088, ep_tpost_dram, 1, 0, 0, 0, 0x10000, 41, P)      \
    R(ks2, 008A, txpb_buffers, 1, 0, 0, 0, 0x20000, 45, P)       \
    R(ks2, 008C, pqs, 1, 0, 0, 44, 0x110, 564, P)                \
    R(ks2, 00B0, txp_txds, 1, 0, 0, 0, 0x8000, 39, P)            \
    R(ks2, 0100, ddr, 1, 0, 1, 0, 0x2000000, 87, P)              \
    R(ks2, 0120, read_flash, 1, 0, 1, 0, 0x400000, 57, P)        \
    R(ks2, 0130, eeprom, 1, 0, 0, 0, 0x2000, 35, P)

/* The rows KS3 and Veskarn share (Veskarn names 00C8 differently). */
#define KS3_SHARED(R, t)                                         \
    COMMON_HEAD(R, t)                                            \
    R(t, 0024, ctx, 1, 0, 1, 0, 0xA8000, 91, P)                  \
    COMMON_EPS(R, t)                                             \
    R(t, 0070, uc_stats, 1, 1, 0, 0, 0x44, 30, P)                \
    R(t, 0071, ptc_stats, 1, 1, 0, 0, 0x80, 31, P)               \
    R(t, 0072, txp_stats, 1, 1, 0, 0, 0x100, 32, P)              \
    R(t, 0073, rxf_stats, 1, 1, 0, 0, 0x200, 32, P)              \
    R(t, 0080, ndma_status, 1, 1, 0, 3, 0x40, 34, P)             \
    R(t, 0081, rdma_status, 1, 1, 0, 3, 0x40, 34, P)             \
    R(t, 0082, wdma_status, 1, 1, 0, 3, 0x40, 34, P)             \
    R(t, 0088, rxf_tables, 1, 0, 0, 22, 0x8500, 195, P)          \
    R(t, 008A, txpb_buffers, 1, 0, 0, 0, 0x20000, 45, P)         \
    R(t, 008C, pqs, 1, 0, 0, 44, 0x110, 564, P)                  \
    R(t, 008E, pq2s, 1, 0, 0, 44, 0x110, 300, P)                 \
    R(t, 00B0, txp_txds, 1, 0, 0, 0, 0x8000, 39, P)

#define KS3_ROWS(R)                                              \
    KS3_SHARED(R, ks3)                                           \
    R(ks3, 00C8, qos_settings, 1, 0, 0, 0, 0x200, 36, P)         \
    R(ks3, 0100, ddr, 1, 0, 1, 0, 0x4000000, 87, P)              \
    R(ks3, 0120, read_flash, 1, 0, 1, 0, 0x1000000, 57, P)       \
    R(ks3, 0130, eeprom, 1, 0, 0, 0, 0x2000, 35, P)

#define VEK_ROWS(R)                                                  \
    KS3_SHARED(R, vek)                                               \
    R(vek, 00C8, qos, 1, 0, 0, 0, 0x200, 36, P)                      \
    R(vek, 0100, ddr, 1, 0, 1, 0, 0x8000000, 87, P)                  \
    R(vek, 0120, read_flash, 1, 0, 1, 0, 0x1000000, 57, P)           \
    R(vek, 0130, eeprom, 1, 0, 1, 0, 0x2000, 35, P)                  \
    EP_ROWS(R, vek, 0038, 0039, 003A, ep_lltxulp)                    \
    R(vek, 0063, txulp0_consel_states, 0, 0, 0, 0, 0x2000, 87, P)    \
    R(vek, 006B, txulp1_consel_states, 0, 0, 0, 0, 0x2000, 87, P)    \
    R(vek, 0090, pmem_buffs, 1, 0, 1, 0, 0x100000, 61, P)            \
    R(vek, 00B2, txp_counts, 1, 0, 0, 0, 0x100, 33, P)               \
    R(vek, 00B4, lltxp_ldma_vq, 1, 0, 0, 0, 0x1000, 35, P)           \
    R(vek, 00C0, wcon_ram, 1, 0, 0, 0, 0x10000, 39, P)               \
    R(vek, 00C4, uc_tag_ram, 1, 0, 1, 0, 0x40000, 43, P)             \
    R(vek, 00CC, rcon_lltxd_sge_pfrag, 1, 0, 0, 0, 0x8000, 37, P)    \
    R(vek, 00E0, loceth, 1, 0, 0, 0, 0x1000, 35, P)                  \
    R(vek, 00E2, ptctags, 1, 0, 0, 0, 0x2000, 35, P)                 \
    R(vek, 00E4, erxdata, 1, 0, 0, 0, 0x4000, 35, P)                 \
    R(vek, 0140, arm_sysreg, 1, 0, 0, 0, 0x400, 33, P)               \
    R(vek, 0142, ddrregs, 1, 0, 0, 0, 0x400, 33, P)                  \
    R(vek, 0150, netc_ram, 0, 0, 1, 0, 0x20000, 49, P)

#define TEST_ROWS(R)                                                               \
    R(test, 00D0, audit_delaytime, 1, 1, 0, 9, 64, 32, S(Kind::Stall))             \
    R(test, 00D1, audit_liveonly, 0, 1, 0, 0, 4, 22, S(Kind::Pattern4))            \
    R(test, 00D2, audit_deadonly, 1, 0, 0, 0, 4, 22, S(Kind::Pattern4))            \
    R(test, 00D3, audit_data, 1, 1, 1, 0, 150000, 40, P)                           \
    R(test, 00D4, audit_oddlength, 1, 1, 0, 1, 64003, 40, S(Kind::PatternTail))    \
    R(test, 00D6, audit_instances, 1, 1, 0, 4095, 4, 26, P)                        \
    R(test, 00D7, audit_smallwrites, 1, 1, 0, 0, 24, 40, S(Kind::SmallWrites))     \
    R(test, 00D8, audit_pcisizes, 1, 0, 0, 0, 64, 40, S(Kind::AccessWidths))       \
    R(test, 00D9, audit_variables, 1, 1, 0, 0, 32, 48, S(Kind::Variables))         \
    R(test, 00DA, audit_longcode, 1, 1, 0, 0, 4, 1024, S(Kind::LongCode))          \
    R(test, 00DB, audit_nodata, 1, 1, 0, 0, 0, 19, S(Kind::NoData))                \
    R(test, 00DC, audit_badstatus, 1, 1, 0, 0, 8, 40, S(Kind::BadStatus))          \
    R(test, 00DD, audit_lengthsstatuses, 1, 1, 0, 5, 16, 48, S(Kind::LengthsStatuses))

/* The programs. */
#define DUMP_PROGRAM(t, id, name, dead, live, comp, maxi, len, words, shp) \
    constexpr std::array<u32, words> t##_##id##_##name = dumpasm::build<words>(0x##id, shp);
KS2_ROWS(DUMP_PROGRAM)
KS3_ROWS(DUMP_PROGRAM)
VEK_ROWS(DUMP_PROGRAM)
TEST_ROWS(DUMP_PROGRAM)

struct RowAt {
    u32 segment;
    core_dump_template row;
};

#define DUMP_ROW(t, id, name, dead, live, comp, maxi, len, words, shp) \
    {0x##id, {LOW_##t, HIGH_##t, dead, live, comp, maxi, 0, len, words, t##_##id##_##name.data()}},

template <size_t N, size_t M>
constexpr std::array<core_dump_template, N> place(const RowAt (&rows)[M])
{
    std::array<core_dump_template, N> t{};
    for (const RowAt &r : rows) {
        if (r.segment >= N || t[r.segment].SegmentByteCode != nullptr)
            dumpasm::dump_program_does_not_fit();
        t[r.segment] = r.row;
    }
    return t;
}

constexpr RowAt ks2_rows[] = {KS2_ROWS(DUMP_ROW)};
constexpr RowAt ks3_rows[] = {KS3_ROWS(DUMP_ROW)};
constexpr RowAt vek_rows[] = {VEK_ROWS(DUMP_ROW)};
constexpr RowAt test_rows[] = {TEST_ROWS(DUMP_ROW)};

constexpr auto ks2_table = place<306>(ks2_rows);
constexpr auto ks3_table = place<306>(ks3_rows);
constexpr auto vek_table = place<338>(vek_rows);
constexpr auto test_table = place<223>(test_rows);

static_assert(sizeof ks2_rows / sizeof ks2_rows[0] == 36);
static_assert(sizeof ks3_rows / sizeof ks3_rows[0] == 41);
static_assert(sizeof vek_rows / sizeof vek_rows[0] == 58);
static_assert(sizeof test_rows / sizeof test_rows[0] == 13);

const char *const kInvalid = "%s:INVALID input parameters.\n";

}  // namespace

const DumpTemplate ks2_template = {"ks2_template", ks2_table.data(), (u32)ks2_table.size()};
const DumpTemplate ks3_template = {"ks3_template", ks3_table.data(), (u32)ks3_table.size()};
const DumpTemplate vek_template = {"vek_template", vek_table.data(), (u32)vek_table.size()};
const DumpTemplate test_template = {"test_template", test_table.data(), (u32)test_table.size()};

#define DUMP_INFO(t, id, name, dead, live, comp, maxi, len, words, shp) \
    {#t "_" #id "_" #name, &t##_template, 0x##id},
const DumpProgramInfo orsa_dump_programs[] = {KS2_ROWS(DUMP_INFO) KS3_ROWS(DUMP_INFO) VEK_ROWS(DUMP_INFO)
                                                  TEST_ROWS(DUMP_INFO)};
const size_t orsa_dump_program_count = sizeof orsa_dump_programs / sizeof orsa_dump_programs[0];

u32 ORSA_get_byte_code_info(u32 asic_type, const char *dump_string, const char *path, HmNode *ks,
                            u32 user_req_dump, u8 chip_state)
{
    if (dump_string == nullptr || ks == nullptr || path == nullptr || asic_type == ORSA_ASIC_UNREADABLE) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, kInvalid, __func__);
        return 1;
    }
    if (asic_type == ORSA_ASIC_PIVARD)
        return 0;
    const DumpTemplate *t = nullptr;
    if (strcasecmp(dump_string, "Test live") == 0 || strcasecmp(dump_string, "Test Dead") == 0 ||
        strcasecmp(dump_string, "Test") == 0)
        t = &test_template;
    else if (asic_type == ORSA_ASIC_KS2)
        t = &ks2_template;
    else if (asic_type == ORSA_ASIC_KS3)
        t = &ks3_template;
    else if (asic_type == ORSA_ASIC_VESKARN)
        t = &vek_template;
    if (t == nullptr)
        return 1;

    bool is_zero = false, no_pci = false;
    HmNode *nic = orsa_dump_function0_hba(ks, &is_zero, &no_pci);
    HmNode *pci = nic != nullptr ? internal_get_node(nic, "PCI", HM_KIND_GROUP) : nullptr;
    char bus[HM_VALUE_SIZE] = "", device[HM_VALUE_SIZE] = "";
    if (pci == nullptr || internal_get_property(pci, "BusNumber", bus) != 0 ||
        internal_get_property(pci, "DeviceNumber", device) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get PCI Node.\n", __func__);
        return 1;
    }
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:template %s for bus %s device %s\n", __func__, t->name, bus,
           device);

    bool dead_dump = chip_state == 1 || user_req_dump == 1;
    for (u32 seg = 0; seg < t->row_count; seg++) {
        const core_dump_template &r = t->rows[seg];
        if (r.SegmentByteCode == nullptr)
            continue;
        bool eligible = (r.dead == 1 && dead_dump) || (r.live == 1 && !dead_dump);
        if (!eligible)
            continue;
        for (u32 instance = 0;; instance++) {
            ORSA_start_clock(ks);
            ORSA_write_each_segment_data(1, seg, instance, r.start_offset, r.seg_len, r.byte_code_len,
                                         r.SegmentByteCode, path, ks, r.compress != 0, (u8)r.low_version,
                                         (u8)r.high_version);
            if (instance == r.max_instance)
                break;
        }
    }
    return 0;
}
