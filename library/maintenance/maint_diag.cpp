/* An adapter's loopback and DMA tests, its ports' beacons and 10GBase-T
 * PHY tests, and the loopback support flag start-up sets. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/time.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "maintenance/maint_diag.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

namespace {

#define LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)

/* Statuses of the tests and the beacon, with their texts. */
struct StatusText {
    u32 code;
    const char *text;
};
const StatusText kTexts[] = {
    {6, "Invalid value."},
    {7, "Value out of range."},
    {52, "The Link Status is Down. Please check the cable."},
    {62, "Failed to perform loop back test. Application internal error occurred. Please check orsa2d.log file for "
         "more information."},
    {63, "Failed to perform DDR DMA test. Application internal error occurred. Please check orsa2d.log file for "
         "more information."},
    {67, "Source port number and destination port number should be same for MAC loopback, PHY loopback and one "
         "port loopback."},
    {68, "Source port number and destination port number should be different for two port loopback."},
    {78, "Invalid pattern value. Please provide a valid hexadecimal value."},
    {109, "Failed to obtain controller attributes. Application internal error occurred. Please check orsa2d.log "
          "file for more information."},
    {119, "Failed to enable/disable beacon."},
    {120, "Failed to get beacon state."},
    {134, "BeaconDuration or StatusDuration parameter is missing. Please provide the parameter value while "
          "enabling the beacon state."},
    {149, "This Operation is not supported."},
    {150, "Beaconing is not supported on this model of Kalderstone controller."},
    {155, "This loopback mode is not set. Please set loopback mode using EnterLoopBackMode command before running "
          "this test."},
    {167, "Maximum ByteCount supported for MACLoopBack is 4056."},
    {168, "PhyLoopBack is not supported on this controller."},
    {170, "Failed to get PhysicalHBA for the given SourcePortNumber."},
    {171, "No LoopBack Mode is set on this port."},
    {172, "The specified LoopBack mode is already set."},
    {198, "Loopback test failed because module is not inserted for loopback test."},
    {216, "TargetCable should be given when TestType is CrossTalk."},
    {217, "Failed to run 10BaseT SelfTest. Please check orsa2d.log file for more information."},
    {218, "Failed to run RunTDR test. Please check orsa2d.log file for more information."},
    {232, "Enter LoopBack Mode failed. Please check orsa2d.log file for more information."},
    {233, "Exit LoopBack Mode failed. Please check orsa2d.log file for more information."},
    {234, "Failed to get LoopBack Mode. Please check orsa2d.log file for more information."},
    {236, "Failed set Beacon. Beacon operation is already in active state."},
    {244, "Beacon is already in disabled state."},
    {248, "Failed to perform loop back test. An error occurred in the transmit path of the loopback test."},
    {249, "Failed to perform loop back test. An error occurred in the receive path of the loopback test."},
    {250, "Failed to perform loop back test. Data integrity failure in the transmitted vs received packet."},
    {251, "Failed to perform loop back test. Timed out on loopback test."},
    {256, "Performed operation is not supported on a SR-IOV virtual function."},
    {259, "This operation is not supported on this controller."},
    {324, "Loopback test is not supported on specific adapter"},
};

/* Sets code with this area's text and fails. */
u32 fail(u32 code)
{
    for (const StatusText &t : kTexts)
        if (t.code == code) {
            orsa_set_last_status(code, t.text);
            return 1;
        }
    orsa_set_status(code);
    return 1;
}

u32 fail_text(u32 code, const char *text)
{
    orsa_set_last_status(code, text);
    return 1;
}

constexpr u32 kMacLoopBack = 0, kPhyLoopBack = 1, kTwoPortLoopBack = 3;
constexpr u8 kNoLoopback = 255, kLoopbackUnsupported = 254;
constexpr u32 kMaxMacByteCount = 4056;
constexpr u32 kAttrSize = 540, kAttrPhyLoopback = 417;
constexpr u32 kDmaSize = 8208, kDmaData = 16, kDmaEcho = 4112, kDmaMax = 4096;
constexpr u32 kSelfTestSize = 555, kTdrSize = 24;

const char *const kLoopbackTypes[] = {"MacLoopBack", "PhyLoopBack", "OnePortLoopBack", "TwoPortLoopBack"};

bool given(const char *param)
{
    return param != nullptr && (u8)param[0] != ORSA_PARAM_NOT_GIVEN && param[0] != '\0';
}

