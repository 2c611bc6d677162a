// The login-options groups of the initiator, the send-target portals and the
// targets: their handlers, the refresh from the persistence files, and the
// copies between groups.
#include "iscsi/iscsi_loginopts.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "backend/orsa_handler_util.h"
#include "backend/orsa_propertyutil.h"
#include "drelmo.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"
#include "tree/orsa_entry.h"

namespace {

HmNode *authentication_of(HmNode *options)
{
    return options != nullptr ? internal_get_node(options, "Authentication", HM_KIND_GROUP) : nullptr;
}

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

bool is_param(uint32_t option)
{
    return option == ORSA_OPT_CHAP_PARAM || option == ORSA_OPT_HEADER_PARAM || option == ORSA_OPT_DATA_PARAM;
}

// The twelve options of a line into the groups' cached values. An empty
// level (CHAPParam, HeaderParam, DataParam) reads as "Prohibited".
uint32_t apply_line(uint32_t file, char (*fields)[ORSA_FILE_FIELD_SIZE], HmNode *options, HmNode *authentication)
{
    uint32_t rc = 0;
    for (uint32_t i = 0; i < ORSA_LOGIN_OPTION_COUNT; i++) {
        const char *text = fields[orsa_login_option_field(file, i)];
        if (is_param(i) && text[0] == '\0')
            text = "Prohibited";
        HmNode *g = orsa_login_option_in_authentication(i) ? authentication : options;
        rc |= set_prop_val(g, orsa_login_option_names[i], "%s", text);
    }
    return rc != 0 ? 1 : 0;
}

// Finds the owner's line and applies it. missing_ok: no file is no error.
uint32_t refresh_from(uint32_t file, const char *path, char (*keys)[ORSA_FILE_FIELD_SIZE], uint32_t nkeys,
                      uint32_t nfields, int prefer_empty, bool missing_ok, HmNode *options, HmNode *authentication)
{
    char fields[ORSA_SAVETGT_FIELDS][ORSA_FILE_FIELD_SIZE];
    uint32_t found = orsa_persist_find_line(path, keys, nkeys, fields, nfields, prefer_empty);
    if (found == ORSA_FIND_NO_LINE || (found == ORSA_FIND_NO_FILE && missing_ok))
        return 0;
    if (found != ORSA_FIND_FOUND) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: cannot read %s\n", __func__, path);
        return 1;
    }
    return apply_line(file, fields, options, authentication);
}

// The target's savetgt.txt key: location and name (4 fields).
uint32_t target_key(HmNode *target, char keys[4][ORSA_FILE_FIELD_SIZE])
{
    char name[HM_VALUE_SIZE] = "";
    if (orsa_location_key(target, keys) != 0 || internal_get_property(target, "TargetISCSIName", name) != 0)
        return 1;
    orsa_strlcpy(keys[3], name, ORSA_FILE_FIELD_SIZE);
    return 0;
}

// ---- the handlers ----

// What differs between the three kinds of login-options group.
struct OptionsKind {
    uint32_t (*refresh)(HmNode *owner, HmNode *options, HmNode *authentication);
    uint32_t (*store)(HmNode *owner, HmNode *options, HmNode *authentication, const char *name, const char *value);
    bool target;  // a change is followed by the session refresh
};

const OptionsKind kInitiator = {ORSA_get_initiator_loginoptions, ORSA_set_initiator_loginoptions, false};
const OptionsKind kSendTargetPortal = {ORSA_get_stploginoptions, ORSA_set_stploginoptions, false};
const OptionsKind kTarget = {ORSA_get_target_loginoptions, ORSA_set_target_loginoptions, true};

// The groups around a property: its login-options group, that group's
// Authentication child and the owner above it.
struct Around {
    HmNode *owner;
    HmNode *options;
    HmNode *authentication;
};

bool around_option(HmNode *property, Around *a)
{
    a->options = property != nullptr ? property->parent : nullptr;
    a->owner = a->options != nullptr ? a->options->parent : nullptr;
    a->authentication = authentication_of(a->options);
    return a->owner != nullptr && a->authentication != nullptr && property->body != nullptr;
}

bool around_authentication(HmNode *property, Around *a)
{
    a->authentication = property != nullptr ? property->parent : nullptr;
    a->options = a->authentication != nullptr ? a->authentication->parent : nullptr;
    a->owner = a->options != nullptr ? a->options->parent : nullptr;
    return a->owner != nullptr && property->body != nullptr;
}

