/*
 * ima_loginparams.cpp - the iSCSI login parameters and digests of a logical
 * HBA, a target, a discovery address or a static discovery target, served
 * from the login-options groups of the tree.
 */
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "ima/ima_plugin.h"
#include "ima/ima_options.h"
#include "tree/orsa_entry.h"

/* The group that holds the object's options group, and that group's name. */
u32 ima_options_owner(const IMA_OID &oid, u32 *owner, const char **group)
{
    switch (oid.objectType) {
    case IMA_OBJECT_TYPE_LHBA:
        *owner = ima_tag(oid);
        *group = "InitiatorLoginOptions";
        return 0;
    case IMA_OBJECT_TYPE_DISCOVERY_ADDRESS:
        *owner = ima_tag(oid);
        *group = "SendTargetPortalLoginOptions";
        return 0;
    default:
        *group = "TargetLoginOptions";
        return Get_Target_tag(ima_tag(oid), owner);
    }
}

u32 ima_options_group(const IMA_OID &oid, u32 *options)
{
    u32 owner = 0;
    const char *name = nullptr;
    u32 r = ima_options_owner(oid, &owner, &name);
    return r != 0 ? r : ima_child(owner, name, HM_KIND_GROUP, options);
}

namespace {

/* The logical HBA an id belongs to. */
u32 lhba_of(const IMA_OID &oid, u32 *lhba)
{
    u32 up = 0;
    u32 r;
    switch (oid.objectType) {
    case IMA_OBJECT_TYPE_LHBA:
        *lhba = ima_tag(oid);
        return 0;
    case IMA_OBJECT_TYPE_DISCOVERY_ADDRESS:
        r = ima_parent(ima_tag(oid), &up);
        break;
    default:
        r = Get_Target_tag(ima_tag(oid), &up);
        break;
    }
    return r != 0 ? r : ima_parent(up, lhba);
}

u32 default_option(const IMA_OID &oid, const char *property, char *text)
{
    u32 lhba = 0;
    u32 r = lhba_of(oid, &lhba);
    return r != 0 ? r : GetOrsaVal(lhba, "InitiatorDefaultLoginOptions", property, text);
}

IMA_STATUS GetInitiatorDefaultLoginParameters(const IMA_OID &oid, IMA_MIN_MAX_VALUE *props, const char *property)
{
    char text[IMA_TEXT_SIZE];
    u32 r = default_option(oid, property, text);
    if (r != 0)
        return ErrorCheck(r);
    props->currentValueValid = 1;
    props->settable = 0;
    props->currentValue = (u32)strtol(text, nullptr, 10);
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS GetInitiatorParameters(const IMA_OID &oid, IMA_BOOL_VALUE *props, const char *property)
{
    props->currentValueValid = 1;
    char text[IMA_TEXT_SIZE];
    if (strcmp(property, "DataPDUInOrder") == 0 || strcmp(property, "DataSequenceInOrder") == 0) {
        u32 r = default_option(oid, property, text);
        if (r != 0)
            return ErrorCheck(r);
        props->settable = 0;
        props->currentValue = strtol(text, nullptr, 10) == 1 ? 1 : 0;
        return IMA_STATUS_SUCCESS;
    }
    u32 options = 0;
    u32 r = ima_options_group(oid, &options);
    if (r == 0)
        r = GetOrsaPropertyVal(options, property, text);
    if (r != 0)
        return ErrorCheck(r);
    bool immediate = strcmp(property, "ImmediateData") == 0;
    props->settable = immediate ? 1 : 0;
    if (immediate)
        props->defaultValue = 1;
    props->currentValue = strcasecmp(text, "None") == 0 || strcasecmp(text, "No") == 0 ? 0 : 1;
    if (props->currentValue == 0 && oid.objectType != IMA_OBJECT_TYPE_DISCOVERY_ADDRESS)
        ppdebug("FALSE\n");
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS numeric(IMA_OID oid, IMA_MIN_MAX_VALUE *props, const char *property)
{
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    return st != 0 ? st : GetInitiatorDefaultLoginParameters(oid, props, property);
}

IMA_STATUS boolean(IMA_OID oid, IMA_BOOL_VALUE *props, const char *property)
{
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    return st != 0 ? st : GetInitiatorParameters(oid, props, property);
}

/* A setter the tree offers nothing for: the id is checked, then refused. */
IMA_STATUS unsupported(IMA_OID oid)
{
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET);
    return st != 0 ? st : IMA_ERROR_NOT_SUPPORTED;
}

IMA_STATUS unsupported_bool(IMA_OID oid, u32 value)
{
    return value > 1 ? IMA_ERROR_INVALID_PARAMETER : unsupported(oid);
}

IMA_STATUS unsupported_reader(IMA_OID oid, void *props)
{
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof(IMA_BOOL_VALUE));
    return unsupported(oid);
}

IMA_STATUS set_digest(IMA_OID oid, u32 count, const uint32_t *digests, u32 mask, const char *digest, const char *param)
{
    if (digests == nullptr || count == 0)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, mask);
    if (st != 0)
        return st;
    u32 owner = 0;
    const char *group = nullptr;
    u32 r = ima_options_owner(oid, &owner, &group);
    if (r != 0)
        return ErrorCheck(r);
    if (digests[0] == IMA_DIGEST_CRC32C) {
        r = SetOrsaPropertyVal(owner, group, digest, "CRC32C");
        if (r == 0)
            r = SetOrsaPropertyVal(owner, group, param, "Preferred");
    } else {
        r = SetOrsaPropertyVal(owner, group, param, "Prohibited");
        if (r == 0)
            r = SetOrsaPropertyVal(owner, group, digest, "None");
    }
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

IMA_STATUS get_digest(IMA_OID oid, uint32_t *count, uint32_t *digests, const char *param)
{
    if (digests == nullptr || count == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    digests[0] = 0;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 options = 0;
    char text[IMA_TEXT_SIZE];
    u32 r = ima_options_group(oid, &options);
    if (r == 0)
        r = GetOrsaPropertyVal(options, param, text);
    if (r != 0)
        return ErrorCheck(r);
    if (strcmp(text, "Prohibited") == 0) {
        *count = 1;
        digests[0] = IMA_DIGEST_NONE;
    } else {
        *count = 2;
        digests[0] = IMA_DIGEST_CRC32C;
        digests[1] = IMA_DIGEST_NONE;
    }
    return IMA_STATUS_SUCCESS;
}

} // namespace

#define NUMERIC_READER(entry, property)                                                                                \
    IMA_STATUS entry(IMA_OID oid, IMA_MIN_MAX_VALUE *props)                                                            \
    {                                                                                                                  \
        ORSA_ENTRY_LOCK();                                                                                             \
        return numeric(oid, props, property);                                                                          \
    }
NUMERIC_READER(IMA_GetMaxConnectionsProperties, "MaxConnections")
NUMERIC_READER(IMA_GetMaxRecvDataSegmentLengthProperties, "MaxRecvDataSegmentLength")
NUMERIC_READER(IMA_GetMaxOutstandingR2TProperties, "MaxOutstandingR2T")
NUMERIC_READER(IMA_GetMaxBurstLengthProperties, "MaxBurstLength")
NUMERIC_READER(IMA_GetFirstBurstLengthProperties, "FirstBurstLength")
NUMERIC_READER(IMA_GetErrorRecoveryLevelProperties, "ErrorRecoveryLevel")
NUMERIC_READER(IMA_GetDefaultTime2WaitProperties, "DefaultTime2Wait")
NUMERIC_READER(IMA_GetDefaultTime2RetainProperties, "DefaultTime2Retain")

#define BOOLEAN_READER(entry, property)                                                                                \
    IMA_STATUS entry(IMA_OID oid, IMA_BOOL_VALUE *props)                                                               \
    {                                                                                                                  \
        ORSA_ENTRY_LOCK();                                                                                             \
        return boolean(oid, props, property);                                                                          \
    }
BOOLEAN_READER(IMA_GetInitialR2TProperties, "InitialR2T")
BOOLEAN_READER(IMA_GetImmediateDataProperties, "ImmediateData")
BOOLEAN_READER(IMA_GetDataSequenceInOrderProperties, "DataSequenceInOrder")
BOOLEAN_READER(IMA_GetDataPduInOrderProperties, "DataPDUInOrder")

#define UNSUPPORTED_SETTER(entry, check)                                                                               \
    IMA_STATUS entry(IMA_OID oid, uint32_t value)                                                                      \
    {                                                                                                                  \
        ORSA_ENTRY_LOCK();                                                                                             \
        (void)value;                                                                                                   \
        return check;                                                                                                  \
    }
UNSUPPORTED_SETTER(IMA_SetMaxConnections, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetMaxRecvDataSegmentLength, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetMaxOutstandingR2T, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetMaxBurstLength, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetFirstBurstLength, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetErrorRecoveryLevel, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetDefaultTime2Wait, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetDefaultTime2Retain, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetInitialR2T, unsupported_bool(oid, value))
UNSUPPORTED_SETTER(IMA_SetDataSequenceInOrder, unsupported_bool(oid, value))
UNSUPPORTED_SETTER(IMA_SetDataPduInOrder, unsupported_bool(oid, value))
UNSUPPORTED_SETTER(IMA_SetOFMarkerProperties, unsupported_bool(oid, value))
UNSUPPORTED_SETTER(IMA_SetIFMarkerProperties, unsupported_bool(oid, value))
UNSUPPORTED_SETTER(IMA_SetOFMarkIntProperties, unsupported(oid))
UNSUPPORTED_SETTER(IMA_SetIFMarkIntProperties, unsupported(oid))

#define UNSUPPORTED_READER(entry, type)                                                                                \
    IMA_STATUS entry(IMA_OID oid, type *props)                                                                         \
    {                                                                                                                  \
        ORSA_ENTRY_LOCK();                                                                                             \
        return unsupported_reader(oid, props);                                                                         \
    }
UNSUPPORTED_READER(IMA_GetOFMarkIntProperties, IMA_MIN_MAX_VALUE)
UNSUPPORTED_READER(IMA_GetIFMarkIntProperties, IMA_MIN_MAX_VALUE)
UNSUPPORTED_READER(IMA_GetOFMarkerProperties, IMA_BOOL_VALUE)
UNSUPPORTED_READER(IMA_GetIFMarkerProperties, IMA_BOOL_VALUE)

IMA_STATUS IMA_SetImmediateData(IMA_OID oid, uint32_t value)
{
    ORSA_ENTRY_LOCK();
    if (value > 1)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    u32 owner = 0;
    const char *group = nullptr;
    u32 r = ima_options_owner(oid, &owner, &group);
    if (r == 0)
        r = SetOrsaPropertyVal(owner, group, "ImmediateData", value == 1 ? "Yes" : "No");
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_SetHeaderDigestValues(IMA_OID oid, uint32_t count, const uint32_t *digests)
{
    ORSA_ENTRY_LOCK();
    return set_digest(oid, count, digests, IMA_MASK_LHBA_TARGET, "HeaderDigest", "HeaderParam");
}

IMA_STATUS IMA_SetDataDigestValues(IMA_OID oid, uint32_t count, const uint32_t *digests)
{
    ORSA_ENTRY_LOCK();
    return set_digest(oid, count, digests, IMA_MASK_LHBA_TARGET, "DataDigest", "DataParam");
}

IMA_STATUS IMA_VMW_SetHeaderDigest(IMA_OID oid, uint32_t count, const uint32_t *digests)
{
    ORSA_ENTRY_LOCK();
    return set_digest(oid, count, digests, IMA_MASK_LHBA_TARGET_DISC_STATIC, "HeaderDigest", "HeaderParam");
}

IMA_STATUS IMA_VMW_SetDataDigest(IMA_OID oid, uint32_t count, const uint32_t *digests)
{
    ORSA_ENTRY_LOCK();
    return set_digest(oid, count, digests, IMA_MASK_LHBA_TARGET_DISC_STATIC, "DataDigest", "DataParam");
}

IMA_STATUS IMA_VMW_GetHeaderDigest(IMA_OID oid, uint32_t *count, uint32_t *digests)
{
    ORSA_ENTRY_LOCK();
    return get_digest(oid, count, digests, "HeaderParam");
}

IMA_STATUS IMA_VMW_GetDataDigest(IMA_OID oid, uint32_t *count, uint32_t *digests)
{
    ORSA_ENTRY_LOCK();
    return get_digest(oid, count, digests, "DataParam");
}

IMA_STATUS IMA_GetDigestProperties(IMA_OID oid, IMA_DIGEST_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    props->words[0] = props->words[1] = 0;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_TARGET_DISC_STATIC);
    if (st != 0)
        return st;
    props->words[0] = props->words[1] = 1;
    return IMA_STATUS_SUCCESS;
}
