/*
 * orsa_identity.h - which adapter a node belongs to, its generation, whether
 * the library runs inside a virtual function, and the controller's identity
 * and attribute properties.
 *
 * Usage (a handler that needs the generation of its adapter):
 *     HmNode *ks = orsa_controller_of(property);
 *     u32 type = get_ks_type(ks);                 // ORSA_ASIC_* code
 *     if (type == ORSA_ASIC_UNREADABLE) return 1;   // last status 163 is set
 *     if (vm_flag) return orsa_refuse_in_vf(value);  // status 256, result 1
 * The generation is recomputed from the first physical HBA's PCI DeviceID
 * on every call; nothing is cached, so a rebuilt tree answers for the
 * adapters it holds now.
 *
 * The fillers that take an adapter reply (attributes, OEM parameters,
 * additional attributes) read every text field with its width, never as
 * a text that is assumed to end inside its field.
 */
#ifndef DRELMO_BACKEND_ORSA_IDENTITY_H
#define DRELMO_BACKEND_ORSA_IDENTITY_H

#include "backend/orsa_gateway.h"
#include "tree/hm_types.h"

/* Generation codes. */
#define ORSA_ASIC_UNREADABLE 1u
#define ORSA_ASIC_KS2 2u
#define ORSA_ASIC_KS3 3u
#define ORSA_ASIC_PIVARD 4u
#define ORSA_ASIC_VESKARN 5u
#define ORSA_ASIC_UNKNOWN 65535u

/* Status codes of the identity handlers. */
#define ORSA_STATUS_OEM_FAILED 74
#define ORSA_STATUS_CNTR_ATTR_FAILED 109
#define ORSA_STATUS_CONTROLLER_TYPE 163
#define ORSA_STATUS_ADD_ATTR_FAILED 192
#define ORSA_STATUS_VF_PRIVILEGE 195
#define ORSA_STATUS_VF_NOT_SUPPORTED 196
#define ORSA_STATUS_COREDUMP_PROPS_FAILED 265
#define ORSA_STATUS_RESET_NEEDED_FAILED 279
#define ORSA_STATUS_FFV_NOT_SUPPORTED 298
#define ORSA_STATUS_ONEVIEW_FAILED 340
#define ORSA_STATUS_UNSUPPORTED_OP 149

/* Controller attributes (reply of the controller attributes command). */
#define ORSA_CNTR_ATTR_SIZE 540
#define ORSA_ATTR_MANUFACTURER 32
#define ORSA_ATTR_CAPABILITIES 64
#define ORSA_ATTR_DEFAULT_ETO 92
#define ORSA_ATTR_MODEL_NUMBER 96
#define ORSA_ATTR_DESCRIPTION 128
#define ORSA_ATTR_SERIAL 192
#define ORSA_ATTR_ACTIVE_FW 256
#define ORSA_ATTR_BIOS 288
#define ORSA_ATTR_BOOT_CODE 320
#define ORSA_ATTR_FLASH_FW 384
#define ORSA_ATTR_MAX_CDB 420
#define ORSA_ATTR_LDTO 440
#define ORSA_ATTR_ISCSI_VERSIONS 442
#define ORSA_ATTR_FW_STATUS 445
#define ORSA_ATTR_LHBA_COUNT 446
#define ORSA_ATTR_PORT 447
#define ORSA_ATTR_PCI_VENDOR 500
#define ORSA_ATTR_PCI_DEVICE_ID 502
#define ORSA_ATTR_PCI_SUBSYS_VENDOR 504
#define ORSA_ATTR_PCI_SUBSYS_DEVICE 506
#define ORSA_ATTR_BUS 508
#define ORSA_ATTR_DEVICE 509
#define ORSA_ATTR_FUNCTION 510

/* Additional controller attributes. */
#define ORSA_ADD_ATTR_SIZE 612
#define ORSA_ADD_IPL_NUMBER 0
#define ORSA_ADD_IPL_SUFFIX 2
#define ORSA_ADD_TEMPERATURE 4
#define ORSA_ADD_VERSIONS 28 /* nine 32-byte texts from here, PXE at 316 */
#define ORSA_ADD_PXE 316
#define ORSA_ADD_WWPN 348
#define ORSA_ADD_PHY_VERSION 356
#define ORSA_ADD_PHY_CONFIG 516
#define ORSA_ADD_IPL_NAME 524

#define ORSA_OEM_PARAMS_SIZE 44
#define ORSA_FFV_PARAMS_SIZE 36