/* A number with base prefixes ("0x", a leading 0); false for a negative
 * value or characters after it. */
bool parse_number(const char *text, u32 *out)
{
    if (!given(text))
        return false;
    char *end = nullptr;
    errno = 0;
    long long v = strtoll(text, &end, 0);
    if (end == text || *end != '\0' || v < 0 || errno == ERANGE || v > 0xFFFFFFFFll)
        return false;
    *out = (u32)v;
    return true;
}

/* A pattern of up to 64 bits in hexadecimal: 0, or 78 / 7 with the status set. */
u32 parse_pattern(const char *text, u64 *out)
{
    if (!given(text) || text[0] == '-' || text[0] == '+')
        return fail(78);
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 16);
    if (end == text || *end != '\0')
        return fail(78);
    if (errno == ERANGE)
        return fail(7);
    *out = v;
    return 0;
}

int loopback_type(const char *text)
{
    for (int i = 0; i < 4; ++i)
        if (text != nullptr && strcasecmp(text, kLoopbackTypes[i]) == 0)
            return i;
    return -1;
}

void put32(u8 *p, u32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (u8)(v >> (8 * i));
}

void put64(u8 *p, u64 v)
{
    put32(p, (u32)v);
    put32(p + 4, (u32)(v >> 32));
}

/* The port group of a controller whose PortNumber is `number`. */
HmNode *port_group(HmNode *ks, u32 number)
{
    char want[16];
    snprintf(want, sizeof want, "%u", (unsigned)number);
    for (HmNode *p = get_first_instance(ks, "PortDiscoveryAndConfiguration"); p != nullptr; p = hm_next_instance(p)) {
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(p, "PortNumber", text) == 0 && strcmp(text, want) == 0)
            return p;
    }
    return nullptr;
}

/* Where a command for physical port `number` of a port group goes: the
 * group's function, with the port's protocol flag. */
OrsaWhere port_where(HmNode *ks, HmNode *port, u32 number)
{
    OrsaWhere w;
    i32 instance = get_port_number(port);
    w.at = OrsaPort{instance > 0 ? (u32)instance : 0, (i32)get_port_bitmap((i32)get_ks_instance(ks), (i32)number)};
    w.domain = (u8)get_domain_id(port);
    w.phba_port = (u8)get_phba_port_number(port);
    return w;
}

/* The PortNumber of a port group. */
bool port_number(HmNode *port, u32 *out)
{
    char text[HM_VALUE_SIZE] = "";
    if (port == nullptr || internal_get_property(port, "PortNumber", text) != 0)
        return false;
    return parse_number(text, out);
}

/* The i32 result of the 32-bit arithmetic the results are defined in. */
i32 wrap(u32 v)
{
    return (i32)v;
}

/* a * b / d in signed 32-bit arithmetic, the product wrapping as it does
 * there (d is at least 1). */
i32 scaled(i32 a, i32 b, i32 d)
{
    return wrap((u32)a * (u32)b) / d;
}

const char *const kResultNames[] = {"TotalTestCycles",     "TotalCompleteCycles", "TotalErrorCycles",
                                    "SendErrorCount",      "ReceiveErrorCount",   "DataMiscompareCount",
                                    "TotalCompleteCount"};

u32 set_results(HmNode *diag, const i32 values[7])
{
    u32 rc = 0;
    for (int i = 0; i < 7; ++i)
        rc |= set_prop_val(diag, kResultNames[i], "%d", (int)values[i]);
    return rc;
}

void zero_results(HmNode *diag)
{
    const i32 zero[7] = {};
    set_results(diag, zero);
}

/* What the three loopback actions check first. */
struct LoopFront {
    HmNode *ks = nullptr;
    HmNode *port = nullptr;
    u32 asic = 0;
    u32 src = 0, dst = 0;
    OrsaWhere w;
};

