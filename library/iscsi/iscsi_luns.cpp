// LUNs and SCSI pass-through through the adapter's open sessions
// (iscsi_targets.h).
#include <cstdlib>

#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi/iscsi_util.h"
#include "schema/builders.h"
#include "tree/hm_convert.h"

using namespace iscsi;

namespace {

const char kLunInfoText[] =
    "Failed to get LUN info. Application internal error occurred. Please check orsa2d.log file for more information.";

orsa_lun_handle *lun_record(HmNode *lun)
{
    return lun != nullptr && lun->body != nullptr ? static_cast<orsa_lun_handle *>(HM_GROUP(lun)->nhandle) : nullptr;
}

// The request's LUN field: the handle record's first eight bytes read as a
// little-endian number, written most significant byte first.
void request_lun(const orsa_lun_handle *h, uint8_t out[8])
{
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(h);
    for (int i = 0; i < 8; i++)
        out[i] = raw[7 - i];
}

uint32_t fail90(uint32_t rc)
{
    if (rc == 90)
        orsa_set_last_status(90, kLunInfoText);
    return rc;
}

// The target's first session and its handle record.
bool first_session(HmNode *target, orsa_session_handle **h)
{
    HmNode *s = target != nullptr ? get_first_instance(target, "Session") : nullptr;
    *h = orsa_session_record(s);
    return *h != nullptr;
}

// What a command to a LUN is sent through: the target's first session, the
// adapter the LUN sits on and the LUN field of the request.
struct LunPath {
    orsa_session_handle *h = nullptr;
    Where w;
    uint8_t addr[8];
};

// False when the target has no session or the LUN no handle record.
bool lun_path(HmNode *lun, LunPath *p)
{
    orsa_lun_handle *l = lun_record(lun);
    if (!first_session(lun->parent, &p->h) || l == nullptr)
        return false;
    p->w = where_of(lun);
    request_lun(l, p->addr);
    return true;
}

// An INQUIRY whose answer (copy bytes of it) is handed out.
uint32_t inquiry(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                 const uint8_t cdb[16], uint32_t length, uint8_t *out, size_t copy)
{
    uint8_t *data = nullptr;
    uint32_t rc = ConstructSCSIParams(port, domain, phba, session_handle, lun, 1, cdb, length, &data);
    if (rc != 0)
        return fail90(rc);
    memcpy(out, data, copy);
    orsa_dfree(data);
    return 0;
}

// Refreshes LUNSize and BlockSize of a LUN through the target's first session.
uint32_t get_read_capacity(HmNode *lun)
{
    LunPath p;
    if (!lun_path(lun, &p))
        return 1;
    uint8_t *data = nullptr;
    uint32_t rc = FetchReadCapacityData(p.h->port, p.w.domain, p.w.phba, p.h->session_handle, p.addr, 0, &data);
    if (rc != 0)
        return rc;
    uint64_t last = be32(data);
    uint32_t block = be32(data + 4);
    orsa_dfree(data);
    bool sixteen = false;
    if (last == 0xFFFFFFFFu) {
        rc = FetchReadCapacityData(p.h->port, p.w.domain, p.w.phba, p.h->session_handle, p.addr, 1, &data);
        if (rc != 0)
            return rc;
        last = ((uint64_t)be32(data) << 32) | be32(data + 4);
        block = be32(data + 8);
        orsa_dfree(data);
        sixteen = true;
    }
    char size[HM_VALUE_SIZE];
    orsa_lun_size_text((last + 1) * (uint64_t)block, sixteen, size);
    uint32_t w1 = set_prop_val(lun, "BlockSize", "%d", (int)block);
    return w1 | set_prop_val(lun, "LUNSize", "%s", size);
}

uint32_t get_std_inquiry_props(HmNode *lun)
{
    LunPath p;
    if (!lun_path(lun, &p))
        return 1;
    uint8_t inq[36] = {};
    uint32_t rc = FetchScsiInquiryData(p.h->port, p.w.domain, p.w.phba, p.h->session_handle, p.addr, inq);
    if (rc != 0)
        return rc;
    char vendor[9] = {}, model[17] = {};
    memcpy(vendor, inq + 8, 8);
    memcpy(model, inq + 16, 16);
    uint32_t wr = set_prop_val(lun, "LUNType", "0x%x", inq[0] & 31);
    wr |= set_prop_val(lun, "DeviceVendorName", "%s", vendor);
    wr |= set_prop_val(lun, "DeviceModelNumber", "%s", model);
    if (wr != 0)
        return 1;
    uint8_t page[255] = {};
    rc = FetchLSNInquiryData(p.h->port, p.w.domain, p.w.phba, p.h->session_handle, p.addr, page);
    if (rc != 0)
        return rc;
    char serial[256];
    orsa_serial_number(page, sizeof page, serial);
    return set_prop_val(lun, "LUNSerialNumber", "%s", serial);
}

// Runs a refresh and, when it fails, once more.
template <typename Fn> uint32_t twice(Fn fn)
{
    uint32_t rc = fn();
    if (rc != 0)
        rc = fn();
    return rc;
}

// Reading one of these LUN properties refreshes the LUN's values first; the
// answer says whether that worked.
uint32_t refreshed(HmNode *property, char *value, uint32_t mode, uint32_t (*refresh)(HmNode *))
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 0;
    HmNode *lun = property->parent;
    return orsa_answer(property, value, twice([&] { return refresh(lun); }) != 0 ? 1 : 0);
}

} // namespace

