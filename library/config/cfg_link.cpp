/* Link, port speed and PHY of a port. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/time.h>

#include "config/cfg_link.h"

#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_nicprops.h"
#include "backend/orsa_propertyutil.h"
#include "backend/orsa_vpd.h"
#include "config/cfg_multichannel.h"
#include "config/cfg_profile_model.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

/* ---- texts and codes ---- */

namespace {

struct SpeedRow {
    const char *mode;
    const char *speed;
};

const char kForce[] = "Force";
const char kAuto[] = "Auto-Negotiate";
const char kDefault[] = "Default";
const char kLinkDown[] = "0 (Link Down)";

/* Index = speed code. */
const SpeedRow kSpeedCodes[] = {
    {kDefault, "0"},
    {kForce, "10Gb"},
    {kForce, "1Gb"},
    {kAuto, "10Gb"},
    {kAuto, "1Gb"},
    {kAuto, "100Mb"},
    {kAuto, "10Gb/1Gb"},
    {kAuto, "10Gb/1Gb/100Mb"},
    {kAuto, "1Gb/100Mb"},
    {kAuto, "10Mb"},
    {kAuto, "1Gb/100Mb/10Mb"},
    {kAuto, "100Mb/10Mb"},
    {kForce, "100Mb"},
    {kForce, "10Mb"},
    {kForce, "40Gb"},
    {kAuto, "40Gb"},
    {kAuto, "40Gb/10Gb"},
    {kAuto, "40Gb/1Gb"},
    {kAuto, "40Gb/10Gb/1Gb"},
    {kForce, "20Gb"},
    {kAuto, "20Gb"},
    {kAuto, "20Gb/10Gb"},
    {kAuto, "20Gb/1Gb"},
    {kAuto, "20Gb/10Gb/1Gb"},
};
constexpr u32 kSpeedCodeCount = sizeof kSpeedCodes / sizeof kSpeedCodes[0];

/* Bit n of a PHY speed mask. */
const char *const kMaskSpeeds[] = {"10Mb", "100Mb", "1Gb", "10Gb", "20Gb", "40Gb"};

const char *const kPhysicalSpeeds[] = {kLinkDown, "10Mb", "100Mb", "1Gb", "10Gb", "20Gb", "25Gb", "40Gb", "100Gb"};
/* The same codes in Mb/s. */
const u32 kPhysicalMb[] = {0, 10, 100, 1000, 10000, 20000, 25000, 40000, 100000};

bool same(const char *a, const char *b)
{
    return a != nullptr && b != nullptr && strcasecmp(a, b) == 0;
}

}  // namespace

u32 orsa_speed_code(const char *mode, const char *speed)
{
    if (mode == nullptr || speed == nullptr || same(mode, kDefault))
        return 0;
    for (u32 code = 1; code < kSpeedCodeCount; code++)
        if (same(mode, kSpeedCodes[code].mode) && same(speed, kSpeedCodes[code].speed))
            return code;
    return 0;
}

const char *orsa_speed_code_text(u32 code)
{
    if (code == 0)
        return "All Supported Speeds";
    return code < kSpeedCodeCount ? kSpeedCodes[code].speed : nullptr;
}

const char *orsa_speed_code_mode(u32 code)
{
    return code < kSpeedCodeCount ? kSpeedCodes[code].mode : kAuto;
}

void orsa_speed_mask_text(u32 mask, char out[HM_VALUE_SIZE])
{
    out[0] = '\0';
    for (u32 bit = 0; bit < sizeof kMaskSpeeds / sizeof kMaskSpeeds[0]; bit++) {
        if ((mask & (1u << bit)) == 0)
            continue;
        if (out[0] != '\0')
            strncat(out, ",", HM_VALUE_SIZE - strlen(out) - 1);
        strncat(out, kMaskSpeeds[bit], HM_VALUE_SIZE - strlen(out) - 1);
    }
    if (out[0] == '\0')
        orsa_strlcpy(out, "0", HM_VALUE_SIZE);
}

void orsa_speed_text(unsigned long long tenths_mb, char out[HM_VALUE_SIZE])
{
    if (tenths_mb < 10000) {
        if (tenths_mb % 10 == 0)
            snprintf(out, HM_VALUE_SIZE, "%lluMb", tenths_mb / 10);
        else
            snprintf(out, HM_VALUE_SIZE, "%.1fMb", (double)tenths_mb / 10.0);
    } else if (tenths_mb % 10000 == 0) {
        snprintf(out, HM_VALUE_SIZE, "%lluGb", tenths_mb / 10000);
    } else {
        snprintf(out, HM_VALUE_SIZE, "%.1fGb", (double)tenths_mb / 10000.0);
    }
}

const char *orsa_physical_speed_text(u32 code)
{
    return code < sizeof kPhysicalSpeeds / sizeof kPhysicalSpeeds[0] ? kPhysicalSpeeds[code] : kLinkDown;
}

/* ---- shared pieces ---- */

namespace {

constexpr size_t kLinkReplySize = 12;
constexpr size_t kPhyReplySize = 24;
constexpr u16 kPhyMasksValid = 0xFEEC;
constexpr size_t kStatsV0Size = 84, kStatsV1Size = 112;


/* The controller and its generation; none when the generation cannot be
 * told (the handler then fails). */
HmNode *controller_and_generation(HmNode *node, u32 *generation)
{
    HmNode *ks = orsa_controller_of(node);
    *generation = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    return *generation == ORSA_ASIC_UNREADABLE ? nullptr : ks;
}

/* A controller of no generation this library knows: nothing is sent to
 * it; a read shows what the tree holds, a write is refused. */
bool unknown_adapter(HmNode *node)
{
    HmNode *ks = orsa_controller_of(node);
    return ks != nullptr && get_ks_type(ks) == ORSA_ASIC_UNKNOWN;
}

/* The group of a property a handler was called for, or none with *rc the
 * handler's answer: 1 without a group; for a controller of no known
 * generation what the tree holds (a read) or 259 (a write). */
HmNode *entry_group(HmNode *property, char *value, u32 mode, u32 *rc)
{
    *rc = 1;
    if (property == nullptr || property->parent == nullptr || property->body == nullptr)
        return nullptr;
    if (!unknown_adapter(property))
        return property->parent;
    *rc = mode == HM_MODE_SET ? orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED) : orsa_answer(property, value, 0);
    return nullptr;
}

