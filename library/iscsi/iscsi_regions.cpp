// The iSCSI configuration regions in adapter flash (region 2: the initiator
// CHAP credentials used at boot; region 3: the boot target) and the boot
// sessions that keep them in step (iscsi_targets.h).
#include <cstdlib>
#include <vector>

#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_targets.h"
#include "iscsi/iscsi_util.h"

using namespace iscsi;

namespace {

const uint32_t kObjectDataMax = ORSA_OBJECT_READ_SIZE - ORSA_OBJECT_DATA_AT;

void object_name(uint8_t *at_, uint32_t phba, uint32_t region)
{
    snprintf(reinterpret_cast<char *>(at_), ORSA_OBJECT_NAME_SIZE, "/iscsidata/Port%x/Instance0/Region%u",
             (unsigned)phba, (unsigned)region);
}

uint8_t *new_image(const uint8_t *header, uint32_t area)
{
    uint8_t *image = static_cast<uint8_t *>(orsa_dmalloc(ORSA_REGION_HEADER + area + 1));
    if (image == nullptr) {
        orsa_set_status(31);
        return nullptr;
    }
    memset(image, 0, ORSA_REGION_HEADER + area + 1);
    memcpy(image, header, ORSA_REGION_HEADER);
    put32(image + 4, area);
    return image;
}

// Walks the TLVs of an area: fn(offset, type, length) for each; a TLV that
// runs past the area ends the walk (false).
template <typename Fn> bool walk(const uint8_t *image, Fn fn)
{
    const uint32_t area = orsa_region_length(image);
    const uint8_t *tlv = image + ORSA_REGION_HEADER;
    uint32_t at_ = 0;
    while (area > at_ && area - at_ >= 1) {
        if (area - at_ < 3)
            return false;
        uint32_t length = orsa_rd16(tlv + at_ + 1);
        if (length + 3 > area - at_)
            return false;
        if (!fn(at_, tlv[at_], length))
            return true;
        at_ += length + 3;
    }
    return true;
}

// A copy of image without the TLVs keep() refuses (asked once per TLV).
template <typename Keep> uint8_t *filtered(const uint8_t *image, Keep keep)
{
    const uint32_t area = orsa_region_length(image);
    uint32_t removed = 0;
    std::vector<bool> kept;
    walk(image, [&](uint32_t at_, uint8_t type, uint32_t length) {
        kept.push_back(keep(image + ORSA_REGION_HEADER + at_, type, length));
        if (!kept.back())
            removed += length + 3;
        return true;
    });
    uint8_t *copy = new_image(image, area - removed);
    if (copy == nullptr || removed == 0) {
        if (copy != nullptr)
            memcpy(copy + ORSA_REGION_HEADER, image + ORSA_REGION_HEADER, area);
        return copy;
    }
    uint32_t out = 0;
    size_t i = 0;
    walk(image, [&](uint32_t at_, uint8_t, uint32_t length) {
        if (kept[i++]) {
            memcpy(copy + ORSA_REGION_HEADER + out, image + ORSA_REGION_HEADER + at_, length + 3);
            out += length + 3;
        }
        return true;
    });
    return copy;
}

// Appends bytes to a copy of image.
uint8_t *appended(const uint8_t *image, const uint8_t *bytes, uint32_t n)
{
    const uint32_t area = orsa_region_length(image);
    uint8_t *copy = new_image(image, area + n);
    if (copy == nullptr)
        return nullptr;
    memcpy(copy + ORSA_REGION_HEADER, image + ORSA_REGION_HEADER, area);
    memcpy(copy + ORSA_REGION_HEADER + area, bytes, n);
    return copy;
}

// Frees *image and puts next in its place; false when next is none.
bool step(uint8_t **image, uint8_t *next)
{
    orsa_dfree(*image);
    *image = next;
    return next != nullptr;
}

uint16_t session_qualifier(const session_info *r)
{
    return (uint16_t)((r->isid[4] << 8) | r->isid[5]);
}

uint8_t tlv_kind(uint8_t session_kind)
{
    return session_kind == ORSA_ADDRESS_IPV6 ? 1 : 0;
}

// The edit cycle of region 2: drop the CHAP TLVs and, for an update, add
// the session's.
uint32_t chap_region_cycle(uint32_t port, uint8_t domain, uint8_t phba, const session_info *record)
{
    uint8_t *image = ORSA_read_iscsi_region(port, domain, phba, 2);
    if (image == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not read iscsi region\n", __func__);
        return 1;
    }
    if (orsa_region_length(image) == 0) {
        ISCSI_LOG(ORSA_LOG_ERROR,
                  "%s: The Length from iSCSI Region header is zero, means there are no TLV's present.\n", __func__);
        orsa_dfree(image);
        return 1;
    }
    if (!step(&image, ORSA_remove_pad_tlv(image))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to delete pad tlv from the iscsi region\n", __func__);
        return 1;
    }
    if (!step(&image, ORSA_delete_initiator_chap_tlv(image))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to remove chap tlv's from the iscsi region\n", __func__);
        return 1;
    }
    if (record != nullptr && !step(&image, ORSA_add_initiator_chap_tlv(image, record))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to add chap tlv's to the iscsi region\n", __func__);
        return 1;
    }
    if (!step(&image, ORSA_add_pad_tlv(image))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: iscsi_add_padtlv is NULL\n", __func__);
        return 1;
    }
    uint32_t rc = ORSA_write_iscsi_region(port, domain, phba, 2, image);
    orsa_dfree(image);
    return rc != 0 ? 1 : 0;
}

bool mutual(const session_info *r)
{
    return r->connection_count > 0 && r->connections[0].login.authentication == 1 &&
           r->connections[0].login.mutual_chap == 1;
}

// Adding and deleting a boot target both start from region 3 without its
// pad TLV and without the record's boot target TLVs (ORSA_remove_boot_tlv's
// mode). False when a step fails, logged under the caller's name fn; the
// caller frees *image either way.
bool strip_boot_tlvs(uint32_t port, uint8_t domain, uint8_t phba, const session_info *record, uint32_t mode,
                     uint8_t **image, const char *fn)
{
    *image = ORSA_read_iscsi_region(port, domain, phba, 3);
    if (*image == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not read iscsi region\n", fn);
    } else if (orsa_region_length(*image) == 0) {
        ISCSI_LOG(ORSA_LOG_ERROR,
                  "%s: The Length from iSCSI Region header is zero, means there are no TLV's present.\n", fn);
    } else if (!step(image, ORSA_remove_pad_tlv(*image))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to delete pad tlv from the iscsi region\n", fn);
    } else if (!step(image, ORSA_remove_boot_tlv(*image, record, mode))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to delete boot target tlv's from the iscsi region\n", fn);
    } else {
        return true;
    }
    return false;
}

// Both then pad region 3 again and write it back; false as above.
bool pad_and_write(uint32_t port, uint8_t domain, uint8_t phba, uint8_t **image, const char *fn)
{
    if (!step(image, ORSA_add_pad_tlv(*image))) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: iscsi_add_padtlv is NULL\n", fn);
    } else if (ORSA_write_iscsi_region(port, domain, phba, 3, *image) != 0) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not write iscsi region\n", fn);
    } else {
        return true;
    }
    return false;
}

} // namespace

