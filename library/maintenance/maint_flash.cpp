/* Firmware update of an adapter from a UFI image or a Pivard object file. */
#include "maintenance/maint_flash.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_host.h"
#include "backend/orsa_identity.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "backend/orsa_propertyutil.h"
#include "tree/hm_convert.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"

namespace {

#define LOG(level, ...) pdebug(ORSA_LOG_CAT_OTHER, level, __VA_ARGS__)

const char kSignature[] = "Kestrimondale Corp";
constexpr size_t kSignatureLength = 18;
/* The directory's cookie: two 16-byte halves. */
const u8 kCookie[32] = {'*', '*', '*', ' ', 'K', 'D', ' ', 'F', 'L', 'A', 'S', 0,   0,   0,   0,   0,
                        'H', ' ', 'D', 'I', 'R', 'E', 'C', 'T', 'O', 'R', 'Y', ' ', '*', '*', '*', ' '};
constexpr u32 kDirCount = 44, kDirEntries = 192, kDirEntry = 64;
constexpr u32 kGenerationAt = 72, kRevisionAt = 96, kImageCountAt = 68;
constexpr u32 kFwConfigSize = 156, kFwConfigRevision = 4;
constexpr u32 kPhyDetailsSize = 24;
constexpr u32 kRequestWords = 20; /* op, optype, length, offset and one spare word before the data ends */
constexpr u32 kKs2BootCrcAt = 0x4005C, kKs2BootCrcOffset = 0x3FFFC;
constexpr u32 kVeskarnOffsetOptype = 7;
constexpr u32 kUnknownType = 0xFFFFFFFFu;

struct Ks2Region {
    u32 ufi_offset, size, optype;
};
/* Written in this order; the boot code (optype 1) only when it differs. */
const Ks2Region kKs2Regions[] = {
    {0x100000, 0x140000, 0}, {0x240000, 0x140000, 9}, {0x380000, 0x140000, 10}, {0x4C0000, 0x140000, 11},
    {0x000000, 0x40000, 1},  {0x700000, 0x40000, 2},  {0x080000, 0x40000, 8},   {0x780000, 0x40000, 3},
};
constexpr u32 kKs2BootOptype = 1;

struct Ks3Row {
    u32 ufi_offset, optype, size, image_type;
};
const Ks3Row flash_types[] = {
    {0x200000, 0, 0x200000, 0xA0},  {0x40000, 1, 0x100000, 0xE0},   {0xC00000, 2, 0x80000, 0x22},
    {0xC80000, 3, 0x80000, 0x20},   {0xD00000, 8, 0x80000, 0x21},   {0x400000, 9, 0x200000, 0xB0},
    {0x600000, 10, 0x200000, 0xA2}, {0x800000, 11, 0x200000, 0xB2}, {0xF40000, 13, 0x40000, 0x10},
    {0x140000, 99, 0x40000, 0xC0},
};
constexpr u32 kNcsiOptype = 13, kPhyOptype = 99;

struct VeskarnMap {
    u32 image_type, optype;
};
const VeskarnMap kVeskarnOptypes[] = {
    {0xA0, 0}, {0x21, 8},  {0x10, 13}, {0x20, 3},  {0x30, 22}, {0x22, 2},
    {0xD0, 18}, {0xB0, 9}, {0xC0, 21}, {0xD1, 19}, {0xD2, 23}, {0xE0, 1},
};

u32 derived_optype(u32 image_type)
{
    for (const VeskarnMap &m : kVeskarnOptypes)
        if (m.image_type == image_type)
            return m.optype;
    return kUnknownType;
}

u32 rd32(const u8 *p)
{
    return orsa_rd32(p);
}

void wr32(u8 *p, u32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = (u8)(v >> (8 * i));
}

bool read_at(FILE *f, u64 offset, void *buffer, size_t n)
{
    return fseeko64(f, (off64_t)offset, SEEK_SET) == 0 && fread(buffer, 1, n, f) == n;
}

u64 file_size(FILE *f)
{
    if (fseeko64(f, 0, SEEK_END) != 0)
        return 0;
    off64_t end = ftello64(f);
    return end < 0 ? 0 : (u64)end;
}

/* The path as given, else in the KS2 fallback folder. */
FILE *open_ufi(const char *path)
{
    FILE *f = ORSA_file_open(path, "rb");
    if (f != nullptr)
        return f;
    char alt[512];
    snprintf(alt, sizeof alt, "%s%s", ORSA_UFI_FALLBACK_DIR, path);
    return ORSA_file_open(alt, "rb");
}

bool signature_ok(const u8 *header)
{
    return memcmp(header, kSignature, kSignatureLength) == 0;
}

/* The directory from `start` in 32-byte steps, `length` bytes of it. */
u32 find_directory(FILE *stream, u64 start, u8 *directory, u32 length)
{
    if (stream == nullptr || directory == nullptr || fseeko64(stream, (off64_t)start, SEEK_SET) != 0)
        return 1;
    u8 step[32];
    while (fread(step, 1, sizeof step, stream) == sizeof step) {
        if (memcmp(step, kCookie, sizeof kCookie) != 0)
            continue;
        memcpy(directory, step, sizeof step);
        return fread(directory + sizeof step, 1, length - sizeof step, stream) == length - sizeof step ? 0 : 1;
    }
    return 1;
}

/* A flash-write request of `size` data bytes, zeroed, with its words set;
 * none (status 16) when there is no memory. */
u8 *flash_request(u32 optype, u32 size, u32 offset)
{
    u8 *req = (u8 *)orsa_dzalloc((size_t)size + kRequestWords);
    if (req == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return nullptr;
    }
    wr32(req + 0, 1);
    wr32(req + 4, optype);
    wr32(req + 8, size);
    wr32(req + 12, offset);
    return req;
}

/* Reads `size` component bytes at `at` of the file and sends them. */
u32 write_component(OrsaPort at, FILE *stream, u64 file_offset, u32 optype, u32 size, u32 offset, u8 offset_flag,
                    u8 domain, u8 phba_port, u32 *adapter_rc)
{
    u8 *req = flash_request(optype, size, offset_flag ? offset : 0);
    if (req == nullptr)
        return 1;
    if (!read_at(stream, file_offset, req + 16, size)) {
        LOG(ORSA_LOG_ERROR, "%s:Failed to read %u bytes at %llu\n", __func__, (unsigned)size,
            (unsigned long long)file_offset);
        orsa_dfree(req);
        orsa_set_status(ORSA_STATUS_UFI_FORMAT);
        return 1;
    }
    *adapter_rc = ioctl_upgrade_flash(at, (u32 *)req, domain, phba_port, offset_flag);
    orsa_dfree(req);
    return 0;
}

/* An image this update cannot use: status 40 (the caller's 166 replaces it). */
u32 refuse_image(const char *why)
{
    LOG(ORSA_LOG_ERROR, "%s", why);
    orsa_set_status(ORSA_STATUS_UFI_FORMAT);
    return 1;
}

}  // namespace

