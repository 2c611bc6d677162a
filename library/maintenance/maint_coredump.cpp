/* The core-dump file: the firmware's dump components, the template pass of
 * component 1, the segment headers and the closing record. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "backend/orsa_compress.h"
#include "backend/orsa_discovery_io.h"
#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "maintenance/maint_dump.h"
#include "tree/hm_convert.h"

u8 ORSA_CORE_DUMP_STATUS = 0;
u32 successful_segments = 0;
u32 orsa_dump_max_bytes = 256u << 20;

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;

bool function_is_zero(HmNode *pci)
{
    char f[HM_VALUE_SIZE] = "";
    if (internal_get_property(pci, "FunctionNumber", f) != 0)
        return false;
    return strcasecmp(f, "0x0") == 0 || strcmp(f, "0") == 0;
}

/* The file's size now; -1 when it cannot be told. */
long long file_size(const char *path)
{
    struct stat64 st;
    if (stat64(path, &st) != 0)
        return errno == ENOENT ? 0 : -1;
    return (long long)st.st_size;
}

/* Cuts what a failed write appended, so the file stays a sequence of whole
 * segments. */
void cut_back(const char *path, long long size)
{
    if (size >= 0 && truncate64(path, (off64_t)size) != 0)
        pdebug(kCat, ORSA_LOG_ERROR, "%s:cannot cut %s back to %lld bytes\n", __func__, path, size);
}

bool append(const char *path, const void *data, size_t length)
{
    FILE *fp = ORSA_file_open(path, "ab+");
    if (fp == nullptr)
        return false;
    bool ok = length == 0 || fwrite(data, 1, length, fp) == length;
    ok = fclose(fp) == 0 && ok;
    return ok;
}

void reset_globals()
{
    ORSA_CORE_DUMP_STATUS = 0;
    successful_segments = 0;
}

/* A parameter text, empty when not given. */
void param_text(const HmValueSlot &slot, char *out)
{
    if ((u8)slot[0] == ORSA_PARAM_NOT_GIVEN)
        out[0] = '\0';
    else
        orsa_strlcpy(out, slot, HM_VALUE_SIZE);
}

struct DumpProps {
    u8 low = 0, high = 0;
    u8 chip_state = 0;
    u32 sli_intf = 0, asic_id = 0, max_components = 0;
};

/* The dump string as used, and whether the dump counts as asked for. */
void normalise(char *dump, u8 chip_state, u32 *user_req_dump)
{
    bool alive = chip_state == 0;
    if (dump[0] == '\0') {
        orsa_strlcpy(dump, alive ? "live" : "Dead", HM_VALUE_SIZE);
        *user_req_dump = alive ? 0 : 1;
    } else if (strcasecmp(dump, "Test") == 0) {
        orsa_strlcpy(dump, alive ? "Test live" : "Test Dead", HM_VALUE_SIZE);
        *user_req_dump = alive ? 0 : 1;
    } else if (strcasecmp(dump, "live") == 0 || strcasecmp(dump, "Test live") == 0) {
        *user_req_dump = 0;
    } else {
        *user_req_dump = 1;
    }
}

/* The firmware's own components: every segment instance it describes. */
void collect_component(u32 component, u32 port, u8 domain, u8 phba_port, HmNode *ks, const char *path)
{
    i32 max_segment = 0;
    u32 component_status = 0;
    if (ORSA_get_coredump_comp_props(component, port, domain, phba_port, ks, &max_segment, &component_status) != 0 ||
        component_status != 0 || max_segment <= 0)
        return;
    if ((u32)max_segment > ORSA_DUMP_MAX_SEGMENTS) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:component %u claims %d segments\n", __func__, (unsigned)component,
               (int)max_segment);
        orsa_set_status(ORSA_STATUS_COMPONENT_PROPS_FAILED);
        ORSA_CORE_DUMP_STATUS = 1;
        return;
    }
    for (u32 seg = 0; seg < (u32)max_segment; seg++) {
        i32 max_instance = -1;
        u32 seg_status = 0, length = 0;
        u8 low = 0, high = 0;
        if (ORSA_get_coredump_seg_props(component, seg, port, domain, phba_port, ks, &max_instance, &seg_status,
                                        &length, &low, &high) != 0 ||
            seg_status != 0 || max_instance < 0)
            continue;
        if ((u32)max_instance >= ORSA_DUMP_MAX_INSTANCES || length > orsa_dump_max_bytes) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:segment %u of component %u: %d instances of %u bytes refused\n",
                   __func__, (unsigned)seg, (unsigned)component, (int)max_instance + 1, (unsigned)length);
            orsa_set_status(ORSA_STATUS_SEGMENT_PROPS_FAILED);
            ORSA_CORE_DUMP_STATUS = 1;
            continue;
        }
        for (u32 instance = 0; instance <= (u32)max_instance; instance++) {
            ORSA_start_clock(ks);
            ORSA_write_each_segment_data(component, seg, instance, 0, length, 0, nullptr, path, ks, 0, low, high);
        }
    }
}

}  // namespace

