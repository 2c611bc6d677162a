/* The DCBX configuration block, the MIB layout and the mode texts. */
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "config/cfg_dcbx.h"

#include "backend/orsa_ioctl_wrappers.h"

OrsaWhere orsa_dcbx_port_where(u32 port, u32 phba_port, u32 domain, u32 controller)
{
    // A port of neither class goes with its bitmap value as it is; the
    // gateway refuses it without sending.
    OrsaWhere w;
    w.at = OrsaPort{port, (i32)get_port_bitmap((i32)controller, (i32)phba_port)};
    w.domain = (u8)domain;
    w.phba_port = (u8)phba_port;
    return w;
}

bool orsa_dcbx_where(HmNode *node, OrsaWhere *w)
{
    PortAddress pa;
    if (node == nullptr || orsa_get_port_address(node, &pa) != 0)
        return false;
    *w = orsa_dcbx_port_where((u32)pa.port_number, (u32)pa.phba_port, pa.domain_id, get_ks_instance(node));
    return true;
}

u32 orsa_dcbx_read(const OrsaWhere &w, u32 view, u32 version, u8 *block)
{
    memset(block, 0, orsa_dcbx_size(version));
    block[0] = (u8)view;
    if (version == 1)
        return ioctl_get_dcbx_cfg_params_v1(w.at, block, w.domain, w.phba_port);
    return ioctl_get_dcbx_cfg_params(w.at, block, w.domain, w.phba_port);
}

void orsa_dcbx_write_request(const u8 *reply, u32 version, u8 *request)
{
    memset(request, 0, orsa_dcbx_size(version));
    request[ORSA_DCBX_STATE] = reply[ORSA_DCBX_STATE];
    request[ORSA_DCBX_REQ_APP_COUNT] = reply[ORSA_DCBX_APP_COUNT];
    memcpy(request + ORSA_DCBX_PG_FLAGS, reply + ORSA_DCBX_PG_FLAGS, 8);
    if (version == 1)
        memcpy(request + ORSA_DCBX_QCN_FLAGS, reply + ORSA_DCBX_QCN_FLAGS, 4);
    memcpy(request + ORSA_DCBX_APP_FLAGS, reply + ORSA_DCBX_APP_FLAGS, 4);
    memcpy(request + ORSA_DCBX_PG_BANDWIDTH, reply + ORSA_DCBX_PG_BANDWIDTH,
           ORSA_DCBX_V0_SIZE - ORSA_DCBX_PG_BANDWIDTH);
    if (version == 1)
        request[ORSA_DCBX_QCN_CNPV] = reply[ORSA_DCBX_QCN_CNPV];
}

u32 orsa_dcbx_write(const OrsaWhere &w, u32 version, u8 *request)
{
    if (version == 1)
        return ioctl_set_dcbx_cfg_params_v1(w.at, request, w.domain, w.phba_port);
    return ioctl_set_dcbx_cfg_params(w.at, request, w.domain, w.phba_port);
}

u8 orsa_dcbx_app_members(const u8 *entry)
{
    u8 bitmap = 0;
    for (u32 k = 0; k < 8; k++)
        if (entry[ORSA_DCBX_APP_MEMBERS + k] == 1)
            bitmap |= (u8)(1u << k);
    return bitmap;
}

void orsa_dcbx_app_set_members(u8 *entry, u8 bitmap)
{
    for (u32 k = 0; k < 8; k++)
        entry[ORSA_DCBX_APP_MEMBERS + k] = (u8)((bitmap >> k) & 1u);
}

u8 orsa_dcbx_pg_members(const u8 *block, u32 pg)
{
    u8 bitmap = 0;
    for (u32 k = 0; k < 8; k++)
        if (block[ORSA_DCBX_PG_IDS + ORSA_DCBX_PG_ID_SLOT * k] == pg)
            bitmap |= (u8)(1u << k);
    return bitmap;
}

u32 orsa_dcbx_app_entry_index(HmNode *instance)
{
    HmInstanceInfo *info = instance != nullptr ? hm_instance_info(instance) : nullptr;
    return info != nullptr && info->number >= 0 ? (u32)info->number : 0;
}

bool orsa_dcbx_parse_bitmap(const char *text, u8 *bitmap)
{
    if (text == nullptr)
        return false;
    char *end = nullptr;
    errno = 0;
    long n = strtol(text, &end, 0);
    // Bits above 7 name no priority: taking the low byte would silently
    // clear or move priorities the caller never mentioned.
    if (end == text || *end != '\0' || errno != 0 || n < 0 || n > 0xFF)
        return false;
    *bitmap = (u8)n;
    return true;
}

namespace {

const char *const kModes[] = {"CEE", "CIN", "Auto-CEE", "Auto-IEEE"};

}  // namespace

const char *orsa_dcbx_mode_text(u32 code)
{
    return code < sizeof kModes / sizeof kModes[0] ? kModes[code] : nullptr;
}

int orsa_dcbx_mode_code(const char *text)
{
    for (u32 code = 0; text != nullptr && code < sizeof kModes / sizeof kModes[0]; code++)
        if (strcasecmp(text, kModes[code]) == 0)
            return (int)code;
    return -1;
}

const OrsaDcbxMibField orsa_dcbx_mib_fields[ORSA_DCBX_MIB_FIELDS] = {
    {"OperatingVersion", false, 1, 2, 2},
    {"MaxVersion", false, 1, 3, 3},
    {"SequenceNumber", false, 4, 4, 4},
    {"AckNumber", false, 4, 8, 8},
    {"PeerSequenceNumber", false, 4, 12, 12},
    {"PeerAckNumber", false, 4, 16, 16},
    {"AppFeatureSequenceNumber", false, 4, 36, 20},
    {"PGFeatureSequenceNumber", false, 4, 40, 24},
    {"PFCFeatureSequenceNumber", false, 4, 44, 28},
    {"TxPacketCount", true, 4, 64, 32},
    {"RxPacketCount", true, 4, 68, 36},
    {"NumPacketsDropped", true, 4, 76, 44},
};

void orsa_dcbx_mib_values(const u8 *reply, bool pivard, u32 values[ORSA_DCBX_MIB_FIELDS])
{
    for (u32 i = 0; i < ORSA_DCBX_MIB_FIELDS; i++) {
        const OrsaDcbxMibField &f = orsa_dcbx_mib_fields[i];
        const u8 *p = reply + (pivard ? f.offset_pivard : f.offset);
        values[i] = f.width == 1 ? p[0] : orsa_rd32(p);
    }
}
