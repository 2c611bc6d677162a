// The emulated adapter as the host sees it: PCI functions with configuration
// space and BARs, doorbells, the bootstrap mailbox, the MCC ring, event and
// completion queues and interrupts, on top of the firmware engine.
//
// Usage
//   adapter::AdapterConfig cfg = adapter::adapterDefaults(adapter::Gen::Pivard, 2);
//   adapter::Adapter card(cfg);               // generation: ids, BARs, registers
//   hostbus::Function* f0 = card.function(0);   // hand to the kernel stand-in
//   ... the host calls f0->attachHost(host) and drives it through the BARs ...
//
//   card.engine().setFault(1, 59, {.status = 5});       // firmware knobs
//   card.injectAsyncEvent(0, adapter::linkStateEvent(0, false, true, 4, 0, 0));
//   card.injectUe(0x1, 0, 0xE123);                    // unrecoverable error
//   card.setSlotGone(0, true);                           // reads all ones
//   card.releaseHeldCompletions(0);                      // "late" completions
//   card.engine().countLive(adapter::ObjKind::Eq, 0);    // object accounting
//   card.injectRxFrame(0, rxq_id, bytes);                // receive a frame
//   card.takeTxFrames(0);                                // frames transmitted
//   card.takeWire(0);                                    // ... as they left port 0
//   adapter::Adapter::connectCable(card, 0, other, 1);   // a cable between two ports
//   card.receiveOnWire(1, bytes);                        // a frame from the network
//   card.waitIdle();                                     // every doorbell served
//
// Two modes, chosen per adapter (AdapterConfig::mode):
// - Async (the default): the adapter's device thread serves the doorbells
//   (mailbox, MCC, EQ/CQ popped counts and re-arms, receive and transmit) after
//   async_delay_us (plus up to async_jitter_us at random) of real time. Rings
//   are served in a random order (seeded by async_seed), each ring's doorbells
//   in the order written. A doorbell write returns at once: the mailbox ready
//   bit reads 0 from the low address write until the command is done.
//   waitIdle() blocks until every doorbell written so far has been served
//   (held completions do not count: they wait for releaseHeldCompletions).
// - Sync: every doorbell is served inside the write, in the writer's thread,
//   so a test sees each step's effect as soon as the write returns.
// Register side effects that are not doorbells (the clear-interrupt bit of an
// EQ doorbell, port and soft resets, dump requests, UE injection, POST and
// status reads) act at once in both modes. The fault knobs work the same way
// in both: Fault::late holds a completion (and the mailbox stays busy) until
// releaseHeldCompletions; no_completion never answers; status / extended
// answer with them; card_error puts the chip in UE; slot_gone makes the
// function read all ones; malformed writes a completion without its valid
// bit; no_entry finishes without writing a completion.
//
// Every ring entry the device writes (mailbox and MCC completions, async
// events, EQ entries, receive and transmit completions) goes out in two
// steps: first every other byte, then its valid word (completion flags at
// byte 12, the 4-byte EQ entry, receive completion dword 2, transmit
// completion dword 3) by hostbus::Host::dmaWriteRelease32. A host that reads
// the valid word with acquire ordering sees the whole entry.
//
// Behaviour: the mailbox runs a command when the low address half is written
// (ready bit 0 of 0x160 clears while a command is pending, held or stuck); an
// MCC doorbell runs the posted WRBs in ring order and writes one completion
// each, carrying the WRB's tag, into the MCC queue's CQ. A CQ that gets an
// entry while armed writes an EQ entry (and is disarmed); an EQ that has
// entries while armed raises its vector (the n-th live EQ of a function is
// vector n, 0 when the function has fewer vectors) and is disarmed; an EQ that
// is not armed raises nothing. Queues are armed only by a re-arm doorbell.
// Interrupts: with MSI-X enabled in the function's configuration space (the
// host sets the enable bit of the MSI-X capability) an EQ's interrupt is one
// message on its vector. Otherwise the function's INTx line is level
// triggered: it stays asserted (hostbus::Host::setIntxLine) while any of the
// function's EQs has raised an interrupt whose cause the host has not cleared
// with the clear-interrupt bit (bit 9 of the EQ doorbell form). While the chip is in UE (injectUe, a card-error
// knob, the UE-injection registers) the firmware takes no command until a
// chip soft reset (or, on Pivard, a port reset). Function reset, firmware
// clean, soft reset and Pivard port reset destroy the objects they cover.
// Entries the device writes: EQ entry = 1 | (CQ id << 16); transmit completion
// dword 0 = ring index of the packet's last entry, dword 3 = 1; receive
// completion dword 2 always has bit 0 set (so it is never 0), and a receive
// queue destroy leaves a flush completion (num_frags 0) except on Pivard.
// The transmit side gathers frames, inserts a VLAN tag when asked, fills the
// checksums and segments TSO frames as the header entry asks, and puts each
// resulting frame on its port's wire (cable.cpp); a frame whose header entry
// has the management bit (dword 2 bit 5) goes to the port's management
// controller instead (takeBmcFrames). Frames arriving at a port
// are filtered, steered and DMAed into posted buffers (dp_rx.cpp).
//
// BARs (index: role). KS2: 1 PCI-configuration, 2 CSR, 4 doorbell. KS3 and
// Veskarn: 0 PCI-configuration, 2 CSR, 4 doorbell. Pivard: 0 doorbell only.
// Doorbell BAR: 0x60 transmit, 0x100 receive, 0x120 EQ/CQ, 0x140 MCC, 0x160
// mailbox; Pivard 0x404 port status, 0x408 port control, 0x40C/0x410 error
// registers, 0x414 physical-device control. CSR: 0xAC POST stage / port
// status, 0x138 and 0x1FFFC UE injection (KS2, KS3). PCI-configuration BAR:
// 0x58 and 0x9C status words, 0x5C soft reset (bit 7; Veskarn byte 0x5F bit 0
// injects a UE), 0xFC host interrupt control (bit 29). Configuration space:
// 0xA0/0xA4 UE status, 0xA8/0xAC UE mask (not Pivard), 0xFC memory-BAR window.
//
// Every method is safe to call from any thread; the device serialises itself
// under lock() (the device thread serves doorbells holding it). Interrupts go
// out through hostbus::Host::raiseInterrupt / setIntxLine and DMA through the
// host's dmaRead / dmaWrite while the device lock is held (the host delivers
// interrupts asynchronously and must not call back into the device there).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "fw_engine.h"
#include "hostbus.h"