// ---- images ----

uint32_t orsa_region_length(const uint8_t *image)
{
    return image != nullptr ? orsa_rd32(image + 4) : 0;
}

bool orsa_region_image_ok(const uint8_t *image, uint32_t length)
{
    if (image == nullptr || length < ORSA_REGION_HEADER)
        return false;
    uint32_t area = orsa_region_length(image);
    if (area > length - ORSA_REGION_HEADER)
        return false;
    return walk(image, [](uint32_t, uint8_t, uint32_t) { return true; });
}

uint8_t *orsa_region_from_data(const uint8_t *data, uint32_t length)
{
    if (!orsa_region_image_ok(data, length))
        return nullptr;
    uint32_t area = orsa_region_length(data);
    uint8_t *image = new_image(data, area);
    if (image != nullptr)
        memcpy(image + ORSA_REGION_HEADER, data + ORSA_REGION_HEADER, area);
    return image;
}

uint8_t *ORSA_read_iscsi_region(uint32_t port, uint8_t domain, uint8_t phba, uint32_t region)
{
    uint8_t *payload = static_cast<uint8_t *>(orsa_dmalloc(ORSA_OBJECT_READ_SIZE));
    if (payload == nullptr) {
        orsa_set_status(31);
        return nullptr;
    }
    memset(payload, 0, ORSA_OBJECT_READ_SIZE);
    object_name(payload + ORSA_OBJECT_NAME_AT, phba, region);
    uint32_t rc = ioctl_common_read_object_version1(at(port), payload, ORSA_OBJECT_READ_SIZE, domain, phba);
    if (rc != 0) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: ioctl_common_read_object_version1 failed with status = %d\n", __func__, (int)rc);
        orsa_dfree(payload);
        return nullptr;
    }
    uint32_t actual = orsa_rd32(payload);
    bool eof = (payload[7] & 0x80) != 0;
    uint8_t *image = nullptr;
    if (actual == 0) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: region %u is empty\n", __func__, (unsigned)region);
    } else if (!eof) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: eof not reached\n", __func__);
    } else if (actual > kObjectDataMax) {
        // More than the payload holds: a malformed reply.
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: read length %u exceeds the payload\n", __func__, (unsigned)actual);
    } else {
        image = orsa_region_from_data(payload + ORSA_OBJECT_DATA_AT, actual);
        if (image == nullptr)
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: region %u's header or TLVs run past the %u bytes read\n", __func__,
                      (unsigned)region, (unsigned)actual);
    }
    orsa_dfree(payload);
    return image;
}

