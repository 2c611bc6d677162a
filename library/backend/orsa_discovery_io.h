/*
 * orsa_discovery_io.h - what discovery and the identity handlers use of the
 * driver channel (state block, devices, command wrappers), and the PCI
 * Express link reader they share.
 */
#ifndef DRELMO_BACKEND_ORSA_DISCOVERY_IO_H
#define DRELMO_BACKEND_ORSA_DISCOVERY_IO_H

#include "backend/orsa_gateway.h"
#include "backend/orsa_ioctl_wrappers.h"
#include "tree/hm_types.h"


/* PCI Express link text of a function ("%.1fGT/s" for the property
 * PCIExpressLinkSpeed, else "x%d"): Pivard reads the link dword at 0xA4
 * through the NIC driver, the other generations the dword at 0xD0 through
 * the adapter. 1 on failure with last status 121. */
u32 ORSA_get_pci_express_data(u32 port, u8 domain, u8 phba_port, u32 asic, HmNode *phba, const char *property,
                              char out[HM_VALUE_SIZE]);

#endif