/* ---- image type and headers ---- */

u32 get_ufi_header(FILE *stream, u8 *buf)
{
    if (stream == nullptr || buf == nullptr || fread(buf, 1, ORSA_UFI_HEADER_KS2, stream) != ORSA_UFI_HEADER_KS2 ||
        !signature_ok(buf)) {
        LOG(ORSA_LOG_ERROR, "No signature found\n");
        return 1;
    }
    return 0;
}

u32 ORSA_get_ufi_type(const char *path, u32 *revision_code, u32 asic_type)
{
    /* The KS2 update reads its image from the fallback folder too: its type
     * is told from the same file. */
    FILE *f = asic_type == ORSA_ASIC_KS2 ? open_ufi(path) : ORSA_file_open(path, "rb");
    if (f == nullptr)
        return ORSA_STATUS_UFI_OPEN;
    u8 header[ORSA_UFI_HEADER] = {};
    u32 want = asic_type == ORSA_ASIC_KS2 ? ORSA_UFI_HEADER_KS2 : kRevisionAt + 1;
    size_t got = fread(header, 1, sizeof header, f);
    ORSA_file_close(f);
    if (got < want || !signature_ok(header)) {
        LOG(ORSA_LOG_ERROR, "No signature found\n");
        return ORSA_ASIC_UNKNOWN;
    }
    u8 generation = header[kGenerationAt];
    if (asic_type == ORSA_ASIC_KS2)
        return generation == '2' ? ORSA_ASIC_KS2 : ORSA_ASIC_UNKNOWN;
    u8 revision = header[kRevisionAt];
    switch (generation) {
    case '2':
        return ORSA_ASIC_KS2;
    case '3':
        if (revision_code != nullptr)
            *revision_code = revision == 16 ? 4 : revision == 17 ? 11 : 3;
        return ORSA_ASIC_KS3;
    case '4':
        if (revision_code != nullptr && (revision == 16 || revision == 17 || revision == 32))
            *revision_code = revision;
        return ORSA_ASIC_VESKARN;
    default:
        return ORSA_ASIC_UNKNOWN;
    }
}