u32 loopback_front(HmNode *diag, const char *src_text, const char *dst_text, bool enter, LoopFront *f)
{
    if (vm_flag)
        return fail(ORSA_STATUS_VF_REFUSED);
    f->ks = orsa_controller_of(diag);
    char supported[HM_VALUE_SIZE] = "";
    if (f->ks == nullptr || internal_get_property(diag, "IsLoopBackSupported", supported) != 0)
        return 1;
    if (strstr(supported, "False") != nullptr)
        return fail(324);
    f->asic = get_ks_type(f->ks);
    if (f->asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (!parse_number(src_text, &f->src))
        return fail_text(6, "SourcePortNumber: Invalid Value.");
    if (!parse_number(dst_text, &f->dst))
        return fail_text(6, "DestinationPortNumber: Invalid Value.");
    i32 controller = (i32)get_ks_instance(f->ks);
    if (f->src > 3 || get_port_bitmap(controller, (i32)f->src) == ORSA_PROTO_NONE)
        return fail_text(ORSA_STATUS_NO_PHBA_FOR_PORT, "There is no PhysicalHBA for the given SourcePortNumber.");
    if (f->dst > 3 || get_port_bitmap(controller, (i32)f->dst) == ORSA_PROTO_NONE)
        return fail_text(ORSA_STATUS_NO_PHBA_FOR_PORT,
                         enter ? "There is no PhysicalHBA for the given DestinationPortNumber."
                               : "There is no PhysicalHBA for thie given DestinationPortNumber.");
    f->port = port_group(f->ks, f->src);
    if (f->port == nullptr)
        return fail(170);
    f->w = port_where(f->ks, f->port, f->src);
    return 0;
}

/* 67 / 68: one port for the MAC, PHY and one-port modes, two for two-port. */
u32 check_ports(u32 mode, u32 src, u32 dst)
{
    if (mode != kTwoPortLoopBack && src != dst)
        return fail(67);
    if (mode == kTwoPortLoopBack && src == dst)
        return fail(68);
    return 0;
}

/* The port's loopback mode; a failed query leaves 153 standing, else 234. */
u32 query_mode(const LoopFront &f, u8 *mode)
{
    u8 q[4] = {(u8)f.src, 0, 0, 0};
    u32 rc = ioctl_get_loopbackmode(f.w.at, q, f.w.domain, f.w.phba_port);
    if (rc == 153)
        return 1;
    if (rc != 0)
        return fail(234);
    *mode = q[0];
    return 0;
}

/* PHY loopback needs the adapter to offer it (all but Pivard say so in
 * their attributes): 0, 168, or 109 with the command's result. */
u32 phy_loopback_offered(const LoopFront &f)
{
    u8 *attr = (u8 *)orsa_dzalloc(kAttrSize);
    if (attr == nullptr)
        return fail(ORSA_STATUS_NO_MEMORY);
    u32 rc = ioctl_fetch_controller_attribs(f.w.at, attr, f.w.domain, (u8)f.src);
    bool offered = rc == 0 && (attr[kAttrPhyLoopback] & 1) != 0;
    orsa_dfree(attr);
    if (rc != 0) {
        fail(109);
        return rc;
    }
    return offered ? 0 : fail(168);
}

}  // namespace

/* ---- loopback ---- */

u32 ORSA_update_diagnostics_prop(HmNode *controller)
{
    HmNode *diag = controller != nullptr ? internal_get_node(controller, "Diagnostics", HM_KIND_GROUP) : nullptr;
    HmNode *port = controller != nullptr ? get_first_instance(controller, "PortDiscoveryAndConfiguration") : nullptr;
    u32 number = 0;
    if (diag == nullptr || port == nullptr || !port_number(port, &number))
        return 1;
    OrsaWhere w = port_where(controller, port, number);
    u8 q[4] = {(u8)number, 0, 0, 0};
    if (ioctl_get_loopbackmode(w.at, q, w.domain, w.phba_port) != 0)
        return 1;
    return set_prop_val(diag, "IsLoopBackSupported", "%s", q[0] == kLoopbackUnsupported ? "False" : "True") != 0
               ? 1
               : 0;
}

u32 do_EnterLoopBackMode(HmNode *diag, HmNode *, HmValueSlot *params)
{
    if (diag == nullptr || params == nullptr)
        return 1;
    LoopFront f;
    if (loopback_front(diag, params[0], params[1], true, &f) != 0)
        return 1;
    int mode = loopback_type(params[2]);
    if (mode < 0)
        return fail(6);
    if (check_ports((u32)mode, f.src, f.dst) != 0)
        return 1;
    u8 current = 0;
    if (query_mode(f, &current) != 0)
        return 1;
    if (current == (u8)mode)
        return fail(172);
    if (mode == (int)kPhyLoopBack && f.asic != ORSA_ASIC_PIVARD) {
        u32 rc = phy_loopback_offered(f);
        if (rc != 0)
            return rc;
    }
    u8 set[4] = {(u8)f.src, (u8)f.dst, (u8)mode, 1};
    u32 rc = ioctl_set_loopbackmode(f.w.at, set, f.w.domain, f.w.phba_port);
    if (rc == 0)
        return 0;
    if (rc == 153 || rc == 154)
        return 1;
    return fail(232);
}