/* The link status (version 1) of the function at. */
u32 read_link_status(const OrsaWhere &w, u8 reply[kLinkReplySize])
{
    memset(reply, 0, kLinkReplySize);
    return w.at.instance != 0 ? ioctl_get_link_status_v1(w.at, reply, w.domain, w.phba_port) : 1;
}

/* The stored text of a property, or "" when there is none. */
const char *stored(HmNode *group, const char *name)
{
    HmNode *p = group != nullptr ? hm_follow_links(internal_get_node(group, name, HM_KIND_PROPERTY)) : nullptr;
    return p != nullptr && p->body != nullptr ? HM_PROPERTY(p)->value : "";
}

bool parse_decimal(const char *text, u32 low, u32 high, u32 *out)
{
    if (text == nullptr || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    unsigned long n = strtoul(text, &end, 10);
    if (*end != '\0' || n < low || n > high)
        return false;
    *out = (u32)n;
    return true;
}

/* Whether item is one entry of a comma-separated list (case ignored). */
bool in_list(const char *list, const char *item)
{
    return list != nullptr && item != nullptr && item[0] != '\0' && orsa_list_has_entry(list, item);
}

/* The controller's group of a kind whose PortNumber text equals number. */
HmNode *instance_with_port(HmNode *ks, const char *kind, const char *number)
{
    for (HmNode *g = ks != nullptr ? get_first_instance(ks, kind) : nullptr; g != nullptr; g = hm_next_instance(g)) {
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(g, "PortNumber", text) == 0 && strcmp(text, number) == 0)
            return g;
    }
    return nullptr;
}

}  // namespace

/* ---- supported speeds, interface type, clear counters ---- */

u32 ORSA_update_speed_props(OrsaPort at, HmNode *port_group)
{
    u32 gen = 0;
    if (port_group == nullptr || controller_and_generation(port_group, &gen) == nullptr)
        return 1;
    if (gen == ORSA_ASIC_KS2) {
        set_prop_val(port_group, "ANSpeedsSupported", "N/A");
        set_prop_val(port_group, "ForceSpeedsSupported", "N/A");
        return 0;
    }
    u8 reply[kPhyReplySize] = {};
    if (at.instance == 0 ||
        ioctl_get_phy_details(at, reply, (u8)get_domain_id(port_group), (u8)get_phba_port_number(port_group)) != 0)
        return orsa_fail_with(ORSA_STATUS_PHY_DETAILS_FAILED);
    if (orsa_rd16(reply + 8) != kPhyMasksValid) {
        set_prop_val(port_group, "ANSpeedsSupported", "N/A");
        set_prop_val(port_group, "ForceSpeedsSupported", "N/A");
        return 0;
    }
    char an[HM_VALUE_SIZE], forced[HM_VALUE_SIZE];
    orsa_speed_mask_text(orsa_rd16(reply + 12), an);
    orsa_speed_mask_text(orsa_rd16(reply + 14), forced);
    u32 rc = set_prop_val(port_group, "ANSpeedsSupported", "%s", an);
    rc |= set_prop_val(port_group, "ForceSpeedsSupported", "%s", forced);
    return rc != 0 ? 1 : 0;
}

namespace {

/* A 10GBase-T statistics request of version 0 or 1 for a port. */
u32 read_baset_stats(OrsaPort at, u8 domain, u8 phba_port, bool v1, bool clear, u8 *reply)
{
    memset(reply, 0, v1 ? kStatsV1Size : kStatsV0Size);
    reply[0] = phba_port;
    if (clear)
        reply[4] = 1;
    if (at.instance == 0)
        return 1;
    return v1 ? ioctl_get_baseT_stats_v1(at, reply, domain, phba_port)
              : ioctl_get_baseT_stats(at, reply, domain, phba_port);
}

}  // namespace

u32 ORSA_update_is_clear_counter(OrsaPort at, HmNode *port_group)
{
    HmNode *baset = port_group != nullptr ? internal_get_node(port_group, "BaseT10G", HM_KIND_GROUP) : nullptr;
    if (baset == nullptr)
        return 1;
    u32 gen = 0;
    if (controller_and_generation(port_group, &gen) == nullptr)
        return 1;
    if (gen != ORSA_ASIC_VESKARN)
        return set_prop_val(baset, "IsClearCountersSupported", "N/A") != 0 ? 1 : 0;
    u8 reply[kStatsV1Size];
    u32 rc = read_baset_stats(at, (u8)get_domain_id(port_group), (u8)get_phba_port_number(port_group), true, false,
                              reply);
    return set_prop_val(baset, "IsClearCountersSupported", "%s", rc == 0 ? "True" : "False") != 0 ? 1 : 0;
}

/* ---- 10GBase-T statistics ---- */

