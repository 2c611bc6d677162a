/*
 * ima_hba.cpp - physical HBAs (the iSCSIPhysicalHBA<n> groups), logical HBAs
 * (their enabled LogicalHBA<n> groups) and the initiator node (a logical
 * HBA's InitiatoriSCSIName group) as IMA objects, and the firmware download.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <vector>

#include "ima/ima_plugin.h"
#include "tree/orsa_entry.h"

namespace {

/* Instances of name below tag, each looked up as a group; false when the
 * instance query itself fails. Groups that cannot be looked up are skipped. */
bool instances(u32 tag, const char *name, std::vector<u32> &out)
{
    std::vector<u32> numbers(ORSA_MAX_CHILD_TAGS);
    u32 n = 0;
    if (ORSA_get_valid_instances(tag, name, numbers.data(), &n) != 0)
        return false;
    for (u32 i = 0; i < n; i++) {
        char label[64];
        snprintf(label, sizeof label, "%s%u", name, (unsigned)numbers[i]);
        u32 t = 0;
        if (ORSA_get_node_tag(tag, label, &t, HM_KIND_GROUP) == 0)
            out.push_back(t);
    }
    return true;
}

/* A logical HBA is shown only when its Enabled property reads as not false. */
bool lhba_enabled(u32 lhba)
{
    char value[IMA_TEXT_SIZE] = "";
    if (GetOrsaPropertyVal(lhba, "Enabled", value) != 0)
        return false;
    return value[0] != 'F' && value[0] != 'f';
}

/* The global walk: every adapter's iSCSIPhysicalHBA<n> groups, or with
 * lhbas their enabled LogicalHBA<n> groups. False when ROOT's query fails. */
bool global_walk(bool lhbas, std::vector<u32> &out)
{
    std::vector<u32> adapters;
    if (!instances(0, "Kalderstone", adapters))
        return false;
    for (u32 ks : adapters) {
        std::vector<u32> phbas;
        if (!instances(ks, "iSCSIPhysicalHBA", phbas))
            continue;
        for (u32 phba : phbas) {
            if (!lhbas) {
                out.push_back(phba);
                continue;
            }
            std::vector<u32> ls;
            if (!instances(phba, "LogicalHBA", ls))
                continue;
            for (u32 l : ls)
                if (lhba_enabled(l))
                    out.push_back(l);
        }
    }
    if (out.size() > IMA_MAX_INSTANCES)
        out.resize(IMA_MAX_INSTANCES);
    return true;
}

