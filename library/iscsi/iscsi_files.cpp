// savetgt.txt, savestp.txt and intr_logopts.txt during operation: the
// staging lock that every writer of the four data files takes, appends and
// rewrites under it, the key matching of the lines, and the operations on
// targets, send-target portals and login options.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "backend/orsa_host.h"
#include "backend/orsa_propertyutil.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_lookup.h"
#include "tree/hm_status.h"

const char *const orsa_login_option_names[ORSA_LOGIN_OPTION_COUNT] = {
    "InitialR2T",     "ImmediateData",  "HeaderDigest", "DataDigest",  "AuthenticationMethod", "InitiatorCHAPName",
    "InitiatorSecret", "TargetCHAPName", "TargetSecret", "CHAPParam", "HeaderParam",          "DataParam",
};

bool orsa_login_option_in_authentication(uint32_t option)
{
    return option >= ORSA_OPT_AUTH_METHOD && option <= ORSA_OPT_CHAP_PARAM;
}

uint32_t orsa_login_option_field(uint32_t file, uint32_t option)
{
    // Where the first option stands, and where CHAPParam stands (after
    // TargetType in savetgt.txt).
    static const uint32_t kFirst[] = {8, 6, 3};
    static const uint32_t kChapParam[] = {18, 15, 12};
    if (file > ORSA_FILE_LOGOPTS)
        file = ORSA_FILE_LOGOPTS;
    if (option < ORSA_OPT_CHAP_PARAM)
        return kFirst[file] + option;
    return kChapParam[file] + (option - ORSA_OPT_CHAP_PARAM);
}

