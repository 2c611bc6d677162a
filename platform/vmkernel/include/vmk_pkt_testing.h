// Test controls of the kernel stand-in's packet services (vmk_uplink.h): the
// stack's side of a packet (what it asks of the device), frames built from
// bytes, the packets NetPolls handed over, the queue notices an uplink got,
// and the panic context. Driver code never includes this file.
#pragma once

#include <cstdint>
#include <vector>

#include "vmk_uplink.h"

namespace vmktest {

// A packet holding `frame` (below 4 GB when `below4GB`), with `headroom`
// bytes before it, as the stack would hand it to a driver.
vmk_PktHandle* pktMake(const std::vector<uint8_t>& frame, uint32_t headroom = 0, bool below4GB = false);
std::vector<uint8_t> pktBytes(vmk_PktHandle* pkt);
// What the stack asks of the device for a packet it transmits.
void pktSetMustVlanTag(vmk_PktHandle* pkt, bool must);
void pktSetMustCsum(vmk_PktHandle* pkt, bool must);
// Splits the frame over elements of the given lengths (in frame order; their
// sum may exceed the frame length, giving elements past its end). False when
// they do not fit the buffer or are more than 64.
bool pktSetSgLayout(vmk_PktHandle* pkt, const std::vector<uint32_t>& lengths);

struct PktFaults {
  // Buffers released while still mapped for DMA: their pages are kept so that
  // the device cannot write into freed memory.
  unsigned releasedWhileMapped = 0;
};
PktFaults pktFaults();

// The panic context of netdump: no service may block, and packets are
// released only with the panic-safe release (a normal release, or a NetPoll
// hand-over, breaks a kernel rule: see setLockRuleHandler).
void setPanicContext(bool on);

// Received packets a NetPoll handed to the stack so far, taken over by the
// caller (who releases them); packets a NetPoll completed (the stack releases
// those itself).
std::vector<vmk_PktHandle*> netPollTakeRx(vmk_NetPoll netpoll);
unsigned netPollCompleted(vmk_NetPoll netpoll);

// Last notice the driver gave for a transmit queue: 1 started, 0 stopped, -1
// none yet; and the number of stop notices.
int uplinkQueueState(vmk_Uplink uplink, uint32_t queueID);
unsigned uplinkQueueStops(vmk_Uplink uplink, uint32_t queueID);
// Transmit watchdog time-out the driver set (0: none).
uint32_t uplinkWatchdogMs(vmk_Uplink uplink);
// Every time-out the driver set, oldest first (the last 64).
std::vector<uint32_t> uplinkWatchdogHistory(vmk_Uplink uplink);

}  // namespace vmktest