HmNode *orsa_dump_function0_hba(HmNode *ks, bool *is_zero, bool *no_pci)
{
    *is_zero = false;
    *no_pci = false;
    HmNode *last = nullptr;
    for (HmNode *n = ks != nullptr ? get_first_instance(ks, "NICPhysicalHBA") : nullptr; n != nullptr;
         n = hm_next_instance(n)) {
        HmNode *pci = internal_get_node(n, "PCI", HM_KIND_GROUP);
        if (pci == nullptr) {
            *no_pci = true;
            return n;
        }
        last = n;
        if (function_is_zero(pci)) {
            *is_zero = true;
            return n;
        }
    }
    return last;
}

u32 ORSA_get_coredump_comp_props(u32 component, u32 port, u8 domain, u8 phba_port, HmNode *, i32 *max_segment,
                                 u32 *component_status)
{
    u8 req[8] = {};
    memcpy(req, &component, 4);
    u32 rc = ioctl_get_coredump_comp_props(orsa_nic_port(port), req, domain, phba_port);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:component %u: status %u\n", __func__, (unsigned)component, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_COMPONENT_PROPS_FAILED);
        return 1;
    }
    *max_segment = (i32)orsa_rd32(req);
    *component_status = orsa_rd32(req + 4);
    return 0;
}

u32 ORSA_get_coredump_seg_props(u32 component, u32 segment, u32 port, u8 domain, u8 phba_port, HmNode *,
                                i32 *max_instance, u32 *seg_status, u32 *max_length, u8 *low_version,
                                u8 *high_version)
{
    u8 req[16] = {};
    memcpy(req, &component, 4);
    memcpy(req + 4, &segment, 4);
    u32 rc = ioctl_get_coredump_seg_props(orsa_nic_port(port), req, domain, phba_port);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:segment %u of component %u: status %u\n", __func__, (unsigned)segment,
               (unsigned)component, (unsigned)rc);
        orsa_set_status(ORSA_STATUS_SEGMENT_PROPS_FAILED);
        return 1;
    }
    *low_version = req[0];
    *high_version = req[1];
    *seg_status = orsa_rd32(req + 4);
    *max_instance = (i32)orsa_rd32(req + 8);
    *max_length = orsa_rd32(req + 12);
    return 0;
}

u8 *ORSA_get_coredump_segment(u32 component, u32 segment, u32 instance, u32 offset, u32 length, u32 code_words,
                              const u32 *code, const char *path, HmNode *node)
{
    if (path == nullptr || node == nullptr)
        return nullptr;
    bool is_zero = false, no_pci = false;
    HmNode *nic = orsa_dump_function0_hba(node, &is_zero, &no_pci);
    OrsaWhere w = orsa_where_of(nic);
    if (nic == nullptr || no_pci || w.at.instance == 0)
        return nullptr;
    bool program = component == 1;
    if (length > ORSA_COREDUMP_CHUNK ||
        (program && (code == nullptr ||
                     code_words > (ORSA_COREDUMP_SEG_REQUEST - ORSA_COREDUMP_REQUEST_WORDS) / 4))) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:a read of %u bytes with %u words of code does not fit a request\n",
               __func__, (unsigned)length, (unsigned)code_words);
        orsa_set_status(ORSA_STATUS_SEGMENT_FAILED);
        return nullptr;
    }
    /* Zeroed whole: nothing of the library's memory travels to the adapter. */
    u8 *buf = (u8 *)orsa_dzalloc(ORSA_COREDUMP_SEG_REQUEST);
    if (buf == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_BUFFER);
        return nullptr;
    }
    u32 words[6] = {component, segment, instance, offset, length, program ? code_words : 0};
    memcpy(buf, words, sizeof words);
    if (program)
        memcpy(buf + ORSA_COREDUMP_REQUEST_WORDS, code, (size_t)code_words * 4);
    u32 rc = ioctl_get_coredump_seg(orsa_nic_port(w.at.instance), buf, ORSA_COREDUMP_SEG_REQUEST, w.domain,
                                    w.phba_port);
    if (rc != 0) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed for seg_id %d and instance %d\n", __func__, (int)segment,
               (int)instance);
        orsa_set_status(ORSA_STATUS_SEGMENT_FAILED);
        orsa_dfree(buf);
        return nullptr;
    }
    return buf;
}