namespace {

const char *const kDataFiles[] = {ORSA_SAVETGT_FILE, ORSA_SAVESTP_FILE, ORSA_LOGOPTS_FILE};
const char *const kTempFiles[] = {ORSA_TEMP_TGT_FILE, ORSA_TEMP_STP_FILE, ORSA_TEMP_LOGOPTS_FILE};
const uint32_t kFieldCounts[] = {ORSA_SAVETGT_FIELDS, ORSA_SAVESTP_FIELDS, ORSA_LOGOPTS_FIELDS};

bool same_inode(FILE *fp, const char *path)
{
    struct stat open_st, path_st;
    return fstat(fileno(fp), &open_st) == 0 && stat(path, &path_st) == 0 && open_st.st_dev == path_st.st_dev &&
           open_st.st_ino == path_st.st_ino;
}

// ---- fields of a line ----

// The fields of one line: where each starts and how long it is. Only the
// first kMaxFields are kept; count tells how many the line has.
constexpr uint32_t kMaxFields = 32;
struct Fields {
    const char *start[kMaxFields];
    size_t len[kMaxFields];
    uint32_t count;
};

void split(const char *line, Fields *f)
{
    f->count = 0;
    const char *p = line;
    for (;;) {
        size_t len = strcspn(p, ",");
        if (f->count < kMaxFields) {
            f->start[f->count] = p;
            f->len[f->count] = len;
        }
        f->count++;
        if (p[len] != ',')
            break;
        p += len + 1;
    }
}

// Field i as a text (cut to the slot); empty when the line lacks it.
void field_text(const Fields &f, uint32_t i, char out[ORSA_FILE_FIELD_SIZE])
{
    if (i >= f.count || i >= kMaxFields) {
        out[0] = '\0';
        return;
    }
    size_t n = f.len[i] < ORSA_FILE_FIELD_SIZE - 1 ? f.len[i] : ORSA_FILE_FIELD_SIZE - 1;
    memcpy(out, f.start[i], n);
    out[n] = '\0';
}

// Field i equals text as a whole.
bool field_is(const Fields &f, uint32_t i, const char *text, bool ignore_case)
{
    if (i >= f.count || i >= kMaxFields || text == nullptr)
        return false;
    size_t n = strlen(text);
    if (f.len[i] != n)
        return false;
    return ignore_case ? strncasecmp(f.start[i], text, n) == 0 : strncmp(f.start[i], text, n) == 0;
}

bool fields_are(const Fields &f, const char *const *keys, uint32_t nkeys, bool ignore_case)
{
    for (uint32_t i = 0; i < nkeys; i++) {
        if (!field_is(f, i, keys[i], ignore_case))
            return false;
    }
    return true;
}

// ---- whole lines ----

// Reads the next line whole into *line (malloc'ed, grown as needed) without
// its newline, and its length (bytes a user's editor put there, a NUL
// included). A last line without a newline keeps its last character. false
// at the end of the file.
bool next_line(FILE *fp, char **line, size_t *cap, size_t *length = nullptr)
{
    ssize_t n = getline(line, cap, fp);
    if (n < 0)
        return false;
    if (n > 0 && (*line)[n - 1] == '\n')
        (*line)[--n] = '\0';
    if (length != nullptr)
        *length = (size_t)n;
    return true;
}

// Writes a line as it was read, every byte of it, and its newline.
bool write_line(FILE *out, const char *line, size_t length)
{
    return fwrite(line, 1, length, out) == length && fputc('\n', out) != EOF;
}

// Writes fields 0..nfields-1 of f joined with ",", field replace (when it
// is below nfields) taken from value instead, and a newline. A field the
// line lacks is written empty; fields beyond nfields are not written.
bool write_rebuilt(FILE *out, const Fields &f, uint32_t nfields, uint32_t replace, const char *value,
                   uint32_t replace2 = UINT32_MAX, const char *value2 = nullptr)
{
    for (uint32_t i = 0; i < nfields; i++) {
        if (i > 0 && fputc(',', out) == EOF)
            return false;
        if (i == replace) {
            if (fputs(value, out) < 0)
                return false;
        } else if (i == replace2) {
            if (fputs(value2, out) < 0)
                return false;
        } else if (i < f.count && i < kMaxFields && f.len[i] > 0) {
            if (fwrite(f.start[i], 1, f.len[i], out) != f.len[i])
                return false;
        }
    }
    return fputc('\n', out) != EOF;
}

// ---- rewrite under the staging lock ----

// What a rewrite does with one line: writes what stands in its place into
// out (or nothing). false stops the rewrite (the data file stays as it was).
struct LineEditor {
    bool (*edit)(const char *line, size_t length, const Fields &fields, FILE *out, void *ctx);
    void *ctx;
};

// Copies the data file into the staging file through the editor and puts it
// in place of the data file. Empty lines are dropped. 0, or 1 with the data
// file unchanged (also when it does not exist).
uint32_t rewrite(uint32_t file, LineEditor editor)
{
    FILE *stage = orsa_stage_open(kTempFiles[file]);
    if (stage == nullptr)
        return 1;
    // Read under the lock, so that a writer that finished meanwhile is not
    // undone.
    FILE *in = fopen(kDataFiles[file], "r");
    if (in == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: cannot open %s\n", __func__, kDataFiles[file]);
        orsa_stage_close(stage, kTempFiles[file], kDataFiles[file], false);
        return 1;
    }
    char *line = nullptr;
    size_t cap = 0, length = 0;
    bool ok = true;
    while (ok && next_line(in, &line, &cap, &length)) {
        if (length == 0)
            continue;  // an empty line carries no record
        Fields f;
        split(line, &f);
        ok = editor.edit(line, length, f, stage, editor.ctx);
    }
    if (ok && ferror(in))
        ok = false;
    free(line);
    fclose(in);
    if (!ok) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: %s left as it was\n", __func__, kDataFiles[file]);
        orsa_stage_close(stage, kTempFiles[file], kDataFiles[file], false);
        return 1;
    }
    return orsa_stage_close(stage, kTempFiles[file], kDataFiles[file], true);
}

// ---- keys ----

// The location key of a node's enclosing groups.
HmNode *enclosing(HmNode *node, const char *name)
{
    while (node != nullptr) {
        if (node->kind == HM_KIND_GROUP && node->name != nullptr && strcmp(node->name, name) == 0)
            return node;
        if (node->parent == node)
            break;
        node = node->parent;
    }
    return nullptr;
}