namespace {

/* When the statistics of each port of each controller were last read. A
 * port's own slot: ports of different controllers never share one, and the
 * table holds every controller and port the tree can have. */
constexpr u32 kClockControllers = ORSA_MAX_CONTROLLERS, kClockPorts = 4;
struct timeval g_baset_clock[kClockControllers][kClockPorts];

struct timeval *clock_slot(HmNode *node)
{
    HmNode *ks = orsa_controller_of(node);
    if (ks == nullptr)
        return nullptr;
    u32 controller = get_ks_instance(node);
    i32 port = get_phba_port_number(node);
    if (controller >= kClockControllers || port < 0 || (u32)port >= kClockPorts)
        return nullptr;
    return &g_baset_clock[controller][port];
}

void restart_clock(HmNode *node)
{
    struct timeval *slot = clock_slot(node);
    if (slot != nullptr)
        orsa_host_now(slot);
}

/* Whether the port's statistics were read less than the interval ago. */
bool read_recently(HmNode *node)
{
    struct timeval *slot = clock_slot(node);
    if (slot == nullptr || (slot->tv_sec == 0 && slot->tv_usec == 0))
        return false;
    struct timeval now;
    orsa_host_now(&now);
    long long ms = ((long long)now.tv_sec - slot->tv_sec) * 1000 + ((long long)now.tv_usec - slot->tv_usec) / 1000;
    return ms >= 0 && ms < (long long)ORSA_BASET_STATS_INTERVAL_MS;
}

struct StatField {
    const char *name;
    u32 word;
    const char *format;
};
const StatField kStatFields[] = {
    {"10GBaseTDiagStatus", 0, "0x%x"},  {"Temperature", 1, "%d"},         {"PairASNR", 2, "0x%x"},
    {"PairBSNR", 3, "0x%x"},            {"PairCSNR", 4, "0x%x"},          {"PairDSNR", 5, "0x%x"},
    {"TimeSinceLinkHigh", 6, "%d"},     {"TimeSinceLinkLow", 7, "%d"},    {"AverageMSEPairA", 8, "%d"},
    {"AverageMSEPairB", 9, "%d"},       {"AverageMSEPairC", 10, "%d"},    {"AverageMSEPairD", 11, "%d"},
    {"LDPCFrameHigh", 12, "%u"},        {"LDPCFrameLow", 13, "%u"},       {"PHYCRC8High", 14, "%u"},
    {"PHYCRC8Low", 15, "%u"},           {"MDIPLLEventCounter", 16, "%d"}, {"10GEMIEventCounter", 18, "%d"},
};

}  // namespace

void orsa_baset_clock_reset(HmNode *port_group)
{
    struct timeval *slot = clock_slot(port_group);
    if (slot != nullptr)
        *slot = timeval{};
}

u32 ORSA_update_10GbaseT_properties(HmNode *baset, const u8 *v0, const u8 *v1, u32 clock_only)
{
    if (baset == nullptr)
        return 1;
    if (clock_only) {
        restart_clock(baset);
        return 0;
    }
    const u8 *reply = v1 != nullptr ? v1 : v0;
    u32 rc = 0;
    if (reply == nullptr) {
        for (const StatField &f : kStatFields)
            rc |= set_prop_val(baset, f.name, "N/A");
        rc |= set_prop_val(baset, "PHYFrameCounter", "N/A");
        return rc != 0 ? 1 : 0;
    }
    restart_clock(baset);
    char text[HM_VALUE_SIZE];
    for (const StatField &f : kStatFields) {
        u32 v = orsa_rd32(reply + 4 * f.word);
        if (f.format[1] == 'd')
            snprintf(text, sizeof text, "%d", (int)v);
        else if (f.format[1] == 'u')
            snprintf(text, sizeof text, "%u", (unsigned)v);
        else
            snprintf(text, sizeof text, "0x%x", (unsigned)v);
        rc |= set_prop_val(baset, f.name, "%s", text);
    }
    unsigned long long frames = orsa_rd32(reply + 4 * 19);
    if (v1 != nullptr)
        frames |= (unsigned long long)orsa_rd32(reply + 4 * 21) << 32;
    rc |= set_prop_val(baset, "PHYFrameCounter", "%llu", frames);
    return rc != 0 ? 1 : 0;
}

u32 handle_10GbaseT_properties(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    HmNode *baset = property->parent;
    u32 gen = 0;
    if (controller_and_generation(baset, &gen) == nullptr)
        return 1;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_PIVARD) {
        ORSA_update_10GbaseT_properties(baset, nullptr, nullptr, 0);
        return orsa_answer(property, value, 0);
    }
    char clear[HM_VALUE_SIZE] = "";
    if (internal_get_property(baset, "IsClearCountersSupported", clear) != 0)
        return 1;
    if (read_recently(baset))
        return orsa_answer(property, value, 0);
    OrsaWhere w = orsa_where_of(baset);
    u8 reply[kStatsV1Size];
    if (same(clear, "True")) {
        u32 rc = read_baset_stats(w.at, w.domain, w.phba_port, true, false, reply);
        if (rc == 0)
            return orsa_answer(property, value, ORSA_update_10GbaseT_properties(baset, nullptr, reply, 0));
        if (rc != ORSA_STATUS_UNSUPPORTED_OP)
            return orsa_fail_with(ORSA_STATUS_BASET_STATS_FAILED);
    }
    u32 rc = read_baset_stats(w.at, w.domain, w.phba_port, false, false, reply);
    if (rc == 0)
        return orsa_answer(property, value, ORSA_update_10GbaseT_properties(baset, reply, nullptr, 0));
    if (rc == ORSA_STATUS_UNSUPPORTED_OP) {
        ORSA_update_10GbaseT_properties(baset, nullptr, nullptr, 1);
        return orsa_answer(property, value, rc);
    }
    return orsa_fail_with(ORSA_STATUS_BASET_STATS_FAILED);
}