namespace adapter {
namespace dp { struct Layout; }

// How doorbells are served (see the header comment).
enum class Mode : uint8_t { Sync, Async };

struct AdapterConfig {
  EngineConfig fw;
  Mode mode = Mode::Async;
  unsigned async_delay_us = 20;    // real time from a doorbell write until it is served
  unsigned async_jitter_us = 0;    // plus up to this much more, at random per doorbell
  uint64_t async_seed = 1;         // the random order across rings and the jitter
  uint16_t segment = 0;
  uint8_t bus = 3;
  uint8_t device = 0;
  uint16_t vendor_id = 0;          // 0: the generation's default
  uint16_t device_id = 0;          // 0: the generation's default
  uint16_t subsys_vendor_id = 0;   // 0: the vendor id
  uint16_t subsys_device_id = 0x1234;
  unsigned msix_vectors = 32;
  // Reads of the POST stage (CSR 0xAC) / Pivard ready bit before the firmware
  // is ready after power-on or a reset (0: ready at once).
  unsigned post_reads_until_ready = 0;
  // UE mask words at configuration offsets 0xA8/0xAC (not Pivard).
  uint32_t ue_mask_lo = 0, ue_mask_hi = 0;
};

// A plausible adapter of a generation (engineDefaults for its firmware).
AdapterConfig adapterDefaults(Gen g, unsigned functions = 2);

// An asynchronous event as the firmware posts it on the MCC completion queue.
struct AsyncEvent {
  uint8_t code = 0;
  uint8_t type = 0;
  uint8_t data[12] = {};
};
AsyncEvent linkStateEvent(uint8_t port, bool up, bool logical, uint8_t speed_code,
                          uint8_t down_reason, uint16_t qos_speed);
AsyncEvent qosSpeedEvent(uint8_t port, uint16_t speed_10mbps);
AsyncEvent priorityEvent(uint8_t bitmap, uint8_t recommended, bool valid);
AsyncEvent pvidEvent(bool enabled, uint16_t pvid);
AsyncEvent os2bmcEvent(bool enable, uint16_t filter_mask);
AsyncEvent debugDataEvent(uint32_t w0, uint32_t w1, uint32_t w2);
AsyncEvent qnqEvent(bool valid, uint16_t vlan);
AsyncEvent transceiverEvent(uint32_t word0, uint32_t word1);

// A frame the function transmitted: the header entry's four words (offload
// flags, entry count, MSS, length, VLAN) and the bytes gathered from its
// fragments (a VLAN tag is inserted when the header asks the hardware to).
struct TxFrame {
  uint32_t txq = 0;
  uint32_t hdr[4] = {};
  std::vector<uint8_t> bytes;
};

// How a received frame is reported in its completion.
struct RxMeta {
  uint16_t vlan = 0;           // tag as on the wire (priority 13-15, id 0-11)
  bool vlan_present = false;
  bool vlan_keep = false;
  bool error = false;
  bool tcp = false, udp = false, ipv6 = false;
  bool ip_csum_ok = true, l4_csum_ok = true;
  uint8_t cast = 0;            // 0 unicast, 1 multicast, 2 broadcast
  bool tunneled = false;
  uint32_t rss_hash = 0;
  int port = -1;               // -1: the function's own port
};

// What a function's doorbells and queues have seen (for tests).
struct FnCounters {
  unsigned mailbox_commands = 0;
  unsigned mcc_commands = 0;
  unsigned completions_written = 0;
  unsigned events_written = 0;     // async events posted
  unsigned eq_entries_written = 0;
  unsigned interrupts = 0;
  unsigned tx_doorbells = 0, rx_doorbells = 0;
  unsigned soft_resets = 0, port_resets = 0, dump_requests = 0;
  unsigned ue_injections = 0;
  unsigned dropped_dma = 0;        // device writes/reads that hit unmapped memory
  unsigned intx_asserts = 0;       // times the INTx line went up
  unsigned tx_frames = 0, rx_frames = 0, rx_no_buffer = 0;
  uint32_t last_eq_cq_doorbell = 0;
  uint32_t last_tx_doorbell = 0, last_rx_doorbell = 0;
};

// Data-path doorbells written while a function records only (see
// Adapter::setRecordOnlyDoorbells).
struct RecordedDoorbells {
  uint64_t tx = 0, rx = 0, eq_cq = 0;
  uint32_t last_tx = 0, last_rx = 0, last_eq_cq = 0;
};

// The 16 bytes of a receive completion as the device writes them: the
// advanced layout or the basic one, for the buffer at `frag_index` holding a
// frame of `size` bytes (the valid word, dword 2, always has bit 0 set).
void encodeRxCompletion(Gen g, bool advanced, uint32_t port, uint32_t frag_index, uint32_t size, const RxMeta& m,
                        uint8_t out[16]);

// Register spaces of a function.
enum class Space : uint8_t { Csr = 0, Doorbell = 1, PciCfg = 2 };

class Adapter {
 public:
  explicit Adapter(const AdapterConfig& cfg);
  ~Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;