// ---- bounded readers ----

uint32_t orsa_report_luns_entries(const uint8_t *answer, uint32_t length)
{
    if (answer == nullptr || length < 8)
        return 0;
    uint32_t n = be32(answer) / 8;
    uint32_t held = (length - 8) / 8;
    if (n > held)
        n = held;
    return n > ORSA_MAX_LUNS_PER_SESSION ? ORSA_MAX_LUNS_PER_SESSION : n;
}

void orsa_serial_number(const uint8_t *page, uint32_t length, char out[256])
{
    out[0] = '\0';
    if (page == nullptr || length < 4)
        return;
    uint32_t n = page[3];
    if (n > length - 4)
        n = length - 4;
    memcpy(out, page + 4, n);
    out[n] = '\0';
}

void orsa_lun_size_text(uint64_t bytes, bool sixteen, char out[HM_VALUE_SIZE])
{
    float s = (float)bytes;
    if (sixteen && bytes >= (1ull << 40))
        snprintf(out, HM_VALUE_SIZE, "%0.2f TB", (double)(s / (float)(1ull << 40)));
    else if (bytes >= (1ull << 30))
        snprintf(out, HM_VALUE_SIZE, "%0.2f GB", (double)(s / (float)(1ull << 30)));
    else if (bytes >= (1ull << 20))
        snprintf(out, HM_VALUE_SIZE, "%0.2f MB", (double)(s / (float)(1ull << 20)));
    else if (bytes >= (1ull << 10))
        snprintf(out, HM_VALUE_SIZE, "%0.2f KB", (double)(s / (float)(1ull << 10)));
    else
        snprintf(out, HM_VALUE_SIZE, "%d Bytes", (int)bytes);
}

// ---- the commands ----

uint32_t ConstructSCSIParams(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                             uint32_t direction, const uint8_t cdb[16], uint32_t length, uint8_t **out)
{
    // The request's length field is 16-bit and the command's payload must
    // fit one command: a transfer above that is refused, never wrapped.
    if (length > 0xFFFFu - ORSA_SCSI_REQUEST_HEADER - 16)
        return 1;
    const uint32_t size = ORSA_SCSI_REQUEST_HEADER + length;
    uint8_t *request = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (request == nullptr)
        return 1;
    memset(request, 0, size);
    put32(request, session_handle);
    if (lun != nullptr)
        memcpy(request + 4, lun, 8);
    request[12] = (uint8_t)(direction == 1 || direction == 2 ? direction : 0);
    memcpy(request + 16, cdb, 16);
    put16(request + 34, length);
    uint32_t rc = ioctl_scsi_passthru(at(port), request, size, domain, phba);
    if (rc != 0) {
        orsa_dfree(request);
        return 90;
    }
    if (out != nullptr) {
        if (request[15] != 0) {
            ISCSI_LOG(ORSA_LOG_ERROR, "Check condition recieved from tgt\n");
            orsa_dfree(request);
            return 1;
        }
        uint8_t *data = static_cast<uint8_t *>(orsa_dmalloc(length > 0 ? length : 1));
        if (data == nullptr) {
            orsa_dfree(request);
            return 1;
        }
        memcpy(data, request + ORSA_SCSI_REQUEST_HEADER, length);
        *out = data;
    }
    orsa_dfree(request);
    return 0;
}