u32 do_ClearCounters(HmNode *baset, HmNode *, HmValueSlot *)
{
    if (baset == nullptr || baset->parent == nullptr)
        return 1;
    u32 gen = 0;
    controller_and_generation(baset, &gen);
    if (gen != ORSA_ASIC_VESKARN || strcmp(stored(baset, "IsClearCountersSupported"), "True") != 0)
        return orsa_fail_with(ORSA_STATUS_CLEAR_COUNTERS_UNSUPPORTED);
    OrsaWhere w = orsa_where_of(baset);
    u8 reply[kStatsV1Size];
    return read_baset_stats(w.at, w.domain, w.phba_port, true, true, reply);
}

u32 handle_over_temperature(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    if (vm_flag)
        orsa_answer_na(value);
    HmNode *baset = property->parent;
    u32 gen = 0;
    HmNode *ks = controller_and_generation(baset, &gen);
    if (ks == nullptr)
        return 1;
    if (gen == ORSA_ASIC_KS2)
        return orsa_store_and_answer(property, value, "N/A");
    // The reason comes from the NIC driver: the port's NIC function is asked
    // even when the port group was made for its iSCSI function.
    OrsaPort at = orsa_port_of(baset);
    if (at.protocol != ORSA_PROTO_NIC) {
        char number[HM_VALUE_SIZE];
        snprintf(number, sizeof number, "%d", (int)get_phba_port_number(baset));
        at = orsa_port_of(instance_with_port(ks, "NICPhysicalHBA", number));
    }
    if (at.protocol == ORSA_PROTO_NIC && at.instance != 0)
        ORSA_get_over_temperature(baset, at.instance);
    return orsa_answer(property, value, 0);
}

u32 handle_10baseT_nvpvalue(HmNode *property, char *value, u32 mode)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, mode, &entry_rc) == nullptr)
        return entry_rc;
    if (property->parent->parent == nullptr || value == nullptr)
        return 1;
    if (mode != HM_MODE_GET && mode != HM_MODE_SET)
        return 0;
    HmNode *baset = property->parent;
    char number[HM_VALUE_SIZE] = "";
    u32 port = 0;
    if (internal_get_property(baset->parent, "PortNumber", number) != 0 || !parse_decimal(number, 0, 255, &port))
        return 1;
    // A write passes the gates of a read: no virtual function, a known
    // generation, a PHY that has the value.
    if (vm_flag)
        return orsa_refuse_in_vf(mode == HM_MODE_GET ? value : nullptr);
    u32 gen = 0;
    if (controller_and_generation(baset, &gen) == nullptr)
        return 1;
    OrsaWhere w = orsa_where_of(baset);
    if (mode == HM_MODE_GET) {
        if (gen == ORSA_ASIC_KS2)
            return orsa_store_and_answer(property, value, "N/A");
        u8 reply[4] = {};
        reply[0] = (u8)port;
        u32 rc = w.at.instance != 0 ? ioctl_get_nvp_value(w.at, reply, w.domain, w.phba_port) : 1;
        if (rc == ORSA_STATUS_UNSUPPORTED_OP)
            return orsa_store_and_answer(property, value, "N/A");
        if (rc != 0)
            return orsa_fail_with(ORSA_STATUS_NVP_GET_FAILED);
        char text[HM_VALUE_SIZE];
        snprintf(text, sizeof text, "%d", (int)orsa_rd32(reply));
        return orsa_store_and_answer(property, value, text);
    }
    if (gen == ORSA_ASIC_KS2)
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    if (strcmp(stored(baset, property->name), value) == 0)
        return 0;
    // A percentage: anything else would reach the PHY as a number it never meant.
    u32 nvp = 0;
    if (!parse_decimal(value, 1, 100, &nvp)) {
        orsa_set_last_status(ORSA_STATUS_LINK_INVALID_VALUE, "Invalid Value. Valid values are 1 to 100.");
        return 1;
    }
    u8 request[8] = {};
    request[0] = (u8)port;
    request[4] = (u8)nvp;
    if (w.at.instance == 0 || ioctl_set_nvp_value(w.at, request, w.domain, w.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_NVP_SET_FAILED);
    return set_prop_val(baset, property->name, "%u", (unsigned)nvp) != 0 ? 1 : 0;
}

/* ---- configured speed and SetPortSpeed ---- */

u32 handle_get_link_speed_properties(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *port_group = property->parent;
    u32 gen = 0;
    if (controller_and_generation(port_group, &gen) == nullptr)
        return 1;
    auto all_na = [&]() {
        set_prop_val(port_group, "Mode", "N/A");
        set_prop_val(port_group, "ConfiguredSpeed", "N/A");
        set_prop_val(port_group, "DACCableLength", "N/A");
        return orsa_answer(property, value, 0);
    };
    if (gen == ORSA_ASIC_KS2)
        return all_na();
    OrsaWhere w = orsa_where_of(port_group);
    u8 reply[4] = {};
    reply[0] = (u8)(w.phba_port & 0x3F);
    u32 rc = w.at.instance != 0 ? ioctl_get_link_speed(w.at, reply, w.domain, w.phba_port) : 1;
    if (rc == ORSA_STATUS_CMD_UNKNOWN)
        return all_na();
    if (rc != 0)
        return orsa_fail_with(ORSA_STATUS_LINK_SPEED_FAILED);
    u32 code = orsa_rd16(reply);
    set_prop_val(port_group, "DACCableLength", "%d", (int)orsa_rd16(reply + 2));
    if (orsa_speed_code_text(code) != nullptr)
        set_prop_val(port_group, "ConfiguredSpeed", "%s", orsa_speed_code_text(code));
    set_prop_val(port_group, "Mode", "%s", orsa_speed_code_mode(code));
    return orsa_answer(property, value, 0);
}

