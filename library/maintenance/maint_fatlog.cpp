/* The firmware trace log (FAT), its Pivard object, and the output of one
 * firmware command line. */
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "backend/orsa_discovery_io.h"
#include "backend/orsa_extlog.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "maintenance/maint_dump.h"

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;
const u32 kFatFields = 20;                /* operation, offset, length, size, then data at 16 */
const u32 kFatChunk = 64000;
const u32 kObjectChunk = 32768;
const u32 kObjectEnd = 0x80000000u;

void param_text(const HmValueSlot &slot, char *out)
{
    if ((u8)slot[0] == ORSA_PARAM_NOT_GIVEN)
        out[0] = '\0';
    else
        orsa_strlcpy(out, slot, HM_VALUE_SIZE);
}

bool write_all(FILE *fp, const u8 *data, u32 length)
{
    return length == 0 || fwrite(data, 1, length, fp) == length;
}

/* One object-read request: length wanted (0: the object's length), offset, name. */
u32 read_object(OrsaPort at, u8 *buf, u32 want, u32 offset, const char *name, u8 domain, u8 phba_port)
{
    memset(buf, 0, ORSA_FAT_OBJECT_READ_SIZE);
    u32 word = want & 0xFFFFFFu;
    memcpy(buf, &word, 4);
    memcpy(buf + 4, &offset, 4);
    snprintf((char *)buf + 8, 104, "%s", name);
    return ioctl_common_read_object_v1(at, buf, ORSA_FAT_OBJECT_READ_SIZE, domain, phba_port);
}

}  // namespace

u32 pivard_get_read_object(HmNode *, u32 port, const char *path, u8 domain, u8 phba_port, i32 protocol,
                           u32 object_kind)
{
    if (path == nullptr || object_kind != 1)
        return 1;
    FILE *fp = ORSA_file_open(path, "ab+");
    if (fp == nullptr)
        return 1;
    u8 *buf = (u8 *)orsa_dzalloc(ORSA_FAT_OBJECT_READ_SIZE);
    if (buf == nullptr) {
        fclose(fp);
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    OrsaPort at{port, protocol};
    u32 result = 1;
    if (read_object(at, buf, 0, 0, ORSA_FAT_OBJECT_NAME, domain, phba_port) != 0) {
        orsa_set_status(ORSA_STATUS_FAT_FAILED);
    } else if (orsa_rd32(buf) == 0) {
        orsa_set_status(ORSA_STATUS_NO_OBJECT_DATA);
    } else if (orsa_rd32(buf) > orsa_dump_max_bytes) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:object of %u bytes refused\n", __func__, (unsigned)orsa_rd32(buf));
        orsa_set_status(ORSA_STATUS_FAT_FAILED);
    } else {
        u32 remaining = orsa_rd32(buf);
        u32 offset = 0;
        for (;;) {
            u32 ask = remaining < kObjectChunk ? remaining : kObjectChunk;
            if (read_object(at, buf, ask, offset, ORSA_FAT_OBJECT_NAME, domain, phba_port) != 0) {
                orsa_set_status(ORSA_STATUS_FAT_FAILED);
                break;
            }
            u32 got = orsa_rd32(buf);
            if (got == 0) {
                orsa_set_status(ORSA_STATUS_NO_OBJECT_DATA);
                break;
            }
            /* More than was asked is no answer to this request. */
            if (got > ask) {
                pdebug(kCat, ORSA_LOG_ERROR, "%s:%u bytes answered for %u asked\n", __func__, (unsigned)got,
                       (unsigned)ask);
                orsa_set_status(ORSA_STATUS_FAT_FAILED);
                break;
            }
            if (!write_all(fp, buf + 8, got)) {
                orsa_set_status(ORSA_STATUS_FAT_FILE);
                break;
            }
            remaining -= got;
            if (remaining == 0 || (orsa_rd32(buf + 4) & kObjectEnd) != 0) {
                result = 0;
                break;
            }
            offset += got;
        }
    }
    if (fclose(fp) != 0 && result == 0) {
        orsa_set_status(ORSA_STATUS_FAT_FILE);
        result = 1;
    }
    orsa_dfree(buf);
    return result;
}

