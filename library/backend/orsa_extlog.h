/*
 * orsa_extlog.h - the adapter's extended firmware log (modules and their
 * logging modes) and whether firmware trace (FAT) data is present.
 *
 * Usage: start-up calls ORSA_extfat_modules(controller) once per adapter;
 * the mode properties refresh through handle_current_mode_properties.
 * The capability image is walked only inside the bytes the adapter sent,
 * and a mode group is paired with a mode entry only when the module's
 * record holds that entry:
 *     i32 at = orsa_extfat_mode_entry(caps, size, module, mode);   // -1: none
 */
#ifndef DRELMO_BACKEND_ORSA_EXTLOG_H
#define DRELMO_BACKEND_ORSA_EXTLOG_H

#include "tree/hm_types.h"

#define ORSA_EXTFAT_CAPS_SIZE 64000u
#define ORSA_EXTFAT_HEADER 20u
#define ORSA_EXTFAT_RECORD 40u
#define ORSA_EXTFAT_MODE_ENTRY 16u
#define ORSA_EXTFAT_MAX_MODES 4u
#define ORSA_EXTFAT_MODE_GROUPS 2u

#define ORSA_STATUS_EXTFAT_GET_FAILED 201
#define ORSA_STATUS_EXTFAT_SET_FAILED 203
#define ORSA_STATUS_FAT_RETRIEVE_FAILED 65

#define ORSA_FAT_OBJECT_READ_SIZE 32876u
#define ORSA_FAT_OBJECT_NAME "/dbg/dump.bin"

/* Byte offset in caps of mode entry `mode` of module record `module`
 * (both counted from 0), or -1 when the record or the entry is not in the
 * image. A record with no modes takes 56 bytes. */
i32 orsa_extfat_mode_entry(const u8 *caps, u32 size, i32 module, i32 mode);

/* Fills ExtFATData and creates its module and mode groups from an image. */
u32 orsa_extfat_fill(HmNode *extfat_data, const u8 *caps, u32 size);
/* Stores one mode group's settings from an image; 0 when it has none. */
u32 orsa_extfat_store_mode(HmNode *mode_group, const u8 *caps, u32 size);

/* Reads the capability image (selector 0 enumerates, 1 rereads a mode)
 * through the controller's first function; *caps is the caller's to free
 * with orsa_dfree. A failure sets status 201 and returns the command's status. */
u32 orsa_read_extfat_caps(HmNode *controller, u32 selector, u8 **caps);

u32 ORSA_extfat_modules(HmNode *controller);
u32 get_extfat_data(HmNode *extfat_data, HmNode *mode_group);

u32 handle_current_mode_properties(HmNode *property, char *value, u32 mode);
u32 handle_FATDataValid(HmNode *property, char *value, u32 mode);

#endif
