#include "iscsi/iscsi_persist.h"
#include "iscsi/iscsi_targets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "backend/orsa_gateway.h"
#include "backend/orsa_propertyutil.h"
#include "schema/builders.h"
#include "tree/hm_log.h"
#include "tree/hm_engine.h"
#include "tree/hm_lookup.h"

namespace {

bool is_delimiter(char c, const char *delimiters)
{
    return c != '\0' && strchr(delimiters, c) != nullptr;
}

bool has_delimiter(const char *text, const char *delimiters)
{
    return strpbrk(text, delimiters) != nullptr;
}

// A counted copy of [begin, begin + len) without one trailing newline.
char *copy_field(const char *begin, size_t len)
{
    if (len > 0 && begin[len - 1] == '\n')
        len--;
    auto *out = static_cast<char *>(orsa_dmalloc(len + 1));
    if (out == nullptr)
        return nullptr;
    memcpy(out, begin, len);
    out[len] = '\0';
    return out;
}

// The expected comma count of each iSCSI file's lines.
struct CheckedFile {
    const char *path;
    int commas;
};
const CheckedFile kCheckedFiles[] = {
    {ORSA_SAVETGT_FILE, 21},
    {ORSA_SAVESTP_FILE, 17},
    {ORSA_LOGOPTS_FILE, 14},
};

// The first three non-empty comma-separated tokens must carry the location
// key names (each token cut to 34 characters, as the key slots hold).
bool location_key_ok(const char *line)
{
    static const char *const kKeys[] = {"Kalderstone", "iSCSIPhysicalHBA", "LogicalHBA"};
    const char *p = line;
    for (const char *key : kKeys) {
        while (*p == ',')
            p++;
        if (*p == '\0')
            return false;
        size_t len = strcspn(p, ",");
        char token[35];
        size_t cut = len < sizeof token - 1 ? len : sizeof token - 1;
        memcpy(token, p, cut);
        token[cut] = '\0';
        if (strstr(token, key) == nullptr)
            return false;
        p += len;
    }
    return true;
}

int count_commas(const char *line)
{
    int n = 0;
    for (; *line != '\0'; line++)
        n += *line == ',';
    return n;
}

// Checks one file and deletes it at its first malformed line.
void check_file(const CheckedFile &f)
{
    FILE *fp = fopen(f.path, "r");
    if (fp == nullptr)
        return;
    char *line = nullptr;
    size_t cap = 0;
    ssize_t len;
    int bad_commas = -1;
    while ((len = getline(&line, &cap, fp)) >= 0) {
        if (len > 0 && line[len - 1] == '\n')
            line[len - 1] = '\0';
        // A blank line holds no record (the rewrites drop it): it is no
        // reason to throw away every target of every adapter.
        if (line[strspn(line, " \t\r")] == '\0')
            continue;
        int commas = count_commas(line);
        if (commas != f.commas || !location_key_ok(line)) {
            bad_commas = commas;
            break;
        }
    }
    free(line);
    fclose(fp);
    if (bad_commas >= 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:tokens = %d, %s corrupted. So deleting it.\n", "ORSA_check_for_corrupted_database",
               bad_commas, f.path);
        unlink(f.path);
    }
}

}  // namespace

char *parse_file(const char *line, uint32_t n, const char *delimiters)
{
    if (line == nullptr || delimiters == nullptr || n == 0 || !has_delimiter(line, delimiters))
        return nullptr;
    const char *start = line;
    uint32_t field = 1;
    for (const char *p = line;; p++) {
        if (*p == '\0' || is_delimiter(*p, delimiters)) {
            if (field == n)
                return copy_field(start, static_cast<size_t>(p - start));
            if (*p == '\0')
                return nullptr;
            field++;
            start = p + 1;
        }
    }
}

