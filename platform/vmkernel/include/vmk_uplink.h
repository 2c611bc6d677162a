// Kernel services for network drivers: uplinks, their capabilities and link
// state, NetPoll contexts, and SR-IOV virtual functions. Part of the kernel stand-in (see vmkapi.h); test controls are in
// vmk_uplink_testing.h.
#pragma once

#include "vmkapi.h"

/* ------------------------------------------------------------------------ */
/* Services                                                                  */
/* ------------------------------------------------------------------------ */

typedef vmk_uint32 vmk_ServiceID;
// Id of a named kernel service ("net" is the network service).
VMK_ReturnStatus vmk_ServiceGetID(const char* name, vmk_ServiceID* id);

/* ------------------------------------------------------------------------ */
/* NetPoll                                                                   */
/* ------------------------------------------------------------------------ */

typedef struct vmk_NetPollInt* vmk_NetPoll;
// Polls up to `budget` packets; VMK_TRUE asks to be called again at once.
typedef vmk_Bool (*vmk_NetPollCallback)(void* priv, vmk_uint32 budget);

typedef struct {
  vmk_NetPollCallback poll;
  void* priv;
} vmk_NetPollProperties;

#define VMK_NETPOLL_BUDGET 64

VMK_ReturnStatus vmk_NetPollCreate(const vmk_NetPollProperties* props, vmk_ServiceID service, vmk_ModuleID module,
                                   vmk_NetPoll* netpoll);
// Waits for a running poll to finish first.
VMK_ReturnStatus vmk_NetPollDestroy(vmk_NetPoll netpoll);
// Schedules the poll (from interrupt context). The poll runs on the kernel's
// NetPoll thread and again as long as it asks to.
VMK_ReturnStatus vmk_NetPollActivate(vmk_NetPoll netpoll);
// A disabled NetPoll is not run; activations while disabled run it once it
// is enabled again.
VMK_ReturnStatus vmk_NetPollDisable(vmk_NetPoll netpoll);
VMK_ReturnStatus vmk_NetPollEnable(vmk_NetPoll netpoll);
// Hands the receive packets the poll queued to the stack now.
VMK_ReturnStatus vmk_NetPollFlushRx(vmk_NetPoll netpoll);
// Binds the NetPoll to the interrupt vector of `cookie` / removes the binding.
VMK_ReturnStatus vmk_NetPollInterruptSet(vmk_NetPoll netpoll, vmk_IntrCookie cookie);
VMK_ReturnStatus vmk_NetPollInterruptUnSet(vmk_NetPoll netpoll);

/* ------------------------------------------------------------------------ */
/* Packets                                                                   */
/* ------------------------------------------------------------------------ */

// A packet: a frame in machine memory (with headroom before it), the buffer
// descriptor of that memory, the marks the stack and the driver exchange
// (VLAN, checksum, segmentation, queue) and the frame's scatter-gather
// elements. One owner at a time; a packet is on at most one list.
typedef struct vmk_PktHandle vmk_PktHandle;

// Allocates a packet whose buffer holds `size` frame bytes and lies where the
// engine's device can reach it. The frame length starts at 0.
VMK_ReturnStatus vmk_PktAllocForDMAEngine(vmk_ByteCount size, vmk_DMAEngine engine, vmk_PktHandle** pkt);
// Releases a packet (and, with its last packet, the buffer). Not in a panic
// context: there only the panic-safe release may be used.
void vmk_PktRelease(vmk_PktHandle* pkt);
void vmk_PktReleasePanic(vmk_PktHandle* pkt);