u32 ORSA_core_dump_segment_header(const char *path, u32 component, u32 segment, u16 pci_function, u32 offset,
                                  u32 data_length, u32 segment_status, u32 instance, u32 elapsed_ms, u32 compress,
                                  u8 low_version, u8 high_version)
{
    if (path == nullptr)
        return 1;
    CORE_DUMP_HEADER h;
    memset(&h, 0, sizeof h);
    memcpy(h.magic, ORSA_SEGMENT_MAGIC, 4);
    h.component_id = component;
    h.segment_id = segment;
    h.compress = compress;
    h.low_version = low_version;
    h.high_version = high_version;
    h.pci_function = pci_function;
    h.start_offset = offset;
    h.data_length = data_length;
    h.segment_status = segment_status;
    h.elapsed_ms = elapsed_ms;
    h.header_size = sizeof h;
    h.instance = instance;
    return append(path, &h, sizeof h) ? 0 : 1;
}

u32 ORSA_writing_segment_data(const char *path, const u8 *data, u32 length)
{
    if (path == nullptr || (data == nullptr && length != 0))
        return 1;
    return append(path, data, length) ? 0 : 1;
}

u32 ORSA_write_each_segment_data(u32 component, u32 segment, u32 instance, u32 start_offset, u32 length,
                                 u32 code_words, const u32 *code, const char *path, HmNode *ks, u32 compress,
                                 u8 low_version, u8 high_version)
{
    if (ks == nullptr || path == nullptr)
        return 1;
    bool is_zero = false, no_pci = false;
    HmNode *nic = orsa_dump_function0_hba(ks, &is_zero, &no_pci);
    HmNode *pci = nic != nullptr && !no_pci ? internal_get_node(nic, "PCI", HM_KIND_GROUP) : nullptr;
    char text[HM_VALUE_SIZE] = "";
    if (pci == nullptr || internal_get_property(pci, "FunctionNumber", text) != 0)
        return 1;
    char *end = nullptr;
    long pf = strtol(text, &end, 0);
    if (end == text || *end != '\0' || pf < 0 || pf > 0xFFFF) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s: pf_num is invalid\n", __func__);
        return 1;
    }

    /* A segment of length 0 still makes one read of 0 bytes. */
    u8 *data = length <= orsa_dump_max_bytes ? (u8 *)orsa_dzalloc(length != 0 ? length : 1) : nullptr;
    if (data == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        ORSA_CORE_DUMP_STATUS = 1;
        return 1;
    }
    u32 remaining = length, position = start_offset, collected = 0, seg_status = 0;
    do {
        u32 ask = remaining < ORSA_COREDUMP_CHUNK ? remaining : ORSA_COREDUMP_CHUNK;
        u8 *reply = ORSA_get_coredump_segment(component, segment, instance, position, ask, code_words, code, path, ks);
        if (reply == nullptr) {
            ORSA_CORE_DUMP_STATUS = 1;
            pdebug(kCat, ORSA_LOG_ERROR, "%s:Writing segid %d of instance %d is FAILED.\n", __func__, (int)segment,
                   (int)instance);
            break;
        }
        /* The reply's count is the adapter's: no more than its data area
         * holds and the segment has room for. */
        u32 at = position - start_offset;
        u32 n = orsa_rd32(reply + 4);
        if (n > ORSA_COREDUMP_CHUNK)
            n = ORSA_COREDUMP_CHUNK;
        if (n > length - at)
            n = length - at;
        memcpy(data + at, reply + 8, n);
        seg_status = orsa_rd32(reply);
        if (at + n > collected)
            collected = at + n;
        remaining -= ask;
        position += ask;
        orsa_dfree(reply);
    } while (remaining != 0);

    /* Compressed: the zlib stream, then the length it inflates to. Stored
     * as collected when compression cannot be done, and then flagged so. */
    const u8 *out = data;
    u32 out_length = collected;
    u32 flag = 0;
    u8 *packed = nullptr;
    if (compress != 0) {
        u32 room = GetMaxCompressedLen(collected + 1);
        if (room == 0)
            pdebug(kCat, ORSA_LOG_ERROR, "%s:dist_len is zero.\n", __func__);
        else if ((packed = (u8 *)orsa_dmalloc((size_t)room + 4)) == nullptr)
            pdebug(kCat, ORSA_LOG_ERROR, "%s:Memory allocation failed.\n", __func__);
        else {
            u32 size = CompressData(data, collected, packed, room);
            if (size == 0xFFFFFFFFu) {
                pdebug(kCat, ORSA_LOG_ERROR, "%s:Compression of Data failed.\n", __func__);
            } else {
                memcpy(packed + size, &collected, 4);
                out = packed;
                out_length = size + 4;
                flag = 1;
            }
        }
    }

    u32 elapsed = 0;
    ORSA_stop_clock(ks, &elapsed);
    long long before = file_size(path);
    u32 rc = ORSA_core_dump_segment_header(path, component, segment, (u16)pf, start_offset, out_length, seg_status,
                                           instance, elapsed, flag, low_version, high_version);
    if (rc == 0)
        rc = ORSA_writing_segment_data(path, out, out_length);
    if (rc == 0) {
        successful_segments++;
    } else {
        cut_back(path, before);
        ORSA_CORE_DUMP_STATUS = 1;
        orsa_set_status(ORSA_STATUS_DUMP_FILE_FAILED);
    }
    orsa_dfree(packed);
    orsa_dfree(data);
    return rc;
}