u32 do_ExitLoopBackMode(HmNode *diag, HmNode *, HmValueSlot *params)
{
    if (diag == nullptr || params == nullptr)
        return 1;
    LoopFront f;
    if (loopback_front(diag, params[0], params[1], false, &f) != 0)
        return 1;
    u8 current = 0;
    if (query_mode(f, &current) != 0)
        return 1;
    if (current == kNoLoopback)
        return fail(171);
    if (current <= 2 && f.src != f.dst)
        return fail(67);
    if (current == kTwoPortLoopBack && f.src == f.dst)
        return fail(68);
    u8 set[4] = {(u8)f.src, (u8)f.dst, kNoLoopback, 0};
    u32 rc = ioctl_set_loopbackmode(f.w.at, set, f.w.domain, f.w.phba_port);
    if (rc == 0)
        return 0;
    if (rc == 153)
        return 1;
    return fail(233);
}

u32 ORSA_check_loop_back_status(u32 test_status)
{
    switch (test_status) {
    case 0:
        return 0;
    case 1:
        return fail(248);
    case 2:
        return fail(249);
    case 3:
        return fail(250);
    case 4:
        return fail(251);
    case 5:
        return fail(52);
    default:
        return fail(62);
    }
}

u32 do_NetworkLoopBackTest(HmNode *diag, HmNode *, HmValueSlot *params)
{
    if (diag == nullptr || params == nullptr)
        return 1;
    LoopFront f;
    if (loopback_front(diag, params[3], params[4], false, &f) != 0)
        return 1;
    int mode = loopback_type(params[5]);
    if (mode < 0)
        return fail(6);
    if (mode == (int)kPhyLoopBack && f.asic != ORSA_ASIC_PIVARD) {
        u32 rc = phy_loopback_offered(f);
        if (rc != 0)
            return rc;
    }
    u64 pattern = 0;
    if (parse_pattern(params[0], &pattern) != 0)
        return 1;
    if (check_ports((u32)mode, f.src, f.dst) != 0)
        return 1;
    u32 bytes = 0, loops = 0;
    if (!parse_number(params[1], &bytes))
        return fail(6);
    if (mode == (int)kMacLoopBack && bytes > kMaxMacByteCount)
        return fail(167);
    /* The results divide by the loop count: a count of 0 would be no test. */
    if (!parse_number(params[2], &loops) || loops == 0 || loops > 0x7FFFFFFF)
        return fail(6);

    u8 req[28] = {};
    put32(req + 0, (u32)mode);
    put32(req + 4, loops);
    put64(req + 8, pattern);
    put32(req + 16, f.src);
    put32(req + 20, f.dst);
    put32(req + 24, bytes);
    u32 rc = ioctl_loop_back_test(f.w.at, req, f.w.domain, f.w.phba_port);
    if (rc != 0) {
        if (rc == 153)
            return 1;
        fail(rc == 155 || rc == 198 ? rc : 62);
        zero_results(diag);
        return 1;
    }
    u32 result = ORSA_check_loop_back_status(orsa_rd32(req));
    i32 count = (i32)loops;
    i32 elapsed = wrap(orsa_rd32(req + 16));
    if (elapsed == 0)
        elapsed = 1;
    i32 s = wrap(loops - orsa_rd32(req + 4));
    i32 r = wrap(loops - orsa_rd32(req + 8));
    i32 e = wrap((u32)s + (u32)r);
    const i32 values[7] = {elapsed, scaled(wrap(loops - (u32)e), elapsed, count), scaled(e, elapsed, count), s,
                           r,       r,                                          wrap(loops - (u32)e)};
    return result | set_results(diag, values);
}

/* ---- DMA ---- */