// Frame bytes. The length may be set up to the buffer's room after the frame
// start (VMK_BAD_PARAM beyond).
vmk_uint32 vmk_PktFrameLenGet(const vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_PktFrameLenSet(vmk_PktHandle* pkt, vmk_uint32 len);
// The frame bytes (contiguous in this kernel). Writing them is allowed only
// while the buffer descriptor is writable.
vmk_uint8* vmk_PktFrameMappedPointerGet(vmk_PktHandle* pkt);
vmk_uint32 vmk_PktHeadroomLenGet(const vmk_PktHandle* pkt);

// Scatter-gather elements of the frame (machine addresses). The elements may
// reach beyond the frame length: a receive buffer's one element covers the
// whole buffer.
vmk_uint32 vmk_PktSgElemCount(const vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_PktSgElemGet(const vmk_PktHandle* pkt, vmk_uint32 index, vmk_SgElem* elem);  // VMK_NOT_FOUND

// The buffer descriptor: four words the buffer's owner may note things in. It
// is writable while the buffer belongs to this packet alone (not shared with a
// clone).
#define VMK_PKT_BUFDESC_WORDS 4
#define VMK_PKT_BUFDESC_TUNNEL_CSUM_VFD 0x800000u  // in word 3: inner checksum verified
vmk_Bool vmk_PktIsBufDescWritable(const vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_PktBufDescWordGet(const vmk_PktHandle* pkt, vmk_uint32 index, vmk_uint32* word);
// VMK_FAILURE when the descriptor is not writable.
VMK_ReturnStatus vmk_PktBufDescWordSet(vmk_PktHandle* pkt, vmk_uint32 index, vmk_uint32 word);

// VLAN marks: id (12 bits) and priority (3 bits) of the frame's tag, given
// outside the frame. A packet the stack requires to be tagged carries them.
VMK_ReturnStatus vmk_PktVlanIDSet(vmk_PktHandle* pkt, vmk_uint16 vlanID);  // VMK_BAD_PARAM above 4095
vmk_uint16 vmk_PktVlanIDGet(const vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_PktPrioritySet(vmk_PktHandle* pkt, vmk_uint8 priority);  // VMK_BAD_PARAM above 7
vmk_uint8 vmk_PktPriorityGet(const vmk_PktHandle* pkt);
vmk_Bool vmk_PktMustVlanTag(const vmk_PktHandle* pkt);
// The stack asks the device to fill in the L4 checksum.
vmk_Bool vmk_PktIsMustCsum(const vmk_PktHandle* pkt);
// Receive: the device verified the frame's checksums.
void vmk_PktSetCsumVfd(vmk_PktHandle* pkt);
vmk_Bool vmk_PktIsCsumVfd(const vmk_PktHandle* pkt);

// TCP segmentation offload: the device cuts the frame into segments of
// `mss` payload bytes.
vmk_Bool vmk_PktIsLargeTcpPacket(const vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_PktSetLargeTcpPacket(vmk_PktHandle* pkt, vmk_uint32 mss);
vmk_uint32 vmk_PktGetLargeTcpPacketMss(const vmk_PktHandle* pkt);

// Queue the packet travels on: the value of an uplink queue id.
vmk_uint32 vmk_PktQueueIDGet(const vmk_PktHandle* pkt);
void vmk_PktQueueIDSet(vmk_PktHandle* pkt, vmk_uint32 queueID);

// Copies. A partial copy has the whole frame and its marks, with at least
// the first `numBytes` its own to write (here all of it), and `headroom`
// bytes before the frame. A clone shares the buffer: neither packet's
// descriptor is writable while both live. A duplicate holds the first `len`
// frame bytes with `headroom` before and `tailroom` zero bytes after them.
VMK_ReturnStatus vmk_PktPartialCopy(vmk_PktHandle* pkt, vmk_uint32 numBytes, vmk_PktHandle** copy);
VMK_ReturnStatus vmk_PktPartialCopyWithHeadroom(vmk_PktHandle* pkt, vmk_uint32 numBytes, vmk_uint32 headroom,
                                                vmk_PktHandle** copy);
VMK_ReturnStatus vmk_PktClone(vmk_PktHandle* pkt, vmk_PktHandle** clone);
VMK_ReturnStatus vmk_PktDupLenWithHeadroomAndTailroom(vmk_PktHandle* pkt, vmk_uint32 len, vmk_uint32 headroom,
                                                      vmk_uint32 tailroom, vmk_PktHandle** dup);
// Moves the frame start `len` bytes into the headroom (the frame grows at its
// head; the new bytes are undefined). VMK_FAILURE without that much headroom
// or while the buffer is shared.
VMK_ReturnStatus vmk_PktPullHeadroom(vmk_PktHandle* pkt, vmk_uint32 len);

/* ---- Packet lists -------------------------------------------------------- */

// A list the caller owns (on its stack or in its data); initialise before use.
typedef struct {
  vmk_PktHandle* first;
  vmk_PktHandle* last;
  vmk_uint32 count;
} vmk_PktList;

void vmk_PktListInit(vmk_PktList* list);
vmk_uint32 vmk_PktListGetCount(const vmk_PktList* list);
vmk_Bool vmk_PktListIsEmpty(const vmk_PktList* list);
vmk_PktHandle* vmk_PktListGetFirstPkt(const vmk_PktList* list);
vmk_PktHandle* vmk_PktListGetNextPkt(const vmk_PktList* list, const vmk_PktHandle* pkt);  // NULL after the last
vmk_PktHandle* vmk_PktListPopFirstPkt(vmk_PktList* list);  // NULL when empty
// VMK_EXISTS when the packet is on a list already.
VMK_ReturnStatus vmk_PktListAppendPkt(vmk_PktList* list, vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_PktListPrependPkt(vmk_PktList* list, vmk_PktHandle* pkt);
// Inserts `pkt` right after `after`, which must be on `list` (VMK_NOT_FOUND).
VMK_ReturnStatus vmk_PktListInsertPktAfter(vmk_PktList* list, vmk_PktHandle* after, vmk_PktHandle* pkt);
// Moves every packet of `src` to the end of `dst`.
void vmk_PktListAppendList(vmk_PktList* dst, vmk_PktList* src);
void vmk_PktListReleaseAllPkts(vmk_PktList* list);
void vmk_PktListReleaseAllPktsPanic(vmk_PktList* list);

/* ---- Header look-ups ----------------------------------------------------- */

// Header types. Link headers: Ethernet, Ethernet with an 802.1Q tag, an
// 802.3 length frame (LLC/SNAP), the same with a tag. L3: IPv4, IPv6. L4 and
// IPv6 extension headers carry their IP protocol number as their type.
// Encapsulation: VXLAN (then the inner link, L3 and L4 headers).
#define VMK_PKT_HEADER_L2_ETHERNET 0x1801
#define VMK_PKT_HEADER_L2_ETHERNET_VLAN 0x1802
#define VMK_PKT_HEADER_L2_ETHERNET_802_3 0x1803
#define VMK_PKT_HEADER_L2_ETHERNET_802_3_VLAN 0x1804
#define VMK_PKT_HEADER_L3_IPv4 0x2804
#define VMK_PKT_HEADER_L3_IPv6 0x2806
#define VMK_PKT_HEADER_L4_TCP 6
#define VMK_PKT_HEADER_L4_UDP 17
#define VMK_PKT_HEADER_L4_ICMPv6 58
#define VMK_PKT_HEADER_ENCAP_VXLAN 0x8001
// A next header the kernel does not parse (an ARP frame's, for one).
#define VMK_PKT_HEADER_NONE 0xFFFF

typedef struct {
  vmk_uint16 type;
  vmk_uint16 nextHdrType;  // type of the header that follows, or VMK_PKT_HEADER_NONE;
                           // for L3 headers the (first) IP protocol / next header number
  vmk_uint32 offset;       // from the frame start
  vmk_uint32 length;
} vmk_PktHeaderEntry;

// Each look-up finds the first header of its layer (outer headers, or those
// behind the encapsulation header for the Encap* ones) whose end lies within
// `maxOffset` bytes of the frame start (0: no limit): VMK_NOT_FOUND when the
// frame has no such header, VMK_HEADER_BEYOND_LIMIT when it lies past the
// limit or is cut off by the frame end. `index` (may be NULL) receives the
// header's place in the frame's chain of headers.
VMK_ReturnStatus vmk_PktHeaderL2Find(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,
                                     vmk_uint32* index);
VMK_ReturnStatus vmk_PktHeaderL3Find(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,
                                     vmk_uint32* index);
VMK_ReturnStatus vmk_PktHeaderL4Find(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,
                                     vmk_uint32* index);
VMK_ReturnStatus vmk_PktHeaderEncapFind(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,
                                        vmk_uint32* index);
VMK_ReturnStatus vmk_PktHeaderEncapL3Find(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,
                                          vmk_uint32* index);
VMK_ReturnStatus vmk_PktHeaderEncapL4Find(vmk_PktHandle* pkt, vmk_uint32 maxOffset, vmk_PktHeaderEntry* entry,
                                          vmk_uint32* index);
// Header `index` of the chain (VMK_NOT_FOUND past its end), and their number.
VMK_ReturnStatus vmk_PktHeaderEntryGet(vmk_PktHandle* pkt, vmk_uint32 index, vmk_PktHeaderEntry* entry);
vmk_uint32 vmk_PktHeaderCountGet(vmk_PktHandle* pkt);
// The bytes of a header found above.
VMK_ReturnStatus vmk_PktHeaderDataGet(vmk_PktHandle* pkt, const vmk_PktHeaderEntry* entry, void** data);
// The kernel keeps the header chain it parsed until the frame's headers are
// said to have changed: from header `index` on (0: all) they are parsed again
// at the next look-up.
void vmk_PktHeaderInvalidate(vmk_PktHandle* pkt, vmk_uint32 index);

// Software TCP segmentation: cuts a TCP frame (IPv4 or IPv6, optionally
// tagged) into frames of at most `maxPayload` TCP payload bytes (0: the
// packet's MSS), each with its own IP id, lengths, sequence number, flags and
// checksums, appended to `out`. The payload ends where the L3 length says,
// or at the frame end when the packet is too large for that field (it then
// holds anything). The packet itself is left as it was.
// VMK_NOT_SUPPORTED for encapsulated frames and IPv6 extension headers.
VMK_ReturnStatus vmk_PktTcpSegmentation(vmk_PktHandle* pkt, vmk_uint32 maxPayload, vmk_PktList* out);

/* ---- NetPoll packet hand-over --------------------------------------------- */

// Queues a received packet for the stack (handed over when the poll returns,
// or at vmk_NetPollFlushRx), and a transmitted packet as completed. Not in a
// panic context.
VMK_ReturnStatus vmk_NetPollRxPktQueue(vmk_NetPoll netpoll, vmk_PktHandle* pkt);
VMK_ReturnStatus vmk_NetPollQueueCompPkt(vmk_NetPoll netpoll, vmk_PktHandle* pkt);

/* ------------------------------------------------------------------------ */
/* Uplinks                                                                   */
/* ------------------------------------------------------------------------ */

typedef struct vmk_UplinkInt* vmk_Uplink;

typedef enum {
  VMK_LINK_STATE_DOWN = 0,
  VMK_LINK_STATE_UP = 1,
} vmk_LinkState;
typedef enum {
  VMK_LINK_DUPLEX_HALF = 1,
  VMK_LINK_DUPLEX_FULL = 2,
} vmk_LinkDuplex;

typedef struct {
  vmk_uint32 state;   // vmk_LinkState
  vmk_uint32 speed;   // Mbps
  vmk_uint32 duplex;  // vmk_LinkDuplex
} vmk_LinkStatus;

// The operations a driver hands over in its uplink registration data, in the
// kernel's slot order. `driverData` is the registration data's driverData.
typedef struct {
  VMK_ReturnStatus (*uplinkTx)(vmk_AddrCookie driverData, void* pktList);
  VMK_ReturnStatus (*uplinkMTUSet)(vmk_AddrCookie driverData, vmk_uint32 mtu);
  VMK_ReturnStatus (*uplinkStateSet)(vmk_AddrCookie driverData, vmk_uint32 state);
  VMK_ReturnStatus (*uplinkStatsGet)(vmk_AddrCookie driverData, void* stats);
  VMK_ReturnStatus (*uplinkAssociate)(vmk_AddrCookie driverData, vmk_Uplink uplink);
  VMK_ReturnStatus (*uplinkDisassociate)(vmk_AddrCookie driverData);
  VMK_ReturnStatus (*uplinkCapEnable)(vmk_AddrCookie driverData, vmk_uint32 cap);
  VMK_ReturnStatus (*uplinkCapDisable)(vmk_AddrCookie driverData, vmk_uint32 cap);
  VMK_ReturnStatus (*uplinkStartIO)(vmk_AddrCookie driverData);
  VMK_ReturnStatus (*uplinkQuiesceIO)(vmk_AddrCookie driverData);
  VMK_ReturnStatus (*uplinkReset)(vmk_AddrCookie driverData);
} vmk_UplinkOps;

// Registration data of a logical uplink device (its vmk_DeviceProps
// registrationData points at one of these).
typedef struct {
  vmk_revnum apiRevision;
  vmk_ModuleID moduleID;
  vmk_UplinkOps ops;
  void* sharedData;
  vmk_AddrCookie driverData;
} vmk_UplinkRegData;

// Records of the capability operations.
typedef struct {
  vmk_uint32 rxUsecs;
  vmk_uint32 rxMaxFrames;
  vmk_uint32 txUsecs;
  vmk_uint32 txMaxFrames;
} vmk_UplinkCoalesceParams;

#define VMK_UPLINK_WOL_MAGIC 0x20
typedef struct {
  vmk_uint32 supported;  // wake-on-LAN types
  vmk_uint32 enabled;
  char secureONPassword[16];
} vmk_UplinkWolState;

typedef struct {
  vmk_uint8 autoneg;
  vmk_uint8 rxPauseEnabled;
  vmk_uint8 txPauseEnabled;
} vmk_UplinkPauseParams;

typedef struct {
  VMK_ReturnStatus (*getParams)(vmk_AddrCookie driverData, vmk_UplinkCoalesceParams* params);
  VMK_ReturnStatus (*setParams)(vmk_AddrCookie driverData, vmk_UplinkCoalesceParams* params);
} vmk_UplinkCoalesceParamsOps;

typedef struct {
  VMK_ReturnStatus (*getState)(vmk_AddrCookie driverData, vmk_UplinkWolState* state);
  VMK_ReturnStatus (*setState)(vmk_AddrCookie driverData, vmk_UplinkWolState* state);
} vmk_UplinkWOLOps;

typedef struct {
  VMK_ReturnStatus (*getParams)(vmk_AddrCookie driverData, vmk_UplinkPauseParams* params);
  VMK_ReturnStatus (*setParams)(vmk_AddrCookie driverData, vmk_UplinkPauseParams params);
} vmk_UplinkPauseParamsOps;

typedef struct {
  VMK_ReturnStatus (*vxlanPortUpdate)(vmk_AddrCookie driverData, vmk_uint16 portNBO);
} vmk_UplinkEncapOffloadOps;

// Name of an uplink ("vmnic3").
VMK_ReturnStatus vmk_UplinkNameGet(vmk_Uplink uplink, vmk_Name* name);
// Registers capability `cap` with its operation table (NULL for none).
VMK_ReturnStatus vmk_UplinkCapRegister(vmk_Uplink uplink, vmk_uint32 cap, const void* ops);
// Reports the link status to the network stack.
VMK_ReturnStatus vmk_UplinkUpdateLinkState(vmk_Uplink uplink, const vmk_LinkStatus* status);
// Registers a NetPoll of the uplink under a name suffix.
VMK_ReturnStatus vmk_UplinkNetPollRegister(vmk_Uplink uplink, vmk_NetPoll netpoll, const char* name,
                                           vmk_Bool flag);
// How many transmit and receive queues the kernel exposes for a device that
// offers txQueues and rxQueues (the host's CPU count limits them).
VMK_ReturnStatus vmk_UplinkQueueSupportQuery(vmk_uint32 txQueues, vmk_uint32 rxQueues, vmk_uint32* txSupported,
                                             vmk_uint32* rxSupported);
// The VXLAN UDP port configured in the kernel, in network byte order (0: none).
vmk_uint16 vmk_UplinkVXLANPortNBOGet(void);
VMK_ReturnStatus vmk_UplinkWatchdogTimeoutSet(vmk_Uplink uplink, vmk_uint32 timeoutMS);
// The driver reset its device on its own (a recovery): the multi-queue
// layer allocates the queues and applies the filters it holds again. May
// block; call it holding no lock.
VMK_ReturnStatus vmk_UplinkQueuesResetNotify(vmk_Uplink uplink);
// Tells the stack that the transmit queue of id value `queueID` takes packets
// again / takes none for now.
VMK_ReturnStatus vmk_UplinkQueueStart(vmk_Uplink uplink, vmk_uint32 queueID);
VMK_ReturnStatus vmk_UplinkQueueStop(vmk_Uplink uplink, vmk_uint32 queueID);

/* ---- NetQueue: the multi-queue capability's operations ------------------- */

// A queue id is opaque to the kernel: the driver builds it from a queue type
// and a value of its own choosing and the kernel hands it back unchanged.
typedef vmk_uint64 vmk_UplinkQueueID;
typedef enum {
  VMK_UPLINK_QUEUE_TYPE_INVALID = 0,
  VMK_UPLINK_QUEUE_TYPE_RX = 1,
  VMK_UPLINK_QUEUE_TYPE_TX = 2,
} vmk_UplinkQueueType;

// Queue features (attributes and the qData feature words).
#define VMK_UPLINK_QUEUE_FEAT_PAIR 0x2u
#define VMK_UPLINK_QUEUE_FEAT_RSS 0x4u
#define VMK_UPLINK_QUEUE_FEAT_RSS_DYN 0x20u

// Receive filters the kernel asks a queue to take.
typedef vmk_uint32 vmk_UplinkQueueFilterID;
typedef enum {
  VMK_UPLINK_QUEUE_FILTER_CLASS_MAC_ONLY = 1,
  VMK_UPLINK_QUEUE_FILTER_CLASS_VXLAN = 8,
} vmk_UplinkQueueFilterClass;
typedef struct {
  vmk_uint8 innerMAC[6];
  vmk_uint8 outerMAC[6];
  vmk_uint32 vxlanID;
} vmk_UplinkQueueVXLANFilterInfo;
typedef struct {
  vmk_uint32 filterClass;  // vmk_UplinkQueueFilterClass
  union {
    vmk_uint8 mac[6];      // MAC_ONLY: destination MAC
    vmk_UplinkQueueVXLANFilterInfo vxlan;
  };
} vmk_UplinkQueueFilter;

// Queue attributes of an allocation (only type 1, the feature bits, is
// known to drivers of this kernel).
typedef enum {
  VMK_UPLINK_QUEUE_ATTR_PRIOR = 0,
  VMK_UPLINK_QUEUE_ATTR_FEAT = 1,
} vmk_UplinkQueueAttrType;
typedef struct {
  vmk_uint32 type;  // vmk_UplinkQueueAttrType
  union {
    vmk_uint32 priority;
    vmk_uint32 features;
  } args;
} vmk_UplinkQueueAttr;

// Per-queue statistics: 21 counters; the ones a queue reports are named.
#define VMK_UPLINK_QUEUE_STATS_SLOTS 21
#define VMK_UPLINK_QUEUE_STAT_RX_PKTS 0
#define VMK_UPLINK_QUEUE_STAT_TX_PKTS 1
#define VMK_UPLINK_QUEUE_STAT_RX_BYTES 2
#define VMK_UPLINK_QUEUE_STAT_TX_BYTES 3
#define VMK_UPLINK_QUEUE_STAT_RX_ERRORS 4
#define VMK_UPLINK_QUEUE_STAT_RX_DROPS 6
#define VMK_UPLINK_QUEUE_STAT_TX_DROPS 7
#define VMK_UPLINK_QUEUE_STAT_RX_MCAST 8
typedef struct {
  vmk_uint64 slot[VMK_UPLINK_QUEUE_STATS_SLOTS];
} vmk_UplinkQueueStats;

// The operations of the MULTI_QUEUE capability (capability 21), in the
// kernel's slot order; slot 2 is unused.
typedef struct {
  VMK_ReturnStatus (*queueAlloc)(vmk_AddrCookie driverData, vmk_UplinkQueueType type, vmk_UplinkQueueID* qid,
                                 vmk_NetPoll* netpoll);
  VMK_ReturnStatus (*queueAllocWithAttr)(vmk_AddrCookie driverData, vmk_UplinkQueueType type, vmk_uint16 numAttr,
                                         vmk_UplinkQueueAttr* attr, vmk_UplinkQueueID* qid, vmk_NetPoll* netpoll);
  void* reserved;
  VMK_ReturnStatus (*queueFree)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid);
  VMK_ReturnStatus (*queueQuiesce)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid);
  VMK_ReturnStatus (*queueStart)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid);
  // The paired transmit queue's value comes back in *pairHWQID.
  VMK_ReturnStatus (*queueApplyFilter)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid,
                                       vmk_UplinkQueueFilter* filter, vmk_UplinkQueueFilterID* fid,
                                       vmk_uint32* pairHWQID);
  VMK_ReturnStatus (*queueRemoveFilter)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid,
                                        vmk_UplinkQueueFilterID fid);
  VMK_ReturnStatus (*queueStatsGet)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid, vmk_UplinkQueueStats* stats);
  VMK_ReturnStatus (*queueToggleFeature)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid, vmk_uint32 feature,
                                         vmk_Bool setUnset);
  VMK_ReturnStatus (*queueSetPriority)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid, vmk_uint32 priority);
  VMK_ReturnStatus (*queueSetCoalesceParams)(vmk_AddrCookie driverData, vmk_UplinkQueueID qid,
                                             vmk_UplinkCoalesceParams* params);
} vmk_UplinkQueueOps;