u32 ORSA_record_core_dump(const char *path, u8 chip_state, u32 asic_id, u32 sli_intf, u8 low_version,
                          u8 high_version, u16 month, u16 day, u16 year, u16 hour, u16 minute, u16 second,
                          int16_t utc_bias, const char *dump_string)
{
    if (path == nullptr || dump_string == nullptr) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:INVALID File or CoreDump String.\n", __func__);
        return 1;
    }
    RECORD_CORE_DUMP *r = (RECORD_CORE_DUMP *)orsa_dzalloc(sizeof(RECORD_CORE_DUMP));
    if (r == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return 1;
    }
    memcpy(r->magic, ORSA_RECORD_MAGIC, 4);
    r->one = 1;
    r->chip_state = chip_state;
    char host[256] = "";
    ORSA_get_system_name(host);
    memcpy(r->host_name, host, strnlen(host, sizeof r->host_name - 1));
    r->start_time[0] = year;
    r->start_time[1] = month;
    r->start_time[2] = day;
    r->start_time[3] = hour;
    r->start_time[4] = minute;
    r->start_time[5] = second;
    r->start_bias = utc_bias;
    const char *used = dump_string;
    if (ORSA_CORE_DUMP_STATUS != 0 && used[0] == '\0')
        used = "live";
    memcpy(r->dump_string, used, strnlen(used, sizeof r->dump_string - 1));
    r->successful_segments = successful_segments;
    u32 major = 0, minor = 0;
    char os_name[256] = "";
    if (ORSA_get_os_info(&major, &minor, os_name) == 0) {
        r->os_major = major;
        r->os_minor = minor;
        memcpy(r->os_name, os_name, strnlen(os_name, sizeof r->os_name - 1));
    }
    u16 *t = r->write_time;
    ORSA_get_system_time(&t[1], &t[0], &t[3], &t[2], &t[5], &t[4], nullptr, &r->write_bias);
    r->sli_intf = sli_intf;
    r->asic_id = asic_id;
    r->dump_failed = ORSA_CORE_DUMP_STATUS != 0 ? ORSA_DUMP_FAILED_MARKER : 0;
    r->dump_low_version = low_version;
    r->dump_high_version = high_version;

    long long before = file_size(path);
    FILE *fp = ORSA_file_open(path, "ab+");
    if (fp == nullptr) {
        orsa_set_status(errno == EPERM ? ORSA_STATUS_WRITE_NOT_SUPPORTED : ORSA_STATUS_BAD_PATH);
        orsa_dfree(r);
        return 1;
    }
    bool ok = fwrite(r, 1, sizeof *r, fp) == sizeof *r;
    ok = fclose(fp) == 0 && ok;
    orsa_dfree(r);
    if (!ok) {
        /* A record cut short would read as a segment of garbage. */
        cut_back(path, before);
        orsa_set_status(ORSA_STATUS_DUMP_FILE_FAILED);
        return 1;
    }
    return 0;
}