uint32_t key_from_numbers(int32_t ks, int32_t phba, int32_t lhba, char key[3][ORSA_FILE_FIELD_SIZE])
{
    if (ks < 0 || phba < 0 || lhba < 0)
        return 1;
    snprintf(key[0], ORSA_FILE_FIELD_SIZE, "Kalderstone%d", ks);
    snprintf(key[1], ORSA_FILE_FIELD_SIZE, "iSCSIPhysicalHBA%d", phba);
    snprintf(key[2], ORSA_FILE_FIELD_SIZE, "LogicalHBA%d", lhba);
    return 0;
}

// A key of up to eight fields as pointers, for the matchers.
struct Key {
    const char *field[8];
    uint32_t count;
};

Key make_key(char loc[3][ORSA_FILE_FIELD_SIZE])
{
    Key k{};
    for (uint32_t i = 0; i < 3; i++)
        k.field[i] = loc[i];
    k.count = 3;
    return k;
}

void add_key(Key *k, const char *text)
{
    if (k->count < 8)
        k->field[k->count++] = text;
}

// Whether any line of path matches key.
bool file_has_line(const char *path, const Key &key, bool ignore_case)
{
    FILE *fp = fopen(path, "r");
    if (fp == nullptr) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:Failed to open file.\n", __func__);
        return false;
    }
    char *line = nullptr;
    size_t cap = 0;
    bool found = false;
    size_t length = 0;
    while (!found && next_line(fp, &line, &cap, &length)) {
        if (length == 0)
            continue;
        Fields f;
        split(line, &f);
        found = fields_are(f, key.field, key.count, ignore_case);
    }
    free(line);
    fclose(fp);
    return found;
}

// ---- reading a login-options group ----

HmNode *authentication_of(HmNode *options)
{
    return options != nullptr ? internal_get_node(options, "Authentication", HM_KIND_GROUP) : nullptr;
}

// The twelve option values of a login-options group and its Authentication
// child, read through their handlers. 0, or 1 when one cannot be read.
uint32_t read_options(HmNode *options, char values[ORSA_LOGIN_OPTION_COUNT][HM_VALUE_SIZE])
{
    HmNode *auth = authentication_of(options);
    if (options == nullptr || auth == nullptr)
        return 1;
    for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++) {
        HmNode *g = orsa_login_option_in_authentication(i) ? auth : options;
        if (internal_get_property(g, orsa_login_option_names[i], values[i]) != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: cannot read %s\n", __func__, orsa_login_option_names[i]);
            return 1;
        }
    }
    return 0;
}

uint32_t read_prop(HmNode *group, const char *name, char out[HM_VALUE_SIZE])
{
    out[0] = '\0';
    if (group == nullptr || internal_get_property(group, name, out) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: cannot read %s\n", "iscsi files", name);
        return 1;
    }
    return 0;
}

// The savetgt.txt line of a target portal: 22 values.
void target_line(char loc[3][ORSA_FILE_FIELD_SIZE], const char *name, const char *ip, const char *port,
                 const char *qualifier, const char *initiator, char options[ORSA_LOGIN_OPTION_COUNT][HM_VALUE_SIZE],
                 const char *type, const char *persistent, const char *out[ORSA_SAVETGT_FIELDS])
{
    out[0] = loc[0];
    out[1] = loc[1];
    out[2] = loc[2];
    out[3] = name;
    out[4] = ip;
    out[5] = port;
    out[6] = qualifier;
    out[7] = initiator;
    for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++)
        out[orsa_login_option_field(ORSA_FILE_SAVETGT, i)] = options[i];
    out[ORSA_SAVETGT_TARGET_TYPE_FIELD] = type;
    out[ORSA_SAVETGT_PERSISTENT_FIELD] = persistent;
}

// The option by name: its index, or ORSA_LOGIN_OPTION_COUNT for none.
uint32_t option_index(uint32_t file, const char *name)
{
    if (name == nullptr)
        return ORSA_LOGIN_OPTION_COUNT;
    for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++) {
        bool exact = file == ORSA_FILE_SAVESTP && i == ORSA_OPT_INITIAL_R2T;
        if ((exact ? strcmp(name, orsa_login_option_names[i]) : strcasecmp(name, orsa_login_option_names[i])) == 0)
            return i;
    }
    return ORSA_LOGIN_OPTION_COUNT;
}

}  // namespace

