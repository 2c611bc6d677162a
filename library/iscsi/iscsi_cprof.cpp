// config_prof.txt: the configured-profile functions staged between a profile
// enumeration and the save that writes them to the adapter.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "backend/orsa_host.h"
#include "backend/orsa_identity.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"

namespace {

// One line of a stream into buf (NUL-terminated). A line longer than the
// buffer comes in pieces: *complete tells whether this piece ends the line.
// false at the end of the file.
bool read_piece(FILE *fp, char *buf, size_t size, bool *complete)
{
    if (fgets(buf, (int)size, fp) == nullptr)
        return false;
    size_t len = strlen(buf);
    *complete = (len > 0 && buf[len - 1] == '\n') || feof(fp);
    return true;
}

// The line without its newline. A last line that has none keeps its last
// character: the library always ends its lines, but a hand-edited file may not.
void chop_newline(char *line)
{
    size_t len = strlen(line);
    if (len > 0 && line[len - 1] == '\n')
        line[len - 1] = '\0';
}

// The kind of rewrite: what happens to a line of config_prof.txt.
struct Rewrite {
    const char *serial;
    const char *bus;
    const char *function;  // nullptr: every line of the adapter
    const char *value;     // nullptr: matching lines are dropped
    uint32_t index;
};

// Copies config_prof.txt into the staging file, dropping or rebuilding the
// lines that match, and puts the staging file in its place. 0, or 1 with
// config_prof.txt unchanged.
uint32_t rewrite_cprof(const Rewrite &rw)
{
    // config_prof.txt is read under the staging lock, so that a writer
    // finishing meanwhile is not undone.
    FILE *stage = orsa_cprof_stage_open();
    if (stage == nullptr)
        return 1;
    FILE *in = fopen(ORSA_CONFIG_PROF_FILE, "r");
    if (in == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: no %s\n", __func__, ORSA_CONFIG_PROF_FILE);
        orsa_cprof_stage_close(stage, false);
        return 1;
    }
    char line[ORSA_CPROF_LINE_SIZE];
    char fields[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE];
    bool complete = true, ok = true;
    while (ok && read_piece(in, line, sizeof line, &complete)) {
        if (!complete) {
            // Longer than any line the library writes: not ours to change.
            ok = fputs(line, stage) >= 0;
            while (ok && !complete && read_piece(in, line, sizeof line, &complete))
                ok = fputs(line, stage) >= 0;
            continue;
        }
        chop_newline(line);
        if (ORSA_compare_cprofile_data(line, rw.serial, rw.bus, rw.function, fields, rw.function != nullptr) != 0) {
            ok = fprintf(stage, "%s\n", line) >= 0;
            continue;
        }
        if (rw.value == nullptr)
            continue;
        if (rw.index < ORSA_CPROF_FIELDS)
            snprintf(fields[rw.index], ORSA_CPROF_FIELD_SIZE, "%s", rw.value);
        ok = fprintf(stage, "%s,%s,%s,%s,%s,%s,%s\n", fields[0], fields[1], fields[2], fields[3], fields[4],
                     fields[5], fields[6]) >= 0;
    }
    fclose(in);
    if (!ok || fflush(stage) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: writing %s failed\n", __func__, ORSA_TEMP_CPROF_FILE);
        orsa_cprof_stage_close(stage, false);
        return 1;
    }
    return orsa_cprof_stage_close(stage, true);
}

}  // namespace

FILE *orsa_cprof_stage_open(void)
{
    return orsa_stage_open(ORSA_TEMP_CPROF_FILE);
}

uint32_t orsa_cprof_stage_close(FILE *stage, bool commit)
{
    return orsa_stage_close(stage, ORSA_TEMP_CPROF_FILE, ORSA_CONFIG_PROF_FILE, commit);
}

char *ORSA_get_file_data(FILE *fp, uint32_t *size, uint32_t *lines)
{
    if (fp == nullptr)
        return nullptr;
    rewind(fp);
    uint32_t n = 0, newlines = 0;
    int c;
    while ((c = fgetc(fp)) != EOF) {
        n++;
        newlines += c == '\n';
    }
    rewind(fp);
    if (n == 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:File Size is Zero.\n", __func__);
        return nullptr;
    }
    auto *text = (char *)orsa_dmalloc((size_t)n + 1);
    if (text == nullptr)
        return nullptr;
    size_t got = fread(text, 1, n, fp);
    text[got] = '\0';
    rewind(fp);
    if (size != nullptr)
        *size = (uint32_t)got;
    if (lines != nullptr)
        *lines = newlines;
    return text;
}