IMA_STATUS global_list(bool lhbas, u32 type, IMA_OID_LIST **list)
{
    if (list == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    std::vector<u32> tags;
    if (!global_walk(lhbas, tags))
        return IMA_ERROR_UNKNOWN_ERROR;
    return ima_hand_out_list(type, tags.data(), (u32)tags.size(), list, IMA_ERROR_UNKNOWN_ERROR);
}

const char *model_line(const char *description, bool vmw)
{
    if (strstr(description, "TQR33150") != nullptr)
        return "Kalderstones 3";
    if (strstr(description, "TQR22150") != nullptr)
        return "Kalderstones 2";
    if (strstr(description, vmw ? "TQR44" : "TQR44150") != nullptr)
        return "Veskarn";
    return "N/A";
}

/* A text of the tree shown as a wide field of the properties. */
struct WideText {
    u32 group;
    const char *child; /* nullptr: a property of the group itself */
    const char *property;
    IMA_WCHAR *field;
    size_t length;
};

/* Reads the texts in order, each into its field; the first failure stops.
 * text is left holding the last text read. */
template <size_t N> IMA_STATUS read_wide(const WideText (&texts)[N], char *text)
{
    for (const WideText &t : texts) {
        u32 r = t.child != nullptr ? GetOrsaVal(t.group, t.child, t.property, text)
                                   : GetOrsaPropertyVal(t.group, t.property, text);
        if (r != 0)
            return ErrorCheck(r);
        IMA_STATUS st = Sample_Iscsi_ToWide(t.field, text, t.length);
        if (st != 0)
            return st;
    }
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS phba_properties(IMA_OID oid, IMA_PHBA_PROPERTIES *props, bool vmw)
{
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    u32 ks = 0, phba0 = 0;
    u32 r = ima_parent(ima_tag(oid), &ks);
    if (r != 0)
        return ErrorCheck(r);
    char text[IMA_TEXT_SIZE];

    const WideText description[] = {{ks, nullptr, "Description", props->description, 256}};
    if ((st = read_wide(description, text)) != 0)
        return st;
    if ((st = Sample_Iscsi_ToWide(props->hardwareVersion, model_line(text, vmw), 256)) != 0)
        return st;
    if ((r = GetOrsaPropertyVal(ks, "SerialNumber", text)) != 0)
        return ErrorCheck(r);
    (void)Sample_Iscsi_ToWide(props->serialNumber, text, 64); /* a serial number that does not fit stays empty */

    const WideText versions[] = {{ks, nullptr, "ActiveFirmwareVersion", props->firmwareVersion, 256},
                                 {ks, nullptr, "BIOSVersion", props->optionRomVersion, 256}};
    if ((st = read_wide(versions, text)) != 0)
        return st;
    if ((r = ima_child(ks, "iSCSIPhysicalHBA0", HM_KIND_GROUP, &phba0)) != 0)
        return ErrorCheck(r);
    if ((r = GetOrsaPropertyVal(phba0, "MaxCDBLength", text)) != 0)
        return ErrorCheck(r);
    props->words[2] = (u32)strtol(text, nullptr, 10);

    const WideText more[] = {{ks, nullptr, "Manufacturer", props->vendor, 64},
                             {ks, nullptr, "ModelNumber", props->model, 256},
                             {phba0, "Driver", "DriverName", props->driverName, 256},
                             {phba0, "Driver", "DriverVersion", props->driverVersion, 256}};
    if ((st = read_wide(more, text)) != 0)
        return st;
    static const u32 constants[] = {1, 1, 0 /* the CDB length */, 0, 0, 1, 0, 1, 1};
    for (size_t i = 0; i < sizeof constants / sizeof constants[0]; i++)
        if (i != 2)
            props->words[i] = constants[i];
    if (vmw) {
        for (size_t i = 9; i <= 13; i++)
            props->words[i] = 0;
        for (size_t i = 14; i <= 17; i++)
            props->words[i] = 1;
        props->words[18] = 0;
    }
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS lhba_properties(IMA_OID oid, IMA_LHBA_PROPERTIES *props, bool zero_all)
{
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    if (zero_all)
        memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA);
    if (st != 0)
        return st;
    char text[IMA_TEXT_SIZE];
    u32 r = GetOrsaPropertyVal(ima_tag(oid), "IfName", text);
    if (r != 0)
        return ErrorCheck(r);
    if ((st = Sample_Iscsi_ToWide(props->osDeviceName, text, 256)) != 0)
        return st;
    memset(props->reserved0, 0, sizeof props->reserved0);
    props->words[0] = props->words[1] = props->words[2] = 1;
    memset(props->reserved1, 0, sizeof props->reserved1);
    props->word4 = 1;
    memset(props->reserved2, 0, sizeof props->reserved2);
    return IMA_STATUS_SUCCESS;
}

/* The logical HBA of an LHBA id (the node) or a PHBA id (its LogicalHBA0). */
u32 node_lhba(const IMA_OID &oid, u32 *lhba)
{
    if (oid.objectType == IMA_OBJECT_TYPE_LHBA) {
        *lhba = ima_tag(oid);
        return 0;
    }
    return ima_child(ima_tag(oid), "LogicalHBA0", HM_KIND_GROUP, lhba);
}

size_t wide_length(const IMA_WCHAR *w)
{
    size_t n = 0;
    while (w[n] != 0)
        n++;
    return n;
}

IMA_STATUS set_node_text(IMA_OID oid, const IMA_WCHAR *wide, const char *property)
{
    u32 lhba = 0;
    IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA_PHBA);
    if (st != 0)
        return st;
    u32 r = node_lhba(oid, &lhba);
    if (r != 0)
        return ErrorCheck(r);
    char text[IMA_TEXT_SIZE];
    if ((st = Sample_Iscsi_ToUtf8(text, wide, sizeof text)) != 0)
        return st;
    r = SetOrsaPropertyVal(lhba, "InitiatoriSCSIName", property, text);
    return r != 0 ? ErrorCheck(r) : IMA_STATUS_SUCCESS;
}

} // namespace

IMA_STATUS IMA_GetPhbaOidList(IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return global_list(false, IMA_OBJECT_TYPE_PHBA, list);
}

IMA_STATUS IMA_GetLnpOidList(IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return global_list(false, IMA_OBJECT_TYPE_LNP, list);
}

IMA_STATUS IMA_GetLhbaOidList(IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    return global_list(true, IMA_OBJECT_TYPE_LHBA, list);
}