// ---- the staging lock ----

FILE *orsa_stage_open(const char *temp_path)
{
    if (temp_path == nullptr)
        return nullptr;
    // Another process may move the staging file into place (or remove it)
    // while this one waits for its lock: then the lock is on a file no
    // longer at temp_path, so open the path again. Every such turn means
    // another writer finished.
    for (int attempt = 0; attempt < 1000; attempt++) {
        FILE *fp = fopen(temp_path, "a+");
        if (fp == nullptr) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: cannot open %s\n", __func__, temp_path);
            return nullptr;
        }
        if (orsa_lock_file(fp) != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to get a file lock for %s\n", __func__, temp_path);
            fclose(fp);
            return nullptr;
        }
        if (same_inode(fp, temp_path)) {
            // Leftovers of a process that died while staging are not ours.
            if (ftruncate(fileno(fp), 0) != 0) {
                orsa_unlock_file(fp);
                fclose(fp);
                return nullptr;
            }
            return fp;
        }
        orsa_unlock_file(fp);
        fclose(fp);
    }
    return nullptr;
}

uint32_t orsa_stage_close(FILE *stage, const char *temp_path, const char *data_path, bool commit)
{
    if (stage == nullptr || temp_path == nullptr)
        return 1;
    uint32_t rc = 0;
    if (fflush(stage) != 0 || ferror(stage))
        commit = false, rc = 1;
    if (commit && data_path != nullptr) {
        // The new file is whole and readable before it takes the name: a
        // crash before the rename leaves the old file, one after it the new.
        if (fchmod(fileno(stage), 0644) != 0 || fsync(fileno(stage)) != 0 || rename(temp_path, data_path) != 0) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: cannot move %s into place\n", __func__, temp_path);
            unlink(temp_path);
            rc = 1;
        }
    } else {
        unlink(temp_path);
    }
    // The file is moved (or removed) while still locked, so that no other
    // writer fills it between the release and the rename.
    if (orsa_unlock_file(stage) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to unlock file lock for %s\n", __func__, temp_path);
        rc = 1;
    }
    fclose(stage);
    return rc;
}

bool orsa_persist_value_ok(const char *value)
{
    if (value == nullptr)
        return false;
    for (const unsigned char *p = (const unsigned char *)value; *p != '\0'; p++) {
        if (*p == ',' || *p < 0x20 || *p == 0x7F)
            return false;
    }
    return true;
}

uint32_t orsa_persist_append(const char *data_path, const char *temp_path, const char *const *values,
                             uint32_t nfields, uint32_t dup_keys)
{
    if (data_path == nullptr || temp_path == nullptr || values == nullptr || nfields == 0 || dup_keys > 8 ||
        dup_keys > nfields)
        return 1;
    for (uint32_t i = 0; i < nfields; i++) {
        if (!orsa_persist_value_ok(values[i])) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: field %u of a %s line refused\n", __func__, i + 1,
                   data_path);
            orsa_set_status(ORSA_STATUS_INVALID_VALUE);
            return 1;
        }
    }
    FILE *stage = orsa_stage_open(temp_path);
    if (stage == nullptr)
        return 1;
    uint32_t rc = 0;
    Key key{};
    for (uint32_t i = 0; i < dup_keys; i++)
        add_key(&key, values[i]);
    if (dup_keys > 0 && file_has_line(data_path, key, false)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:found duplicate_target\n", __func__);
        rc = ORSA_APPEND_DUPLICATE;
    } else {
        FILE *out = fopen(data_path, "a");
        bool ok = out != nullptr;
        for (uint32_t i = 0; ok && i < nfields; i++)
            ok = (i == 0 || fputc(',', out) != EOF) && fputs(values[i], out) >= 0;
        if (ok)
            ok = fputc('\n', out) != EOF;
        if (out != nullptr && fclose(out) != 0)
            ok = false;
        if (!ok) {
            pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: cannot append to %s\n", __func__, data_path);
            rc = 1;
        }
    }
    // Closing another descriptor of the data file does not touch the lock,
    // which is on the staging file.
    ORSA_change_permissions_file(data_path);
    if (orsa_stage_close(stage, temp_path, nullptr, false) != 0 && rc == 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: Failed to release %s\n", __func__, temp_path);
    return rc;
}

