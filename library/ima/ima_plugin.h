/*
 * ima_plugin.h - what the plugin's entry points share: the object checks,
 * the status mapping, the tree access routines, the id lists and the wide
 * text conversion.
 *
 * Every entry point that takes an IMA_OID follows one frame:
 *     if (out == nullptr) return IMA_ERROR_INVALID_PARAMETER;     // its own checks
 *     IMA_STATUS st = ima_check_oid(oid, IMA_MASK_LHBA);            // the id
 *     if (st != 0) return st;
 *     u32 r = GetOrsaVal(ima_tag(oid), "Group", "Property", text); // the tree
 *     if (r != 0) return ErrorCheck(r);
 * The plugin holds no adapter state: every object is a tree node found by tag.
 */
#ifndef DRELMO_IMA_IMA_PLUGIN_H
#define DRELMO_IMA_IMA_PLUGIN_H

#include <stddef.h>
#include <wchar.h>

#include "drelmo_ima.h"
#include "tree/hm_types.h"

/* Allowed-type masks: bit n allows object type n. */
enum : u32 {
    IMA_MASK_LHBA = 0x8,
    IMA_MASK_PHBA = 0x10,
    IMA_MASK_LHBA_PHBA = 0x18,
    IMA_MASK_PORTAL = 0x20,
    IMA_MASK_PHBA_PORTAL = 0x30,
    IMA_MASK_LHBA_PHBA_PORTAL = 0x38,
    IMA_MASK_LNP = 0x80,
    IMA_MASK_LHBA_LNP = 0x88,
    IMA_MASK_PHBA_LNP = 0x90,
    IMA_MASK_PNP = 0x100,
    IMA_MASK_LHBA_PNP = 0x108,
    IMA_MASK_PHBA_PNP = 0x110,
    IMA_MASK_LNP_PNP = 0x180,
    IMA_MASK_PHBA_LNP_PNP = 0x190,
    IMA_MASK_TARGET = 0x200,
    IMA_MASK_LHBA_TARGET = 0x208,
    IMA_MASK_LU = 0x400,
    IMA_MASK_TARGET_LU = 0x600,
    IMA_MASK_DISCOVERY = 0x800,
    IMA_MASK_STATIC = 0x1000,
    IMA_MASK_TARGET_STATIC = 0x1200,
    IMA_MASK_TARGET_DISC_STATIC = 0x1A00,
    IMA_MASK_LHBA_TARGET_DISC_STATIC = 0x1A08,
    IMA_MASK_CONNECTION = 0x2000,
    IMA_MASK_SESSION = 0x4000,
    IMA_MASK_LHBA_TARGET_SESSION = 0x4208,
};

#define IMA_TEXT_SIZE HM_VALUE_SIZE
#define IMA_MAX_INSTANCES 1024u

/* The plugin's globals (Part of the frame). */
extern u32 MyOwnerId;
extern i32 open_count;
extern u32 library_initialised;

void driver_open(void);
void driver_close(void);

/* The low 32 bits of the sequence number: the tree tag. */
inline u32 ima_tag(const IMA_OID &oid)
{
    return (u32)(oid.objectSequenceNumber & 0xFFFFFFFFu);
}
/* An id of this plugin for a tag: the tag sign-extended into 64 bits. */
IMA_OID ima_make_oid(u32 type, u32 tag);

IMA_STATUS CheckParameters(u32 object_type, u32 owner_id, u32 tag, u32 high, u32 mask);
IMA_STATUS ValidateOidTag(u32 object_type, u32 owner_id, u32 tag, u32 high);
inline IMA_STATUS ima_check_oid(const IMA_OID &oid, u32 mask)
{
    return CheckParameters(oid.objectType, oid.ownerId, ima_tag(oid), (u32)(oid.objectSequenceNumber >> 32), mask);
}
IMA_STATUS ErrorCheck(u32 result);

void ppdebug(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* Tree access: 0 or the failing tree call's status, unmapped. */
u32 GetOrsaPropertyVal(u32 group_tag, const char *property, char *out);
u32 GetOrsaVal(u32 tag, const char *group, const char *property, char *out);
u32 SetOrsaPropertyVal(u32 tag, const char *group, const char *property, const char *value);
u32 Get_Target_tag(u32 tag, u32 *parent);
u32 Orsa_Get_Child_Tags(u32 tag, const char *name, u32 *tags, u32 *count);
u32 Orsa_Get_TargetPortal_Tags(const u32 *targets, u32 *tags, u32 count, u32 *total);
/* Child group (kind 1) or action (kind 3) lookups and parent lookups. */
u32 ima_child(u32 tag, const char *name, u32 kind, u32 *out);
u32 ima_parent(u32 tag, u32 *out);
/* Runs the named action of the group with the six-text block. */
u32 ima_run_action(u32 group_tag, const char *action, HmValueSlot *params);

/* A port rate text ("10Gb", "1000Mb") in Mb/s; 0 for a text without a number. */
u32 ima_rate_mbps(const char *text);

u32 IMA_copy_ipv6_addr(char *out, const IMA_IP_ADDRESS *address);
u32 Covert_Hex_To_Bin(u8 *out, const char *hex, u32 length, i32 room);

/* An id list of one type over tags, handed out in *list; 0 or `fail` when
 * the block cannot be allocated. */
IMA_STATUS ima_hand_out_list(u32 type, const u32 *tags, u32 count, IMA_OID_LIST **list, IMA_STATUS fail);

/* Wide text conversion. */
u32 Iscsi_CodeSetOldGetUtf8(const u8 *start, const u8 *end, u32 *code_point);
i32 Iscsi_CodeSet_LengthInCodePoints(const char *text);
u32 Iscsi_CodeSet_UTF8ToUTF32(const char *text, u32 **out);
u32 Iscsi_CodeSet_UTF32ToUTF8(const u32 *wide, char **out);
IMA_STATUS Sample_Iscsi_ToWide(IMA_WCHAR *out, const char *text, size_t length);
IMA_STATUS Sample_Iscsi_ToUtf8(char *out, const IMA_WCHAR *wide, size_t length);

#endif