// Refreshes the groups and answers the property's cached value. A failed
// refresh is logged; the tree's value is still the one to show.
uint32_t answer_refreshed(const OptionsKind &kind, const Around &a, HmNode *property, char *value)
{
    if (kind.refresh(a.owner, a.options, a.authentication) != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: refresh of %s failed\n", __func__, property->name);
    return orsa_answer(property, value, 0);
}

bool named(const char *a, const char *b)
{
    return strcasecmp(a, b) == 0;
}

// The digest rules, checked on the property being set: a level may be
// "Preferred" only while its digest is not "None", and a digest may go back
// to "None" only while its level is not "Preferred". 0, 1 for a failed read
// of the other property, or ORSA_STATUS_DIGEST_LEVEL / _DEFAULT with the last status.
uint32_t digest_rules(HmNode *options, const char *name, const char *value)
{
    struct Rule {
        const char *set;       // the property being set
        const char *to;        // to this value
        const char *other;     // while this property
        const char *reads;     // reads this
        uint32_t status;
    };
    static const Rule kRules[] = {
        {"HeaderParam", "Preferred", "HeaderDigest", "None", ORSA_STATUS_DIGEST_LEVEL},
        {"DataParam", "Preferred", "DataDigest", "None", ORSA_STATUS_DIGEST_LEVEL},
        {"HeaderDigest", "None", "HeaderParam", "Preferred", ORSA_STATUS_DIGEST_DEFAULT},
        {"DataDigest", "None", "DataParam", "Preferred", ORSA_STATUS_DIGEST_DEFAULT},
    };
    for (const Rule &r : kRules) {
        if (!named(name, r.set) || !named(value, r.to))
            continue;
        char other[HM_VALUE_SIZE] = "";
        if (internal_get_property(options, r.other, other) != 0)
            return 1;
        if (named(other, r.reads))
            return orsa_set_status(r.status);
    }
    return 0;
}

// Get: refresh and answer. Set: the digest rules (unless skipped), the file
// line, the session refresh of a target, then the cache.
uint32_t handle_options(const OptionsKind &kind, HmNode *property, char *value, uint32_t mode, bool rules)
{
    Around a;
    if (!around_option(property, &a) || value == nullptr)
        return 1;
    if (mode == HM_MODE_GET)
        return answer_refreshed(kind, a, property, value);
    if (mode != HM_MODE_SET)
        return 0;
    if (rules) {
        uint32_t rc = digest_rules(a.options, property->name, value);
        if (rc != 0)
            return rc;
    }
    if (kind.store(a.owner, a.options, a.authentication, property->name, value) != 0) {
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_ERROR, "%s: %s not stored\n", __func__, property->name);
        return 1;
    }
    if (kind.target)
        ORSA_update_session_authentication(a.owner);
    return set_prop_val(a.options, property->name, "%s", value);
}

}  // namespace

uint32_t handle_initiator_loginoptions(HmNode *property, char *value, uint32_t mode)
{
    return handle_options(kInitiator, property, value, mode, true);
}

uint32_t handle_stploginoptions(HmNode *property, char *value, uint32_t mode)
{
    return handle_options(kSendTargetPortal, property, value, mode, true);
}

uint32_t handle_target_loginoptions(HmNode *property, char *value, uint32_t mode)
{
    return handle_options(kTarget, property, value, mode, true);
}

// The Authentication values of the initiator and of a target change through
// ConfigureCHAP and DeleteCHAP only: a set refreshes and answers like a get.
uint32_t handle_authentication_initiator_loginoptions(HmNode *property, char *value, uint32_t mode)
{
    Around a;
    if (!around_authentication(property, &a) || value == nullptr)
        return 1;
    (void)mode;
    return answer_refreshed(kInitiator, a, property, value);
}

uint32_t handle_authentication_target_loginopts(HmNode *property, char *value, uint32_t mode)
{
    Around a;
    if (!around_authentication(property, &a) || value == nullptr)
        return 1;
    (void)mode;
    return answer_refreshed(kTarget, a, property, value);
}

// A send-target portal's Authentication values: a set stores the text in
// the cache only (the CHAP actions write the file).
uint32_t handle_authentication_stploginoptions(HmNode *property, char *value, uint32_t mode)
{
    Around a;
    if (!around_authentication(property, &a) || value == nullptr)
        return 1;
    if (mode == HM_MODE_GET)
        return answer_refreshed(kSendTargetPortal, a, property, value);
    if (mode != HM_MODE_SET)
        return 0;
    return set_prop_val(a.authentication, property->name, "%s", value);
}

