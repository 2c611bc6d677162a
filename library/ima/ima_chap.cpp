/*
 * ima_chap.cpp - CHAP authentication of a logical HBA, a target, a discovery
 * address or a static discovery target: read from the Authentication group
 * below the object's login-options group, changed only through that group's
 * actions ConfigureCHAP and DeleteCHAP, so the action's own rules apply.
 *
 * The host's one-way (initiator) credentials are the tree's TargetCHAPName
 * and TargetSecret; its mutual credentials the tree's InitiatorCHAPName and
 * InitiatorSecret.
 */
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "ima/ima_options.h"
#include "ima/ima_plugin.h"
#include "tree/orsa_entry.h"

namespace {

/* Used when the host switches CHAP on without giving credentials. */
constexpr const char *kBuiltInName = "kalderstone";
constexpr const char *kBuiltInSecret = "quillmarbletown";

constexpr const char *kNone = "None";
constexpr const char *kOneWay = "One-Way CHAP";
constexpr const char *kMutual = "Mutual CHAP";

enum Slot {
    kMethod = 0,
    kInitiatorName,
    kInitiatorSecret,
    kTargetName,
    kTargetSecret,
    kLevel
};

struct Block {
    HmValueSlot p[HM_MAX_PARAMS];
    /* Every slot not given. */
    Block() { memset(p, ORSA_PARAM_NOT_GIVEN, sizeof p); }
    void set(Slot s, const char *text) { snprintf(p[s], sizeof p[s], "%s", text); }
};

u32 auth_group(const IMA_OID &oid, u32 *auth)
{
    u32 options = 0;
    u32 r = ima_options_group(oid, &options);
    return r != 0 ? r : ima_child(options, "Authentication", HM_KIND_GROUP, auth);
}

/* For a target: the Authentication group of the session whose first
 * connection goes to one of the target's portals, else the target's own. */
u32 session_auth_group(const IMA_OID &oid, u32 *auth)
{
    if (oid.objectType != IMA_OBJECT_TYPE_TARGET && oid.objectType != IMA_OBJECT_TYPE_STATIC_DISCOVERY_TARGET)
        return auth_group(oid, auth);
    u32 target = 0, np = 0, ns = 0;
    u32 r = Get_Target_tag(ima_tag(oid), &target);
    std::vector<u32> portals(IMA_MAX_INSTANCES), sessions(IMA_MAX_INSTANCES);
    if (r == 0)
        r = Orsa_Get_Child_Tags(target, "Session", sessions.data(), &ns);
    if (r == 0)
        r = Orsa_Get_Child_Tags(target, "TargetPortal", portals.data(), &np);
    if (r != 0)
        return r;
    for (u32 i = 0; i < np; i++) {
        char ip[IMA_TEXT_SIZE], port[IMA_TEXT_SIZE];
        if ((r = GetOrsaPropertyVal(portals[i], "TargetIPAddress", ip)) != 0 ||
            (r = GetOrsaPropertyVal(portals[i], "TargetPortNumber", port)) != 0)
            return r;
        for (u32 k = 0; k < ns; k++) {
            char dip[IMA_TEXT_SIZE], dport[IMA_TEXT_SIZE];
            if ((r = GetOrsaVal(sessions[k], "Connection0", "DestinationIPAddress", dip)) != 0 ||
                (r = GetOrsaVal(sessions[k], "Connection0", "DestinationPortNumber", dport)) != 0)
                return r;
            if (strcmp(dip, ip) == 0 && strcmp(dport, port) == 0) {
                u32 options = 0;
                r = ima_child(sessions[k], "SessionLoginOptions", HM_KIND_GROUP, &options);
                return r != 0 ? r : ima_child(options, "Authentication", HM_KIND_GROUP, auth);
            }
        }
    }
    return auth_group(oid, auth);
}

/* The entry points' Authentication group with a tree failure already mapped
 * (a mapped failure is never success), so they can return it as it is. */
IMA_STATUS find_auth(const IMA_OID &oid, u32 *auth)
{
    u32 r = auth_group(oid, auth);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

/* The group (the session's one for a local read) and its configured
 * AuthenticationMethod, a tree failure mapped. */
IMA_STATUS find_auth_method(const IMA_OID &oid, bool session, u32 *auth, char *method)
{
    u32 r = session ? session_auth_group(oid, auth) : auth_group(oid, auth);
    if (r == 0)
        r = GetOrsaPropertyVal(*auth, "AuthenticationMethod", method);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

IMA_STATUS read_method(u32 auth, char *method)
{
    u32 r = GetOrsaPropertyVal(auth, "AuthenticationMethod", method);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

/* A CHAP name or secret of the host's record: it must end inside its field
 * and fit a tree text; nothing is cut. */
bool record_text(const u8 *field, size_t size, char *out)
{
    const void *end = memchr(field, 0, size);
    if (end == nullptr)
        return false;
    size_t n = (size_t)((const u8 *)end - field);
    if (n > IMA_TEXT_SIZE - 1)
        return false;
    memcpy(out, field, n + 1);
    return true;
}

struct Credentials {
    char name[IMA_TEXT_SIZE];
    char secret[IMA_TEXT_SIZE];
};

bool record_credentials(const IMA_INITIATOR_AUTHPARMS *parms, Credentials *c)
{
    return record_text(parms->chapParms.name, sizeof parms->chapParms.name, c->name) &&
           record_text(parms->chapParms.challengeSecret, sizeof parms->chapParms.challengeSecret, c->secret);
}

bool secret_length_ok(const Credentials &c)
{
    size_t n = strlen(c.secret);
    return n >= 12 && n <= 16;
}

const char *level_text(u32 level)
{
    switch (level) {
    case 2:
        return "Discouraged";
    case 3:
        return "Preferred";
    case 4:
        return "Required";
    default:
        return nullptr;
    }
}

IMA_STATUS run(u32 auth, const char *action, Block &b)
{
    u32 r = ima_run_action(auth, action, b.p);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

IMA_STATUS delete_chap(u32 auth)
{
    Block b;
    return run(auth, "DeleteCHAP", b);
}

/* One-way CHAP with the host's credentials as the tree's target ones. */
IMA_STATUS one_way(u32 auth, const Credentials &c, const char *level)
{
    char method[IMA_TEXT_SIZE];
    IMA_STATUS st = read_method(auth, method);
    if (st != 0)
        return st;
    Block b;
    if (strcmp(method, kNone) == 0 || strcmp(method, kOneWay) == 0 || strcmp(method, kMutual) == 0) {
        b.set(kMethod, kOneWay);
        b.set(kTargetName, c.name);
        b.set(kTargetSecret, c.secret);
        if (level != nullptr)
            b.set(kLevel, level);
    }
    return run(auth, "ConfigureCHAP", b);
}

/* Mutual CHAP with the host's credentials as the tree's initiator ones,
 * keeping the configured one-way credentials. */
IMA_STATUS mutual_keeping(u32 auth, const Credentials &c, u32 level)
{
    char method[IMA_TEXT_SIZE];
    IMA_STATUS st = read_method(auth, method);
    if (st != 0)
        return st;
    Block b;
    if (level != 1 && (strcmp(method, kMutual) == 0 || strcmp(method, kOneWay) == 0)) {
        char tname[IMA_TEXT_SIZE], tsecret[IMA_TEXT_SIZE];
        u32 r = 0;
        if ((r = GetOrsaPropertyVal(auth, "TargetCHAPName", tname)) != 0 ||
            (r = GetOrsaPropertyVal(auth, "TargetSecret", tsecret)) != 0)
            return ErrorCheck(r);
        b.set(kMethod, kMutual);
        b.set(kInitiatorName, c.name);
        b.set(kInitiatorSecret, c.secret);
        b.set(kTargetName, tname);
        b.set(kTargetSecret, tsecret);
        if (level_text(level) != nullptr)
            b.set(kLevel, level_text(level));
    }
    return run(auth, "ConfigureCHAP", b);
}

/* The method list of the setters: 0 or 1 each, no repeats; the level text. */
const char *list_level(u32 count, const uint32_t *methods)
{
    u32 ones = 0, zeros = 0;
    for (u32 i = 0; i < count; i++) {
        if (methods[i] > 1)
            return nullptr;
        (methods[i] == 1 ? ones : zeros)++;
    }
    if (ones > 1 || zeros > 1)
        return nullptr;
    if (count == 2)
        return methods[0] == 1 && methods[1] == 0 ? "Preferred" : "Discouraged";
    return methods[0] == 1 ? "Required" : "Prohibited";
}

IMA_STATUS set_methods(const IMA_OID &oid, const char *level)
{
    u32 auth = 0;
    char method[IMA_TEXT_SIZE];
    IMA_STATUS st = find_auth_method(oid, false, &auth, method);
    if (st != 0)
        return st;
    if (strcmp(level, "Prohibited") == 0)
        return delete_chap(auth);
    Block b;
    memset(b.p, 0, sizeof b.p);
    if (strcmp(method, kMutual) != 0) {
        char tname[IMA_TEXT_SIZE], tsecret[IMA_TEXT_SIZE];
        if (strcmp(method, kOneWay) == 0) {
            u32 r = 0;
            if ((r = GetOrsaPropertyVal(auth, "TargetCHAPName", tname)) != 0 ||
                (r = GetOrsaPropertyVal(auth, "TargetSecret", tsecret)) != 0)
                return ErrorCheck(r);
        } else {
            snprintf(tname, sizeof tname, "%s", kBuiltInName);
            snprintf(tsecret, sizeof tsecret, "%s", kBuiltInSecret);
        }
        b.set(kMethod, kOneWay);
        b.p[kInitiatorName][0] = (char)ORSA_PARAM_NOT_GIVEN;
        b.p[kInitiatorSecret][0] = (char)ORSA_PARAM_NOT_GIVEN;
        b.set(kTargetName, tname);
        b.set(kTargetSecret, tsecret);
        b.set(kLevel, level);
    }
    return run(auth, "ConfigureCHAP", b);
}

void fill(IMA_CHAP_INITIATOR_AUTHPARMS *p, u32 retries, const char *name, u32 name_length, u32 min, u32 max,
          const char *secret, u32 secret_length)
{
    p->retries = retries;
    snprintf((char *)p->name, sizeof p->name, "%s", name);
    p->nameLength = name_length;
    p->minValueLength = min;
    p->maxValueLength = max;
    snprintf((char *)p->challengeSecret, sizeof p->challengeSecret, "%s", secret);
    p->challengeSecretLength = secret_length;
}

IMA_STATUS read_pair(u32 auth, const char *name_property, const char *secret_property, Credentials *c)
{
    u32 r = GetOrsaPropertyVal(auth, name_property, c->name);
    if (r == 0)
        r = GetOrsaPropertyVal(auth, secret_property, c->secret);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

/* The getters' start once their own arguments are checked: the answer
 * cleared, the object id checked, then the group and its method. */
IMA_STATUS start_get(const IMA_OID &oid, u32 mask, bool session, IMA_INITIATOR_AUTHPARMS *parms, u32 *auth,
                     char *method)
{
    memset(parms, 0, sizeof *parms);
    IMA_STATUS st = ima_check_oid(oid, mask);
    return st != 0 ? st : find_auth_method(oid, session, auth, method);
}

/* The mutual credentials as the getters report them. */
void fill_mutual(IMA_CHAP_INITIATOR_AUTHPARMS *p, const Credentials &c)
{
    fill(p, 3, c.name, (u32)strlen(c.name), 12, 16, c.secret, (u32)strlen(c.secret));
}

IMA_STATUS get_supported(IMA_OID oid, uint32_t settableOnly, uint32_t *count, uint32_t *methods, u32 mask)
{
    if (methods == nullptr || count == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, mask);
    if (st != 0)
        return st;
    if (settableOnly > 1)
        return IMA_ERROR_INVALID_PARAMETER;
    u32 n = *count < 2 ? *count : 2;
    for (u32 i = 0; i < n; i++)
        methods[i] = i; /* [none, CHAP] */
    *count = n;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS in_use(IMA_OID oid, uint32_t *count, uint32_t *methods, u32 mask, bool local)
{
    if (methods == nullptr || count == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, mask);
    if (st != 0)
        return st;
    u32 auth = 0, method_group = 0;
    char method[IMA_TEXT_SIZE], level[IMA_TEXT_SIZE];
    u32 r = auth_group(oid, &auth);
    if (r == 0)
        r = local ? session_auth_group(oid, &method_group) : (method_group = auth, 0u);
    if (r == 0)
        r = GetOrsaPropertyVal(method_group, "AuthenticationMethod", method);
    if (r == 0)
        r = GetOrsaPropertyVal(auth, "CHAPParam", level);
    if (r != 0)
        return ErrorCheck(r);
    if (strcmp(method, kOneWay) != 0 && strcmp(method, kMutual) != 0) {
        *count = 1;
        methods[0] = IMA_AUTHMETHOD_NONE;
    } else if (strcmp(level, "Preferred") == 0) {
        *count = 2;
        methods[0] = IMA_AUTHMETHOD_CHAP;
        methods[1] = IMA_AUTHMETHOD_NONE;
    } else if (strcmp(level, "Discouraged") == 0) {
        *count = 2;
        methods[0] = IMA_AUTHMETHOD_NONE;
        methods[1] = IMA_AUTHMETHOD_CHAP;
    } else if (strcmp(level, "Required") == 0) {
        *count = 1;
        methods[0] = IMA_AUTHMETHOD_CHAP;
    } else if (strcmp(level, "Prohibited") == 0) {
        *count = 1;
        methods[0] = IMA_AUTHMETHOD_NONE;
    }
    return IMA_STATUS_SUCCESS;
}

} // namespace

IMA_STATUS IMA_GetSupportedAuthMethods(IMA_OID lhbaId, uint32_t settableOnly, uint32_t *count, uint32_t *methods)
{
    ORSA_ENTRY_LOCK();
    return get_supported(lhbaId, settableOnly, count, methods, IMA_MASK_LHBA);
}

IMA_STATUS IMA_VMW_GetSupportedAuthMethods(IMA_OID oid, uint32_t settableOnly, uint32_t *count, uint32_t *methods)
{
    ORSA_ENTRY_LOCK();
    return get_supported(oid, settableOnly, count, methods, IMA_MASK_LHBA_TARGET_DISC_STATIC);
}

IMA_STATUS IMA_GetInUseInitiatorAuthMethods(IMA_OID lhbaId, uint32_t *count, uint32_t *methods)
{
    ORSA_ENTRY_LOCK();
    return in_use(lhbaId, count, methods, IMA_MASK_LHBA, false);
}

IMA_STATUS IMA_VMW_GetInUseInitiatorLocalAuthMethods(IMA_OID oid, uint32_t *count, uint32_t *methods)
{
    ORSA_ENTRY_LOCK();
    return in_use(oid, count, methods, IMA_MASK_LHBA_TARGET_DISC_STATIC, true);
}

IMA_STATUS IMA_SetInitiatorAuthMethods(IMA_OID lhbaId, uint32_t count, const uint32_t *methods)
{
    ORSA_ENTRY_LOCK();
    if (methods == nullptr || count == 0 || count > 2)
        return IMA_ERROR_INVALID_PARAMETER;
    const char *level = list_level(count, methods);
    if (level == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(lhbaId, IMA_MASK_LHBA);
    return st != 0 ? st : set_methods(lhbaId, level);
}

IMA_STATUS IMA_VMW_SetInitiatorAuthMethods(IMA_OID oid, uint32_t count, const uint32_t *methods)
{
    ORSA_ENTRY_LOCK();
    if (methods == nullptr || count == 0 || count > 2)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    const char *level = list_level(count, methods);
    return level == nullptr ? IMA_ERROR_INVALID_PARAMETER : set_methods(oid, level);
}

IMA_STATUS IMA_SetInitiatorAuthParms(IMA_OID lhbaId, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method > 1 || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(lhbaId, IMA_MASK_LHBA);
    if (st != 0 || method == IMA_AUTHMETHOD_NONE)
        return st;
    Credentials c;
    if (!record_credentials(parms, &c))
        return IMA_ERROR_INVALID_PARAMETER;
    u32 auth = 0;
    if ((st = find_auth(lhbaId, &auth)) != 0)
        return st;
    return one_way(auth, c, nullptr);
}

IMA_STATUS IMA_SetInitiatorLocalAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms,
                                          uint32_t enable)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 auth = 0;
    if ((st = find_auth(oid, &auth)) != 0)
        return st;
    if (enable != 1)
        return delete_chap(auth);
    Credentials c;
    if (!record_credentials(parms, &c) || !secret_length_ok(c))
        return IMA_ERROR_INVALID_PARAMETER;
    return one_way(auth, c, nullptr);
}

IMA_STATUS IMA_VMW_SetInitiatorAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method > 1 || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 auth = 0;
    if ((st = find_auth(oid, &auth)) != 0)
        return st;
    if (parms->chapParms.level == 1)
        return delete_chap(auth);
    Credentials c;
    if (!record_credentials(parms, &c) || !secret_length_ok(c))
        return IMA_ERROR_INVALID_PARAMETER;
    Block b;
    b.set(kMethod, kOneWay);
    b.set(kTargetName, c.name);
    b.set(kTargetSecret, c.secret);
    if (level_text(parms->chapParms.level) != nullptr)
        b.set(kLevel, level_text(parms->chapParms.level));
    return run(auth, "ConfigureCHAP", b);
}

IMA_STATUS IMA_AddLhbaMutualAuthParms(IMA_OID lhbaId, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(lhbaId, IMA_MASK_LHBA);
    if (st != 0)
        return st;
    Credentials c;
    if (!record_credentials(parms, &c) || !secret_length_ok(c))
        return IMA_ERROR_INVALID_PARAMETER;
    u32 auth = 0;
    if ((st = find_auth(lhbaId, &auth)) != 0)
        return st;
    return mutual_keeping(auth, c, parms->chapParms.level);
}

IMA_STATUS IMA_VMW_SetMutualAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    if (st != 0 || parms->chapParms.level == 1)
        return st;
    Credentials c;
    if (!record_credentials(parms, &c) || !secret_length_ok(c))
        return IMA_ERROR_INVALID_PARAMETER;
    u32 auth = 0;
    if ((st = find_auth(oid, &auth)) != 0)
        return st;
    return mutual_keeping(auth, c, parms->chapParms.level);
}

IMA_STATUS IMA_SetMutualLocalAuth(IMA_OID oid, uint32_t method, uint32_t enable)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 auth = 0;
    char current[IMA_TEXT_SIZE];
    if ((st = find_auth(oid, &auth)) != 0)
        return st;
    if (enable != 1)
        return delete_chap(auth);
    if ((st = read_method(auth, current)) != 0)
        return st;
    Block b;
    if (strcmp(current, kNone) == 0 || strcmp(current, kOneWay) == 0) {
        /* ConfigureCHAP refuses equal initiator and target secrets, so the
         * built-in secret never becomes the one a target is checked with. */
        b.set(kMethod, kMutual);
        b.set(kInitiatorName, kBuiltInName);
        b.set(kInitiatorSecret, kBuiltInSecret);
        b.set(kTargetName, kBuiltInName);
        b.set(kTargetSecret, kBuiltInSecret);
    }
    return run(auth, "ConfigureCHAP", b);
}

IMA_STATUS IMA_SetMutualLocalAuthParms(IMA_OID oid, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms,
                                       uint32_t enable)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 auth = 0;
    if ((st = find_auth(oid, &auth)) != 0)
        return st;
    if (enable != 1)
        return delete_chap(auth);
    Credentials c;
    if (!record_credentials(parms, &c))
        return IMA_ERROR_INVALID_PARAMETER;
    char current[IMA_TEXT_SIZE], tname[IMA_TEXT_SIZE], tsecret[IMA_TEXT_SIZE], level[IMA_TEXT_SIZE];
    if ((st = read_method(auth, current)) != 0)
        return st;
    if (strcmp(current, kMutual) == 0 || strcmp(current, kOneWay) == 0) {
        u32 r = 0;
        if ((r = GetOrsaPropertyVal(auth, "TargetCHAPName", tname)) != 0 ||
            (r = GetOrsaPropertyVal(auth, "TargetSecret", tsecret)) != 0 ||
            (r = GetOrsaPropertyVal(auth, "CHAPParam", level)) != 0)
            return ErrorCheck(r);
    } else {
        snprintf(tname, sizeof tname, "%s", kBuiltInName);
        snprintf(tsecret, sizeof tsecret, "%s", kBuiltInSecret);
        snprintf(level, sizeof level, "Required");
    }
    Block b;
    b.set(kMethod, kMutual);
    b.set(kInitiatorName, c.name);
    b.set(kInitiatorSecret, c.secret);
    b.set(kTargetName, tname);
    b.set(kTargetSecret, tsecret);
    b.set(kLevel, level);
    return run(auth, "ConfigureCHAP", b);
}

IMA_STATUS IMA_RemoveLhbaMutualAuthParms(IMA_OID lhbaId, uint32_t method, const IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(lhbaId, IMA_MASK_LHBA);
    if (st != 0)
        return st;
    u32 auth = 0;
    if ((st = find_auth(lhbaId, &auth)) != 0)
        return st;
    return delete_chap(auth);
}

IMA_STATUS IMA_GetInitiatorAuthParms(IMA_OID oid, uint32_t method, IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    u32 auth = 0;
    char current[IMA_TEXT_SIZE];
    IMA_STATUS st = start_get(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC, false, parms, &auth, current);
    if (st != 0)
        return st;
    if (strcmp(current, kOneWay) != 0)
        return IMA_STATUS_SUCCESS;
    Credentials c;
    if ((st = read_pair(auth, "TargetCHAPName", "TargetSecret", &c)) != 0)
        return st;
    fill(&parms->chapParms, 0, c.name, (u32)strlen(c.name), 0, 256, c.secret, (u32)strlen(c.secret));
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_GetInitiatorLocalAuthParms(IMA_OID oid, uint32_t method, uint32_t *inUseMethod,
                                          IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr || inUseMethod == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    u32 auth = 0;
    char current[IMA_TEXT_SIZE];
    IMA_STATUS st = start_get(oid, IMA_MASK_TARGET_DISC_STATIC, true, parms, &auth, current);
    if (st != 0)
        return st;
    if (strcmp(current, kNone) == 0) {
        *inUseMethod = IMA_AUTHMETHOD_NONE;
        return IMA_STATUS_SUCCESS;
    }
    Credentials c;
    if ((st = read_pair(auth, "TargetCHAPName", "TargetSecret", &c)) != 0)
        return st;
    *inUseMethod = IMA_AUTHMETHOD_CHAP;
    fill(&parms->chapParms, 3, c.name, 256, 12, 18, c.secret, 256);
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_VMW_GetMutualAuthParms(IMA_OID oid, uint32_t method, IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    u32 auth = 0;
    char current[IMA_TEXT_SIZE];
    IMA_STATUS st = start_get(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC, false, parms, &auth, current);
    if (st != 0)
        return st;
    if (strcmp(current, kMutual) != 0) {
        parms->chapParms.level = 1;
        return IMA_STATUS_SUCCESS;
    }
    Credentials c;
    if ((st = read_pair(auth, "InitiatorCHAPName", "InitiatorSecret", &c)) != 0)
        return st;
    fill_mutual(&parms->chapParms, c);
    char level[IMA_TEXT_SIZE];
    if (GetOrsaPropertyVal(auth, "CHAPParam", level) != 0)
        parms->chapParms.level = 4;
    else
        parms->chapParms.level = strcmp(level, "Required") == 0 ? 4 : strcmp(level, "Preferred") == 0 ? 3 : 2;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_GetMutualLocalAuthParms(IMA_OID oid, uint32_t method, IMA_INITIATOR_AUTHPARMS *parms)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || parms == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(parms, 0, sizeof *parms);
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 auth = 0;
    Credentials c;
    if ((st = find_auth(oid, &auth)) != 0)
        return st;
    if ((st = read_pair(auth, "InitiatorCHAPName", "InitiatorSecret", &c)) != 0)
        return st;
    fill_mutual(&parms->chapParms, c);
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_GetLhbaMutualAuthParmsList(IMA_OID lhbaId, uint32_t method, IMA_LHBA_MUTUAL_AUTHPARMS_LIST **list)
{
    ORSA_ENTRY_LOCK();
    if (method != IMA_AUTHMETHOD_CHAP || list == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(lhbaId, IMA_MASK_LHBA);
    if (st != 0)
        return st;
    u32 auth = 0;
    Credentials c;
    if ((st = find_auth(lhbaId, &auth)) != 0)
        return st;
    if ((st = read_pair(auth, "InitiatorCHAPName", "InitiatorSecret", &c)) != 0)
        return st;
    IMA_LHBA_MUTUAL_AUTHPARMS_LIST *block =
        (IMA_LHBA_MUTUAL_AUTHPARMS_LIST *)calloc(1, sizeof(IMA_LHBA_MUTUAL_AUTHPARMS_LIST));
    if (block == nullptr)
        return IMA_ERROR_UNKNOWN_ERROR;
    block->count = 1;
    fill(&block->parms[0].chapParms, 0, c.name, (u32)strlen(c.name), 0, 256, c.secret, (u32)strlen(c.secret));
    *list = block;
    return IMA_STATUS_SUCCESS;
}