  Gen gen() const { return cfg_.fw.gen; }
  unsigned functionCount() const;
  hostbus::Function* function(unsigned fn);
  // The firmware. Hold lock() around direct use while the host runs.
  Engine& engine() { return fw_; }
  std::mutex& lock() { return mu_; }

  // ---- modes ----
  Mode mode() const { return cfg_.mode; }
  // Async mode: waits (real time) until every doorbell written so far has
  // been served; false when `timeout_ms` passed first. Sync mode: true.
  bool waitIdle(unsigned timeout_ms = 5000);
  // Doorbells written and not yet served (always 0 in sync mode).
  size_t pendingDoorbells() const;
  void setAsyncDelay(unsigned delay_us, unsigned jitter_us = 0);
  // The function's INTx line as the device drives it.
  bool intxAsserted(unsigned fn) const;

  // ---- knobs ----
  void setSlotGone(unsigned fn, bool gone);          // every read all ones, writes dropped
  void setMailboxReady(unsigned fn, bool ready);     // the mailbox ready bit
  void setPostStage(uint16_t stage, bool error);     // CSR 0xAC (KS, Veskarn)
  void setPivardStatus(uint32_t status);             // doorbell 0x404 (Pivard)
  // Puts the chip into an unrecoverable error: UE status words (0xA0/0xA4),
  // CSR 0xAC = error | code (use 0xE000 | n for a recoverable one). Pivard:
  // port status gets error and reset-needed.
  void injectUe(uint32_t lo, uint32_t hi, uint16_t port_status_code);
  bool inUe() const;
  // Pivard: the port reports an error (status bit 31), with or without
  // reset-needed (bit 24), still ready (bit 23) to take a port reset, and the
  // firmware takes no command. A port reset clears it unless
  // `survives_reset`: then the error stays after any reset.
  void injectPivardError(bool reset_needed, bool survives_reset = false);
  // The clock (milliseconds) the timed knobs below count on; a test hands the
  // kernel's own. Without one they count nothing (as if time stood still).
  void setClock(std::function<uint64_t()> now_ms);
  // After a chip soft reset or a Pivard port reset the firmware reports
  // ready (POST stage 0xC000 / ready bit 23) only once `ms` have passed on
  // the clock; until then the stage reads 0x0100 (booting). 0: at once.
  void setReadyAfterReset(uint64_t ms);
  // A Pivard dump request keeps bit 30 of 0x414 set for `ms` on the clock
  // (kForever: it never clears). Without this knob: for three reads.
  static constexpr uint64_t kForever = ~0ull;
  void setDumpBusyTime(uint64_t ms);
  // Power off and on: every object of every function is gone, every error
  // cleared, and the firmware is ready at once.
  void powerCycle();
  // Posts an asynchronous event on every MCC queue of the function that asked
  // for the event's code; false when none did.
  bool injectAsyncEvent(unsigned fn, const AsyncEvent& ev);
  // Held ("late") completions: write them now. With signal false the entries
  // are written but raise no event or interrupt (as if the interrupt was lost).
  size_t heldCompletions(unsigned fn) const;
  void releaseHeldCompletions(unsigned fn, bool signal = true);
  // Called (device lock held: do not call back into the adapter) each time a
  // completion is held back, e.g. to schedule its release on a test clock.
  void setHeldHook(std::function<void(unsigned fn)> hook);
  FnCounters counters(unsigned fn) const;
  // Record-only doorbells (for measuring the host's side alone): while on,
  // the function's transmit and receive doorbells, and the CQ doorbells of
  // the completion queues `cqs` (at most 8), are counted, their last values
  // kept, and nothing else happens (no device lock, no work); every other
  // doorbell (mailbox, MCC, EQs, other CQs) is served as usual. What they
  // asked for is lost: turn it on once the rings are set up, write
  // completions by hand (encodeRxCompletion) meanwhile, and do not turn it
  // off while a doorbell write may be under way.
  void setRecordOnlyDoorbells(unsigned fn, bool on, const std::vector<uint32_t>& cqs = {});
  RecordedDoorbells recordedDoorbells(unsigned fn) const;
  // Data path. Frames sent on the function's transmit queues (taken out), as
  // the entries described them, before offloads (the wire has them after).
  std::vector<TxFrame> takeTxFrames(unsigned fn);
  // Delivers a frame into the next buffer posted on a receive queue and writes
  // its completion (advanced layout when the function was granted advanced
  // mode, else basic). False when the queue has no buffer or the frame does
  // not fit one.
  bool injectRxFrame(unsigned fn, uint32_t rxq_id, const std::vector<uint8_t>& frame,
                     const RxMeta& meta = RxMeta{});
  // Buffers posted and not yet used on a receive queue.
  unsigned rxPosted(unsigned fn, uint32_t rxq_id) const;