uint32_t ORSA_write_iscsi_region(uint32_t port, uint8_t domain, uint8_t phba, uint32_t region, const uint8_t *image)
{
    if (image == nullptr)
        return 1;
    const uint32_t area = orsa_region_length(image);
    const uint32_t size = 128 + area;
    uint8_t *payload = static_cast<uint8_t *>(orsa_dmalloc(size));
    if (payload == nullptr)
        return orsa_set_status(31);
    memset(payload, 0, size);
    const uint32_t length = ORSA_REGION_HEADER + area;
    payload[0] = (uint8_t)length;
    payload[1] = (uint8_t)(length >> 8);
    payload[2] = (uint8_t)(length >> 16);
    payload[3] = 0x80;
    object_name(payload + ORSA_OBJECT_NAME_AT, phba, region);
    memcpy(payload + ORSA_OBJECT_WRITE_HEADER, image, length);
    uint32_t rc = ioctl_common_write_object_version1(at(port), payload, size, domain, phba);
    if (rc != 0)
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: ioctl_common_write_object_version1 failed with status = %d\n", __func__,
                  (int)rc);
    else
        ISCSI_LOG(ORSA_LOG_DEBUG, "%s: actual_write_length %u ChangeStatus %u\n", __func__,
                  (unsigned)orsa_rd32(payload), (unsigned)payload[4]);
    orsa_dfree(payload);
    return rc;
}

uint8_t *ORSA_remove_pad_tlv(const uint8_t *image)
{
    if (image == nullptr)
        return nullptr;
    bool seen = false;
    return filtered(image, [&](const uint8_t *, uint8_t type, uint32_t) {
        if (type == ORSA_TLV_PAD && !seen) {
            seen = true;
            return false;
        }
        return true;
    });
}

uint8_t *ORSA_add_pad_tlv(const uint8_t *image)
{
    if (image == nullptr)
        return nullptr;
    static const uint8_t pads[4][6] = {
        {}, {ORSA_TLV_PAD, 0, 0}, {ORSA_TLV_PAD, 3, 0, 0, 0, 0}, {ORSA_TLV_PAD, 2, 0, 0, 0}};
    static const uint32_t sizes[4] = {0, 3, 6, 5};
    const uint32_t r = orsa_region_length(image) % 4;
    return appended(image, pads[r], sizes[r]);
}

uint8_t *ORSA_delete_initiator_chap_tlv(const uint8_t *image)
{
    if (image == nullptr)
        return nullptr;
    return filtered(image, [](const uint8_t *, uint8_t type, uint32_t) { return type != 2 && type != 3; });
}

