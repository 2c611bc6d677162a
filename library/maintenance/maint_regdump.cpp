/* PCI configuration bytes of a function and a transceiver page of a port,
 * handed to the client as hexadecimal text in the last status. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_handler_util.h"
#include "maintenance/maint_dump.h"

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;
const u32 kReadSize = 264;
const u32 kConfigBytes = 256;
const size_t kText = 600;

void param_text(const HmValueSlot &slot, char *out)
{
    if ((u8)slot[0] == ORSA_PARAM_NOT_GIVEN)
        out[0] = '\0';
    else
        orsa_strlcpy(out, slot, HM_VALUE_SIZE);
}

u32 number(const HmValueSlot &slot)
{
    char text[HM_VALUE_SIZE];
    param_text(slot, text);
    return (u32)strtoul(text, nullptr, 0);
}

/* Items of `width` characters, a line feed before every 16th after the
 * first; the whole cut to 599 characters. */
template <typename Item>
void format(u32 items, Item item, char out[kText])
{
    char full[2048];
    size_t used = 0;
    full[0] = '\0';
    for (u32 i = 0; i < items && used + 16 < sizeof full; i++) {
        if (i > 0 && i % 16 == 0)
            full[used++] = '\n';
        used += (size_t)item(i, full + used, sizeof full - used);
    }
    full[used] = '\0';
    orsa_strlcpy(out, full, kText);
}

u32 config_dump(HmNode *pci, HmNode *action, HmValueSlot *params, i32 protocol)
{
    if (pci == nullptr || params == nullptr)
        return 1;
    HmNode *node = action != nullptr ? action : pci;
    OrsaWhere w = orsa_where_of(node);
    u32 offset = number(params[0]), count = number(params[1]);
    u8 req[kReadSize] = {};
    memcpy(req, &offset, 4);
    memcpy(req + 4, &count, 4);
    if (w.at.protocol != protocol ||
        ioctl_read_pci_conf(OrsaPort{w.at.instance, protocol}, req, w.domain, w.phba_port) != 0) {
        orsa_set_status(ORSA_STATUS_CONFIG_REGION_FAILED);
        return 1;
    }
    char text[kText];
    orsa_format_config_bytes(req + 8, offset, count, text);
    orsa_set_last_status(ORSA_STATUS_CONFIG_DUMP, text);
    return 0;
}

}  // namespace

void orsa_format_config_bytes(const u8 *bytes, u32 offset, u32 count, char out[kText])
{
    u32 items = offset >= kConfigBytes ? 0 : kConfigBytes - offset;
    if (count < items)
        items = count;
    format(items, [bytes](u32 i, char *at, size_t room) { return snprintf(at, room, "%02x ", bytes[i]); }, out);
}

void orsa_format_transceiver_words(const u8 *words, char out[kText])
{
    format(64, [words](u32 i, char *at, size_t room) { return snprintf(at, room, "%08x ", orsa_rd32(words + 4 * i)); },
           out);
}

u32 do_DumpNICPCIConfigRegion(HmNode *pci, HmNode *action, HmValueSlot *params)
{
    HmNode *ks = pci != nullptr && pci->parent != nullptr ? pci->parent->parent : nullptr;
    if (ks == nullptr || params == nullptr)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:controller type unknown\n", __func__);
        return 1;
    }
    if (asic == ORSA_ASIC_PIVARD) {
        OrsaWhere w = orsa_where_of(action != nullptr ? action : pci);
        char text[kText] = "";
        if (w.at.protocol != ORSA_PROTO_NIC ||
            ORSA_get_pivard_pci_data(w.at.instance, number(params[0]), number(params[1]), text) != 0)
            return 1;
        orsa_set_last_status(ORSA_STATUS_CONFIG_DUMP, text);
        return 0;
    }
    return config_dump(pci, action, params, ORSA_PROTO_NIC);
}

u32 do_DumpiSCSIPCIConfigRegion(HmNode *pci, HmNode *action, HmValueSlot *params)
{
    return config_dump(pci, action, params, ORSA_PROTO_ISCSI);
}

u32 do_DumpTransceiverData(HmNode *port_group, HmNode *action, HmValueSlot *params)
{
    if (port_group == nullptr || params == nullptr)
        return 1;
    char wire[HM_VALUE_SIZE];
    param_text(params[0], wire);
    u32 page = strcasecmp(wire, "A0") == 0 ? 0xA0 : 0xA2;
    PortAddress pa;
    if (orsa_get_port_address(action != nullptr ? action : port_group, &pa) != 0)
        return 1;
    u8 req[kReadSize] = {};
    memcpy(req, &page, 4);
    req[4] = (u8)(pa.phba_port & 0x3F);
    u32 rc = ioctl_pivard_read_trans_recv(OrsaPort{(u32)pa.port_number, (i32)pa.protocol}, req, (u8)pa.domain_id,
                                          (u8)pa.phba_port);
    if (rc == ORSA_STATUS_UNSUPPORTED_OP) {
        orsa_set_status(ORSA_STATUS_TRANSCEIVER_UNSUPPORTED);
        return 1;
    }
    if (rc != 0) {
        orsa_set_status(ORSA_STATUS_TRANSCEIVER_FAILED);
        return 1;
    }
    char text[kText];
    orsa_format_transceiver_words(req + 8, text);
    orsa_set_last_status(ORSA_STATUS_TRANSCEIVER_DUMP, text);
    return 0;
}
