/*
 * cfg_sriov.h - the SR-IOV state of an adapter's PCI functions (per NIC
 * port, per function of the active profile, and staged per function of the
 * configured profile) and the VEPA (port forwarding) state of a NIC port.
 *
 * As with the personality, the profile road comes first: the function's
 * PCIe function record of the profile configuration. When the adapter does
 * not know the profile commands (213) or its profile does not apply (288),
 * the legacy road follows: the SR-IOV byte of the 1092-byte configuration
 * table (KS3) or of the common profile configuration (Pivard).
 *
 * An SR-IOV change takes effect at the host's next reboot: the handler
 * returns 0 with the notice 252, and only after the adapter took the write.
 *
 * The handlers are bound by name through the schema's registry; the
 * decoders and request builders in namespace sriov work on adapter replies
 * of any content and never leave their buffers.
 */
#ifndef DRELMO_CONFIG_CFG_SRIOV_H
#define DRELMO_CONFIG_CFG_SRIOV_H

#include <stddef.h>

#include "backend/orsa_gateway.h"
#include "config/cfg_profile_model.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_SRIOV_GET_FAILED 241
#define ORSA_STATUS_SRIOV_SET_FAILED 242
#define ORSA_STATUS_SRIOV_NOT_CHANGEABLE 247
#define ORSA_STATUS_SRIOV_CHANGED 252
#define ORSA_STATUS_SRIOV_UMC 253
#define ORSA_STATUS_VEPA_UNSUPPORTED 297
#define ORSA_STATUS_PROFILE_SAVE_INVALID 305
/* The command layer's "not supported" of the forwarding commands. */
#define ORSA_STATUS_OPERATION_UNSUPPORTED 149

/* A set-profile request of one function record: head, room for 257. */
#define ORSA_SRIOV_REQUEST_SIZE 22624u
/* Function records a configured-profile rewrite carries at most. */
#define ORSA_SRIOV_MAX_FUNCTIONS 257u

/* Profile-road read of a function's SR-IOV state ("0x.." or decimal text)
 * into target's SRIOVState. 288 on Pivard, 213 when the adapter does not
 * know the profile commands; 1 (status 278) when the read fails otherwise. */
u32 ORSA_get_SRIOVState(u32 asic, HmNode *nic_phba, OrsaPort at, u8 domain, u8 phba_port, HmNode *controller,
                        const char *function, u32 config_type, HmNode *target);
/* Legacy-road read into group's SRIOVState ("N/A" without a matching
 * function entry). */
u32 ORSA_get_legacy_sriov_state(u32 asic, HmNode *group, OrsaPort at, u8 domain, u8 phba_port,
                                HmNode *controller);
/* Profile-road write of the NIC port group's function; 288 on KS2 and
 * Pivard, 213 when the adapter does not know the profile commands. */
u32 ORSA_set_SRIOVState(u32 asic, HmNode *group, OrsaPort at, u8 domain, u8 phba_port, const char *value,
                        HmNode *controller);
/* The configured profile rewritten with the function's new SR-IOV state:
 * every PCIe function record of the profile and the multichannel types. */
u32 ORSA_set_sli_sriov_state(HmNode *controller, u32 function, const char *value, OrsaPort at, u8 domain,
                             u8 phba_port);
/* Mirrors a new state into the SRIOVState of the function's group below
 * ProfileManagement/ConfiguredProfile. */
u32 ORSA_conf_sriov_state(HmNode *controller, u32 function, const char *value);
/* Legacy-road write: KS3 only (Pivard and others refuse with 247). */
u32 ORSA_set_legacy_sriov_state(u32 asic, HmNode *group, OrsaPort at, u8 domain, u8 phba_port, const char *value,
                                HmNode *controller);

/* Property handlers. */
u32 handle_NICPhysicalHBA_SRIOVState(HmNode *property, char *value, u32 mode);
u32 handle_CProf_SRIOVState(HmNode *property, char *value, u32 mode);
u32 handle_AProf_SRIOVState(HmNode *property, char *value, u32 mode);
u32 handle_VEPAState(HmNode *property, char *value, u32 mode);

namespace sriov {

/* A function number text with base prefix ("0x.." hexadecimal, "0.."
 * octal); false for a negative number, trailing characters or no number. */
bool parse_function(const char *text, u32 *function);

/* The SR-IOV text of a PCIe function record: "N/A" when its state change
 * flag is clear, "Disabled", "Enabled", none for any other state. */
const char *text_of_record(const u8 *rec);
/* The SR-IOV text of a function in a profile; none without its record or
 * for a state without a text. *found tells whether the record is there. */
const char *from_profile(const ProfileConfig *profile, u32 function, bool *found);

/* The KS3 table entry of a NIC function ("0x%x" text, case ignored, kind
 * 0, pf_state and pf_type 0); none without one. */
u8 *ks_entry(u8 *table, size_t size, const char *function);
/* Its SR-IOV text: "Disabled", "Enabled" or "N/A". */
const char *ks_text(const u8 *entry);
/* The Pivard entry of an enabled NIC function (kind 64, type and state 1)
 * and its text; "N/A" without one or for a count above 512. */
const char *from_common_profile(const CommonProfileConfig *config, const char *function);

/* The set-profile request of one function record (KS3): returns the bytes
 * used (8 + 88), 0 when size is short. */
u32 build_single_request(u8 *request, size_t size, u32 function, const char *value);

/* One function of a configured-profile rewrite: its record as it goes out,
 * taken from the profile read with the option flag and replaced by the
 * configured one when the configured profile has the function. */
struct RewriteEntry {
    u32 function;
    const u8 *record;
};
/* Lists the PCIe function records of the profile read with the option flag
 * (at most capacity); returns how many. */
u32 list_functions(const ProfileConfig *flagged, RewriteEntry *list, u32 capacity);
/* Matches the configured profile's PCIe function records against the list,
 * both in the adapter's order: a matching entry takes the configured
 * record, a list entry the configured profile lacks is marked absent
 * (absent[i] true). Every configured record is visited. Returns the
 * number of port records of the configured profile. */
u32 match_configured(const ProfileConfig *configured, RewriteEntry *list, bool *absent, u32 count);
/* Lays out the rewrite: 8 bytes of head (profile id, byte 3 bit 7, count
 * n + 1), the n function records (type 80, length 88, bits 6-7 of byte 3
 * clear; absent ones with pf_state 0 and type 1; the target function's
 * state and VF count set by value) and the multichannel types record
 * (code 1 for each of the ports). Returns the bytes used, 8 + 88n + 68;
 * 0 when size is short or n is 0 or above ORSA_SRIOV_MAX_FUNCTIONS. */
u32 build_rewrite(u8 *request, size_t size, u8 profile_id, const RewriteEntry *list, const bool *absent, u32 n,
                  u32 ports, u32 function, const char *value);

/* Payloads of the forwarding commands. */
void hsw_get_payload(u8 payload[16], u32 phba_port);
void hsw_set_payload(u8 payload[20], u32 phba_port, const char *value);
/* The VEPA text of a forwarding reply. */
const char *vepa_text(const u8 *reply);

}  // namespace sriov

#endif