u32 get_flash_dir(FILE *stream, u8 *directory)
{
    return find_directory(stream, ORSA_UFI_HEADER_KS2, directory, ORSA_UFI_DIR_READ_KS2);
}

u32 get_flash_dir_ks3(u64 start, FILE *stream, u8 *directory)
{
    return find_directory(stream, start, directory, ORSA_UFI_DIR_READ);
}

/* The flash directory of a KS3 or Veskarn UFI, searched from base, in a
 * block the caller frees; none (the reason logged or set) when it cannot be
 * had. */
static u8 *read_image_directory(FILE *stream, u64 base, const char *caller)
{
    u8 *directory = (u8 *)orsa_dzalloc(ORSA_UFI_DIR_READ);
    if (directory == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_MEMORY);
        return nullptr;
    }
    if (get_flash_dir_ks3(base, stream, directory) != 0) {
        LOG(ORSA_LOG_ERROR, "%s:Invalid Cookie. UFI corrupted.\n", caller);
        orsa_dfree(directory);
        return nullptr;
    }
    return directory;
}

/* ---- KS2 ---- */

u32 ChkForValidUFI(const char *path, u8 *header, u8 *directory)
{
    FILE *f = open_ufi(path);
    if (f == nullptr)
        return orsa_set_status(ORSA_STATUS_UFI_OPEN);
    u32 rc = get_ufi_header(f, header) != 0 || get_flash_dir(f, directory) != 0 ? ORSA_STATUS_UFI_FORMAT : 0;
    ORSA_file_close(f);
    return rc != 0 ? orsa_set_status(rc) : 0;
}

u32 ProcessWriteFlash(const char *path, u32 offset, u32 size, u8 **buffer)
{
    if (path == nullptr || path[0] == '\0' || path[0] == '\n' || buffer == nullptr) {
        LOG(ORSA_LOG_ERROR, "\n No filename entered !\n\n");
        return 1;
    }
    FILE *f = open_ufi(path);
    if (f == nullptr)
        return 1;
    u8 *data = (u8 *)orsa_dmalloc(size != 0 ? size : 1);
    bool ok = data != nullptr && read_at(f, (u64)offset + ORSA_UFI_HEADER_KS2, data, size);
    ORSA_file_close(f);
    if (!ok) {
        orsa_dfree(data);
        return 1;
    }
    *buffer = data;
    return 0;
}

u32 ProcessFlashFirmwareCmd(const char *path, u32 offset, u32 size, u8 **buffer)
{
    u8 header[ORSA_UFI_HEADER_KS2];
    u8 *directory = (u8 *)orsa_dmalloc(ORSA_UFI_DIR_READ_KS2);
    if (directory == nullptr)
        return orsa_set_status(ORSA_STATUS_NO_MEMORY);
    u32 rc = ChkForValidUFI(path, header, directory);
    orsa_dfree(directory);
    if (rc != 0)
        return rc;
    return ProcessWriteFlash(path, offset, size, buffer);
}

u32 if_required_redboot_flash(OrsaPort at, const char *path, u8 domain, u8 phba_port)
{
    FILE *f = open_ufi(path);
    if (f == nullptr)
        return 0;
    u8 crc[4];
    bool ok = read_at(f, kKs2BootCrcAt, crc, sizeof crc);
    ORSA_file_close(f);
    if (!ok)
        return 1;
    u32 *words = (u32 *)orsa_dzalloc(6 * sizeof(u32));
    if (words == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_BUFFER);
        return 1;
    }
    words[0] = 4;
    words[1] = kKs2BootOptype;
    words[2] = 4;
    words[3] = kKs2BootCrcOffset;
    u32 rc = ioctl_get_flash_component_details(at, words, domain, phba_port);
    bool same = rc == 0 && words[4] == rd32(crc);
    orsa_dfree(words);
    return same ? 0 : 1;
}

/* ---- KS3 and Veskarn ---- */