uint32_t FetchScsiInquiryData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                              uint8_t out[36])
{
    const uint8_t cdb[16] = {0x12, 0, 0, 0, 36};
    return inquiry(port, domain, phba, session_handle, lun, cdb, 36, out, 36);
}

uint32_t FetchLSNInquiryData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                             uint8_t out[255])
{
    const uint8_t cdb[16] = {0x12, 1, 0x80, 0, 0xFF};
    return inquiry(port, domain, phba, session_handle, lun, cdb, 256, out, 255);
}

uint32_t FetchReadCapacityData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                               uint32_t mode, uint8_t **out)
{
    uint8_t cdb[16] = {};
    uint32_t length = 8;
    if (mode == 1) {
        cdb[0] = 0x9E;
        cdb[1] = 0x10;
        cdb[13] = 12;
        length = 12;
    } else {
        cdb[0] = 0x25;
    }
    return fail90(ConstructSCSIParams(port, domain, phba, session_handle, lun, 1, cdb, length, out));
}

uint32_t FetchReportLUNData(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, uint8_t **out,
                            uint32_t *length)
{
    if (out == nullptr)
        return orsa_set_status(5);
    uint8_t cdb[16] = {0xA0};
    cdb[9] = 16;
    uint8_t *data = nullptr;
    uint32_t rc = ConstructSCSIParams(port, domain, phba, session_handle, nullptr, 1, cdb, 16, &data);
    if (rc != 0)
        return fail90(rc);
    if (data == nullptr)
        return orsa_set_status(5);
    uint32_t list = be32(data);
    uint32_t size = 16;
    if (list >= 8) {
        orsa_dfree(data);
        data = nullptr;
        // At most 255 LUNs are taken: the second answer need hold no more
        // than 256 entries (the header's eight bytes count as one).
        uint32_t n = list / 8;
        if (n > 255)
            n = 255;
        size = (n + 1) * 8;
        cdb[6] = (uint8_t)(size >> 24);
        cdb[7] = (uint8_t)(size >> 16);
        cdb[8] = (uint8_t)(size >> 8);
        cdb[9] = (uint8_t)size;
        rc = ConstructSCSIParams(port, domain, phba, session_handle, nullptr, 1, cdb, size, &data);
        if (rc != 0)
            return fail90(rc);
        if (data == nullptr)
            return orsa_set_status(5);
    }
    *out = data;
    if (length != nullptr)
        *length = size;
    return 0;
}

uint32_t IssueSCSIReadWrite(uint32_t port, uint8_t domain, uint8_t phba, uint32_t session_handle, const uint8_t *lun,
                            uint32_t write, uint32_t lba, uint32_t blocks)
{
    if (blocks > ORSA_MAX_TRANSFER_BLOCKS)
        return orsa_fail_with(ORSA_STATUS_WRITE_COUNT);
    uint8_t cdb[16] = {(uint8_t)(write ? 0x2A : 0x28)};
    cdb[2] = (uint8_t)(lba >> 24);
    cdb[3] = (uint8_t)(lba >> 16);
    cdb[4] = (uint8_t)(lba >> 8);
    cdb[5] = (uint8_t)lba;
    cdb[7] = (uint8_t)(blocks >> 8);
    cdb[8] = (uint8_t)blocks;
    return fail90(
        ConstructSCSIParams(port, domain, phba, session_handle, lun, write ? 2 : 1, cdb, blocks * 512, nullptr));
}