/* ------------------------------------------------------------------------ */
/* SR-IOV                                                                    */
/* ------------------------------------------------------------------------ */

// Enables up to *numVfs virtual functions of a physical function; *numVfs
// receives the count enabled.
VMK_ReturnStatus vmk_PCIEnableVFs(vmk_ModuleID module, vmk_PCIDevice pf, vmk_uint16* numVfs);
VMK_ReturnStatus vmk_PCIDisableVFs(vmk_ModuleID module, vmk_PCIDevice pf);

// The PCI device of virtual function `vfIndex` (0-based) of an enabled PF;
// the kernel owns it (VMK_NOT_FOUND beyond the VFs enabled).
VMK_ReturnStatus vmk_PCIGetVFPCIDevice(vmk_PCIDevice pf, vmk_uint16 vfIndex, vmk_PCIDevice* vf);

// What the kernel asks of the PF driver that registered a VF device.
typedef struct {
  // The VF device goes away (the kernel disables the PF's VFs): the driver
  // unregisters it.
  VMK_ReturnStatus (*removeVF)(vmk_PCIDevice vf);
} vmk_PCIVFDeviceOps;

// Registers a VF device with the kernel on behalf of the PF's driver; the
// kernel keeps a copy of `ops`.
VMK_ReturnStatus vmk_PCIRegisterVF(vmk_PCIDevice vf, vmk_PCIDevice pf, vmk_Driver driver,
                                   const vmk_PCIVFDeviceOps* ops);