uint8_t *ORSA_add_initiator_chap_tlv(const uint8_t *image, const session_info *record)
{
    if (image == nullptr || record == nullptr || record->connection_count == 0)
        return nullptr;
    const negotiated_connection_record &c = record->connections[0].login;
    uint32_t name = c.initiator_chap_name_length, secret = c.initiator_secret_length;
    if (name > sizeof c.initiator_chap_name || secret > sizeof c.initiator_secret)
        return nullptr;
    uint8_t bytes[4 + 256 + 4 + 16];
    uint32_t n = 0;
    bytes[n++] = 2;
    put16(bytes + n, name + 1);
    n += 2;
    bytes[n++] = 3;
    memcpy(bytes + n, c.initiator_chap_name, name);
    n += name;
    bytes[n++] = 3;
    put16(bytes + n, secret + 1);
    n += 2;
    bytes[n++] = 3;
    memcpy(bytes + n, c.initiator_secret, secret);
    n += secret;
    return appended(image, bytes, n);
}

uint8_t *ORSA_create_TLV(const session_info *record)
{
    if (record == nullptr || record->connection_count == 0)
        return nullptr;
    const session_connection_entry &e = record->connections[0];
    const negotiated_connection_record &c = e.login;
    const bool chap = c.authentication == 1;
    const bool mutual_on = chap && c.mutual_chap == 1;
    const uint32_t address = e.destination_kind == ORSA_ADDRESS_IPV6 ? 16 : 4;
    const uint32_t name = (uint32_t)strnlen(record->target_name, sizeof record->target_name - 1);
    uint32_t chap_name = chap ? c.target_chap_name_length : 0;
    uint32_t chap_secret = chap ? c.target_secret_length : 0;
    uint32_t mutual_name = mutual_on ? c.initiator_chap_name_length : 0;
    uint32_t mutual_secret = mutual_on ? c.initiator_secret_length : 0;
    // Each length is one byte of the record: a CHAP name of 256 characters
    // cannot be described, and is refused rather than cut.
    if (chap_name > 255 || mutual_name > 255 || chap_secret > sizeof c.target_secret ||
        mutual_secret > sizeof c.initiator_secret) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: a CHAP name or secret is too long for the boot target entry\n", __func__);
        return nullptr;
    }
    const uint32_t length = 29 + address + name + chap_name + chap_secret + mutual_name + mutual_secret;
    uint8_t *tlv = static_cast<uint8_t *>(orsa_dmalloc(length));
    if (tlv == nullptr)
        return nullptr;
    memset(tlv, 0, length);
    tlv[0] = 3;
    put16(tlv + 1, length);
    static const uint8_t fixed[5] = {0x03, 0x01, 0x01, 0x00, 0x01};
    memcpy(tlv + 3, fixed, 5);
    tlv[16] = (uint8_t)(mutual_on ? 2 : (chap ? 1 : 0));
    put16(tlv + 17, session_qualifier(record));
    tlv[19] = c.header_digest;
    tlv[20] = c.data_digest;
    put16(tlv + 21, e.destination_port);
    tlv[23] = tlv_kind(e.destination_kind);
    tlv[24] = (uint8_t)name;
    tlv[25] = (uint8_t)chap_name;
    tlv[26] = (uint8_t)chap_secret;
    uint32_t n = 27;
    memcpy(tlv + n, e.destination_address, address);
    n += address;
    memcpy(tlv + n, record->target_name, name);
    n += name;
    memcpy(tlv + n, c.target_chap_name, chap_name);
    n += chap_name;
    memcpy(tlv + n, c.target_secret, chap_secret);
    n += chap_secret;
    tlv[n++] = (uint8_t)mutual_name;
    tlv[n++] = (uint8_t)mutual_secret;
    memcpy(tlv + n, c.initiator_chap_name, mutual_name);
    n += mutual_name;
    memcpy(tlv + n, c.initiator_secret, mutual_secret);
    return tlv;
}

