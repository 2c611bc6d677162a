/* The extended firmware log saved to a file: the adapter's string table,
 * then its 64-byte entries from a RAM snapshot or from the flash copy.
 *
 * The string table is held in memory while the entries are fetched: no
 * working file is made, so nothing of another process's run, or of a file
 * of the caller's, is touched. */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "maintenance/maint_dump.h"

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;
const u32 kBuffer = 64000;
const u32 kTableAsk = 62992;
const u32 kEntriesAsk = 998;
const u32 kEntry = 64;
/* Entries a 64000-byte reply can hold after its count. */
const u32 kEntriesFit = (kBuffer - 4) / kEntry;

void param_text(const HmValueSlot &slot, char *out)
{
    if ((u8)slot[0] == ORSA_PARAM_NOT_GIVEN)
        out[0] = '\0';
    else
        orsa_strlcpy(out, slot, HM_VALUE_SIZE);
}

/* Appends to a growing block; false when memory runs out. */
bool grow(OrsaStringTable *t, u32 *capacity, const u8 *bytes, u32 n)
{
    if (t->size + n > *capacity) {
        u32 want = *capacity != 0 ? *capacity : 65536;
        while (want < t->size + n)
            want *= 2;
        u8 *bigger = (u8 *)orsa_dmalloc(want);
        if (bigger == nullptr)
            return false;
        if (t->size != 0)
            memcpy(bigger, t->data, t->size);
        orsa_dfree(t->data);
        t->data = bigger;
        *capacity = want;
    }
    memcpy(t->data + t->size, bytes, n);
    t->size += n;
    return true;
}

/* One retrieve: the entry count, or -1 for a failed or malformed reply
 * (status 206). */
int64_t retrieve(OrsaPort at, u8 *buf, u32 source, u32 index, u8 domain, u8 phba_port)
{
    memset(buf, 0, kBuffer);
    u32 req[3] = {source, index, kEntriesAsk};
    memcpy(buf, req, sizeof req);
    if (ioctl_retrieve_extfat_snapshot(at, buf, kBuffer, domain, phba_port) != 0) {
        orsa_set_status(ORSA_STATUS_EXTFAT_RETRIEVE_FAILED);
        return -1;
    }
    u32 count = orsa_rd32(buf);
    if (count > kEntriesFit) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:%u entries do not fit a reply\n", __func__, (unsigned)count);
        orsa_set_status(ORSA_STATUS_EXTFAT_RETRIEVE_FAILED);
        return -1;
    }
    return count;
}

bool put(FILE *fp, const u8 *bytes, size_t n)
{
    if (n == 0 || fwrite(bytes, 1, n, fp) == n)
        return true;
    orsa_set_status(ORSA_STATUS_EXTFAT_RETRIEVE_FAILED);
    return false;
}

/* The flash copy: entries until a reply has none. */
u32 from_flash(OrsaPort at, FILE *out, u8 *buf, u8 domain, u8 phba_port)
{
    for (u32 index = 0;;) {
        int64_t count = retrieve(at, buf, 1, index, domain, phba_port);
        if (count < 0)
            return 1;
        if (index == 0 && count < 2) {
            orsa_set_status(ORSA_STATUS_NO_EXTFAT_DATA);
            return 1;
        }
        if (count == 0)
            return 0;
        if (!put(out, buf + 4, (size_t)count * kEntry))
            return 1;
        index += (u32)count;
        if (index > ORSA_EXTFAT_MAX_ENTRIES) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:flash copy goes on past %u entries\n", __func__, (unsigned)index);
            orsa_set_status(ORSA_STATUS_EXTFAT_RETRIEVE_FAILED);
            return 1;
        }
    }
}

/* A snapshot of `total` entries. */
u32 from_snapshot(OrsaPort at, FILE *out, u8 *buf, u32 total, u8 domain, u8 phba_port)
{
    u32 remaining = total;
    for (u32 index = 0;;) {
        int64_t count = retrieve(at, buf, 0, index, domain, phba_port);
        if (count < 0)
            return 1;
        if (!put(out, buf + 4, (size_t)count * kEntry))
            return 1;
        if ((u32)count >= remaining || count == 0)
            return 0;
        remaining -= (u32)count;
        index += (u32)count;
    }
}

}  // namespace