u32 is_required_flash(OrsaPort at, FILE *stream, u8 domain, u8 phba_port, u32 optype, u32 size, u32 offset,
                      u64 base, u8 offset_flag)
{
    u32 *words = (u32 *)orsa_dzalloc(6 * sizeof(u32));
    if (words == nullptr) {
        /* Not knowing whether the adapter holds it is no reason to leave it out. */
        orsa_set_status(ORSA_STATUS_NO_BUFFER);
        return ORSA_FLASH_CHECK_FAILED;
    }
    u8 crc[4];
    if (size < 4 || !read_at(stream, base + offset + size - 4, crc, sizeof crc)) {
        orsa_dfree(words);
        orsa_set_status(ORSA_STATUS_UFI_FORMAT);
        return ORSA_FLASH_CHECK_FAILED;
    }
    words[0] = 4;
    words[1] = optype;
    words[2] = 4;
    words[3] = offset_flag ? offset + size - 4 : size - 4;
    u32 rc = ioctl_get_flash_component_details(at, words, domain, phba_port);
    u32 adapter_crc = words[4];
    orsa_dfree(words);
    if (rc == 2 || rc == 3)
        return ORSA_STATUS_FW_TWO_STEP;
    if (rc != 0 || adapter_crc != rd32(crc))
        return ORSA_FLASH_WRITE;
    return ORSA_FLASH_SKIP;
}

u32 is_ncsi_required(HmNode *controller)
{
    char version[HM_VALUE_SIZE] = "";
    if (controller == nullptr || internal_get_property(controller, "ActiveFirmwareVersion", version) != 0)
        return 0;
    int n[4];
    if (sscanf(version, "%d.%d.%d.%d", &n[0], &n[1], &n[2], &n[3]) != 4)
        return 0;
    const int first[4] = {3, 102, 148, 0};
    for (int i = 0; i < 4; ++i) {
        if (n[i] > first[i])
            return 1;
        if (n[i] < first[i])
            return 0;
    }
    return 1;
}

u32 phy_flashing_required(HmNode *controller)
{
    HmNode *phba = orsa_first_phba(controller);
    if (phba == nullptr)
        return 1;
    OrsaWhere w = orsa_where_of(phba);
    u8 reply[kPhyDetailsSize] = {};
    if (w.at.instance == 0 || ioctl_get_phy_details(w.at, reply, w.domain, w.phba_port) != 0)
        return 0;
    return orsa_rd16(reply) == 13 && orsa_rd16(reply + 2) == 6 ? 1 : 0;
}

u32 ORSA_flash_ks3_image(HmNode *controller, OrsaPort at, FILE *stream, u32 num_imgs, u8 domain, u8 phba_port)
{
    const u64 base = ORSA_UFI_HEADER + (u64)ORSA_UFI_IMAGE_HEADER * num_imgs;
    u8 *directory = read_image_directory(stream, base, __func__);
    if (directory == nullptr)
        return 1;
    /* What will be written, known before anything is: the directory's rows,
     * less the NCSI and PHY components the adapter does not take. */
    bool present = false;
    bool write[sizeof flash_types / sizeof flash_types[0]] = {};
    for (size_t i = 0; i < sizeof flash_types / sizeof flash_types[0]; ++i) {
        const Ks3Row &r = flash_types[i];
        if (!is_comp_in_ufi(directory, r.image_type, nullptr))
            continue;
        present = true;
        if (r.optype == kNcsiOptype && !is_ncsi_required(controller)) {
            LOG(ORSA_LOG_INFO, "%s:not flashing NCSI.\n", __func__);
            continue;
        }
        if (r.optype == kPhyOptype && !phy_flashing_required(controller))
            continue;
        write[i] = true;
    }
    orsa_dfree(directory);
    if (!present)
        return refuse_image("The UFI holds no component of this controller.\n");
    const u64 size = file_size(stream);
    for (size_t i = 0; i < sizeof flash_types / sizeof flash_types[0]; ++i)
        if (write[i] && base + flash_types[i].ufi_offset + flash_types[i].size > size)
            return refuse_image("A component of the UFI lies beyond its end.\n");

    bool optional_refused = false;
    for (size_t i = 0; i < sizeof flash_types / sizeof flash_types[0]; ++i) {
        if (!write[i])
            continue;
        const Ks3Row &r = flash_types[i];
        u32 rc = 0;
        if (write_component(at, stream, base + r.ufi_offset, r.optype, r.size, 0, 0, domain, phba_port, &rc) != 0)
            return 1;
        if (rc == 0)
            continue;
        if (r.optype == kPhyOptype && (rc == 2 || rc == 3)) {
            /* The adapter refuses the optional PHY component: the rest still goes. */
            LOG(ORSA_LOG_WARNING, "Flash Failed. Status = %d\n", (int)rc);
            optional_refused = true;
            continue;
        }
        LOG(ORSA_LOG_ERROR, "Flash Failed. Status = %d\n", (int)rc);
        return 1;
    }
    return optional_refused ? 1 : 0;
}

