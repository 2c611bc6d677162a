/*
 * cfg_multichannel.h - multichannel ports: the channels (PCI functions) of
 * each port built from the adapter's configured profile, their properties
 * and QoS, the adapter's multichannel mode, the staged configured-profile
 * choices, the port's interface type, and the vNIC, RoCE, bandwidth and
 * iSCSI QoS properties of the physical and logical HBAs.
 *
 * Handlers follow the tree's contracts (property: node, 256-byte buffer,
 * mode 0 get / 1 set; action: group, action node, parameters; group refresh:
 * the group). Everything else returns 0 or 1 unless said otherwise.
 */
#ifndef DRELMO_CONFIG_CFG_MULTICHANNEL_H
#define DRELMO_CONFIG_CFG_MULTICHANNEL_H

#include "backend/orsa_gateway.h"
#include "config/cfg_profile_model.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_INVALID_VALUE_USE_VALID 17
#define ORSA_STATUS_NIC_PARAMS_FAILED 93
#define ORSA_STATUS_QOS_GET_FAILED 114
#define ORSA_STATUS_QOS_SET_FAILED 115
#define ORSA_STATUS_VNIC_STATS_FAILED 185
#define ORSA_STATUS_VNIC_CONFIG_FAILED 186
#define ORSA_STATUS_RESET_NEEDED_FAILED 279
#define ORSA_STATUS_MC_REBOOT 284
#define ORSA_STATUS_QOS_LINK_DISABLED 285
#define ORSA_STATUS_LPVID_STORAGE 286
#define ORSA_STATUS_QOS_MIN_ABOVE_MAX 287
#define ORSA_STATUS_MC_UNSUPPORTED 289
#define ORSA_STATUS_CAPABILITIES_FAILED 292
#define ORSA_STATUS_MC_TYPE_MISSING 293
#define ORSA_STATUS_MC_TYPE_UNSUPPORTED 294
#define ORSA_STATUS_LPVID_RANGE 308
#define ORSA_STATUS_CHANNEL_PARAM_UNSUPPORTED 323

/* Size of a set-profile-config request carrying one record. */
#define ORSA_MC_REQUEST_SIZE ORSA_SET_ONE_FUNCTION_SIZE

/* ---- channels ---- */

u32 group_Kalderstone_PortDiscoveryAndConfiguration_ChannelManagement(HmNode *group);
/* The Channel groups of one port (the port group's ChannelManagement); 0, 1
 * or the status of the failed profile read. */
u32 ORSA_get_multi_channels_info(u32 port, HmNode *port_group);
/* One Channel group of a function record (type 81-83), or the RoCE mark of
 * a NIC channel (type 84). */
u32 ORSA_initialize_channels(u32 type, const char *function, HmNode *channel_management, const u8 *record);
/* The property of a channel from the profile's record of its function;
 * nothing changes without one. */
u32 ORSA_get_mchannel_params(HmNode *channel, HmNode *property, const ProfileConfig *profile);
/* Writes LogicalLinkState or LPVID of a channel to the adapter. */
u32 ORSA_set_mchannel_params(HmNode *controller, HmNode *channel, HmNode *property, const char *value,
                             const char *current_type, const char *reboot_state);
/* Veskarn: the multichannel type of the port in the active and in the
 * configured profile, and RebootRequired (HM_VALUE_SIZE buffers). */
u32 ORSA_get_vkh_mc_type(HmNode *controller, HmNode *port_group, char *active, char *configured, char *reboot);

u32 handle_SupportedMCTypes(HmNode *property, char *value, u32 mode);
u32 handle_ChannelManagement_details(HmNode *property, char *value, u32 mode);
u32 handle_MaxFunctionsPerPort(HmNode *property, char *value, u32 mode);
u32 handle_ConfiguredProfile_ProfileId(HmNode *property, char *value, u32 mode);
u32 handle_ConfiguredProfile_Port_MCType(HmNode *property, char *value, u32 mode);
u32 handle_ConfiguredProfile_Port_Function_Protocol(HmNode *property, char *value, u32 mode);
u32 handle_channel_vnic_name(HmNode *property, char *value, u32 mode);
u32 handle_LogicalLinkState(HmNode *property, char *value, u32 mode);
u32 handle_LPVID(HmNode *property, char *value, u32 mode);
u32 handle_channel_outer_vlan(HmNode *property, char *value, u32 mode);
u32 handle_MinBandWidth(HmNode *property, char *value, u32 mode);
u32 handle_MaxBandWidth(HmNode *property, char *value, u32 mode);