u32 read_extfat_string_table(HmNode *ks, OrsaStringTable *table)
{
    table->data = nullptr;
    table->size = 0;
    OrsaWhere w;
    if (!orsa_controller_where(ks, &w))
        return 1;
    u8 *buf = (u8 *)orsa_dmalloc(kBuffer);
    if (buf == nullptr) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Memory allocation failed\n", __func__);
        return 1;
    }
    u32 capacity = 0;
    u32 result = 0;
    for (u32 offset = 0;;) {
        memset(buf, 0, kBuffer);
        u32 req[2] = {offset, kTableAsk};
        memcpy(buf, req, sizeof req);
        if (ioctl_read_extfat_string_table(w.at, buf, kBuffer, w.domain, w.phba_port) != 0) {
            result = 1;
            break;
        }
        u32 got = orsa_rd32(buf), left = orsa_rd32(buf + 4);
        if (got == 0)
            break;
        /* No more than was asked, and a table of a bounded size. */
        if (got > kTableAsk || table->size + got > ORSA_STRING_TABLE_MAX) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:%u bytes at %u refused\n", __func__, (unsigned)got, (unsigned)offset);
            result = 1;
            break;
        }
        if (!grow(table, &capacity, buf + 8, got)) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:Memory allocation failed\n", __func__);
            orsa_dfree(buf);
            orsa_dfree(table->data);
            table->data = nullptr;
            table->size = 0;
            return 1;
        }
        if (left == 0)
            break;
        offset += got;
    }
    orsa_dfree(buf);
    if (result != 0) {
        orsa_dfree(table->data);
        table->data = nullptr;
        table->size = 0;
        orsa_set_status(ORSA_STATUS_STRING_TABLE_FAILED);
    }
    return result;
}

u32 do_RetrieveARMLog(HmNode *xd, HmNode *action, HmValueSlot *params)
{
    HmNode *ks = xd != nullptr ? xd->parent : nullptr;
    OrsaPort at = orsa_controller_port(ks);
    if (ks == nullptr || params == nullptr || at.instance == 0)
        return 1;
    HmNode *node = action != nullptr ? action : xd;
    u8 domain = (u8)get_domain_id(node);
    u8 phba_port = (u8)get_phba_port_number(node);
    char path[HM_VALUE_SIZE], mode[HM_VALUE_SIZE];
    param_text(params[0], path);
    param_text(params[1], mode);

    OrsaStringTable table;
    bool have_table = read_extfat_string_table(ks, &table) == 0;
    ORSA_delete_file(path);

    u32 result = 1;
    FILE *out = nullptr;
    u8 *buf = nullptr;
    if (strcasecmp(mode, "FLASH") == 0) {
        out = ORSA_file_open(path, "wb+");
        if (out == nullptr) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:cannot create %s\n", __func__, path);
        } else if ((buf = (u8 *)orsa_dmalloc(kBuffer)) == nullptr) {
            orsa_set_status(ORSA_STATUS_NO_BUFFER);
        } else if (!have_table) {
            orsa_set_status(ORSA_STATUS_BAD_PATH);
        } else if (put(out, table.data, table.size)) {
            result = from_flash(at, out, buf, domain, phba_port);
        }
    } else {
        u8 configure[4] = {};
        if (ioctl_configure_extfat_snapshot(at, configure, domain, phba_port) != 0) {
            orsa_set_status(ORSA_STATUS_SNAPSHOT_FAILED);
        } else if (orsa_rd32(configure) == 0) {
            orsa_set_status(ORSA_STATUS_NO_EXTFAT_DATA);
        } else if ((out = ORSA_file_open(path, "wb+")) == nullptr) {
            orsa_set_status(ORSA_STATUS_BAD_PATH);
        } else if ((buf = (u8 *)orsa_dmalloc(kBuffer)) == nullptr) {
            orsa_set_status(ORSA_STATUS_NO_BUFFER);
        } else if (!have_table) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:no string table\n", __func__);
        } else if (put(out, table.data, table.size)) {
            result = from_snapshot(at, out, buf, orsa_rd32(configure), domain, phba_port);
        }
    }
    if (out != nullptr && fclose(out) != 0 && result == 0) {
        orsa_set_status(ORSA_STATUS_EXTFAT_RETRIEVE_FAILED);
        result = 1;
    }
    orsa_dfree(buf);
    orsa_dfree(table.data);
    return result;
}