char *orsa_parse(const char *text, uint32_t n, const char *delimiters)
{
    if (text == nullptr || delimiters == nullptr || n == 0 || !has_delimiter(text, delimiters))
        return nullptr;
    const char *p = text;
    for (uint32_t field = 1;; field++) {
        while (is_delimiter(*p, delimiters))
            p++;
        if (*p == '\0')
            return nullptr;
        const char *start = p;
        while (*p != '\0' && !is_delimiter(*p, delimiters))
            p++;
        if (field == n)
            return copy_field(start, static_cast<size_t>(p - start));
    }
}

void ORSA_save_file_configuration(void)
{
    static const char *const kNames[] = {"savetgt.txt", "savestp.txt", "intr_logopts.txt"};
    int status = 0;
    for (const char *name : kNames) {
        char from[256];
        char to[256];
        snprintf(from, sizeof from, "%s%s", ORSA_OLD_DATA_DIR, name);
        snprintf(to, sizeof to, "/scratch/ferrosul/orsa/%s", name);
        if (access(from, F_OK) != 0)
            continue;
        status |= rename(from, to) != 0 ? 1 : 0;
    }
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:status = %d\n", __func__, status);
}

void ORSA_change_permissions_file(const char *path)
{
    if (path == nullptr)
        return;
    FILE *fp = fopen(path, "r");
    if (fp == nullptr)
        return;
    if (fchmod(fileno(fp), 0644) != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "Failed change the permissions for %s file\n", path);
    fclose(fp);
}

void ORSA_check_for_corrupted_database(void)
{
    for (const CheckedFile &f : kCheckedFiles)
        check_file(f);
}

namespace {

// Calls fn on every iSCSIPhysicalHBA of every Kalderstone under ROOT.
template <typename Fn>
void for_each_iscsi_phba(Fn fn)
{
    HmNode *root = hm_get_root(orsa_current_hierarchy);
    for (HmNode *ks = get_first_instance(root, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks)) {
        for (HmNode *phba = get_first_instance(ks, "iSCSIPhysicalHBA"); phba != nullptr;
             phba = hm_next_instance(phba))
            fn(ks, phba);
    }
}

}  // namespace

uint32_t ORSA_refresh_backend_client_iscsi_targets(void)
{
    for_each_iscsi_phba([](HmNode *, HmNode *phba) {
        for (HmNode *lhba = get_first_instance(phba, "LogicalHBA"); lhba != nullptr;
             lhba = hm_next_instance(lhba)) {
            refresh_eto(lhba, (u8)get_domain_id(lhba), (u8)get_phba_port_number(lhba));
        }
    });
    return 0;
}

// The least form of the iSCSI start-up pass: LogicalHBA0 below every iSCSI
// physical HBA, named after the driver's vmhba. The login options, targets,
// send-target portals and iSNS servers come with the iSCSI code; until then
// the pass says so. A controller without iSCSI functions is passed over:
// the controllers after it still get their logical HBAs.
uint32_t ORSA_set_lhba_prop(void)
{
    HmNode *root = hm_get_root(orsa_current_hierarchy);
    for (HmNode *ks = get_first_instance(root, "Kalderstone"); ks != nullptr; ks = hm_next_instance(ks)) {
        for (HmNode *phba = get_first_instance(ks, "iSCSIPhysicalHBA"); phba != nullptr;
             phba = hm_next_instance(phba)) {
            const u32 *record = static_cast<const u32 *>(HM_GROUP(phba)->nhandle);
            if (record == nullptr)
                return 1;
            HmNode *lhba = initialize_LogicalHBA(phba, nullptr, nullptr, nullptr);
            if (lhba == nullptr) {
                pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s:Failed to initialize LogicalHBA.\n", __func__);
                return 1;
            }
            char vmhba[ORSA_VMHBA_NAME_SIZE] = "";
            if (ioctl_get_vmhba_name(*record, vmhba) == 0)
                set_prop_val(lhba, "IfName", "%s", vmhba);
        }
    }
    return orsa_set_status(ORSA_STATUS_NOT_SUPPORTED);
}