uint32_t handle_target_loginopts(HmNode *property, char *value, uint32_t mode)
{
    ORSA_ENTRY_LOCK();
    if (property == nullptr || property->body == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    Around a;
    a.owner = enclosing(property->parent, "Target");
    a.options = a.owner != nullptr ? internal_get_node(a.owner, "TargetLoginOptions", HM_KIND_GROUP) : nullptr;
    a.authentication = authentication_of(a.options);
    if (a.authentication == nullptr)
        return 1;
    if (mode == HM_MODE_GET)
        return answer_refreshed(kTarget, a, property, value);
    if (mode != HM_MODE_SET)
        return 0;
    if (ORSA_set_target_loginoptions(a.owner, a.options, a.authentication, property->name, value) != 0)
        return 1;
    uint32_t rc = set_prop_val(property->parent, property->name, "%s", value);
    ORSA_update_session_authentication(a.owner);
    return rc;
}

uint32_t handle_target_type(HmNode *property, char *value, uint32_t mode)
{
    if (property == nullptr || property->body == nullptr || property->parent == nullptr || value == nullptr)
        return 1;
    if (mode != HM_MODE_GET)
        return 0;
    if (get_target_type(property->parent) != 0)
        pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: refresh failed\n", __func__);
    return orsa_answer(property, value, 0);
}

uint32_t ORSA_get_initiator_loginoptions(HmNode *lhba, HmNode *options, HmNode *authentication)
{
    char keys[3][ORSA_FILE_FIELD_SIZE];
    if (lhba == nullptr || options == nullptr || authentication == nullptr || orsa_location_key(lhba, keys) != 0)
        return 1;
    return refresh_from(ORSA_FILE_LOGOPTS, ORSA_LOGOPTS_FILE, keys, 3, ORSA_LOGOPTS_FIELDS, -1, false, options,
                        authentication);
}

uint32_t ORSA_get_stploginoptions(HmNode *stp, HmNode *options, HmNode *authentication)
{
    char keys[5][ORSA_FILE_FIELD_SIZE];
    if (stp == nullptr || options == nullptr || authentication == nullptr || orsa_location_key(stp, keys) != 0)
        return 1;
    char ip[HM_VALUE_SIZE] = "", port[HM_VALUE_SIZE] = "";
    if (internal_get_property(stp, "IPAddress", ip) != 0 || internal_get_property(stp, "PortNumber", port) != 0)
        return 1;
    orsa_strlcpy(keys[3], ip, ORSA_FILE_FIELD_SIZE);
    orsa_strlcpy(keys[4], port, ORSA_FILE_FIELD_SIZE);
    return refresh_from(ORSA_FILE_SAVESTP, ORSA_SAVESTP_FILE, keys, 5, ORSA_SAVESTP_FIELDS, -1, false, options,
                        authentication);
}

uint32_t ORSA_get_target_loginoptions(HmNode *target, HmNode *options, HmNode *authentication)
{
    char keys[4][ORSA_FILE_FIELD_SIZE];
    if (target == nullptr || options == nullptr || authentication == nullptr || target_key(target, keys) != 0)
        return 1;
    // The options a target logs in with are those of its lines without a
    // qualifier (the ones a change rewrites); a persistent login's line keeps
    // the options it was made with.
    return refresh_from(ORSA_FILE_SAVETGT, ORSA_SAVETGT_FILE, keys, 4, ORSA_SAVETGT_FIELDS,
                        ORSA_SAVETGT_QUALIFIER_FIELD, true, options, authentication);
}

uint32_t get_target_type(HmNode *target)
{
    char keys[4][ORSA_FILE_FIELD_SIZE];
    if (target == nullptr || target_key(target, keys) != 0)
        return 1;
    char fields[ORSA_SAVETGT_FIELDS][ORSA_FILE_FIELD_SIZE];
    uint32_t found = orsa_persist_find_line(ORSA_SAVETGT_FILE, keys, 4, fields, ORSA_SAVETGT_FIELDS,
                                            ORSA_SAVETGT_QUALIFIER_FIELD);
    if (found == ORSA_FIND_NO_LINE || found == ORSA_FIND_NO_FILE)
        return 0;
    if (found != ORSA_FIND_FOUND)
        return 1;
    const char *type = fields[ORSA_SAVETGT_TARGET_TYPE_FIELD];
    return set_prop_val(target, "TargetType", "%s", type[0] != '\0' ? type : "Static");
}

namespace {

// A text field of a record that may fill its width without a terminator.
void put_bounded(HmNode *group, const char *name, const char *field, size_t width, uint32_t *rc)
{
    char text[HM_VALUE_SIZE];
    size_t n = strnlen(field, width < sizeof text ? width : sizeof text - 1);
    memcpy(text, field, n);
    text[n] = '\0';
    *rc |= set_prop_val(group, name, "%s", text);
}

const char *method_text(uint8_t chap, uint32_t mutual)
{
    if (chap == 0)
        return "None";
    if (chap == 1 && mutual == 0)
        return "One-Way CHAP";
    if (chap == 1 && mutual == 1)
        return "Mutual CHAP";
    return nullptr;
}

}  // namespace

uint32_t setup_initiator_target_loginopts(HmNode *group, const negotiated_connection_record *record)
{
    if (group == nullptr || record == nullptr || group->name == nullptr)
        return 1;
    const char *name = strcmp(group->name, "Target") == 0 ? "TargetLoginOptions" : "SessionLoginOptions";
    HmNode *options = internal_get_node(group, name, HM_KIND_GROUP);
    HmNode *auth = authentication_of(options);
    if (options == nullptr || auth == nullptr)
        return 1;
    uint32_t rc = 0;
    rc |= set_prop_val(options, "HeaderDigest", "%s", record->header_digest == 1 ? "CRC32C" : "None");
    rc |= set_prop_val(options, "DataDigest", "%s", record->data_digest == 1 ? "CRC32C" : "None");
    const char *method = method_text(record->authentication, record->mutual_chap);
    if (method != nullptr)
        rc |= set_prop_val(auth, "AuthenticationMethod", "%s", method);
    put_bounded(auth, "InitiatorCHAPName", record->initiator_chap_name, sizeof record->initiator_chap_name, &rc);
    put_bounded(auth, "InitiatorSecret", record->initiator_secret, sizeof record->initiator_secret, &rc);
    put_bounded(auth, "TargetCHAPName", record->target_chap_name, sizeof record->target_chap_name, &rc);
    put_bounded(auth, "TargetSecret", record->target_secret, sizeof record->target_secret, &rc);
    return rc != 0 ? 1 : 0;
}

uint32_t copy_login_options(HmNode *source, HmNode *destination, uint32_t mode)
{
    static const char *const kAuthTexts[] = {"AuthenticationMethod", "InitiatorCHAPName", "InitiatorSecret",
                                             "TargetCHAPName", "TargetSecret"};
    static const char *const kOptions[] = {"InitialR2T", "ImmediateData", "HeaderDigest", "DataDigest"};
    HmNode *src_auth = authentication_of(source);
    HmNode *dst_auth = authentication_of(destination);
    if (mode > 3 || src_auth == nullptr || dst_auth == nullptr)
        return 1;
    uint32_t rc = 0;
    for (const char *name : kAuthTexts) {
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(src_auth, name, text) != 0) {
            rc = 1;
            continue;
        }
        rc |= set_prop_val(dst_auth, name, "%s", text);
    }
    if (mode == 3)
        return rc != 0 ? 1 : 0;
    // A target's own options are written to its file line by its handler;
    // only InitialR2T goes that way, the others join its cache.
    bool target = destination->name != nullptr && strcmp(destination->name, "TargetLoginOptions") == 0;
    for (const char *name : kOptions) {
        char text[HM_VALUE_SIZE] = "";
        if (internal_get_property(source, name, text) != 0) {
            rc = 1;
            continue;
        }
        if (target && strcmp(name, "InitialR2T") != 0)
            rc |= set_prop_val(destination, name, "%s", text);
        else
            rc |= internal_set_property(destination, name, text) != 0 ? 1 : 0;
    }
    return rc != 0 ? 1 : 0;
}

uint32_t ORSA_update_session_authentication(HmNode *target)
{
    pdebug(ORSA_LOG_CAT_OTHER, ORSA_LOG_DEBUG, "%s: no closed session to rebuild (%s)\n", __func__,
           target != nullptr && target->name != nullptr ? target->name : "none");
    return 0;
}