// ---- the LUN groups ----

uint32_t get_all_luns(HmNode *target, uint8_t domain, uint8_t phba, HmNode *creator, HmNode *rescan,
                      HmValueSlot *params, char *out)
{
    if (target == nullptr)
        return 1;
    uint8_t remembered[255][8];
    uint32_t nremembered = 0;
    for (HmNode *l = get_first_instance(target, "LUN"); l != nullptr; l = hm_next_instance(l)) {
        orsa_lun_handle *h = lun_record(l);
        if (h == nullptr)
            return 1;
        if (nremembered < 255)
            memcpy(remembered[nremembered++], h->lun, 8);
    }
    while (HmNode *l = get_first_instance(target, "LUN"))
        orsa_delete_with_handle(l);
    if (get_first_instance(target, "Session") == nullptr)
        return 42;
    bool failed90 = false;
    uint32_t total = 0;
    for (HmNode *s = get_first_instance(target, "Session"); s != nullptr; s = hm_next_instance(s)) {
        char status[HM_VALUE_SIZE];
        orsa_session_handle *h = orsa_session_record(s);
        if (!read_prop(s, "SessionStatus", status) || ended(status) || h == nullptr)
            continue;
        uint8_t *data = nullptr;
        uint32_t length = 0;
        uint32_t rc = FetchReportLUNData(h->port, domain, phba, h->session_handle, &data, &length);
        if (rc != 0) {
            if (rc == 90) {
                failed90 = true;
                ISCSI_LOG(ORSA_LOG_ERROR, "Failed to scan LUNs for Session%d.\n", (int)hm_instance_number(s));
            }
            continue;
        }
        uint32_t n = orsa_report_luns_entries(data, length);
        bool last_known = false;
        for (uint32_t i = 0; i < n; i++) {
            const uint8_t *e = data + 8 + 8 * i;
            HmNode *lun = i == 0 ? initialize_LUN(target, creator, rescan, params)
                                 : initialize_LUN(target, nullptr, nullptr, nullptr);
            auto *rec =
                lun != nullptr ? static_cast<orsa_lun_handle *>(orsa_dmalloc(sizeof(orsa_lun_handle))) : nullptr;
            if (rec == nullptr) {
                if (lun != nullptr)
                    delete_node(lun);
                orsa_dfree(data);
                return 1;
            }
            rec->zero = 0;
            for (int k = 0; k < 4; k++) {
                rec->lun[k] = e[3 - k];
                rec->lun[4 + k] = e[7 - k];
            }
            rec->session_handle = h->session_handle;
            HM_GROUP(lun)->nhandle = rec;
            last_known = false;
            for (uint32_t k = 0; k < nremembered; k++)
                if (memcmp(remembered[k], rec->lun, 8) == 0)
                    last_known = true;
            total++;
        }
        orsa_dfree(data);
        if (out != nullptr)
            snprintf(out, HM_VALUE_SIZE, "%d", total != nremembered ? 1 : (last_known ? 0 : 1));
    }
    return failed90 ? 90 : 0;
}

uint32_t do_ReScanLUNS(HmNode *target, HmNode *action, HmValueSlot *params)
{
    if (target == nullptr)
        return 1;
    scan_from_os();
    Where w = where_of(target);
    char out[HM_VALUE_SIZE] = "";
    uint32_t rc = get_all_luns(target, w.domain, w.phba, target, action, params, out);
    if (rc == 42)
        orsa_set_status(42);
    else if (rc == 90)
        orsa_set_last_status(90, "Failed to get LUN info for some sessions. Please check orsa2d.log for the actual "
                                 "sessions failed.");
    return rc;
}

uint32_t do_StdInquiry(HmNode *lun, HmNode * /*action*/, HmValueSlot * /*params*/)
{
    if (lun == nullptr || OPEN_ISCSI_DRIVER_LOADED != 0)
        return 1;
    LunPath p;
    if (!lun_path(lun, &p)) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:pSessionInfo is NULL.\n", __func__);
        return 1;
    }
    uint8_t inq[36];
    return twice(
        [&] { return FetchScsiInquiryData(p.h->port, p.w.domain, p.w.phba, p.h->session_handle, p.addr, inq); });
}