#define ORSA_IPL_SLOTS 152
#define ORSA_IPL_NAME_SIZE 35
#define ORSA_DELL_IDS 26

/* Set while the library runs inside an SR-IOV virtual function. */
extern u8 vm_flag;

/* Placeholders for the IPL configuration-file names and the server maker's
 * subsystem ids (the real release tables are supplied with the adapters). */
const char *orsa_ipl_file_name(u32 slot); /* IplFileNames slot, slot 0 out of range */
extern const u16 DellSupportedPciSubSysDevIdTable[ORSA_DELL_IDS];

/* Tree walks. */
HmNode *orsa_controller_of(HmNode *node);          /* enclosing Kalderstone instance */
HmNode *orsa_first_phba(HmNode *controller);       /* lowest iSCSI PHBA, else lowest NIC PHBA */

/* Where a node's commands go, instance and device together: the function of
 * the physical HBA or port group the node lies in (a port group's is the
 * function of its port's class that start-up gave it); for a node of the
 * controller itself (or the controller), the controller's port.
 * {0, ORSA_PROTO_NONE} when there is none. */
OrsaPort orsa_port_of(HmNode *node);
/* A controller-wide command's function: the controller's first physical HBA,
 * so that an adapter with iSCSI functions is reached through an iSCSI device. */
OrsaPort orsa_controller_port(HmNode *controller);

/* Generation. */
u32 get_ks_type(HmNode *controller);
u32 orsa_asic_from_device_id(u32 device_id);
extern "C" __attribute__((visibility("default"))) u32 ORSA_get_asic_type(u32 interface_word, u32 *asic_type,
                                                                        i32 asic_id);

/* Texts of the attribute words. */
void orsa_capabilities_text(u32 bits, char out[HM_VALUE_SIZE]);
const char *orsa_firmware_status_text(u8 status);

/* Identity look-ups. */
u32 ORSA_check_for_vm(u32 port, HmNode *phba, HmNode *controller);
u32 ORSA_DetermineIfDellSystem(HmNode *controller);
u32 ORSA_get_pci_bus_number(HmNode *controller, char *out);
u32 ORSA_get_asic_serial_number(HmNode *node, char *out);
u32 ORSA_enumerate_serial_numbers(u32 *count, char (*out)[HM_VALUE_SIZE]);
u32 ORSA_get_cntr_attribs(u32 port, u8 phba_port, u8 domain, u32 protocol, u8 *attributes);
u32 get_lhba_count(HmNode *phba, char *bus, char *device, char *function, char *port);

/* Fillers from a reply that is in hand. */
u32 ORSA_update_cntr_attribs(HmNode *controller, u8 *attributes, u32 attributes_status);
u32 orsa_store_versions(HmNode *controller, const u8 *attributes);
u32 orsa_store_oem_params(HmNode *oem, u32 asic, const u8 *oem_params);
u32 orsa_store_additional_attribs(HmNode *controller, u32 asic, const u8 *add);
u32 orsa_pivard_oem_hides_serial(const u8 *oem_params);

/* Fillers that ask the adapter. */
u32 ORSA_update_oem_props(HmNode *controller);
u32 ORSA_update_cntr_additional_attribs(HmNode *controller);
/* Reads the additional controller attributes (ORSA_ADD_ATTR_SIZE bytes) into
 * add; a failed command sets last status ORSA_STATUS_ADD_ATTR_FAILED and its
 * status is returned. */
u32 orsa_read_additional_attribs(OrsaPort at, u8 *add, u8 domain, u8 phba_port);

/* Property handlers. */
u32 handle_ks_controller_properties(HmNode *property, char *value, u32 mode);
u32 handle_ks_controller_additional_properties(HmNode *property, char *value, u32 mode);
u32 handle_ks_temperature(HmNode *property, char *value, u32 mode);
u32 handle_ControllerStatus(HmNode *property, char *value, u32 mode);
u32 handle_OneView(HmNode *property, char *value, u32 mode);
u32 handle_FFVName(HmNode *property, char *value, u32 mode);
u32 handle_PCIExpressLinkSpeed(HmNode *property, char *value, u32 mode);
u32 handle_PCIExpressBusWidth(HmNode *property, char *value, u32 mode);
u32 handle_RebootRequired(HmNode *property, char *value, u32 mode);
u32 handle_PortControllerName(HmNode *property, char *value, u32 mode);
u32 handle_ControllerType(HmNode *property, char *value, u32 mode);
u32 handle_ProtocolSupported(HmNode *property, char *value, u32 mode);
u32 handle_MaxSupportedController(HmNode *property, char *value, u32 mode);

#endif