uint32_t orsa_location_key(HmNode *node, char key[3][ORSA_FILE_FIELD_SIZE])
{
    if (node == nullptr || key == nullptr)
        return 1;
    return key_from_numbers(hm_instance_number(enclosing(node, "Kalderstone")),
                            hm_instance_number(enclosing(node, "iSCSIPhysicalHBA")),
                            hm_instance_number(enclosing(node, "LogicalHBA")), key);
}

uint32_t ORSA_get_iscsi_data_from_file(const char *line, char (*keys)[ORSA_FILE_FIELD_SIZE],
                                       char (*fields)[ORSA_FILE_FIELD_SIZE], uint32_t nfields, uint32_t nkeys)
{
    if (line == nullptr || fields == nullptr || (nkeys > 0 && keys == nullptr) || nkeys > nfields)
        return 1;
    size_t len = strlen(line);
    char *copy = (char *)orsa_dmalloc(len + 1);
    if (copy == nullptr)
        return 1;
    memcpy(copy, line, len + 1);
    if (len > 0 && copy[len - 1] == '\n')
        copy[len - 1] = '\0';
    Fields f;
    split(copy, &f);
    uint32_t rc = 0;
    for (uint32_t i = 0; i < nfields; i++) {
        if (i < f.count && i < kMaxFields)
            field_text(f, i, fields[i]);
        if (i < nkeys && (i >= f.count || strcasecmp(fields[i], keys[i]) != 0)) {
            rc = 1;
            break;
        }
    }
    orsa_dfree(copy);
    return rc;
}

uint32_t orsa_persist_find_line(const char *path, char (*keys)[ORSA_FILE_FIELD_SIZE], uint32_t nkeys,
                                char (*fields)[ORSA_FILE_FIELD_SIZE], uint32_t nfields, int prefer_empty)
{
    if (path == nullptr || fields == nullptr || nkeys > 8 || nkeys > nfields)
        return ORSA_FIND_FAILED;
    for (uint32_t i = 0; i < nfields; i++)
        fields[i][0] = '\0';
    FILE *fp = fopen(path, "r");
    if (fp == nullptr) {
        bool missing = access(path, F_OK) != 0;
        return missing ? ORSA_FIND_NO_FILE : ORSA_FIND_FAILED;
    }
    Key key{};
    for (uint32_t i = 0; i < nkeys; i++)
        add_key(&key, keys[i]);
    char *line = nullptr;
    size_t cap = 0;
    uint32_t rc = ORSA_FIND_NO_LINE;
    size_t length = 0;
    while (next_line(fp, &line, &cap, &length)) {
        if (length == 0)
            continue;
        Fields f;
        split(line, &f);
        if (!fields_are(f, key.field, key.count, true))
            continue;
        bool preferred = prefer_empty < 0 || (uint32_t)prefer_empty >= f.count || f.len[prefer_empty] == 0;
        if (rc == ORSA_FIND_NO_LINE || preferred) {
            for (uint32_t i = 0; i < nfields; i++)
                field_text(f, i, fields[i]);
            rc = ORSA_FIND_FOUND;
        }
        if (preferred)
            break;
    }
    free(line);
    fclose(fp);
    return rc;
}