uint32_t ORSA_compare_cprofile_data(const char *line, const char *serial, const char *bus, const char *function,
                                    char fields[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE], uint32_t by_function)
{
    for (int i = 0; i < ORSA_CPROF_FIELDS; i++)
        fields[i][0] = '\0';
    if (line == nullptr)
        return 1;
    const char *p = line;
    for (int i = 0; i < ORSA_CPROF_FIELDS && p != nullptr; i++) {
        size_t len = strcspn(p, ",");
        size_t cut = len < ORSA_CPROF_FIELD_SIZE - 1 ? len : ORSA_CPROF_FIELD_SIZE - 1;
        memcpy(fields[i], p, cut);
        fields[i][cut] = '\0';
        p = p[len] == ',' ? p + len + 1 : nullptr;
    }
    if (serial == nullptr || bus == nullptr || strcasecmp(fields[ORSA_CPROF_SERIAL], serial) != 0 ||
        strcasecmp(fields[ORSA_CPROF_BUS], bus) != 0)
        return 1;
    if (by_function != 0 && (function == nullptr || strcasecmp(fields[ORSA_CPROF_FUNCTION], function) != 0))
        return 1;
    return 0;
}

uint32_t ORSA_delete_cfg_prof_from_file(const char *serial, const char *bus)
{
    if (serial == nullptr || bus == nullptr)
        return 1;
    return rewrite_cprof(Rewrite{serial, bus, nullptr, nullptr, 0});
}

uint32_t orsa_cprof_identity(HmNode *controller, char serial[256], char bus[256])
{
    HmNode *phba = controller != nullptr ? orsa_first_phba(controller) : nullptr;
    HmNode *pci = phba != nullptr ? internal_get_node(phba, "PCI", HM_KIND_GROUP) : nullptr;
    if (pci == nullptr || internal_get_property(controller, "SerialNumber", serial) != 0 ||
        internal_get_property(pci, "BusNumber", bus) != 0)
        return 1;
    return 0;
}

uint32_t ORSA_get_config_prof_prop(HmNode *controller, const char *function, char fields[ORSA_CPROF_FIELDS][256],
                                   uint32_t by_function)
{
    char serial[256], bus[256];
    if (fields == nullptr || orsa_cprof_identity(controller, serial, bus) != 0)
        return 1;
    if (by_function != 0 && function == nullptr)
        return 1;
    FILE *fp = fopen(ORSA_CONFIG_PROF_FILE, "r");
    if (fp == nullptr)
        return 1;
    char line[ORSA_CPROF_LINE_SIZE];
    char found[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE];
    char scan[ORSA_CPROF_FIELDS][ORSA_CPROF_FIELD_SIZE];
    bool matched = false, complete = true;
    while (read_piece(fp, line, sizeof line, &complete)) {
        if (!complete) {
            while (!complete && read_piece(fp, line, sizeof line, &complete)) {
            }
            continue;
        }
        chop_newline(line);
        if (ORSA_compare_cprofile_data(line, serial, bus, function, scan, by_function) != 0)
            continue;
        // A function's "NIC+RoCE" line stands over a "NIC" line of the same
        // function; any other first match is the answer.
        bool nic_plus_roce = strcasecmp(scan[ORSA_CPROF_PROTOCOL], "NIC+RoCE") == 0;
        if (!matched || (by_function != 0 && nic_plus_roce &&
                         strcasecmp(found[ORSA_CPROF_PROTOCOL], "NIC") == 0)) {
            memcpy(found, scan, sizeof found);
            matched = true;
        }
        if (by_function == 0 || nic_plus_roce || strcasecmp(scan[ORSA_CPROF_PROTOCOL], "NIC") != 0)
            break;
    }
    fclose(fp);
    if (!matched)
        return 1;
    for (int i = 0; i < ORSA_CPROF_FIELDS; i++)
        snprintf(fields[i], 256, "%s", found[i]);
    return 0;
}

uint32_t ORSA_set_config_prof_prop(HmNode *controller, const char *function, const char *value,
                                   uint32_t by_function, uint32_t index)
{
    char serial[256], bus[256];
    if (value == nullptr || orsa_cprof_identity(controller, serial, bus) != 0)
        return 1;
    if (by_function != 0 && function == nullptr)
        return 1;
    return rewrite_cprof(Rewrite{serial, bus, by_function != 0 ? function : nullptr, value, index});
}