  // ---- wires (cable.cpp) ----
  // Every port has a wire: a capture of the frames the port sent (as they
  // left, after offloads) and, optionally, a cable to another port of this
  // or another adapter, which receives each frame as if from the network.
  struct PortCounters {
    uint64_t tx_frames = 0, tx_bytes = 0;
    uint64_t rx_frames = 0, rx_bytes = 0;   // arrived at the port
    uint64_t rx_delivered = 0;              // put into a posted buffer
    uint64_t rx_filtered = 0;               // no interface wanted it
    uint64_t rx_no_buffer = 0;              // wanted, but no buffer posted (or too small)
    uint64_t rx_to_endpoint = 0;            // steered to another endpoint's interface (a VF's)
    uint64_t rx_errors = 0;                 // dropped by the MAC: too long, bad 802.3 length
    uint64_t rx_control = 0;                // MAC control (pause) frames the MAC consumed
  };
  unsigned portCount() const;
  std::vector<std::vector<uint8_t>> takeWire(unsigned port);
  // The port's management controller: frames whose header entry carries the
  // management bit go there (after offloads) instead of to the wire.
  std::vector<std::vector<uint8_t>> takeBmcFrames(unsigned port);
  // A frame arrives at the port from the network.
  void receiveOnWire(unsigned port, const std::vector<uint8_t>& frame);
  // Joins two ports (a port of the same adapter too); a port has one cable at
  // a time: connecting replaces the old one on both of its ends.
  static void connectCable(Adapter& a, unsigned port_a, Adapter& b, unsigned port_b);
  void disconnectCable(unsigned port);
  PortCounters portCounters(unsigned port) const;
  // ---- receive steering (dp_rx.cpp) ----
  // A frame leaves the port as its transmitter sends it: into the capture
  // and over the cable, if any, to the port at the other end.
  void sendOnWire(unsigned port, const std::vector<uint8_t>& frame);
  // Frames steered to an interface of another endpoint (domain != 0: a
  // VF's): they reach no ring of the function that created the interface;
  // the interface counts them and keeps the last few (oldest first).
  struct EndpointFrames {
    uint64_t count = 0;
    std::vector<std::vector<uint8_t>> last;
  };
  EndpointFrames endpointFrames(uint32_t if_id) const;
  // Raw register views for tests.
  uint32_t configWord(unsigned fn, uint32_t off);
  uint32_t pivardStatus() const { return pivard_status_; }
  uint32_t softResetReg() const { return soft_reset_reg_; }
  uint32_t hostIntrCtl(unsigned fn) const;
  // PCI-configuration BAR status words 0x58 and 0x9C.
  void setCfgBarRegister(unsigned fn, uint32_t off, uint32_t value);
  // Registers without a modelled meaning (what a crash-dump program reads):
  // a write (or setRegister) reads back; unwritten ones read registerDefault(), 0.
  void setRegister(unsigned fn, Space s, uint32_t off, uint32_t value);
  static uint32_t registerDefault(Space s, uint32_t off);