u32 do_HostToDDRDMATest(HmNode *diag, HmNode *, HmValueSlot *params)
{
    HmNode *ks = orsa_controller_of(diag);
    if (ks == nullptr || params == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    if (asic == ORSA_ASIC_PIVARD)
        return fail(ORSA_STATUS_NOT_SUPPORTED);
    HmNode *phba = orsa_first_phba(ks);
    if (phba == nullptr)
        return 1;
    OrsaWhere w = orsa_where_of(phba);
    u64 pattern = 0;
    if (parse_pattern(params[0], &pattern) != 0)
        return 1;
    u32 bytes = 0, loops = 0;
    if (!parse_number(params[1], &bytes) || !parse_number(params[2], &loops))
        return fail(6);
    /* The results divide by the loops, and the send area holds 4096 bytes. */
    if (loops == 0 || loops > 0x7FFFFFFF)
        return fail(6);
    if (bytes > kDmaMax)
        return fail(7);
    bytes &= ~7u;

    u8 *buffer = (u8 *)orsa_dzalloc(kDmaSize);
    u8 *sent = (u8 *)orsa_dmalloc(kDmaMax);
    if (buffer == nullptr || sent == nullptr) {
        orsa_dfree(buffer);
        orsa_dfree(sent);
        return fail(ORSA_STATUS_NO_MEMORY);
    }
    put64(buffer, pattern);
    put32(buffer + 8, bytes);
    for (u32 k = 0; k < bytes; ++k)
        buffer[kDmaData + k] = (u8)(pattern >> (8 * (k % 8)));

    struct timeval start, end;
    orsa_host_now(&start);
    u32 send_errors = 0, miscompares = 0;
    u32 rc = 0;
    for (u32 i = 0; i < loops; ++i) {
        memcpy(sent, buffer + kDmaData, bytes);
        rc = ioctl_ddr_dma_test(w.at, buffer, w.domain, w.phba_port);
        if (rc != 0)
            break;
        if (memcmp(buffer + kDmaEcho, sent, bytes) != 0)
            ++miscompares;
        if (orsa_rd32(buffer + 12) != 0)
            ++send_errors;
    }
    orsa_host_now(&end);
    orsa_dfree(buffer);
    orsa_dfree(sent);
    if (rc != 0) {
        zero_results(diag);
        return fail(63);
    }
    double us = ((double)(end.tv_sec - start.tv_sec) * 1000000.0 + (double)(end.tv_usec - start.tv_usec)) / 1000.0;
    i32 m = (i32)us;
    i32 count = (i32)loops;
    i32 e = wrap(send_errors + miscompares);
    const i32 values[7] = {m, scaled(m, wrap(loops - (u32)e), count), scaled(e, m, count), wrap(send_errors),
                           wrap(miscompares), wrap(miscompares), wrap(loops - (u32)e)};
    return set_results(diag, values);
}

/* ---- beacon ---- */

u32 handle_BeaconState(HmNode *property, char *value, u32)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (vm_flag)
        return orsa_refuse_in_vf(value);
    HmNode *port = property->parent;
    HmNode *ks = orsa_controller_of(port);
    u32 number = 0;
    if (ks == nullptr || !port_number(port, &number))
        return 1;
    OrsaWhere w = port_where(ks, port, number);
    u8 q[4] = {(u8)number, 0, 0, 0};
    u32 rc = ioctl_get_beacon_state(w.at, q, w.domain, w.phba_port);
    if (rc == ORSA_STATUS_UNSUPPORTED_OP)
        return orsa_store_and_answer(property, value, "Not Supported");
    if (rc != 0)
        return fail(120);
    return orsa_store_and_answer(property, value, q[0] == 1 ? "Enabled" : "Disabled");
}

u32 do_Beacon(HmNode *port, HmNode *, HmValueSlot *params)
{
    if (port == nullptr || params == nullptr)
        return 1;
    char current[HM_VALUE_SIZE] = "";
    if (internal_get_property(port, "BeaconState", current) != 0)
        return 1;
    if (strcmp(current, "Not Supported") == 0)
        return fail(150);
    bool enable = strcasecmp(params[2], "Enabled") == 0;
    if (!enable && strcasecmp(params[2], "Disabled") != 0)
        return fail(6);
    if (!enable && strcmp(current, "Disabled") == 0) {
        fail(244);
        return 0;
    }
    u32 durations[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        if (!given(params[i])) {
            if (enable)
                return fail(134);
            continue;
        }
        char *end = nullptr;
        unsigned long v = strtoul(params[i], &end, 10);
        if (*end != '\0' || v > 255)
            return fail(7);
        durations[i] = (u32)v;
    }
    HmNode *ks = orsa_controller_of(port);
    u32 number = 0;
    if (ks == nullptr || !port_number(port, &number))
        return 1;
    OrsaWhere w = port_where(ks, port, number);
    u8 set[4] = {(u8)number, (u8)(enable ? 1 : 0), (u8)durations[0], (u8)durations[1]};
    u32 rc = ioctl_set_beacon_state(w.at, set, w.domain, w.phba_port);
    if (rc == 0)
        return 0;
    if (rc == 236 || rc == ORSA_STATUS_UNSUPPORTED_OP)
        return fail(rc);
    return fail(119);
}