uint32_t ORSA_check_for_duplicate_tgt(HmNode *adapter, HmNode *phba, HmNode *lhba, const char *name, const char *ip,
                                      const char *port, uint32_t kind, uint32_t qualifier)
{
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (key_from_numbers(hm_instance_number(adapter), hm_instance_number(phba), hm_instance_number(lhba), loc) != 0 ||
        ip == nullptr || port == nullptr)
        return 0;
    Key key = make_key(loc);
    char q[16];
    const char *path;
    if (kind == ORSA_ENTRY_STP) {
        path = ORSA_SAVESTP_FILE;
    } else {
        if (name == nullptr)
            return 0;
        path = ORSA_SAVETGT_FILE;
        add_key(&key, name);
    }
    add_key(&key, ip);
    add_key(&key, port);
    if (kind != ORSA_ENTRY_STP && qualifier != ORSA_NO_QUALIFIER) {
        snprintf(q, sizeof q, "%d", (int)qualifier);
        add_key(&key, q);
    }
    return file_has_line(path, key, false) ? 1 : 0;
}

namespace {

struct DropCtx {
    Key key;
};

bool drop_matching(const char *line, size_t length, const Fields &f, FILE *out, void *ctx)
{
    const DropCtx *d = static_cast<const DropCtx *>(ctx);
    if (fields_are(f, d->key.field, d->key.count, true))
        return true;
    return write_line(out, line, length);
}

}  // namespace

uint32_t ORSA_remove_entry_from_file(HmNode *lhba, const char *name, const char *ip, const char *port,
                                     uint32_t qualifier, uint32_t kind)
{
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (orsa_location_key(lhba, loc) != 0 || kind > ORSA_ENTRY_LHBA)
        return 1;
    DropCtx d{make_key(loc)};
    char q[16];
    uint32_t file = ORSA_FILE_SAVETGT;
    if (kind == ORSA_ENTRY_TARGET) {
        if (name == nullptr || ip == nullptr || port == nullptr)
            return 1;
        add_key(&d.key, name);
        add_key(&d.key, ip);
        add_key(&d.key, port);
        if (qualifier != ORSA_NO_QUALIFIER) {
            snprintf(q, sizeof q, "%d", (int)qualifier);
            add_key(&d.key, q);
        }
    } else if (kind == ORSA_ENTRY_STP) {
        if (ip == nullptr || port == nullptr)
            return 1;
        file = ORSA_FILE_SAVESTP;
        add_key(&d.key, ip);
        add_key(&d.key, port);
    }
    return rewrite(file, LineEditor{drop_matching, &d});
}

namespace {

// One option of the matching lines rewritten.
struct OptionCtx {
    Key key;
    uint32_t nfields;
    uint32_t field;        // the option's field; nfields for an unknown name
    const char *value;
    bool target;           // savetgt.txt: lines without qualifier only, field 22 "True"
};

bool set_option(const char *line, size_t length, const Fields &f, FILE *out, void *ctx)
{
    const OptionCtx *o = static_cast<const OptionCtx *>(ctx);
    bool match = fields_are(f, o->key.field, o->key.count, true);
    if (match && o->target)
        match = f.count > ORSA_SAVETGT_QUALIFIER_FIELD && f.len[ORSA_SAVETGT_QUALIFIER_FIELD] == 0;
    if (!match)
        return write_line(out, line, length);
    if (o->target)
        return write_rebuilt(out, f, o->nfields, o->field, o->value, ORSA_SAVETGT_PERSISTENT_FIELD, "True");
    return write_rebuilt(out, f, o->nfields, o->field, o->value);
}

// The checks every option rewrite shares; 0 when it may go on.
uint32_t option_args_ok(HmNode *owner, HmNode *options, HmNode *authentication, const char *option,
                        const char *value)
{
    if (owner == nullptr || options == nullptr || authentication == nullptr || option == nullptr ||
        value == nullptr)
        return 1;
    if (!orsa_persist_value_ok(value)) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: the value of %s may not go into a line\n", __func__, option);
        orsa_set_status(ORSA_STATUS_INVALID_VALUE);
        return 1;
    }
    return 0;
}

uint32_t rewrite_option(uint32_t file, Key key, const char *option, const char *value)
{
    OptionCtx o{};
    o.key = key;
    o.nfields = kFieldCounts[file];
    uint32_t index = option_index(file, option);
    o.field = index < ORSA_LOGIN_OPTION_COUNT ? orsa_login_option_field(file, index) : o.nfields;
    o.value = value;
    o.target = file == ORSA_FILE_SAVETGT;
    return rewrite(file, LineEditor{set_option, &o});
}

}  // namespace