u32 do_RetrieveQuorvantixCoreDump(HmNode *ks, HmNode *action, HmValueSlot *params)
{
    if (ks == nullptr || params == nullptr)
        return 1;
    HmNode *at_node = action != nullptr ? action : ks;
    u8 domain = (u8)get_domain_id(at_node);
    u8 phba_port = (u8)get_phba_port_number(at_node);
    char path[HM_VALUE_SIZE], dump[HM_VALUE_SIZE];
    param_text(params[0], path);
    param_text(params[1], dump);

    FILE *probe = path[0] != '\0' ? ORSA_file_open(path, "ab+") : nullptr;
    if (probe == nullptr) {
        orsa_set_status(ORSA_STATUS_BAD_PATH);
        return 1;
    }
    ORSA_file_close(probe);
    ORSA_delete_file(path);
    u16 month = 0, year = 0, hour = 0, day = 0, second = 0, minute = 0;
    int16_t bias = 0;
    ORSA_get_system_time(&month, &year, &hour, &day, &second, &minute, nullptr, &bias);

    u32 rc = 0;
    if (get_ks_type(ks) == ORSA_ASIC_PIVARD) {
        rc = ORSA_record_core_dump(path, 0, 0, ORSA_PIVARD_SLI_INTF, 1, 0, month, day, year, hour, minute, second,
                                   bias, dump);
        reset_globals();
        return rc;
    }

    bool is_zero = false, no_pci = false;
    HmNode *first_nic = get_first_instance(ks, "NICPhysicalHBA");
    orsa_dump_function0_hba(ks, &is_zero, &no_pci);
    if (first_nic == nullptr)
        return 1;
    if (no_pci) {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to get PCI Node.\n", __func__);
        return 1;
    }

    OrsaPort port = orsa_port_of(first_nic);
    DumpProps p;
    u8 props[20] = {};
    if (ioctl_get_coredump_props(orsa_nic_port(port.instance), props, domain, phba_port) == 1) {
        /* No answer: the chip is taken as dead. */
        p.chip_state = 1;
        p.low = 1;
        p.high = 0;
        p.max_components = 7;
        p.sli_intf = orsa_get_sli_intf();
        p.asic_id = orsa_get_sli_intf();
    } else {
        p.low = props[0];
        p.high = props[1];
        p.chip_state = props[2];
        p.sli_intf = orsa_rd32(props + 4);
        p.asic_id = orsa_rd32(props + 8);
        p.max_components = orsa_rd32(props + 16);
    }

    if (!is_zero) {
        ORSA_CORE_DUMP_STATUS = 1;
        rc = ORSA_record_core_dump(path, p.chip_state, p.asic_id, p.sli_intf, p.low, p.high, month, day, year, hour,
                                   minute, second, bias, dump);
        reset_globals();
        return rc;
    }

    /* A generation the interface word does not name stays unknown. */
    u32 asic_type = ORSA_ASIC_UNKNOWN;
    ORSA_get_asic_type(p.sli_intf, &asic_type, (i32)p.asic_id);

    if (p.max_components != 0) {
        u32 user_req_dump = 0;
        normalise(dump, p.chip_state, &user_req_dump);
        if (strcasecmp(dump, "Dead") == 0)
            p.chip_state = 1;
        bool dead_string = strcasecmp(dump, "Dead") == 0 || strcasecmp(dump, "Test Dead") == 0;
        u32 components = p.max_components;
        if (components > ORSA_DUMP_MAX_COMPONENTS) {
            pdebug(kCat, ORSA_LOG_ERROR, "%s:%u components claimed, %u read\n", __func__, (unsigned)components,
                   (unsigned)ORSA_DUMP_MAX_COMPONENTS);
            components = ORSA_DUMP_MAX_COMPONENTS;
        }
        for (u32 c = 1; c < components; c++) {
            if (c == 1) {
                ORSA_get_byte_code_info(asic_type, dump, path, ks, user_req_dump, p.chip_state);
                continue;
            }
            if (c == 5 || c == 6)
                continue;
            if ((c == 2 || c == 3) && dead_string)
                continue;
            collect_component(c, port.instance, domain, phba_port, ks, path);
        }
    }

    rc = ORSA_record_core_dump(path, p.chip_state, p.asic_id, p.sli_intf, p.low, p.high, month, day, year, hour,
                               minute, second, bias, dump);
    reset_globals();
    if (rc != 0)
        return 1;
    if (p.chip_state == 1 &&
        (asic_type == ORSA_ASIC_KS2 || asic_type == ORSA_ASIC_KS3 || asic_type == ORSA_ASIC_VESKARN))
        orsa_set_status(ORSA_STATUS_REBOOT_NOTICE);
    return 0;
}
