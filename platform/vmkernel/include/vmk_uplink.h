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

/* ------------------------------------------------------------------------ */
/* SR-IOV                                                                    */
/* ------------------------------------------------------------------------ */

// Enables up to *numVfs virtual functions of a physical function; *numVfs
// receives the count enabled.
VMK_ReturnStatus vmk_PCIEnableVFs(vmk_ModuleID module, vmk_PCIDevice pf, vmk_uint16* numVfs);
VMK_ReturnStatus vmk_PCIDisableVFs(vmk_ModuleID module, vmk_PCIDevice pf);