u32 do_RetrieveFATData(HmNode *fat, HmNode *action, HmValueSlot *params)
{
    if (fat == nullptr || fat->parent == nullptr || params == nullptr)
        return 1;
    char valid[HM_VALUE_SIZE] = "";
    if (internal_get_property(fat, "FATDataValid", valid) != 0)
        return 1;
    if (strcasecmp(valid, "No") == 0) {
        orsa_set_status(ORSA_STATUS_NO_FAT_DATA);
        return 0;
    }
    HmNode *ks = fat->parent;
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;
    HmNode *node = action != nullptr ? action : fat;
    u8 domain = (u8)get_domain_id(node);
    u8 phba_port = (u8)get_phba_port_number(node);
    char path[HM_VALUE_SIZE];
    param_text(params[0], path);

    if (asic == ORSA_ASIC_PIVARD) {
        /* The object lives behind the NIC device's function. */
        OrsaPort nic = orsa_port_of(get_first_instance(ks, "NICPhysicalHBA"));
        if (nic.protocol != ORSA_PROTO_NIC)
            return 1;
        return pivard_get_read_object(ks, nic.instance, path, domain, phba_port, ORSA_PROTO_NIC, 1) != 0 ? 1 : 0;
    }

    u8 query[kFatFields] = {};
    query[0] = 1;
    if (ioctl_retrieve_fat(at, query, domain, phba_port) != 0) {
        orsa_set_status(ORSA_STATUS_FAT_FAILED);
        return 1;
    }
    u32 size = orsa_rd32(query);
    /* The first 4 bytes are the log's own header: a FAT shorter than that
     * holds no log. */
    if (size < 4) {
        orsa_set_status(ORSA_STATUS_NO_FAT_DATA);
        return 0;
    }
    if (size > orsa_dump_max_bytes) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:FAT of %u bytes refused\n", __func__, (unsigned)size);
        orsa_set_status(ORSA_STATUS_FAT_FAILED);
        return 1;
    }
    u8 *data = (u8 *)orsa_dmalloc(size);
    u8 *cmd = data != nullptr ? (u8 *)orsa_dmalloc(kFatFields + kFatChunk) : nullptr;
    if (cmd == nullptr) {
        orsa_dfree(data);
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    for (u32 offset = 0; offset < size;) {
        u32 chunk = size - offset < kFatChunk ? size - offset : kFatChunk;
        memset(cmd, 0, kFatFields + chunk);
        u32 fields[4] = {0, offset, chunk, chunk};
        memcpy(cmd, fields, sizeof fields);
        u32 rc = ioctl_retrieve_fat(at, cmd, domain, phba_port);
        if (rc != 0) {
            orsa_set_status(ORSA_STATUS_FAT_FAILED);
            orsa_dfree(cmd);
            orsa_dfree(data);
            return rc;
        }
        memcpy(data + offset, cmd + 16, chunk);
        offset += chunk;
    }
    orsa_dfree(cmd);
    FILE *fp = ORSA_file_open(path, "wb");
    if (fp == nullptr) {
        orsa_set_status(ORSA_STATUS_FAT_FILE);
        orsa_dfree(data);
        return 1;
    }
    bool ok = write_all(fp, data + 4, size - 4);
    ok = fclose(fp) == 0 && ok;
    orsa_dfree(data);
    if (!ok) {
        orsa_set_status(ORSA_STATUS_FAT_FILE);
        return 1;
    }
    return 0;
}

u32 do_ClearFATData(HmNode *fat, HmNode *action, HmValueSlot *)
{
    HmNode *ks = fat != nullptr ? fat->parent : nullptr;
    OrsaPort at = orsa_controller_port(ks);
    if (ks == nullptr || at.instance == 0)
        return 1;
    HmNode *node = action != nullptr ? action : fat;
    u8 req[kFatFields] = {};
    req[0] = 2;
    if (ioctl_clear_fat(at, req, (u8)get_domain_id(node), (u8)get_phba_port_number(node)) != 0) {
        orsa_set_status(ORSA_STATUS_FAT_FAILED);
        return 1;
    }
    return 0;
}

u32 do_RetrieveFwCliData(HmNode *ks, HmNode *action, HmValueSlot *params)
{
    if (ks == nullptr || params == nullptr)
        return 1;
    if (vm_flag || get_ks_type(ks) == ORSA_ASIC_PIVARD) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:FW CLI is not available on this function\n", __func__);
        return 1;
    }
    char path[HM_VALUE_SIZE], line[HM_VALUE_SIZE];
    param_text(params[0], path);
    param_text(params[1], line);
    ORSA_delete_file(path);
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0)
        return 1;
    HmNode *node = action != nullptr ? action : ks;
    u8 *buf = (u8 *)orsa_dzalloc(ORSA_FWCLI_REQUEST);
    if (buf == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_BUFFER);
        return 1;
    }
    u32 length = (u32)strlen(line);
    u32 words[6] = {ORSA_FWCLI_COMPONENT, ORSA_FWCLI_SEGMENT, 0, 0, ORSA_COREDUMP_CHUNK, length};
    memcpy(buf, words, sizeof words);
    memcpy(buf + ORSA_COREDUMP_REQUEST_WORDS, line, length);
    u32 rc = ioctl_get_coredump_seg(at, buf, ORSA_FWCLI_REQUEST, (u8)get_domain_id(node),
                                    (u8)get_phba_port_number(node));
    u32 status = orsa_rd32(buf), output = orsa_rd32(buf + 4);
    u32 result = 0;
    if (rc != 0 || (status == 0 && output > ORSA_COREDUMP_CHUNK)) {
        orsa_set_status(ORSA_STATUS_SEGMENT_FAILED);
        result = 1;
    } else if (status == ORSA_FWCLI_UNSUPPORTED) {
        orsa_set_status(ORSA_STATUS_CLI_UNSUPPORTED);
        result = ORSA_STATUS_CLI_UNSUPPORTED;
    } else if (status != 0) {
        orsa_set_status(ORSA_STATUS_SEGMENT_FAILED);
        result = 1;
    } else {
        FILE *fp = ORSA_file_open(path, "w+");
        bool ok = fp != nullptr && write_all(fp, buf + 8, output);
        if (fp != nullptr)
            ok = fclose(fp) == 0 && ok;
        if (!ok) {
            orsa_set_status(ORSA_STATUS_BAD_PATH);
            result = 1;
        }
    }
    orsa_dfree(buf);
    return result;
}