/* ---- channels carried over a profile save ---- */

#define ORSA_STATUS_NO_CHANNELS 317 /* a result only: the port has no channels */
#define ORSA_MC_SAVE_PORTS 4
#define ORSA_MC_SAVE_CHANNELS 16

struct OrsaMcSavedChannel {
    u32 min_bw;
    u32 max_bw;
    u16 lpvid;          /* 0 for "N/A" */
    char type[32];
    u32 link_disabled;  /* 0 when LogicalLinkState read "Enabled" */
};

/* What a port's channels held before the configured profile was rebuilt,
 * by the port group's instance number. */
struct OrsaMcSaveTable {
    struct {
        u16 active_mc_code; /* the active profile's multichannel type code */
        OrsaMcSavedChannel channels[ORSA_MC_SAVE_CHANNELS];
    } ports[ORSA_MC_SAVE_PORTS];
};

/* The code of a multichannel type text as the profile records carry it
 * ("None" 1 ... "HPUMC" 10, case ignored); 0 for another text. */
u32 orsa_mc_type_code(const char *text);

/* Records the channels of one port (cm: its ChannelManagement group) at
 * table->ports[port_index]; 0, 1, or 317 without a Channel instance. */
u32 ORSA_save_mc_props(HmNode *cm, OrsaMcSaveTable *table, u32 port_index, u32 *channel_count);
/* Applies the recorded settings to the port's rebuilt channels, unless the
 * port runs or is configured without multichannel (configured_codes: the
 * configured multichannel code per port index, code_count of them); 0 or 1. */
u32 ORSA_reset_mc_props(HmNode *cm, const OrsaMcSaveTable *table, u32 port_index, const u32 *configured_codes,
                        u32 code_count, u32 channel_count);

u32 do_ConfigureChannelManagement(HmNode *group, HmNode *action, HmValueSlot *params);
u32 do_ConfigureQoS(HmNode *channel, HmNode *action, HmValueSlot *params);

/* InterfaceType of a port group from the PHY details of the function at. */
u32 ORSA_update_interfacetype(OrsaPort at, HmNode *port_group);

/* ---- vNIC, RoCE, bandwidth and iSCSI QoS of the HBAs ---- */

u32 handle_IsRoCEEnabled(HmNode *property, char *value, u32 mode);
u32 handle_nic_vnic_name_props(HmNode *property, char *value, u32 mode);
u32 handle_iscsi_vnic_name_props(HmNode *property, char *value, u32 mode);
u32 handle_nic_vnic_stats(HmNode *property, char *value, u32 mode);
u32 handle_iscsi_vnic_stats(HmNode *property, char *value, u32 mode);
u32 handle_nic_bandwidth_softcap(HmNode *property, char *value, u32 mode);
u32 handle_iscsi_bandwidth_softcap(HmNode *property, char *value, u32 mode);
u32 handle_MaxIosPerSecond(HmNode *property, char *value, u32 mode);
u32 handle_MaxBytesPerSecond(HmNode *property, char *value, u32 mode);

u32 ORSA_get_bw_softcap(HmNode *group, HmNode *controller, OrsaPort at, u8 domain, u8 phba_port, u32 function_type,
                        const char *function, HmNode *property);
u32 ORSA_get_legacy_QOS(OrsaPort at, HmNode *group);
u32 get_vnic_name(OrsaPort at, u8 domain, u8 phba_port, HmNode *group);
u32 get_vnic_stats(OrsaPort at, u8 domain, u8 phba_port, HmNode *group);
u32 get_qos_params(OrsaPort at, u8 domain, u8 phba_port, HmNode *group);
/* MaxBitsPerSecond of a NIC physical HBA group from the NIC QoS maximum of
 * NIC function port (1-based instance); 0, or 1 (status 114 when the
 * adapter does not answer). Nothing in the library calls it. */
u32 get_nicphba_params(u32 port, HmNode *group);

/* The soft cap text of speed (Gbit/s) times a bandwidth share (percent):
 * tenths of the product, one decimal when not whole. */
void orsa_softcap_text(u32 speed_gbps, u32 share, char out[HM_VALUE_SIZE]);
/* The SupportedMCTypes text of the capability bits. */
void orsa_mc_types_text(u32 bits, char out[HM_VALUE_SIZE]);
/* Whether item is one of the comma-separated entries of list (case ignored). */
bool orsa_list_has_entry(const char *list, const char *item);

#endif