u32 ORSA_flash_veskarn_image(HmNode *controller, OrsaPort at, FILE *stream, u32 num_imgs, u8 domain, u8 phba_port)
{
    const u64 base = ORSA_UFI_HEADER + (u64)ORSA_UFI_IMAGE_HEADER * num_imgs;
    u8 *directory = read_image_directory(stream, base, __func__);
    if (directory == nullptr)
        return 1;
    struct Entry {
        u32 image_type, offset, size, optype;
    } entries[ORSA_UFI_DIR_MAX_ENTRIES];
    const u32 count = rd32(directory + kDirCount);
    bool fits = count <= ORSA_UFI_DIR_MAX_ENTRIES;
    for (u32 i = 0; fits && i < count; ++i) {
        const u8 *e = directory + kDirEntries + kDirEntry * i;
        entries[i] = {rd32(e), rd32(e + 4), rd32(e + 8), orsa_rd16(e + 24)};
    }
    orsa_dfree(directory);
    if (!fits)
        return refuse_image("The UFI directory names more entries than it holds.\n");

    /* Every entry that will be written lies inside the file, before the
     * first is sent; entries the update skips do not matter. */
    const u64 size = file_size(stream);
    bool any = false;
    for (u32 i = 0; i < count; ++i) {
        const Entry &e = entries[i];
        bool explicit_optype = e.optype != ORSA_UFI_DERIVED_OPTYPE;
        if (!explicit_optype && derived_optype(e.image_type) == kUnknownType)
            continue;
        if ((explicit_optype && e.size < 4) || base + e.offset + e.size > size)
            return refuse_image("A component of the UFI lies beyond its end.\n");
        any = true;
    }
    if (!any)
        return refuse_image("The UFI holds no component of this controller.\n");

    u8 offset_flag = 0;
    bool derived_failed = false;
    for (u32 i = 0; i < count; ++i) {
        const Entry &e = entries[i];
        u32 optype;
        bool explicit_optype = e.optype != ORSA_UFI_DERIVED_OPTYPE;
        if (explicit_optype) {
            optype = e.optype;
            if (!offset_flag) {
                char active[HM_VALUE_SIZE] = "";
                if (internal_get_property(controller, "ActiveFirmwareVersion", active) != 0 ||
                    strstr(active, "10.0") == nullptr) {
                    LOG(ORSA_LOG_INFO, "%s:Using the offset based method\n", __func__);
                    offset_flag = 1;
                }
            }
            if (offset_flag)
                optype = kVeskarnOffsetOptype;
            u32 need = is_required_flash(at, stream, domain, phba_port, optype, e.size, e.offset, base, offset_flag);
            if (need == ORSA_STATUS_FW_TWO_STEP)
                return ORSA_STATUS_FW_TWO_STEP;
            if (need == ORSA_FLASH_CHECK_FAILED)
                return 1;
            if (need == ORSA_FLASH_SKIP)
                continue;
        } else {
            optype = derived_optype(e.image_type);
            if (optype == kUnknownType)
                continue;
        }
        u32 rc = 0;
        if (write_component(at, stream, base + e.offset, optype, e.size, e.offset, offset_flag, domain, phba_port,
                            &rc) != 0)
            return 1;
        if (rc == 0)
            continue;
        if (!explicit_optype) {
            /* Adapters refuse optional components: the update goes on. */
            LOG(ORSA_LOG_WARNING, "Failed to flash firmware with status = 0x%x\n", (unsigned)rc);
            derived_failed = true;
            continue;
        }
        LOG(ORSA_LOG_ERROR, "Failed to flash firmware with status = 0x%x\n", (unsigned)rc);
        if (rc == 3)
            return ORSA_STATUS_FW_TWO_STEP;
        if (rc == ORSA_STATUS_FLASH_ADDSTATUS_86 || rc == ORSA_STATUS_FLASH_ADDSTATUS_87)
            return rc;
        return 1;
    }
    return derived_failed ? 1 : 0;
}

