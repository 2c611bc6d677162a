// Fillers of the NIC-side properties that the host supplies, or that this
// host cannot supply ("N/A").
#pragma once

#include "tree/hm_types.h"

// Last-status codes of this file.
#define ORSA_STATUS_SET_NOT_SUPPORTED_OS 70
#define ORSA_STATUS_CONFIG_DUMP_FAILED 121
#define ORSA_STATUS_MAC_READ_FAILED 246

// Offsets in the controller attributes block read at discovery.
#define ORSA_ATTR_SERIAL_OFFSET 192
#define ORSA_ATTR_SERIAL_SIZE 32
#define ORSA_ATTR_DRIVER_VERSION_OFFSET 352
#define ORSA_ATTR_DRIVER_VERSION_SIZE 32
#define ORSA_ATTR_PCI_BUS_OFFSET 508
#define ORSA_ATTR_PCI_DEVICE_OFFSET 509
#define ORSA_ATTR_PCI_FUNCTION_OFFSET 510

// Each sets its property of node to "N/A"; 0.
u32 ORSA_get_nic_ipv6gateway(HmNode *node);
u32 ORSA_get_nic_gateway(HmNode *node);
u32 ORSA_get_nic_subnetmask(HmNode *node);
u32 ORSA_get_nic_iftype(HmNode *node);
u32 ORSA_get_address_origin(HmNode *node);
// out = "N/A"; 0.
u32 ORSA_get_nic_ipaddress(HmNode *node, char out[HM_VALUE_SIZE]);
// Not on this host: last status 70; 1.
u32 ORSA_set_nic_macaddress(void);

// DriverName of the node's Driver group: "sornic.o" for protocol 2,
// "sorblock.o" for protocol 1; other protocols change nothing (0).
u32 ORSA_get_driver_name(HmNode *node, u32 unused, u32 protocol);
// DriverVersion of the node's Driver group from the attributes block.
u32 ORSA_get_driver_version(HmNode *node, u32 unused1, u32 unused2, const u8 *attributes, u32 failed);

// MACAddress of node from the adapter's MAC query (NIC device); 1 with last
// status 246 when the query fails.
u32 ORSA_get_nic_macaddress(HmNode *node);
// MTUSize / PHYLinkDownReason of node from the NIC driver information of NIC
// function port; 1 when the driver cannot be asked (or, for the MTU, the
// property cannot be set).
u32 ORSA_get_nic_mtusize(HmNode *node, u32 port);
u32 ORSA_get_over_temperature(HmNode *node, u32 port);
// IfName of node: the host interface name of NIC function function (1-based).
u32 ORSA_update_nic_ifname(HmNode *node, u32 function);
// Asks the NIC driver for the VF table of NIC function port, stores the VF
// count and, with create 1, makes one NIC logical HBA per VF below node.
u32 ORSA_Get_VF_Info(u32 port, u32 *count, u32 create, HmNode *node);
// PCI location texts of a function from the controller attributes block, or
// for a NIC function whose attributes could not be read from the NIC
// function table.
u32 ORSA_get_pci_bdf(u32 function, char domain[35], char bus[HM_VALUE_SIZE], char device[HM_VALUE_SIZE],
                     char fn[HM_VALUE_SIZE], char serial[33], u32 protocol, const u8 *attributes, u32 failed);
// PCIExpressLinkSpeed or the link width of the function into out, read from
// its PCI configuration space; 1 with last status 121 when that fails.
u32 ORSA_get_pci_express_data(u32 port, u8 domain, u8 phba, u32 asic, HmNode *phba_node, const char *property,
                              char out[HM_VALUE_SIZE]);

// The text of a PCI Express link control and status dword: for the property
// "PCIExpressLinkSpeed" the speed code (bits 16-19) times 2.5 as
// "%.1fGT/s", for any other property the width (bits 20-25) as "x%d".
void orsa_pcie_link_text(u32 dword, const char *property, char out[HM_VALUE_SIZE]);

// Nothing to do on this host; 0.
u32 ORSA_enumerate_nic_domain(void);
u32 ORSA_update_nic_port_number(void);

// Lets the iSCSI subsystem refresh the targets of every logical HBA unless a
// software or inbox iSCSI driver is in charge; 0.
u32 ORSA_refresh_backend_client_iscsi_tgts(void);