  class Fn;   // one PCI function (implements hostbus::Function)

 private:
  friend class Fn;
  AdapterConfig cfg_;
  Engine fw_;
  mutable std::mutex mu_;
  std::vector<std::unique_ptr<Fn>> fns_;
  uint16_t post_stage_ = 0xC000;
  bool post_error_ = false;
  unsigned post_reads_left_ = 0;
  uint32_t ue_lo_ = 0, ue_hi_ = 0;
  uint32_t pivard_status_ = 0x00800000;
  uint32_t soft_reset_reg_ = 0;
  uint32_t ue_inject_138_ = 0;
  bool in_ue_ = false;
  bool pivard_sticky_error_ = false;   // the error outlives a reset
  std::function<uint64_t()> clock_;
  uint64_t ready_after_reset_ms_ = 0;
  uint64_t ready_at_ms_ = 0;           // not ready before this (clock time)
  bool dump_timed_ = false;
  uint64_t dump_busy_ms_ = 0;
  uint64_t dump_until_ms_ = 0;         // bit 30 set before this (clock time)
  bool dump_forever_ = false;
  uint64_t clockMs() const { return clock_ ? clock_() : 0; }
  bool bootingAfterReset() const { return ready_at_ms_ != 0 && clockMs() < ready_at_ms_; }
  void armReadyDelay();
  std::function<void(unsigned)> held_hook_;
  void notifyHeld(unsigned fn);