u32 ORSA_fw_download(HmNode *controller, OrsaPort at, const char *path, u8 domain, u8 phba_port, u32 asic_type)
{
    FILE *f = ORSA_file_open(path, "rb");
    if (f == nullptr) {
        orsa_set_status(ORSA_STATUS_UFI_OPEN);
        return 1;
    }
    u8 header[ORSA_UFI_HEADER];
    if (fread(header, 1, sizeof header, f) != sizeof header || !signature_ok(header)) {
        LOG(ORSA_LOG_ERROR, "%s:Invalid signature in UFI Header.\n", __func__);
        ORSA_file_close(f);
        orsa_set_status(ORSA_STATUS_UFI_FORMAT);
        return 1;
    }
    const u32 num_imgs = rd32(header + kImageCountAt);
    /* The image headers, then the component area: all inside the file. */
    if (ORSA_UFI_HEADER + (u64)ORSA_UFI_IMAGE_HEADER * num_imgs > file_size(f)) {
        ORSA_file_close(f);
        return refuse_image("The UFI names more image headers than it holds.\n");
    }
    u32 result = 0;
    bool flashed = false;
    for (u32 i = 0; i < num_imgs && result == 0; ++i) {
        u8 image[ORSA_UFI_IMAGE_HEADER];
        if (!read_at(f, ORSA_UFI_HEADER + (u64)ORSA_UFI_IMAGE_HEADER * i, image, sizeof image)) {
            result = refuse_image("Failed to read an image header.\n");
            break;
        }
        if (rd32(image) != 1)
            continue;
        flashed = true;
        /* The first failure stands: nothing more is written after it. */
        result = asic_type == ORSA_ASIC_KS3 ? ORSA_flash_ks3_image(controller, at, f, num_imgs, domain, phba_port)
                                            : ORSA_flash_veskarn_image(controller, at, f, num_imgs, domain, phba_port);
    }
    ORSA_file_close(f);
    if (!flashed && result == 0)
        return refuse_image("The UFI has no firmware image header.\n");
    return result;
}

/* ---- Pivard ---- */

u32 process_obj_file(const u8 *data, u32 size, u8 *header)
{
    if (data == nullptr || header == nullptr || size < ORSA_PIVARD_HEADER) {
        LOG(ORSA_LOG_ERROR, "%s: Invalid size\n", __func__);
        orsa_set_status(ORSA_STATUS_OBJ_FORMAT);
        return 1;
    }
    memcpy(header, data, ORSA_PIVARD_HEADER);
    auto magic_ok = [header]() { return orsa_rd16(header + 4) == 1 || orsa_rd16(header + 6) == 0xFEAA; };
    if (!magic_ok()) {
        for (int w = 0; w < 3; ++w) {
            u8 *p = header + 4 * w;
            u8 t = p[0];
            p[0] = p[3];
            p[3] = t;
            t = p[1];
            p[1] = p[2];
            p[2] = t;
        }
        if (!magic_ok()) {
            LOG(ORSA_LOG_ERROR, "%s: Invalid Magic Number\n", __func__);
            orsa_set_status(ORSA_STATUS_OBJ_FORMAT);
            return 1;
        }
    }
    if (rd32(header) != size) {
        LOG(ORSA_LOG_ERROR, "%s: Invalid FileSize\n", __func__);
        orsa_set_status(ORSA_STATUS_OBJ_FORMAT);
        return 1;
    }
    if (header[11] != 0xF7) {
        LOG(ORSA_LOG_ERROR, "%s: Invalid FileType\n", __func__);
        orsa_set_status(ORSA_STATUS_OBJ_FORMAT);
        return 1;
    }
    return 0;
}

namespace {

/* The whole file in a new buffer; 39 or 31 (with the last status) when it
 * cannot be had. */
u32 read_object(const char *path, u8 **data, u32 *size)
{
    FILE *f = ORSA_file_open(path, "rb");
    if (f == nullptr)
        return orsa_set_status(ORSA_STATUS_UFI_OPEN);
    u64 length = file_size(f);
    u8 *buffer = length < 0x80000000ull ? (u8 *)orsa_dmalloc(length != 0 ? (size_t)length : 1) : nullptr;
    if (buffer == nullptr) {
        ORSA_file_close(f);
        return orsa_set_status(ORSA_STATUS_NO_BUFFER);
    }
    bool ok = read_at(f, 0, buffer, (size_t)length);
    ORSA_file_close(f);
    if (!ok) {
        orsa_dfree(buffer);
        return orsa_set_status(ORSA_STATUS_OBJ_FORMAT);
    }
    *data = buffer;
    *size = (u32)length;
    return 0;
}

}  // namespace