uint32_t ORSA_set_target_loginoptions(HmNode *target, HmNode *options, HmNode *authentication, const char *option,
                                      const char *value)
{
    if (option_args_ok(target, options, authentication, option, value) != 0)
        return 1;
    char loc[3][ORSA_FILE_FIELD_SIZE], name[HM_VALUE_SIZE], ip[HM_VALUE_SIZE], port[HM_VALUE_SIZE];
    if (orsa_location_key(target, loc) != 0 || read_prop(target, "TargetISCSIName", name) != 0)
        return 1;
    // A target is written only while it has a portal to log in to.
    HmNode *portal = get_first_instance(target, "TargetPortal");
    if (portal == nullptr || read_prop(portal, "TargetIPAddress", ip) != 0 ||
        read_prop(portal, "TargetPortNumber", port) != 0)
        return 1;
    Key key = make_key(loc);
    add_key(&key, name);
    return rewrite_option(ORSA_FILE_SAVETGT, key, option, value);
}

uint32_t ORSA_set_stploginoptions(HmNode *stp, HmNode *options, HmNode *authentication, const char *option,
                                  const char *value)
{
    if (option_args_ok(stp, options, authentication, option, value) != 0)
        return 1;
    char loc[3][ORSA_FILE_FIELD_SIZE], ip[HM_VALUE_SIZE], port[HM_VALUE_SIZE];
    if (orsa_location_key(stp, loc) != 0 || read_prop(stp, "IPAddress", ip) != 0 ||
        read_prop(stp, "PortNumber", port) != 0)
        return 1;
    Key key = make_key(loc);
    add_key(&key, ip);
    add_key(&key, port);
    return rewrite_option(ORSA_FILE_SAVESTP, key, option, value);
}

uint32_t ORSA_set_initiator_loginoptions(HmNode *lhba, HmNode *options, HmNode *authentication, const char *option,
                                         const char *value)
{
    if (option_args_ok(lhba, options, authentication, option, value) != 0)
        return 1;
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (orsa_location_key(lhba, loc) != 0)
        return 1;
    return rewrite_option(ORSA_FILE_LOGOPTS, make_key(loc), option, value);
}

uint32_t ORSA_add_target_into_file(HmNode *lhba, HmNode *target, const char *name, const char *ip,
                                   const char *port, const char *, const char *persistent)
{
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (lhba == nullptr || target == nullptr || name == nullptr || ip == nullptr || port == nullptr ||
        persistent == nullptr || orsa_location_key(target, loc) != 0)
        return 1;
    // Cheap test first; the append tests again under the lock.
    if (ORSA_check_for_duplicate_tgt(enclosing(target, "Kalderstone"), enclosing(target, "iSCSIPhysicalHBA"),
                                     enclosing(target, "LogicalHBA"), name, ip, port, ORSA_ENTRY_TARGET,
                                     ORSA_NO_QUALIFIER) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:found duplicate_target\n", __func__);
        return 0;
    }
    char initiator[HM_VALUE_SIZE], type[HM_VALUE_SIZE];
    char values[ORSA_LOGIN_OPTION_COUNT][HM_VALUE_SIZE];
    HmNode *name_group = internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP);
    if (read_prop(name_group, "InitiatoriSCSIName", initiator) != 0 || read_prop(target, "TargetType", type) != 0 ||
        read_options(internal_get_node(lhba, "InitiatorLoginOptions", HM_KIND_GROUP), values) != 0)
        return 1;
    const char *line[ORSA_SAVETGT_FIELDS];
    target_line(loc, name, ip, port, "", initiator, values, type, persistent, line);
    uint32_t rc = orsa_persist_append(ORSA_SAVETGT_FILE, ORSA_TEMP_TGT_FILE, line, ORSA_SAVETGT_FIELDS, 6);
    if (rc == ORSA_APPEND_DUPLICATE)
        return 0;
    if (rc != 0)
        return 1;
    // A new target starts with the initiator's login options of the moment.
    HmNode *options = internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP);
    HmNode *auth = authentication_of(options);
    if (options == nullptr || auth == nullptr)
        return 1;
    for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++)
        rc |= set_prop_val(orsa_login_option_in_authentication(i) ? auth : options, orsa_login_option_names[i], "%s",
                           values[i]);
    return rc != 0 ? 1 : 0;
}