uint8_t *ORSA_remove_boot_tlv(const uint8_t *image, const session_info *record, uint32_t mode)
{
    if (image == nullptr || (mode == 2 && record == nullptr))
        return nullptr;
    if (mode == 1)
        return filtered(image, [](const uint8_t *, uint8_t type, uint32_t) { return type != 3 && type != 4; });
    if (mode != 2)
        return nullptr;
    return filtered(image, [&](const uint8_t *tlv, uint8_t type, uint32_t length) {
        bool candidate = (type == 3 && (record->flags & ORSA_SESSION_FLAG_BOOT)) ||
                         (type == 4 && (record->flags & ORSA_SESSION_FLAG_BOOT_KIND2));
        if (!candidate || record->connection_count == 0 || length + 3 < 27)
            return true;
        const session_connection_entry &e = record->connections[0];
        const uint32_t address = tlv[23] == 1 ? 16 : 4;
        const uint32_t name = tlv[24];
        // The entry must hold its address and name.
        if (27 + address + name > length + 3)
            return true;
        bool same = tlv[23] == tlv_kind(e.destination_kind) && orsa_rd16(tlv + 17) == session_qualifier(record) &&
                    memcmp(tlv + 27, e.destination_address, address) == 0 && strlen(record->target_name) == name &&
                    strncasecmp(reinterpret_cast<const char *>(tlv + 27 + address), record->target_name, name) == 0;
        return !same;
    });
}

uint32_t ORSA_update_initiator_chap_region(uint32_t port, uint8_t domain, uint8_t phba, const session_info *record)
{
    if (record == nullptr)
        return 1;
    return chap_region_cycle(port, domain, phba, record);
}

uint32_t ORSA_delete_initiator_chap_region(uint32_t port, uint8_t domain, uint8_t phba)
{
    return chap_region_cycle(port, domain, phba, nullptr);
}

uint32_t ORSA_add_boottarget_tlv(uint32_t port, uint8_t domain, uint8_t phba, HmNode *session)
{
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:Failed: Invalid session handle.\n", __func__);
        return 1;
    }
    session_info *r = ORSA_get_session_params(h->session_handle, port, domain, phba);
    if (r == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: could not get session info\n", __func__);
        return 1;
    }
    uint8_t *tlv = ORSA_create_TLV(r);
    if (tlv == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: could not get new_boot_tlv\n", __func__);
        orsa_dfree(r);
        return 1;
    }
    uint32_t rc = 1;
    uint8_t *image = nullptr;
    if (strip_boot_tlvs(port, domain, phba, r, 1, &image, __func__)) {
        const uint32_t length = orsa_rd16(tlv + 1);
        uint8_t *with = static_cast<uint8_t *>(orsa_dmalloc(length + 3));
        if (with == nullptr) {
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not allocate memory for iscsi_region_new\n", __func__);
        } else {
            memset(with, 0, length + 3);
            memcpy(with, tlv, length);
            bool ok = step(&image, appended(image, with, length + 3));
            orsa_dfree(with);
            if (!ok) {
                ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not allocate memory for iscsi_region_new\n", __func__);
            } else if (pad_and_write(port, domain, phba, &image, __func__)) {
                if (mutual(r) && ORSA_update_initiator_chap_region(port, domain, phba, r) != 0)
                    ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not update iscsi region 2\n", __func__);
                else
                    rc = 0;
            }
        }
    }
    orsa_dfree(image);
    orsa_dfree(tlv);
    orsa_dfree(r);
    return rc;
}

uint32_t ORSA_delete_boottarget_tlv(uint32_t port, uint8_t domain, uint8_t phba, const session_info *record)
{
    if (record == nullptr)
        return 1;
    uint8_t *image = nullptr;
    uint32_t rc = 1;
    if (strip_boot_tlvs(port, domain, phba, record, 2, &image, __func__) &&
        pad_and_write(port, domain, phba, &image, __func__)) {
        if (mutual(record) && ORSA_delete_initiator_chap_region(port, domain, phba) != 0)
            ISCSI_LOG(ORSA_LOG_ERROR, "%s: Could not delete iscsi region 2\n", __func__);
        else
            rc = 0;
    }
    orsa_dfree(image);
    return rc;
}

// ---- boot sessions ----