u32 process_pivard_flash(const char *path)
{
    u8 *data = nullptr;
    u32 size = 0;
    if (read_object(path, &data, &size) != 0)
        return 1;
    u8 header[ORSA_PIVARD_HEADER];
    u32 rc = process_obj_file(data, size, header);
    orsa_dfree(data);
    return rc;
}

u32 flash_pivard_image(HmNode *, OrsaPort at, const u8 *data, u32 size, u8 domain, u8 phba_port)
{
    u8 *req = (u8 *)orsa_dmalloc(ORSA_PIVARD_REQUEST);
    if (req == nullptr) {
        orsa_set_status(ORSA_STATUS_NO_BUFFER);
        return 1;
    }
    u32 offset = 0, remaining = size;
    u32 result = 1;
    while (remaining > 0) {
        u32 chunk = remaining < ORSA_FLASH_CHUNK ? remaining : ORSA_FLASH_CHUNK;
        bool eof = chunk == remaining;
        memset(req, 0, ORSA_PIVARD_REQUEST);
        wr32(req, chunk | (eof ? 0x80000000u : 0));
        wr32(req + 4, offset);
        memcpy(req + 8, "/prg", 5);
        memcpy(req + 112, data + offset, chunk);
        if (ioctl_common_write_object_v1(at, req, ORSA_PIVARD_REQUEST, domain, phba_port) != 0)
            break;
        u32 written = rd32(req);
        if (written == 0) {
            LOG(ORSA_LOG_ERROR, "%s: No data has been written\n", __func__);
            break;
        }
        if (eof) {
            result = req[4] != 0 ? ORSA_STATUS_FW_UPDATED : 0;
            break;
        }
        if (written > chunk) {
            /* More than was sent: a reply to trust no further. */
            LOG(ORSA_LOG_ERROR, "%s: The adapter reports %u bytes written of %u\n", __func__, (unsigned)written,
                (unsigned)chunk);
            break;
        }
        offset += written;
        remaining -= written;
    }
    orsa_dfree(req);
    return result;
}

u32 ORSA_pivard_fw_download(HmNode *controller, OrsaPort at, const char *path, u8 domain, u8 phba_port)
{
    u8 *data = nullptr;
    u32 size = 0;
    if (read_object(path, &data, &size) != 0)
        return 1;
    u32 rc = flash_pivard_image(controller, at, data, size, domain, phba_port);
    orsa_dfree(data);
    return rc;
}

/* ---- the action ---- */

namespace {

/* The KS2 regions in order; 0 with notice 55, else the failure. */
u32 flash_ks2(OrsaPort at, const char *path, u8 domain, u8 phba_port)
{
    /* Every region is in the file before the first is sent. */
    FILE *f = open_ufi(path);
    u64 size = f != nullptr ? file_size(f) : 0;
    ORSA_file_close(f);
    for (const Ks2Region &r : kKs2Regions) {
        if ((u64)ORSA_UFI_HEADER_KS2 + r.ufi_offset + r.size > size) {
            LOG(ORSA_LOG_ERROR, "%s:The UFI ends before its regions do.\n", __func__);
            orsa_set_status(ORSA_STATUS_FW_UPDATE_FAILED);
            return 1;
        }
    }
    for (const Ks2Region &r : kKs2Regions) {
        if (r.optype == kKs2BootOptype) {
            bool required = at.protocol == ORSA_PROTO_ISCSI || at.protocol == ORSA_PROTO_NIC
                                ? if_required_redboot_flash(at, path, domain, phba_port) != 0
                                : true;
            if (!required)
                continue;
        }
        u8 *data = nullptr;
        u32 rc = ProcessFlashFirmwareCmd(path, r.ufi_offset, r.size, &data);
        if (rc != 0) {
            orsa_set_status(ORSA_STATUS_FW_UPDATE_FAILED);
            return rc;
        }
        u8 *req = flash_request(r.optype, r.size, 0);
        if (req == nullptr) {
            orsa_dfree(data);
            orsa_set_status(ORSA_STATUS_FW_UPDATE_FAILED);
            return 1;
        }
        memcpy(req + 16, data, r.size);
        orsa_dfree(data);
        rc = ioctl_upgrade_flash(at, (u32 *)req, domain, phba_port, 0);
        orsa_dfree(req);
        if (rc != 0) {
            orsa_set_status(ORSA_STATUS_FW_UPDATE_FAILED);
            return rc;
        }
    }
    orsa_set_status(ORSA_STATUS_FW_UPDATED);
    return 0;
}

}  // namespace