IMA_STATUS IMA_VMW_GetLhbaOidList(IMA_OID phbaId, IMA_OID_LIST **list)
{
    ORSA_ENTRY_LOCK();
    if (list == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    std::vector<u32> numbers(ORSA_MAX_CHILD_TAGS), tags;
    u32 n = 0;
    u32 r = ORSA_get_valid_instances(ima_tag(phbaId), "LogicalHBA", numbers.data(), &n);
    if (r != 0)
        return ErrorCheck(r);
    for (u32 i = 0; i < n && tags.size() < IMA_MAX_INSTANCES; i++) {
        char label[64];
        snprintf(label, sizeof label, "LogicalHBA%u", (unsigned)numbers[i]);
        u32 t = 0;
        if (ima_child(ima_tag(phbaId), label, HM_KIND_GROUP, &t) == 0 && lhba_enabled(t))
            tags.push_back(t);
    }
    return ima_hand_out_list(IMA_OBJECT_TYPE_LHBA, tags.data(), (u32)tags.size(), list, IMA_ERROR_UNKNOWN_ERROR);
}

IMA_STATUS IMA_GetPhbaProperties(IMA_OID phbaId, IMA_PHBA_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return phba_properties(phbaId, props, false);
}

IMA_STATUS IMA_VMW_GetPhbaProperties(IMA_OID phbaId, IMA_PHBA_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return phba_properties(phbaId, props, true);
}

IMA_STATUS IMA_GetPhbaStatus(IMA_OID phbaId, uint32_t *status)
{
    ORSA_ENTRY_LOCK();
    if (status == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    *status = 0;
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    u32 ks = 0;
    char text[IMA_TEXT_SIZE] = "";
    u32 r = ima_parent(ima_tag(phbaId), &ks);
    if (r == 0)
        r = GetOrsaPropertyVal(ks, "FirmwareStatus", text);
    if (r != 0)
        return ErrorCheck(r);
    *status = strcasecmp(text, "Working") == 0 ? 0 : 1;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_GetLhbaProperties(IMA_OID lhbaId, IMA_LHBA_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return lhba_properties(lhbaId, props, true);
}

IMA_STATUS IMA_VMW_GetLhbaProperties(IMA_OID lhbaId, IMA_LHBA_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    return lhba_properties(lhbaId, props, false);
}

IMA_STATUS IMA_VMW_GetNodeProperties(IMA_OID hbaId, IMA_NODE_PROPERTIES *props)
{
    ORSA_ENTRY_LOCK();
    if (props == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    memset(props, 0, sizeof *props);
    IMA_STATUS st = ima_check_oid(hbaId, IMA_MASK_LHBA_PHBA);
    if (st != 0)
        return st;
    u32 lhba = 0;
    char name[IMA_TEXT_SIZE], alias[IMA_TEXT_SIZE];
    u32 r = node_lhba(hbaId, &lhba);
    if (r == 0)
        r = GetOrsaVal(lhba, "InitiatoriSCSIName", "InitiatoriSCSIName", name);
    if (r == 0)
        r = GetOrsaVal(lhba, "InitiatoriSCSIName", "InitiatorAlias", alias);
    if (r != 0)
        return ErrorCheck(r);
    props->runningInInitiatorMode = 1;
    props->runningInTargetMode = 0;
    if ((st = Sample_Iscsi_ToWide(props->name, name, 224)) != 0)
        return st;
    props->nameValid = props->name[0] != 0 ? 1 : 0;
    if ((st = Sample_Iscsi_ToWide(props->alias, alias, 256)) != 0)
        return st;
    props->aliasValid = alias[0] != 0 ? 1 : 0;
    props->nameAndAliasSettable = 1;
    return IMA_STATUS_SUCCESS;
}

IMA_STATUS IMA_VMW_SetNodeName(IMA_OID hbaId, const IMA_WCHAR *name)
{
    ORSA_ENTRY_LOCK();
    if (name == nullptr || name[0] == 0)
        return IMA_ERROR_INVALID_PARAMETER;
    if (wide_length(name) > 223)
        return IMA_ERROR_NAME_TOO_LONG;
    return set_node_text(hbaId, name, "InitiatoriSCSIName");
}

IMA_STATUS IMA_VMW_SetNodeAlias(IMA_OID hbaId, const IMA_WCHAR *alias)
{
    ORSA_ENTRY_LOCK();
    if (alias == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    if (wide_length(alias) > 255)
        return IMA_ERROR_NAME_TOO_LONG;
    return set_node_text(hbaId, alias, "InitiatorAlias");
}

IMA_STATUS IMA_PhbaDownload(IMA_OID phbaId, uint32_t imageType, const IMA_WCHAR *fileName)
{
    ORSA_ENTRY_LOCK();
    ppdebug(" IMA_PhbaDownload %d\n", (int)phbaId.objectType);
    if (fileName == nullptr)
        return IMA_ERROR_INVALID_PARAMETER;
    IMA_STATUS st = ima_check_oid(phbaId, IMA_MASK_PHBA);
    if (st != 0)
        return st;
    /* The image type is checked only: the action tells the image from its contents. */
    if (imageType > 3)
        return IMA_ERROR_INVALID_PARAMETER;
    u32 ks = 0, action = 0;
    u32 r = ima_parent(ima_tag(phbaId), &ks);
    if (r == 0)
        r = ima_child(ks, "UpgradeFlashROM", HM_KIND_ACTION, &action);
    if (r != 0)
        return ErrorCheck(r);
    HmValueSlot params[HM_MAX_PARAMS];
    memset(params, 0, sizeof params);
    if ((st = Sample_Iscsi_ToUtf8(params[0], fileName, sizeof params[0])) != 0)
        return st;
    ppdebug("params in upgrade flash rom is %s\n", params[0]);
    r = ORSA_do_action(ks, action, params, nullptr);
    ppdebug("after  ORSA_do_action  status is %d\n", (int)r);
    return ErrorCheck(r);
}