uint32_t ORSA_configure_boot_target(HmNode *session, uint32_t flags, const char *value, uint32_t port, uint8_t domain,
                                    uint8_t phba)
{
    if (session == nullptr || value == nullptr)
        return 1;
    const char *current = cached(session, "iSCSIBoot");
    if (strcasecmp(current, value) == 0) {
        ISCSI_LOG(ORSA_LOG_DEBUG, "%s:Given value is already configured.\n", __func__);
        return 0;
    }
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:Failed: Invalid session handle.\n", __func__);
        return 1;
    }
    if (strcasecmp(value, "True") == 0)
        flags |= ORSA_SESSION_FLAG_BOOT;
    else if (strcasecmp(value, "False") == 0)
        flags &= ~ORSA_SESSION_FLAG_BOOT;
    uint8_t request[528] = {};
    put32(request, h->session_handle);
    put32(request + 4, flags);
    return ioctl_set_boot_target_params(at(port), request, domain, phba) == 0 ? 0 : 1;
}

uint32_t handle_boot_session(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    if (mode != HM_MODE_GET && mode != HM_MODE_SET)
        return 0;
    HmNode *session = property->parent;
    HmNode *target = session->parent;
    if (target == nullptr || target->parent == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to get target node\n", __func__);
        return 1;
    }
    uint32_t asic = asic_of(session);
    if (asic == ORSA_ASIC_UNREADABLE) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s: Failed to get ks_type\n", __func__);
        return 1;
    }
    // A set to the current value changes nothing (a read always refreshes).
    if (mode == HM_MODE_SET && strcasecmp(value, HM_PROPERTY(property)->value) == 0)
        return 0;
    Where w = where_of(session);
    orsa_session_handle *h = orsa_session_record(session);
    if (h == nullptr) {
        ISCSI_LOG(ORSA_LOG_ERROR, "%s:Failed: Invalid session handle.\n", __func__);
        return 1;
    }
    session_info *r = ORSA_get_session_params(h->session_handle, h->port, w.domain, w.phba);
    if (r == nullptr)
        return 1;
    if (mode == HM_MODE_GET) {
        SET_CACHE_PROP_VAL(property, "%s", (r->flags & ORSA_SESSION_FLAG_BOOT) ? "True" : "False");
        orsa_dfree(r);
        return orsa_answer(property, value, 0);
    }
    if (ORSA_configure_boot_target(session, r->flags, value, h->port, w.domain, w.phba) != 0) {
        orsa_dfree(r);
        return orsa_fail_with(258);
    }
    const bool on = strcasecmp(value, "True") == 0;
    SET_CACHE_PROP_VAL(property, "%s", on ? "True" : "False");
    uint32_t rc = 0;
    if (asic == ORSA_ASIC_VESKARN) {
        if (on && ORSA_add_boottarget_tlv(h->port, w.domain, w.phba, session) != 0)
            rc = orsa_fail_with(306);
        else if (!on && ORSA_delete_boottarget_tlv(h->port, w.domain, w.phba, r) != 0)
            rc = orsa_fail_with(307);
    }
    orsa_dfree(r);
    return rc;
}

uint32_t handle_iSCSIPhysicalHBA_LogicalHBA_Enabled(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->body == nullptr || value == nullptr)
        return 1;
    if (mode == HM_MODE_GET)
        return orsa_answer(property, value, 0);
    if (mode != HM_MODE_SET)
        return 0;
    if (strcasecmp(value, "False") == 0)
        return orsa_fail_with(47);
    SET_CACHE_PROP_VAL(property, "%s", value);
    return 0;
}

// The software initiator's road: nothing on this host sets its flag, and
// its entry points do nothing.
uint32_t ORSA_refresh_boot_session(uint32_t, uint8_t, uint8_t, HmNode *, HmNode *, const session_info *, const char *)
{
    return 0;
}

uint32_t ORSA_remove_boot_session(uint32_t, uint8_t, uint8_t, HmNode *, HmNode *, const session_info *)
{
    return 0;
}

HmNode *ORSA_get_boot_target(HmNode *, uint32_t, uint8_t, uint8_t, const session_info *)
{
    return nullptr;
}