uint32_t do_SCSIWrite(HmNode *lun, HmNode * /*action*/, HmValueSlot *params)
{
    if (lun == nullptr || params == nullptr)
        return 1;
    if (OPEN_ISCSI_DRIVER_LOADED != 0)
        return orsa_fail_with(321);
    uint32_t lba = (uint32_t)strtoul(params[0], nullptr, 10);
    uint32_t count = (uint32_t)strtoul(params[1], nullptr, 10);
    // The request's length is 16-bit: more blocks than it can carry are
    // refused before anything is sent.
    if (count > ORSA_MAX_TRANSFER_BLOCKS)
        return orsa_fail_with(ORSA_STATUS_WRITE_COUNT);
    LunPath p;
    if (!lun_path(lun, &p))
        return 1;
    return twice([&] {
        return IssueSCSIReadWrite(p.h->port, p.w.domain, p.w.phba, p.h->session_handle, p.addr, 1, lba, count);
    });
}

uint32_t handle_LUNNumber(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 0;
    orsa_lun_handle *h = lun_record(property->parent);
    if (h == nullptr)
        return orsa_answer(property, value, 1);
    const uint8_t *b = reinterpret_cast<const uint8_t *>(h);
    SET_CACHE_PROP_VAL(property, "%02x%02x%02x%02x%02x%02x%02x%02x", b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7]);
    return orsa_answer(property, value, 0);
}

uint32_t handle_LUNName(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->parent == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 0;
    HmNode *lun = property->parent;
    HmNode *lhba = group_of(lun, "LogicalHBA");
    char ifname[HM_VALUE_SIZE];
    if (!read_prop(lhba, "IfName", ifname)) {
        ISCSI_LOG(ORSA_LOG_ERROR, "Failed to get Ifname for this lhba\n");
        return orsa_answer(property, value, 1);
    }
    orsa_lun_handle *l = lun_record(lun);
    if (l == nullptr)
        return orsa_answer(property, value, 1);
    Where w = where_of(lun);
    uint8_t query[276] = {};
    put32(query, l->session_handle);
    uint16_t size = 0;
    if (ioctl_get_sessionconfig_size(at(w.port), query, w.domain, w.phba, &size) != 0 || size < 276)
        return orsa_answer(property, value, orsa_set_status(31));
    uint8_t *conf = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (conf == nullptr)
        return orsa_answer(property, value, orsa_set_status(16));
    memset(conf, 0, size);
    put32(conf, l->session_handle);
    if (ioctl_get_session_conf(at(w.port), conf, size, w.domain, w.phba) != 0) {
        orsa_dfree(conf);
        return orsa_answer(property, value, orsa_set_status(86));
    }
    SET_CACHE_PROP_VAL(property, "%s:%d:%d", ifname, (int)orsa_rd32(conf + 256), (int)orsa_rd16(conf + 268));
    orsa_dfree(conf);
    return orsa_answer(property, value, 0);
}

uint32_t handle_lun_block_size(HmNode *property, char *value, uint32_t mode)
{
    return refreshed(property, value, mode, get_read_capacity);
}

uint32_t handle_StdInquiry_properties(HmNode *property, char *value, uint32_t mode)
{
    return refreshed(property, value, mode, get_std_inquiry_props);
}

uint32_t group_LUN(HmNode *lun)
{
    if (OPEN_ISCSI_DRIVER_LOADED != 0)
        return 0;
    HmNode *target = lun != nullptr ? lun->parent : nullptr;
    Where w = where_of(lun);
    for (HmNode *s = target != nullptr ? get_first_instance(target, "Session") : nullptr; s != nullptr;
         s = hm_next_instance(s)) {
        orsa_session_handle *h = orsa_session_record(s);
        if (h != nullptr && get_session_attribs(h->port, w.domain, w.phba, s) == 0)
            return 0;
    }
    return 1;
}