  // Data path, device lock held. A frame for another adapter waits in the
  // outbox until this adapter's lock is released (two adapters sending to
  // each other must not take each other's lock while holding their own).
  struct Port {
    std::vector<std::vector<uint8_t>> capture;
    std::vector<std::vector<uint8_t>> bmc;   // management controller sink
    Adapter* peer = nullptr;
    unsigned peer_port = 0;
    PortCounters ctr;
  };
  struct Outgoing {
    Adapter* to;
    unsigned port;
    std::vector<uint8_t> bytes;
  };
  std::vector<Port> ports_;
  std::vector<Outgoing> outbox_;
  unsigned delivering_ = 0;   // outbox batches taken out and not yet delivered
  // The frames a function's transmit entries described, after offloads, go
  // out on its port (dp_tx.cpp).
  void transmitFrame(unsigned fn, const uint32_t hdr[4], const std::vector<uint8_t>& gathered);
  void putOnWire(unsigned port, std::vector<uint8_t> frame);
  void putToBmc(unsigned port, std::vector<uint8_t> frame);
  void arriveLocked(unsigned port, const std::vector<uint8_t>& frame);   // dp_rx.cpp
  // Receive steering inside one function (dp_rx.cpp): the interface a frame
  // goes to and, when a filter names it, the ring.
  struct Steer {
    const InterfaceObj* to = nullptr;
    QueueObj* ring = nullptr;
  };
  Steer steer(unsigned fn, const std::vector<uint8_t>& in, const dp::Layout& l, const InterfaceObj* def, bool group);
  bool deliverRxLocked(unsigned fn, uint32_t rxq_id, const std::vector<uint8_t>& frame, const RxMeta& m);
  void bumpPortStat(unsigned port, Stat s);
  bool macAcceptsLocked(unsigned port, const std::vector<uint8_t>& frame);   // dp_rx.cpp
  void bumpRingNoDma(unsigned fn, uint32_t rxq_id);
  // Delivers what the outbox holds; called with `lk` (this adapter's lock)
  // held, releases it meanwhile.
  void flushOutbox(std::unique_lock<std::mutex>& lk);
  unsigned dumps_ = 0;

  // The device thread of the async mode. A doorbell waits in its ring's queue
  // (key: function, register, ring id) until it is due.
  struct Work {
    unsigned fn;
    uint32_t off;
    uint64_t value;
    std::chrono::steady_clock::time_point due;
  };
  std::map<uint64_t, std::deque<Work>> pending_;
  std::condition_variable work_cv_, idle_cv_;
  std::thread device_;
  bool stop_ = false;
  std::mt19937_64 rng_;
  void defer(unsigned fn, uint32_t off, uint64_t value, uint64_t ring);
  void dropPending(int fn);   // -1: every function
  void deviceLoop();

  unsigned functionCountCfg() const;
  void chipSoftReset();
  void pivardPortReset(unsigned fn);
  void enterUe(uint32_t lo, uint32_t hi, uint16_t code);
  void takeDump();
  uint32_t readPostStage();
  uint32_t readPivardStatus();
};

}  // namespace adapter
