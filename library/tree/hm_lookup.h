// Walks by which handlers find, from the node they were called for, the
// adapter address of their commands and the groups around them; the port
// bookkeeping of discovery; the default iSCSI login options.
#pragma once

#include <cstdint>

struct HmNode;

// The address every handler resolves from its node before it sends an
// adapter command.
struct PortAddress {
    int32_t port_number;  // driver port instance; -1 when none
    uint32_t domain_id;   // instance number of the enclosing LogicalHBA, else 0
    int32_t phba_port;    // PortNumber of the enclosing physical HBA
    uint32_t protocol;    // 1 iSCSI device, 2 NIC device
};

// The iSCSI login options block carried by a login request (600 bytes).
#pragma pack(push, 1)
struct login_option_block {
    uint8_t flags;  // bit 0 InitialR2T, 1 ImmediateData, 2 DataPDUInOrder, 3 DataSequenceInOrder
    uint8_t error_recovery_level;
    uint8_t reserved0[2];
    uint32_t first_burst_length;
    uint32_t max_burst_length;
    uint16_t max_connections;
    uint16_t max_outstanding_r2t;
    uint16_t default_time2wait;
    uint16_t default_time2retain;
    uint8_t connection_options;
    uint8_t header_digest;  // 1 = CRC32C
    uint8_t data_digest;    // 1 = CRC32C
    uint8_t reserved1;
    uint32_t max_recv_data_segment_length;
    uint32_t further_segment_length;
    uint32_t tcp_mss;
    uint32_t tcp_window_size;
    uint8_t authentication;  // 1 = CHAP
    uint8_t reserved2[3];
    uint32_t mutual_chap;  // 1 = mutual
    char initiator_chap_name[256];
    char initiator_secret[16];
    char target_chap_name[256];
    char target_secret[16];
    uint16_t initiator_chap_name_length;
    uint16_t initiator_secret_length;
    uint16_t target_chap_name_length;
    uint16_t target_secret_length;
};
#pragma pack(pop)
static_assert(sizeof(login_option_block) == 600, "login option block is 600 bytes");

// The instance number of an instance group; -1 for any other node.
int32_t hm_instance_number(HmNode *node);
// The instance after node among its kind's instances under one parent
// (ascending number); nullptr after the last one or for any other node.
// Walk: for (n = get_first_instance(parent, kind); n; n = hm_next_instance(n))
HmNode *hm_next_instance(HmNode *node);

// Addressing walks, from the node up through its parents.
int32_t get_port_number(HmNode *node);
uint32_t get_domain_id(HmNode *node);
uint32_t get_ks_instance(HmNode *node);

// Child searches (instances of one kind in ascending number).
HmNode *get_valid_phba(HmNode *controller, const char *port);
HmNode *find_target(HmNode *node, const char *name);
HmNode *find_session(HmNode *target, const char *ip, const char *port);
uint32_t check_for_stp_in_ORSA(HmNode *node, const char *ip, const char *port);
HmNode *get_matchnode_by_propvalue(HmNode *parent, const char *kind, const char *property,
                                   const char *value);
HmNode *get_selected_group_node(HmNode *node, const char *prefix, const char *suffix);
uint32_t get_initiator_name(HmNode *node, char out[256], uint32_t n);

// The PortAddress of node: port number, domain id, physical-HBA port and the
// device of that port (its physical HBA's kind; the controller's protocol
// only for a node below neither a physical HBA nor a port group). 1 when the node lies below no group that
// carries a driver port instance (nothing could be sent for it), else 0.
uint32_t orsa_get_port_address(HmNode *node, PortAddress *out);

// Port bookkeeping of discovery, per controller instance (0-15) and port
// (0-3). get_port_bitmap: 1 when the port has an iSCSI physical HBA, else 2
// for a NIC one, else 4.
uint32_t get_port_bitmap(int32_t controller, int32_t port);
// Protocol 1, 2 or 3 marks the controller as iSCSI, NIC or other.
void set_protocol(int32_t controller, uint32_t protocol);
// Marks every port of every controller under ROOT that has a physical HBA;
// bits are only ever added.
uint32_t set_port_bitmap(void);

// Extended firmware log: writes level into the trace-level word of the mode
// entries whose ExtFATMode group's Mode matches mode ("UART", "RAM" or
// "ALL"). node is the ExtFATData group (or its controller); records points
// at the module records of the capabilities image and records_size is the
// number of bytes from there to the image's end, which the walk never
// leaves. 1 for another mode or a failed Mode read, else 0.
uint32_t update_trace_level_for_mode(HmNode *node, const char *mode, uint8_t *records,
                                     uint32_t records_size, uint32_t level);

// Login option digests from the node's HeaderDigest / DataDigest property.
uint32_t update_header_digest_details(HmNode *node, login_option_block *block, uint32_t choice);
uint32_t update_data_digest_details(HmNode *node, login_option_block *block, uint32_t choice);

// Fills the shared static block with the default login options.
login_option_block *get_default_login_options(void);
