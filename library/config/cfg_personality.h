/*
 * cfg_personality.h - what the adapter's PCI functions are: its personality
 * (which storage protocol its storage functions present), the protocols
 * each configured function may take, and the destructive actions that erase
 * the NIC or port configuration or reset the adapter to a factory profile.
 *
 * Every read and write goes the profile road first (profile configuration
 * records); when the adapter does not know the profile commands (213) -
 * or, for a read, its profile shows no resource records (288) - the legacy
 * road follows: the 836/1092-byte configuration table on KS2/KS3, the
 * common profile configuration on Pivard.
 *
 * Usage (start-up, once per controller group):
 *     ORSA_update_available_personalities(ks);
 *     ORSA_update_current_personality(ks);
 * The handlers below are bound by name through the schema's registry.
 *
 * The decoders in namespace personality read adapter replies of any length
 * and content: walks stop at the end of the buffer, at a zero record length
 * and at the entries a table can hold, whatever counts the adapter names.
 */
#ifndef DRELMO_CONFIG_CFG_PERSONALITY_H
#define DRELMO_CONFIG_CFG_PERSONALITY_H

#include <stddef.h>

#include "backend/orsa_gateway.h"
#include "config/cfg_profile_model.h"
#include "config/config_startup.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_PERSONALITY_SET_FAILED 139
#define ORSA_STATUS_PERSONALITY_GET_FAILED 140
#define ORSA_STATUS_PERSONALITY_CHANGED 143
#define ORSA_STATUS_PERSONALITY_NOT_SUPPORTED 151
#define ORSA_STATUS_AVAILABLE_PERSONALITIES_FAILED 176
#define ORSA_STATUS_CONFIGURED_PERSONALITY_FAILED 177
#define ORSA_STATUS_ERASED 184
#define ORSA_STATUS_ERASE_PORT_FAILED 187
#define ORSA_STATUS_ERASE_NIC_FAILED 188
#define ORSA_STATUS_DONE_REBOOT_NOW 239
#define ORSA_STATUS_SET_PORT_PROTOCOL_FAILED 283
#define ORSA_STATUS_FACTORY_RESET_UNSUPPORTED 338
#define ORSA_STATUS_FACTORY_RESET_FAILED 339
/* The command layer's answer: the command completed, a reboot applies it. */
#define ORSA_STATUS_NEEDS_REBOOT 55

/* Sizes of the legacy road's tables. */
#define ORSA_KS_CONF_SIZE 836u    /* 16 entries of 52 bytes after a u32 count */
#define ORSA_KS_CONF_V1_SIZE 1092u /* 16 entries of 68 bytes after a u32 count */
#define ORSA_KS_CONF_ENTRIES 16u
/* A common profile configuration naming more entries than this is no
 * configuration the library can read ("N/A"). */
#define ORSA_COMMON_PROFILE_COUNT_LIMIT 512u
/* A set-profile request: 8 bytes of head and room for 257 function records. */
#define ORSA_PERSONALITY_REQUEST_SIZE 22624u
#define ORSA_PERSONALITY_MAX_FUNCTIONS 257u

/* The start-up fillers ORSA_update_available_personalities and
 * ORSA_update_current_personality are declared with the other fillers in
 * config_startup.h (included here). */

/* CurrentPersonality of the Personality group, profile road / legacy road.
 * `at` is the controller's port; 213 and 288 from the profile road ask for
 * the legacy road. */
u32 ORSA_get_adapter_current_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller,
                                         HmNode *personality);
u32 ORSA_get_legacy_adapter_current_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller,
                                                HmNode *personality);
/* Writes the personality for the next boot; 213 from the profile road
 * asks for the legacy road. */
u32 ORSA_set_adapter_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller, const char *name);
u32 ORSA_set_legacy_adapter_personality(OrsaPort at, u8 domain, u8 phba_port, HmNode *controller,
                                        const char *name);

/* The NIC configuration erase of node's NIC function (for a node of the
 * controller or of an iSCSI function: the controller's first NIC function),
 * without the virtual function check, for the iSCSI side's erase of
 * everything. 0 with a reboot notice as the last status, else the
 * command's status. */
u32 ORSA_EraseNICConfiguration(HmNode *node);

/* Resets the adapter's switch type when the firmware runs the virtual-NIC
 * function mode. Nothing in the library calls it; 0 always (the command's
 * result is logged), 1 when the controller has no function to address. */
u32 ORSA_update_switch_type(HmNode *controller, OrsaPort at, u8 domain, u8 phba_port);

/* Property handlers. */
u32 handle_ConfiguredPersonality(HmNode *property, char *value, u32 mode);
u32 handle_AvailableProtocols(HmNode *property, char *value, u32 mode);

/* Action handlers. */
u32 do_SetPersonality(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ResetFactoryDefaults(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_EraseNICConfiguration(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ErasePortandDiscoveryConfiguration(HmNode *group, HmNode *action, HmValueSlot *params);

namespace personality {

/* The function type code of a personality name (1 NIC, 2 iSCSI, 4 FCoE,
 * case ignored), 0 for any other name. */
u8 type_code(const char *name);
/* The personality text of a storage function type code. */
const char *type_text(u32 code);

/* Personality from a KS2/KS3 configuration table of `size` bytes whose
 * entries are `entry_size` bytes long. */
const char *from_ks_table(const u8 *table, size_t size, size_t entry_size);
/* Personality from a Pivard common profile configuration. */
const char *from_common_profile(const CommonProfileConfig *config);
/* Changes the function entries of PCI functions 2 and 3 of a legacy table
 * to the personality; returns how many entries changed. */
u32 set_in_ks_table(u8 *table, size_t size, size_t entry_size, const char *name);
/* The protocols a function may take, from the configured profile read
 * with the option flag: "NIC", "iSCSI", "FCoE", "RoCE" joined by commas in
 * that order, empty when the function has no record or no role. */
void protocols_of(const ProfileConfig *profile, u32 function, char out[HM_VALUE_SIZE]);
/* Whether the function's record in the configured profile (read without
 * the option flag) carries the presentation change. */
bool presentation_changes(const ProfileConfig *profile, u32 function);
/* Lays out the set-profile request that gives `count` storage functions
 * the personality; returns the bytes used (8 + 88 x count), 0 when count
 * is 0 or above ORSA_PERSONALITY_MAX_FUNCTIONS. */
u32 build_profile_request(u8 *request, size_t size, u32 count, const u32 *functions, const char *name);

/* The payload of the NIC (14) and port (15) configuration erase. */
void erase_payload(u8 payload[20], u32 what);
/* The payload of the factory profile reset from the ProfileId text; 1 when
 * the text is no profile id (0 to 255). */
u32 factory_reset_payload(const char *profile_id, u8 payload[4]);

}  // namespace personality

#endif
