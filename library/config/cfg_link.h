/*
 * cfg_link.h - link, port speed and PHY of a port: the port speed a function
 * sees, the configured speed and mode and the action that changes them, the
 * PHY's speed lists, port state, physical and logical link state, the active
 * port of an iSCSI function, the FCoE transmit throttle and link speed, and
 * the 10GBase-T PHY data (statistics with their 10-second clock per port,
 * link-down reason, NVP value, counter clearing).
 *
 * Handlers follow the tree's contracts (property: node, 256-byte buffer,
 * mode 0 get / 1 set; action: group, action node, parameters). Everything
 * else returns 0 or 1 unless said otherwise.
 */
#ifndef DRELMO_CONFIG_CFG_LINK_H
#define DRELMO_CONFIG_CFG_LINK_H

#include "backend/orsa_gateway.h"
#include "tree/hm_types.h"

/* Status codes of this area (texts in the status table). */
#define ORSA_STATUS_LINK_INVALID_VALUE 6
#define ORSA_STATUS_PORT_STATE_GET_FAILED 72
#define ORSA_STATUS_PORT_STATE_SET_FAILED 73
#define ORSA_STATUS_LINK_PARAMS_FAILED 93
#define ORSA_STATUS_ACTIVE_PORT_FAILED 94
#define ORSA_STATUS_TXTHROTTLE_GET_FAILED 208
#define ORSA_STATUS_TXTHROTTLE_SET_FAILED 209
#define ORSA_STATUS_TXTHROTTLE_UNSUPPORTED 210
#define ORSA_STATUS_BASET_STATS_FAILED 215
#define ORSA_STATUS_NVP_GET_FAILED 220
#define ORSA_STATUS_NVP_SET_FAILED 221
#define ORSA_STATUS_PORT_SPEED_FAILED 222
#define ORSA_STATUS_PORT_SPEED_FORCE_VALUES 223
#define ORSA_STATUS_PORT_SPEED_DAC_REQUIRED 224
#define ORSA_STATUS_PORT_SPEED_SPEED_REQUIRED 225
#define ORSA_STATUS_PORT_SPEED_KS2 226
#define ORSA_STATUS_LOGICAL_LINK_FAILED 227
#define ORSA_STATUS_PHY_DETAILS_FAILED 228
#define ORSA_STATUS_PORT_SPEED_UNSUPPORTED 229
#define ORSA_STATUS_LINK_SPEED_FAILED 230
#define ORSA_STATUS_PORT_SPEED_UNCHANGED 240
#define ORSA_STATUS_VNIC_1GB 260
#define ORSA_STATUS_CLEAR_COUNTERS_UNSUPPORTED 325

/* The statistics of one port are read from the adapter at most once in this
 * many milliseconds. */
#define ORSA_BASET_STATS_INTERVAL_MS 10000u

/* ---- property and action handlers ---- */

u32 handle_portspeed(HmNode *property, char *value, u32 mode);
u32 handle_get_link_speed_properties(HmNode *property, char *value, u32 mode);
u32 do_SetPortSpeed(HmNode *port_group, HmNode *action, HmValueSlot *params);
u32 handle_FCoELinkSpeed(HmNode *property, char *value, u32 mode);
u32 handle_activeport(HmNode *property, char *value, u32 mode);
u32 handle_PortState(HmNode *property, char *value, u32 mode);
u32 handle_PhysicalLinkStatus(HmNode *property, char *value, u32 mode);
u32 handle_PHYType(HmNode *property, char *value, u32 mode);
u32 handle_TXThrottle(HmNode *property, char *value, u32 mode);
u32 handle_logical_link_status(HmNode *property, char *value, u32 mode);
u32 handle_nic_logical_link_status(HmNode *property, char *value, u32 mode);
u32 handle_10GbaseT_properties(HmNode *property, char *value, u32 mode);
u32 handle_over_temperature(HmNode *property, char *value, u32 mode);
u32 handle_10baseT_nvpvalue(HmNode *property, char *value, u32 mode);
u32 do_ClearCounters(HmNode *baset, HmNode *action, HmValueSlot *params);

/* ---- fillers ---- */

/* ANSpeedsSupported and ForceSpeedsSupported of a port group from the PHY
 * details of the function at. */
u32 ORSA_update_speed_props(OrsaPort at, HmNode *port_group);
/* IsClearCountersSupported of the port group's BaseT10G: "N/A" but on
 * Veskarn, where one version-1 statistics read tells "True" or "False". */
u32 ORSA_update_is_clear_counter(OrsaPort at, HmNode *port_group);
/* PortSpeed of a NICPhysicalHBA (protocol 2) or NICConfiguration (1) group. */
u32 get_portspeed(HmNode *group, OrsaPort at, u8 domain, u8 phba_port, u32 protocol, u32 generation);
/* LogicalLinkStatus of a NICPhysicalHBA (protocol 2) or NICConfiguration (1) group. */
u32 get_logical_link_status(OrsaPort at, u8 domain, u8 phba_port, HmNode *group, u32 protocol);
/* The statistics properties of a BaseT10G group from a version-0 reply (84
 * bytes) or a version-1 reply (112 bytes); with neither, all "N/A". A fill
 * restarts the port's clock; clock_only restarts it and changes no text. */
u32 ORSA_update_10GbaseT_properties(HmNode *baset, const u8 *v0, const u8 *v1, u32 clock_only);
/* Forgets when the statistics of a port group were last read (a new port
 * group's first read goes to the adapter). */
void orsa_baset_clock_reset(HmNode *port_group);

/* ---- texts and codes ---- */

/* The speed code of a mode and speed text (case ignored); 0 for a pair the
 * table does not hold, and for mode "Default". */
u32 orsa_speed_code(const char *mode, const char *speed);
/* The ConfiguredSpeed and Mode texts of a speed code; the speed text is none
 * for a code above 23. */
const char *orsa_speed_code_text(u32 code);
const char *orsa_speed_code_mode(u32 code);
/* The supported-speeds text of a PHY speed mask ("1Gb,10Gb"; "0" for none). */
void orsa_speed_mask_text(u32 mask, char out[HM_VALUE_SIZE]);
/* The speed text of tenths of Mb/s: "500Mb", "2.5Gb", "10Gb", "3.3Mb". */
void orsa_speed_text(unsigned long long tenths_mb, char out[HM_VALUE_SIZE]);
/* The text of a physical speed code of the link status ("0 (Link Down)" for
 * 0 and for codes above 8). */
const char *orsa_physical_speed_text(u32 code);

#endif