/* ---- 10GBase-T PHY tests ---- */

namespace {

/* The port group of a BaseT10G group, its PortNumber and where its
 * commands go; false (result 1) when it has none. */
bool baset_port(HmNode *baset, u32 *number, OrsaWhere *w)
{
    HmNode *port = baset != nullptr ? baset->parent : nullptr;
    HmNode *ks = orsa_controller_of(port);
    if (ks == nullptr || !port_number(port, number))
        return false;
    *w = port_where(ks, port, *number);
    return true;
}

int pair_of(const char *text)
{
    static const char *const kPairs[] = {"PairA", "PairB", "PairC", "PairD"};
    for (int i = 0; i < 4; ++i)
        if (text != nullptr && strcasecmp(text, kPairs[i]) == 0)
            return i;
    return -1;
}

}  // namespace

u32 do_SelfTest(HmNode *baset, HmNode *, HmValueSlot *params)
{
    u32 number = 0;
    OrsaWhere w;
    if (params == nullptr || !baset_port(baset, &number, &w))
        return 1;
    static const struct {
        const char *name;
        u32 code;
    } kTypes[] = {{"Noise", 1}, {"NonLinear", 2}, {"CrossTalk", 5}};
    u32 type = 0;
    for (const auto &t : kTypes)
        if (strcasecmp(params[0], t.name) == 0)
            type = t.code;
    int source = pair_of(params[1]);
    if (type == 0 || source < 0)
        return fail(6);
    int target = 0;
    if (type == 5) {
        if (!given(params[2]))
            return fail(216);
        target = pair_of(params[2]);
        if (target < 0)
            return fail(6);
    }
    /* A port of neither kind has no function to run the test. */
    if (w.at.protocol != ORSA_PROTO_ISCSI && w.at.protocol != ORSA_PROTO_NIC)
        return fail(217);
    u8 *req = (u8 *)orsa_dzalloc(kSelfTestSize);
    if (req == nullptr)
        return fail(ORSA_STATUS_NO_MEMORY);
    put32(req + 0, number);
    put32(req + 4, type);
    put32(req + 8, (u32)source);
    put32(req + 12, (u32)target);
    u32 rc = ioctl_run_selftest(w.at, req, w.domain, w.phba_port);
    u32 result = orsa_rd32(req);
    orsa_dfree(req);
    if (rc != 0)
        return fail(217);
    return set_prop_val(baset, "SelfTestResult", "%d", (int)result) != 0 ? 1 : 0;
}

u32 do_RunTDR(HmNode *baset, HmNode *, HmValueSlot *)
{
    u32 number = 0;
    OrsaWhere w;
    if (!baset_port(baset, &number, &w))
        return 1;
    u8 req[kTdrSize] = {};
    put32(req, number);
    if (ioctl_run_tdr_test(w.at, req, w.domain, w.phba_port) != 0)
        return fail(218);
    static const char *const kResults[] = {"PairAResult", "PairBResult", "PairCResult", "PairDResult"};
    static const char *const kLengths[] = {"PairALengthEstimation", "PairBLengthEstimation", "PairCLengthEstimation",
                                           "PairDLengthEstimation"};
    u32 status = orsa_rd32(req);
    u32 rc = 0;
    for (int i = 0; i < 4; ++i) {
        u32 pair = (status >> (4 * i)) & 0xF;
        rc |= set_prop_val(baset, kResults[i], "%u", (unsigned)pair);
        /* A pair that reports no length keeps its last estimate. */
        if (pair != 1)
            rc |= set_prop_val(baset, kLengths[i], "%u", (unsigned)(orsa_rd32(req + 4 + 4 * i) * 10u));
    }
    rc |= set_prop_val(baset, "NVPUsed", "%u", (unsigned)orsa_rd32(req + 20));
    return rc != 0 ? 1 : 0;
}