VMK_ReturnStatus vmk_PCIUnregisterVF(vmk_PCIDevice vf);

// The PF driver's VF configuration callback: the kernel calls it with the
// PF device's attached driver data, an operation code and the operation's
// parameter record.
typedef VMK_ReturnStatus (*vmk_PCIVFConfigCallback)(vmk_AddrCookie pfDriverData, vmk_uint32 op, void* params);
// Sets a registered VF device's private data: the PF driver's
// vmk_PCIVFConfigCallback.
VMK_ReturnStatus vmk_PCISetVFPrivateData(vmk_PCIDevice vf, vmk_AddrCookie data);

// Operation codes of VF configuration requests and their parameter records.
enum {
  VMK_NETPTOP_VF_GET_STATS = 10,
  VMK_NETPTOP_VF_SET_MAC = 12,
  VMK_NETPTOP_VF_SET_RX_MODE = 14,
  VMK_NETPTOP_VF_SET_DEFAULT_VLAN = 17,
};
typedef struct {
  vmk_uint32 vfID;
} vmk_NetVFStatsParms;
typedef struct {
  vmk_uint32 vfID;
  vmk_uint8 mac[6];
} vmk_NetVFMACParms;
typedef struct {
  vmk_uint32 vfID;
  vmk_uint8 unicast;
  vmk_uint8 multicast;
  vmk_uint8 broadcast;
  vmk_uint8 allmulti;
  vmk_uint8 promiscuous;
} vmk_NetVFRXModeParms;
typedef struct {
  vmk_uint16 vfID;
  vmk_uint8 enable;
  vmk_uint16 vid;
  vmk_uint8 prio;
} vmk_NetVFDefaultVLANParms;