namespace {

const char *const kForceSpeeds[] = {"10Gb", "1Gb", "100Mb", "10Mb", "40Gb", "20Gb"};

/* Whether every speed of an Auto-Negotiate row ("10Gb/1Gb") is one the PHY
 * negotiates. */
bool row_within(const char *row, const char *supported)
{
    char copy[HM_VALUE_SIZE];
    orsa_strlcpy(copy, row, sizeof copy);
    char *save = nullptr;
    bool any = false;
    for (char *s = strtok_r(copy, "/", &save); s != nullptr; s = strtok_r(nullptr, "/", &save)) {
        if (!in_list(supported, s))
            return false;
        any = true;
    }
    return any;
}

bool auto_row(const char *speed)
{
    for (u32 code = 1; code < kSpeedCodeCount; code++)
        if (kSpeedCodes[code].mode == kAuto && same(speed, kSpeedCodes[code].speed))
            return true;
    return false;
}

}  // namespace

u32 do_SetPortSpeed(HmNode *port_group, HmNode *action, HmValueSlot *params)
{
    if (port_group == nullptr || params == nullptr)
        return 1;
    if (unknown_adapter(port_group))
        return orsa_fail_with(ORSA_STATUS_NOT_SUPPORTED);
    HmNode *at_node = action != nullptr ? action : port_group;
    OrsaWhere w = orsa_where_of(at_node);
    if (get_phba_port_number(at_node) > 3)
        return 1;
    HmNode *ks = port_group->parent;
    u32 gen = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (gen == ORSA_ASIC_KS2)
        return orsa_fail_with(ORSA_STATUS_PORT_SPEED_KS2);
    char speed[HM_VALUE_SIZE], mode[HM_VALUE_SIZE], dac[HM_VALUE_SIZE];
    orsa_strlcpy(speed, params[0], sizeof speed);
    orsa_strlcpy(mode, params[1], sizeof mode);
    orsa_strlcpy(dac, params[2], sizeof dac);
    if (same(mode, kDefault))
        orsa_strlcpy(speed, "0", sizeof speed);

    char configured[HM_VALUE_SIZE], current_mode[HM_VALUE_SIZE], current_dac[HM_VALUE_SIZE];
    char interface_type[HM_VALUE_SIZE], number[HM_VALUE_SIZE];
    if (internal_get_property(port_group, "ConfiguredSpeed", configured) != 0 ||
        internal_get_property(port_group, "Mode", current_mode) != 0 ||
        internal_get_property(port_group, "DACCableLength", current_dac) != 0 ||
        internal_get_property(port_group, "InterfaceType", interface_type) != 0 ||
        internal_get_property(port_group, "PortNumber", number) != 0)
        return 1;
    HmNode *force_node = internal_get_node(port_group, "ForceSpeedsSupported", HM_KIND_PROPERTY);
    HmNode *an_node = internal_get_node(port_group, "ANSpeedsSupported", HM_KIND_PROPERTY);
    if (force_node == nullptr || an_node == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:supported speed lists missing\n", __func__);
        return 1;
    }
    const char *force_list = stored(port_group, "ForceSpeedsSupported");
    const char *an_list = stored(port_group, "ANSpeedsSupported");

    if (same(speed, configured) && same(mode, current_mode) && same(dac, current_dac)) {
        orsa_set_status(ORSA_STATUS_PORT_SPEED_UNCHANGED);
        return 0;
    }
    bool sfp_plus = strcmp(interface_type, "SFP_PLUS_10GB_TYPE") == 0;
    if (sfp_plus && same(mode, kForce) && dac[0] == '\0')
        return orsa_fail_with(ORSA_STATUS_PORT_SPEED_DAC_REQUIRED);

    char vnic_enabled[HM_VALUE_SIZE] = "";
    if (gen == ORSA_ASIC_PIVARD) {
        orsa_strlcpy(vnic_enabled, "False", sizeof vnic_enabled);
    } else {
        HmNode *nic = instance_with_port(ks, "NICPhysicalHBA", number);
        HmNode *vnic = nic != nullptr ? internal_get_node(nic, "vNIC", HM_KIND_GROUP) : nullptr;
        if (vnic != nullptr && internal_get_property(vnic, "vNICEnabled", vnic_enabled) != 0)
            return 1;
    }

    if (same(mode, kForce)) {
        if (same(vnic_enabled, "False")) {
            // Any speed the PHY can be forced to, not only the first two it lists.
            if (force_list[0] == '\0')
                return 1;
            if (!in_list(force_list, speed))
                return orsa_fail_with(ORSA_STATUS_PORT_SPEED_UNSUPPORTED);
            bool known = false;
            for (const char *s : kForceSpeeds)
                known = known || strcmp(speed, s) == 0;
            if (!known)
                return orsa_fail_with(ORSA_STATUS_PORT_SPEED_FORCE_VALUES);
        } else if (same(vnic_enabled, "True") && same(speed, "1Gb")) {
            return orsa_fail_with(ORSA_STATUS_VNIC_1GB);
        }
    } else if (same(mode, kAuto)) {
        if (speed[0] == '\0')
            return orsa_fail_with(ORSA_STATUS_PORT_SPEED_SPEED_REQUIRED);
        if (an_list[0] == '\0')
            return 1;
        // A single speed the PHY negotiates, or a combination of such speeds.
        if (!in_list(an_list, speed) && !(auto_row(speed) && row_within(speed, an_list)))
            return orsa_fail_with(ORSA_STATUS_PORT_SPEED_UNSUPPORTED);
    }

    u8 request[8] = {};
    request[0] = w.phba_port;
    request[1] = w.phba_port;
    u32 code = orsa_speed_code(mode, speed);
    request[2] = (u8)code;
    request[3] = (u8)(code >> 8);
    u32 length = 0;
    if ((sfp_plus || strcmp(interface_type, "QSFP_TYPE") == 0) && dac[0] != '\0')
        length = (u32)strtoul(dac, nullptr, 10);
    request[4] = (u8)length;
    request[5] = (u8)(length >> 8);
    u32 rc = w.at.instance != 0 ? ioctl_set_port_speed(w.at, request, w.domain, w.phba_port) : 1;
    if (rc == 0)
        return 0;
    return orsa_fail_with(rc == ORSA_STATUS_PORT_SPEED_UNSUPPORTED ? ORSA_STATUS_PORT_SPEED_UNSUPPORTED
                                                                    : ORSA_STATUS_PORT_SPEED_FAILED);
}

