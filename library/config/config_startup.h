/*
 * config_startup.h - what start-up needs of function and port
 * configuration: the NIC logical HBAs of each function's virtual functions,
 * and the fillers of profiles, link configuration, port discovery, NCSI and
 * personality.
 *
 * ORSA_get_nic_logicalhba is complete, the profile and link fillers are
 * built in cfg_profile_tree.cpp and the personality fillers in
 * cfg_personality.cpp, the NCSI filler in cfg_ncsi.cpp; the port discovery
 * filler builds each port's DCBX instance groups through cfg_dcbx_tree.cpp.
 */
#ifndef DRELMO_CONFIG_CONFIG_STARTUP_H
#define DRELMO_CONFIG_CONFIG_STARTUP_H

#include "config/cfg_ncsi.h"
#include "config/cfg_profile_tree.h"
#include "tree/hm_types.h"

#define ORSA_MAX_NIC_LHBA 64u

/* ORSA_get_nic_logicalhba (exported): drelmo.h. */
u32 ORSA_get_port_discovery_config(HmNode *controller);
u32 ORSA_update_available_personalities(HmNode *controller);
u32 ORSA_update_current_personality(HmNode *controller);

#endif