u32 do_UpgradeFlashROM(HmNode *group, HmNode *action, HmValueSlot *params)
{
    if (vm_flag) {
        orsa_set_status(ORSA_STATUS_FW_VF);
        return 1;
    }
    HmNode *ks = orsa_controller_of(group);
    if (ks == nullptr || params == nullptr || orsa_first_phba(ks) == nullptr) {
        LOG(ORSA_LOG_ERROR, "%s:No physical HBA found\n", __func__);
        return 1;
    }
    OrsaPort at = orsa_controller_port(ks);
    if (at.instance == 0) {
        LOG(ORSA_LOG_ERROR, "%s:No physical HBA found\n", __func__);
        return 1;
    }
    char path[HM_VALUE_SIZE];
    orsa_strlcpy(path, params[0], sizeof path);
    HmNode *where = action != nullptr ? action : group;
    u8 domain = (u8)get_domain_id(where);
    u8 phba_port = (u8)get_phba_port_number(where);
    u32 asic = get_ks_type(ks);
    if (asic == ORSA_ASIC_UNREADABLE)
        return 1;

    if (asic == ORSA_ASIC_PIVARD) {
        if (process_pivard_flash(path) != 0)
            return 1;
        u32 rc = ORSA_pivard_fw_download(ks, at, path, domain, phba_port);
        if (rc == 0)
            return 0;
        if (rc == ORSA_STATUS_FW_UPDATED) {
            orsa_set_status(ORSA_STATUS_FW_UPDATED);
            return 0;
        }
        orsa_set_status(ORSA_STATUS_FW_UPDATE_FAILED);
        return rc;
    }

    u32 code = 0;
    u32 type = ORSA_get_ufi_type(path, &code, asic);
    if (type == ORSA_STATUS_UFI_OPEN) {
        orsa_set_status(ORSA_STATUS_UFI_OPEN);
        return 1;
    }
    /* An adapter of no generation this update knows takes no image. */
    if (type != asic || (asic != ORSA_ASIC_KS2 && asic != ORSA_ASIC_KS3 && asic != ORSA_ASIC_VESKARN)) {
        orsa_set_status(ORSA_STATUS_UFI_INCOMPATIBLE);
        return 1;
    }
    u8 config[kFwConfigSize] = {};
    if (ioctl_get_fw_config(at, config, domain, phba_port) != 0) {
        LOG(ORSA_LOG_ERROR, "%s:Failed to get the firmware configuration\n", __func__);
        return 1;
    }
    const u8 revision = config[kFwConfigRevision];
    if (asic == ORSA_ASIC_KS3) {
        bool refused = revision >= 17 ? (code == 3 || code == 4) : revision == 16 ? code == 3 : false;
        if (refused) {
            orsa_set_status(ORSA_STATUS_UFI_INCOMPATIBLE);
            return 1;
        }
    } else if (asic == ORSA_ASIC_VESKARN) {
        if (code < revision) {
            orsa_set_status(ORSA_STATUS_UFI_INCOMPATIBLE);
            return 1;
        }
    } else {
        return flash_ks2(at, path, domain, phba_port);
    }

    u32 rc = ORSA_fw_download(ks, at, path, domain, phba_port, asic);
    switch (rc) {
    case 0:
        orsa_set_status(ORSA_STATUS_FW_UPDATED);
        return 0;
    case ORSA_STATUS_FW_TWO_STEP:
    case ORSA_STATUS_FLASH_ADDSTATUS_86:
    case ORSA_STATUS_FLASH_ADDSTATUS_87:
        orsa_set_status(rc);
        return rc;
    default:
        orsa_set_status(ORSA_STATUS_FW_UPDATE_FAILED);
        return rc;
    }
}