/* ---- link state ---- */

u32 get_logical_link_status(OrsaPort at, u8 domain, u8 phba_port, HmNode *group, u32 protocol)
{
    if (group == nullptr)
        return 1;
    OrsaWhere w;
    w.at = at;
    w.domain = domain;
    w.phba_port = phba_port;
    u8 reply[kLinkReplySize];
    if (read_link_status(w, reply) != 0)
        return orsa_fail_with(ORSA_STATUS_LOGICAL_LINK_FAILED);
    if (protocol == ORSA_PROTO_ISCSI) {
        if (reply[8] == 1)
            return set_prop_val(group, "LogicalLinkStatus", "Up") != 0 ? 1 : 0;
        if (reply[8] == 0)
            return set_prop_val(group, "LogicalLinkStatus", "Down") != 0 ? 1 : 0;
        return 0;
    }
    u32 gen = 0;
    if (controller_and_generation(group, &gen) == nullptr)
        return 1;
    bool up = reply[2] != 0 && reply[1] != 0 && reply[8] != 0;
    return set_prop_val(group, "LogicalLinkStatus", "%s", up ? "Up" : "Down") != 0 ? 1 : 0;
}

u32 handle_logical_link_status(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    HmNode *n = entry_group(property, value, HM_MODE_GET, &entry_rc);
    if (n == nullptr)
        return entry_rc;
    HmNode *network = n->parent;
    HmNode *phba = network != nullptr ? network->parent : nullptr;
    if (phba == nullptr || phba->parent == nullptr)
        return 1;
    OrsaWhere w = orsa_where_of(n);
    return orsa_answer(property, value, get_logical_link_status(w.at, w.domain, w.phba_port, n, ORSA_PROTO_ISCSI));
}

u32 handle_nic_logical_link_status(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    HmNode *g = property->parent;
    OrsaWhere w = orsa_where_of(g);
    return orsa_answer(property, value, get_logical_link_status(w.at, w.domain, w.phba_port, g, ORSA_PROTO_NIC));
}

u32 handle_PhysicalLinkStatus(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    u8 reply[kLinkReplySize];
    if (read_link_status(orsa_where_of(property->parent), reply) != 0)
        return orsa_fail_with(ORSA_STATUS_LINK_PARAMS_FAILED);
    return orsa_store_and_answer(property, value, reply[2] != 0 ? "Up" : "Down");
}

u32 handle_PHYType(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    OrsaWhere w = orsa_where_of(property->parent);
    u8 reply[kPhyReplySize] = {};
    u32 rc = w.at.instance != 0 ? ioctl_get_phy_details(w.at, reply, w.domain, w.phba_port) : 1;
    if (rc != 0) {
        orsa_store_and_answer(property, value, "N/A");
        return rc;
    }
    char text[HM_VALUE_SIZE];
    snprintf(text, sizeof text, "0x%x", (unsigned)orsa_rd16(reply));
    return orsa_store_and_answer(property, value, text);
}

u32 handle_activeport(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    OrsaWhere w = orsa_where_of(property->parent);
    u8 reply[kLinkReplySize] = {};
    if (w.at.instance == 0 || ioctl_get_NIC_link_params(w.at, reply, w.domain, w.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_ACTIVE_PORT_FAILED);
    if (reply[0] == 0 || reply[0] == 1)
        set_prop_val(property->parent, property->name, "%d", (int)reply[0]);
    else if (reply[0] == 15)
        set_prop_val(property->parent, property->name, "None");
    return orsa_answer(property, value, 0);
}

u32 handle_PortState(HmNode *property, char *value, u32 mode)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, mode, &entry_rc) == nullptr)
        return entry_rc;
    if (value == nullptr)
        return 1;
    HmNode *port_group = property->parent;
    u32 gen = 0;
    if (controller_and_generation(port_group, &gen) == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to get the adapter generation\n", __func__);
        return 1;
    }
    if (mode != HM_MODE_GET && mode != HM_MODE_SET)
        return 0;
    OrsaWhere w = orsa_where_of(port_group);
    bool pivard = gen == ORSA_ASIC_PIVARD;
    u8 payload[4] = {};
    if (mode == HM_MODE_GET) {
        if (vm_flag)
            return orsa_refuse_in_vf(value);
        if (pivard)
            payload[2] = (u8)(w.phba_port & 0x3F);
        u32 rc = w.at.instance == 0                ? 1
                 : pivard ? ioctl_pivard_get_port_state(w.at, payload, w.domain, w.phba_port)
                          : ioctl_get_port_state(w.at, payload, w.domain, w.phba_port);
        if (rc != 0)
            return orsa_fail_with(ORSA_STATUS_PORT_STATE_GET_FAILED);
        bool enabled = pivard ? (payload[0] & 1) != 0 : orsa_rd32(payload) == 1;
        return orsa_store_and_answer(property, value, enabled ? "Enabled" : "Disabled");
    }
    if (vm_flag)
        return orsa_fail_with(ORSA_STATUS_VF_REFUSED);
    char current[HM_VALUE_SIZE] = "";
    if (handle_PortState(property, current, HM_MODE_GET) == 0 && same(current, value))
        return 0;
    bool enable = same(value, "Enabled");
    if (pivard) {
        payload[0] = enable ? 1 : 0;
        payload[2] = (u8)(w.phba_port & 0x3F);
    } else {
        payload[0] = enable ? 1 : 0;
    }
    u32 rc = w.at.instance == 0                ? 1
             : pivard ? ioctl_pivard_set_port_state(w.at, payload, w.domain, w.phba_port)
                      : ioctl_set_port_state(w.at, payload, w.domain, w.phba_port);
    if (rc != 0)
        return orsa_fail_with(ORSA_STATUS_PORT_STATE_SET_FAILED);
    return set_prop_val(port_group, property->name, "%s", enable ? "Enabled" : "Disabled") != 0 ? 1 : 0;
}

