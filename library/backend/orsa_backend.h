/*
 * orsa_backend.h - library start-up: finding the adapters behind the NIC and
 * iSCSI drivers, building one controller group per adapter and one physical
 * HBA per function, and keeping the tree in step with the drivers.
 *
 * The tree bootstrap runs backend_init/backend_exit. A NIC request that
 * finds the set of NIC functions changed fails and marks the tree stale
 * (refresh_orsa_hierarchy, in the driver channel); the next API entry
 * rebuilds it, so no rebuild runs while a handler still holds old nodes.
 */
#ifndef DRELMO_BACKEND_ORSA_BACKEND_H
#define DRELMO_BACKEND_ORSA_BACKEND_H

#include "tree/hm_types.h"

#define ORSA_STATUS_NO_ADAPTER 313
#define ORSA_STATUS_NO_CONTROLLER 18
#define ORSA_CLIENT_INIT_ROUNDS 4u

u32 backend_init(void);
void backend_exit(void);
u32 ORSA_enumerate_iscsi_functions(void);
u32 ORSA_enumerate_nic_functions(void);
u32 ORSA_get_iscsi_node_info(u32 instance, char *adapter, u8 *attributes, u32 attributes_status);
u32 ORSA_get_nic_node_info(u32 instance, char *adapter, u8 *attributes, u32 attributes_status);
u32 ORSA_update_driver_attribs(u32 instance, HmNode *phba, u32 protocol, u8 *attributes, u32 attributes_status);
u32 ORSA_free_all_node_handles(void);

/* The client hooks backend_client_init and backend_client_exit: drelmo.h. */
u32 ORSA_backend_client_bdf(u32 protocol);

#endif
