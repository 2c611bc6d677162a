// A real iSCSI target inside the test root: tgt's daemon (tgtd) listening on
// a dummy interface of the root's own network namespace, configured with
// tgtadm. The emulated adapter's iSCSI firmware logs in to it (libiscsi).
//
// Usage (a test inside the test root):
//   testroot::IscsiTarget tgt;
//   std::string why;
//   ASSERT_TRUE(tgt.start(&why)) << why;        // interface, address, daemon
//   int tid = tgt.addTarget("iqn.2026-01.emu.tgt:disk1");
//   tgt.addLun(tid, 1, {.blocks = 2048, .pattern = 0xA5});
//   tgt.addAccount("ini", "inisecret123");      // CHAP accounts
//   tgt.bindAccount(tid, "ini");                // one-way CHAP
//   tgt.addAccount("tgt", "tgtsecret123");
//   tgt.bindAccount(tid, "tgt", true);          // the target's own: mutual CHAP
//   ... log in to testroot::IscsiTarget::kAddress:3260 ...
//   tgt.lunBytes(tid, 1, 0, 512);               // what the LUN's file holds
//   tgt.stop();                                 // also at destruction
//
// Where it lives:
//   - A dummy interface "tgt0" with 192.0.2.1/24 (a documentation range): the
//     library refuses loopback portals. It exists only in the root's network
//     namespace, so no traffic leaves it. A kernel without dummy interfaces
//     gets an empty bridge of that name instead (no ports: the same thing).
//   - The daemon runs in the foreground (-f) as a child of the test process
//     and is stopped by its process id: tgtd ignores SIGTERM, so its targets
//     and then its system are deleted through tgtadm (it ends then), and it
//     is reaped by its pid; SIGKILL only when it has not ended within 10 s. Its control socket is under /run/tgtd,
//     which is the root's own (the overlay's copy), as are the LUN files and the daemon's log under a folder of /tmp
//     (the root's own tmpfs).
//   - LUN files are sparse: the first `pattern_blocks` 512-byte blocks hold
//     the pattern byte, the rest reads zero.
// Outside the test root start() refuses and touches nothing.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testroot {

class IscsiTarget {
 public:
  static constexpr const char* kInterface = "tgt0";
  static constexpr const char* kMac = "02:1c:4e:ff:00:01";
  static constexpr const char* kAddress = "192.0.2.1";
  static constexpr unsigned kPrefix = 24;
  static constexpr uint16_t kPort = 3260;

  struct LunSpec {
    uint64_t blocks = 2048;  // of 512 bytes
    uint8_t pattern = 0xA5;
    uint64_t pattern_blocks = 64;  // blocks written with the pattern (the rest is a hole)
    std::string vendor;            // INQUIRY vendor (empty: tgt's "IET")
    std::string product;           // INQUIRY product (empty: tgt's "VIRTUAL-DISK")
    std::string serial;            // unit serial number (empty: tgt's own)
  };

  IscsiTarget() = default;
  ~IscsiTarget();
  IscsiTarget(const IscsiTarget&) = delete;
  IscsiTarget& operator=(const IscsiTarget&) = delete;

  // Brings up the interface (once per namespace) and starts the daemon;
  // waits (bounded) until it answers tgtadm. False with the reason.
  bool start(std::string* why = nullptr, uint16_t port = kPort);
  // Stops the daemon by its process id; idempotent.
  void stop();
  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  uint16_t port() const { return port_; }

  // A target bound to every initiator; returns its tid (> 0), or 0.
  int addTarget(const std::string& iqn);
  bool deleteTarget(int tid);
  // A disk LUN backed by a new sparse file.
  bool addLun(int tid, unsigned lun, const LunSpec& spec);
  bool addLun(int tid, unsigned lun) { return addLun(tid, lun, LunSpec{}); }
  // CHAP accounts: an incoming one makes the target demand CHAP; an outgoing
  // one (the target's own name and secret) is what mutual CHAP checks.
  bool addAccount(const std::string& user, const std::string& password);
  bool bindAccount(int tid, const std::string& user, bool outgoing = false);
  bool unbindAccount(int tid, const std::string& user, bool outgoing = false);
  // Drops every connection of the target (the target ends its sessions).
  bool dropSessions(int tid);

  // The LUN's backing file and its bytes.
  std::string lunPath(int tid, unsigned lun) const;
  std::vector<uint8_t> lunBytes(int tid, unsigned lun, uint64_t offset, size_t n) const;
  // tgtadm's "show target" text (for diagnostics).
  std::string show() const;
  // The daemon's own log.
  std::string log() const;

  // tgtadm with these arguments (after --lld iscsi); its exit status, stdout in *out.
  int admin(const std::vector<std::string>& args, std::string* out = nullptr) const;

 private:
  std::string dir_;
  pid_t pid_ = -1;
  uint16_t port_ = kPort;
};

// Runs a program (argv[0] searched in PATH) and waits; exit status (-1 when
// it could not run); its standard output in *out when given.
int runProgram(const std::vector<std::string>& argv, std::string* out = nullptr);

}  // namespace testroot