uint32_t ORSA_update_tgt_entry(HmNode *lhba, HmNode *target, const char *ip, const char *port, uint16_t qualifier,
                               const char *persistent)
{
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (lhba == nullptr || target == nullptr || ip == nullptr || port == nullptr || persistent == nullptr ||
        orsa_location_key(target, loc) != 0)
        return 1;
    char initiator[HM_VALUE_SIZE], name[HM_VALUE_SIZE], type[HM_VALUE_SIZE];
    char values[ORSA_LOGIN_OPTION_COUNT][HM_VALUE_SIZE];
    HmNode *name_group = internal_get_node(lhba, "InitiatoriSCSIName", HM_KIND_GROUP);
    if (read_prop(name_group, "InitiatoriSCSIName", initiator) != 0 ||
        read_prop(target, "TargetISCSIName", name) != 0 || read_prop(target, "TargetType", type) != 0 ||
        read_options(internal_get_node(target, "TargetLoginOptions", HM_KIND_GROUP), values) != 0)
        return 1;
    char q[16];
    snprintf(q, sizeof q, "%d", (int)qualifier);
    const char *line[ORSA_SAVETGT_FIELDS];
    target_line(loc, name, ip, port, q, initiator, values, type, persistent, line);
    uint32_t rc = orsa_persist_append(ORSA_SAVETGT_FILE, ORSA_TEMP_TGT_FILE, line, ORSA_SAVETGT_FIELDS, 7);
    return rc == 1 ? 1 : 0;
}

uint32_t ORSA_sync_targets_with_file(HmNode *lhba)
{
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (orsa_location_key(lhba, loc) != 0)
        return 1;
    if (access(ORSA_SAVETGT_FILE, F_OK) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s:There is no savetgt file to opend. So returning success.\n",
               __func__);
        return 0;
    }
    // Targets without a line go after the walk; portals without one at once
    // (the next portal is found before one is deleted).
    HmNode *gone[256];
    uint32_t ngone = 0;
    for (HmNode *t = get_first_instance(lhba, "Target"); t != nullptr; t = hm_next_instance(t)) {
        char name[HM_VALUE_SIZE];
        if (read_prop(t, "TargetISCSIName", name) != 0)
            return 1;
        Key key = make_key(loc);
        add_key(&key, name);
        if (!file_has_line(ORSA_SAVETGT_FILE, key, true)) {
            if (ngone < sizeof gone / sizeof gone[0])
                gone[ngone++] = t;
            continue;
        }
        for (HmNode *p = get_first_instance(t, "TargetPortal"); p != nullptr;) {
            HmNode *next = hm_next_instance(p);
            char ip[HM_VALUE_SIZE], port[HM_VALUE_SIZE];
            if (read_prop(p, "TargetIPAddress", ip) == 0 && read_prop(p, "TargetPortNumber", port) == 0) {
                Key pk = key;
                add_key(&pk, ip);
                add_key(&pk, port);
                if (!file_has_line(ORSA_SAVETGT_FILE, pk, true))
                    delete_node(p);
            }
            p = next;
        }
    }
    for (uint32_t i = 0; i < ngone; i++)
        delete_node(gone[i]);
    return 0;
}

uint32_t ORSA_sync_stp_with_file(HmNode *adapter, HmNode *phba, HmNode *a, HmNode *b, const char *ip,
                                 const char *port)
{
    char loc[3][ORSA_FILE_FIELD_SIZE];
    if (a == nullptr || b == nullptr || ip == nullptr || port == nullptr ||
        key_from_numbers(hm_instance_number(adapter), hm_instance_number(phba), 0, loc) != 0)
        return 1;
    Key key = make_key(loc);
    add_key(&key, ip);
    add_key(&key, port);
    return file_has_line(ORSA_SAVESTP_FILE, key, true) ? 0 : 1;
}