u32 handle_TXThrottle(HmNode *property, char *value, u32 mode)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, mode, &entry_rc) == nullptr)
        return entry_rc;
    if (value == nullptr)
        return 1;
    if (vm_flag)
        return orsa_refuse_in_vf(mode == HM_MODE_GET ? value : nullptr);
    HmNode *port_group = property->parent;
    u32 gen = 0;
    HmNode *ks = controller_and_generation(port_group, &gen);
    if (ks == nullptr)
        return 1;
    if (mode != HM_MODE_GET && mode != HM_MODE_SET)
        return 0;
    if (gen == ORSA_ASIC_VESKARN) {
        set_prop_val(port_group, property->name, "N/A");
        // Nothing is sent on this adapter: a write is refused, not taken.
        if (mode == HM_MODE_SET)
            return orsa_fail_with(ORSA_STATUS_TXTHROTTLE_UNSUPPORTED);
        return orsa_answer(property, value, 0);
    }
    HmNode *personality = internal_get_node(ks, "Personality", HM_KIND_GROUP);
    char current_personality[HM_VALUE_SIZE] = "";
    if (personality == nullptr || internal_get_property(personality, "CurrentPersonality", current_personality) != 0)
        return 1;
    bool fcoe_ks2 = gen == ORSA_ASIC_KS2 && same(current_personality, "FcoE");
    OrsaWhere w = orsa_where_of(port_group);
    u8 payload[4] = {};
    if (mode == HM_MODE_GET) {
        if (!fcoe_ks2)
            return orsa_store_and_answer(property, value, "N/A");
        if (w.at.instance == 0 || ioctl_get_tx_throttel(w.at, payload, w.domain, w.phba_port) != 0)
            return orsa_fail_with(ORSA_STATUS_TXTHROTTLE_GET_FAILED);
        char text[HM_VALUE_SIZE];
        snprintf(text, sizeof text, "%d", (int)orsa_rd32(payload));
        return orsa_store_and_answer(property, value, text);
    }
    if (strcmp(stored(port_group, property->name), value) == 0)
        return 0;
    if (!fcoe_ks2)
        return orsa_fail_with(ORSA_STATUS_TXTHROTTLE_UNSUPPORTED);
    u32 throttle = 0;
    if (!parse_decimal(value, 1, 2, &throttle)) {
        orsa_set_last_status(ORSA_STATUS_LINK_INVALID_VALUE, "Invalid Value. Valid values are 1 or 2.");
        return 1;
    }
    payload[0] = (u8)throttle;
    if (w.at.instance == 0 || ioctl_set_tx_throttel(w.at, payload, w.domain, w.phba_port) != 0)
        return orsa_fail_with(ORSA_STATUS_TXTHROTTLE_SET_FAILED);
    return set_prop_val(port_group, property->name, "%u", (unsigned)throttle) != 0 ? 1 : 0;
}

/* ---- port speed ---- */

namespace {

/* Tenths of Mb/s of a MaxBitsPerSecond text (units of 100 Mb/s, "2.5" with
 * its fraction); false for a text that is no such number. */
bool share_tenths_mb(const char *text, unsigned long long *tenths)
{
    if (text == nullptr || text[0] < '0' || text[0] > '9')
        return false;
    char *end = nullptr;
    unsigned long long whole = strtoull(text, &end, 10);
    unsigned long long tenth = 0;
    if (*end == '.') {
        if (end[1] < '0' || end[1] > '9' || end[2] != '\0')
            return false;
        tenth = (unsigned long long)(end[1] - '0');
    } else if (*end != '\0') {
        return false;
    }
    if (whole > 0xFFFFFFFFull)
        return false;
    *tenths = whole * 1000 + tenth * 100;
    return true;
}

}  // namespace

u32 get_portspeed(HmNode *group, OrsaPort at, u8 domain, u8 phba_port, u32 protocol, u32 generation)
{
    if (group == nullptr)
        return 1;
    bool nic = protocol == ORSA_PROTO_NIC;
    HmNode *ks = orsa_controller_of(group);
    HmNode *qos = nullptr;
    char number[HM_VALUE_SIZE] = "", logical[HM_VALUE_SIZE] = "";
    if (nic) {
        if (internal_get_property(group, "PortNumber", number) != 0)
            return 1;
    } else {
        HmNode *phba = group->parent != nullptr ? group->parent->parent : nullptr;
        HmNode *lhba = phba != nullptr ? internal_get_node(phba, "LogicalHBA0", HM_KIND_GROUP) : nullptr;
        qos = lhba != nullptr ? internal_get_node(lhba, "iSCSIQoS", HM_KIND_GROUP) : nullptr;
        if (qos == nullptr || internal_get_property(phba, "PortNumber", number) != 0)
            return 1;
    }
    if (internal_get_property(group, "LogicalLinkStatus", logical) != 0)
        return 1;
    HmNode *port_group = instance_with_port(ks, "PortDiscoveryAndConfiguration", number);
    char physical[HM_VALUE_SIZE] = "";
    if (port_group != nullptr && internal_get_property(port_group, "PhysicalLinkStatus", physical) == 0 &&
        strcmp(physical, "Down") == 0 && strcmp(logical, "Down") == 0)
        return set_prop_val(group, "PortSpeed", "%s", kLinkDown) != 0 ? 1 : 0;

    OrsaWhere w;
    w.at = at;
    w.domain = domain;
    w.phba_port = phba_port;
    u8 reply[kLinkReplySize];
    if (read_link_status(w, reply) != 0)
        return orsa_fail_with(ORSA_STATUS_LINK_PARAMS_FAILED);
    char text[HM_VALUE_SIZE];
    if (generation == ORSA_ASIC_VESKARN && !vm_flag) {
        char share[HM_VALUE_SIZE] = "";
        if (internal_get_property(nic ? group : qos, "MaxBitsPerSecond", share) != 0)
            return 0;
        // The function's share of the link, fraction and all; a share of 0
        // is the whole link, which the link status tells below.
        unsigned long long tenths = 0;
        if (share_tenths_mb(share, &tenths) && tenths != 0) {
            orsa_speed_text(tenths, text);
            return set_prop_val(group, "PortSpeed", "%s", text) != 0 ? 1 : 0;
        }
    }
    u32 speed = orsa_rd16(reply + 6);
    if (speed == 0)
        return set_prop_val(group, "PortSpeed", "%s", orsa_physical_speed_text(reply[2])) != 0 ? 1 : 0;
    orsa_speed_text((unsigned long long)speed * 100, text);
    return set_prop_val(group, "PortSpeed", "%s", text) != 0 ? 1 : 0;
}

u32 handle_portspeed(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    HmNode *g = property->parent;
    u32 protocol;
    HmNode *ks;
    if (g->name != nullptr && strcmp(g->name, "NICPhysicalHBA") == 0) {
        ks = g->parent;
        protocol = ORSA_PROTO_NIC;
    } else if (g->name != nullptr && strcmp(g->name, "NICConfiguration") == 0) {
        ks = g->parent != nullptr && g->parent->parent != nullptr ? g->parent->parent->parent : nullptr;
        protocol = ORSA_PROTO_ISCSI;
    } else {
        return orsa_answer(property, value, 0);
    }
    u32 gen = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (gen == ORSA_ASIC_UNREADABLE)
        return 1;
    OrsaWhere w = orsa_where_of(g);
    if (get_portspeed(g, w.at, w.domain, w.phba_port, protocol, gen) != 0)
        return 1;
    return orsa_answer(property, value, 0);
}

u32 handle_FCoELinkSpeed(HmNode *property, char *value, u32)
{
    u32 entry_rc = 1;
    if (entry_group(property, value, HM_MODE_GET, &entry_rc) == nullptr)
        return entry_rc;
    HmNode *port_group = property->parent;
    HmNode *ks = port_group->parent;
    char wwpn[HM_VALUE_SIZE] = "";
    u32 rc = internal_get_property(port_group, "FCoEWWPN", wwpn);
    if (rc != 0)
        return rc;
    if (strcmp(wwpn, "00:00:00:00:00:00:00:00") == 0)
        return orsa_store_and_answer(property, value, "N/A");
    u8 reply[kLinkReplySize];
    rc = read_link_status(orsa_where_of(port_group), reply);
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_LINK_PARAMS_FAILED);
        return rc;
    }
    u32 code = reply[2];
    if (code == 0)
        return orsa_store_and_answer(property, value, kLinkDown);
    u32 gen = ks != nullptr ? get_ks_type(ks) : ORSA_ASIC_UNREADABLE;
    if (gen == ORSA_ASIC_KS2 || gen == ORSA_ASIC_PIVARD)
        return orsa_store_and_answer(property, value, orsa_physical_speed_text(code));
    char mc_type[HM_VALUE_SIZE] = "";
    if (gen == ORSA_ASIC_KS3) {
        HmNode *cm = internal_get_node(ks, "ChannelManagement", HM_KIND_GROUP);
        if (cm == nullptr || internal_get_property(cm, "CurrentManagementType", mc_type) != 0)
            return 1;
    } else if (gen == ORSA_ASIC_VESKARN) {
        char configured[HM_VALUE_SIZE] = "", reboot[HM_VALUE_SIZE] = "";
        if (ORSA_get_vkh_mc_type(ks, port_group, mc_type, configured, reboot) != 0)
            return 1;
    }
    char number[HM_VALUE_SIZE] = "";
    u32 port = 0;
    if (internal_get_property(port_group, "PortNumber", number) != 0 || !parse_decimal(number, 0, 63, &port))
        return 1;
    bool active = same(mc_type, "vNIC1") || same(mc_type, "UFP");
    ProfileConfig *profile = ORSA_get_profile(ks, active ? ORSA_CFG_ACTIVE : ORSA_CFG_CONFIGURED, 0, 0);
    if (profile == nullptr)
        return orsa_answer(property, value, 1);
    u32 share = 0;
    OrsaProfileWalk walk;
    orsa_profile_walk_begin(&walk, profile);
    while (const u8 *rec = orsa_profile_walk_next_of(&walk, ORSA_RES_FCOE_FUNCTION)) {
        if ((rec[52] & 0x3Fu) == port) {
            share = orsa_rd32(rec + 60);
            break;
        }
    }
    orsa_dfree(profile);
    if (code >= sizeof kPhysicalMb / sizeof kPhysicalMb[0])
        return orsa_store_and_answer(property, value, kLinkDown);
    if (share == 0)
        return orsa_store_and_answer(property, value, orsa_physical_speed_text(code));
    char text[HM_VALUE_SIZE];
    orsa_speed_text((unsigned long long)kPhysicalMb[code] * share / 10, text);
    return orsa_store_and_answer(property, value, text);
}
