// The iSCSI firmware's initiator (fw_iscsi.h has the formats and decisions).
// Logins, logouts and SCSI commands go to the real target through libiscsi;
// everything else is this firmware's own bookkeeping.
#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>

#include "fw_engine.h"
#include "fw_library.h"
#include "fw_profile.h"
#include "iscsi/fw_iscsi.h"
#include "iscsi/fw_iscsi_net.h"
#include "wire.h"

namespace adapter {

namespace {

using wire::get16;
using wire::get32;

constexpr uint8_t kSub = 6, kSubNet = 2, kSubCommon = 1;

// Login record (target_params) offsets.
constexpr size_t kRecBytes = 1420;
constexpr size_t kRecName = 0, kRecKind = 227, kRecAddr = 228, kRecTcpPort = 248, kRecFlags = 508, kRecEto = 520,
                 kRecQualifier = 524, kRecBlock = 528, kRecInitiator = 1128;
constexpr size_t kNameBytes = 224;
// Login parameter block offsets.
constexpr size_t kBlockBytes = 600;
constexpr size_t kBlkHeaderDigest = 21, kBlkDataDigest = 22, kBlkChap = 40, kBlkMutual = 44, kBlkIniName = 48,
                 kBlkIniSecret = 304, kBlkTgtName = 320, kBlkTgtSecret = 576, kBlkLengths = 592;
constexpr uint32_t kLoginDiscovery = 0x10;  // login flag bit 4: a SendTargets discovery session
constexpr uint32_t kLoginBoot = 0x100;
// Delete record offsets.
constexpr size_t kDelBytes = 480, kDelQualifier = 252;
// Session record.
constexpr size_t kSessBytes = 1164, kSessConn = 492;
// Session configuration.
constexpr size_t kConfBytes = 276, kConfSetBytes = 280;
// Pass-through.
constexpr size_t kPtData = 292;
// Target record.
constexpr size_t kTgtQueryBytes = 816, kTgtGroups = 264, kTgtGroupBytes = 552;
// Objects.
constexpr size_t kObjName = 8, kObjNameBytes = 104, kObjData = 8, kObjWriteData = 112;
constexpr const char* kObjPrefix = "/iscsidata/";
constexpr size_t kDiscoveryBytes = 888;

constexpr uint32_t kFirstSession = 0x5E000001u, kFirstConnection = 0xC0000001u;

struct Key {
  std::string name;  // lower case
  uint8_t kind = 1;
  std::array<uint8_t, 16> addr{};
  uint16_t port = 0;
  uint16_t qualifier = 0;
  bool operator==(const Key&) const = default;
};

struct Session {
  uint32_t handle = 0, conn_handle = 0;
  unsigned fn = 0;
  std::vector<uint8_t> record;  // the login record as sent
  Key key;
  std::string target, initiator;
  IscsiPortal portal;
  uint32_t state = kSessOpen;
  uint32_t boot_flags = 0;
  uint32_t eto = 0;
  bool discovery = false;
  bool hdr = false, data = false, chap = false, mutual = false;
  uint16_t src_port = 0;
  iscsi_context* ctx = nullptr;
  bool scripted = false;
  std::vector<ScriptedLun> luns;
  // Knobs.
  uint32_t forced_state = 0;
  bool redirected = false;
  IscsiPortal redirect;
};

struct Discovered {
  std::string name;
  IscsiPortal portal;
};

struct FnIscsi {
  std::map<uint32_t, Session> sessions;
  std::deque<IscsiStatus> outcomes;
  DataDigestMode data_digest = DataDigestMode::Refused;
  std::vector<Discovered> discovered;
  std::set<size_t> failed_entries;  // indexes of stored entries whose login failed
};

struct State {
  std::map<unsigned, FnIscsi> fns;
  uint32_t next_session = kFirstSession, next_conn = kFirstConnection;
  std::map<std::string, uint32_t> target_ids;  // lower-case name -> id
  uint32_t next_target_id = 1;
  uint32_t default_eto = 30;
  bool default_eto_set = false;
  int login_timeout = 5;
  std::set<IscsiMalformed> malformed;
  std::map<std::string, std::vector<uint8_t>> pending_writes;
  Handler prev_read = nullptr, prev_write = nullptr, prev_attrs = nullptr;
};

std::mutex states_mu;
std::map<const Engine*, State>& states() {
  static std::map<const Engine*, State> s;
  return s;
}
State& st(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  return states()[&fw];
}

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::string textAt(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

bool malformed(Engine& fw, IscsiMalformed m) { return st(fw).malformed.count(m) != 0; }

Key keyOfRecord(const uint8_t* r) {
  Key k;
  k.name = lower(textAt(r + kRecName, kNameBytes));
  k.kind = r[kRecKind] == 16 ? 16 : 1;
  std::copy_n(r + kRecAddr, k.kind == 16 ? 16 : 4, k.addr.begin());
  k.port = get16(r, kRecTcpPort);
  k.qualifier = get16(r, kRecQualifier);
  return k;
}

IscsiPortal portalOf(const Key& k) {
  IscsiPortal p;
  p.kind = k.kind;
  p.address = k.addr;
  p.port = k.port;
  return p;
}

std::string portalText(const IscsiPortal& p) {
  char buf[96];
  if (p.kind == 16) {
    std::string a = "[";
    for (int i = 0; i < 16; i += 2) {
      std::snprintf(buf, sizeof buf, "%s%x", i == 0 ? "" : ":", (p.address[i] << 8) | p.address[i + 1]);
      a += buf;
    }
    std::snprintf(buf, sizeof buf, "]:%u", p.port);
    return a + buf;
  }
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u:%u", p.address[0], p.address[1], p.address[2], p.address[3], p.port);
  return buf;
}

IscsiStore::Function& stored(Engine& fw, unsigned fn) { return fw.profiles().iscsi.fns[fn]; }

bool hasStoredEntry(Engine& fw, unsigned fn, const Key& k) {
  for (const IscsiStore::Entry& e : stored(fw, fn).entries)
    if (e.record.size() >= kRecBytes && keyOfRecord(e.record.data()) == k) return true;
  return false;
}

uint32_t targetId(State& s, const std::string& name) {
  std::string k = lower(name);
  auto it = s.target_ids.find(k);
  if (it != s.target_ids.end()) return it->second;
  uint32_t id = s.next_target_id++;
  s.target_ids[k] = id;
  return id;
}

void endConnection(Session& ss, bool logout) {
  if (ss.ctx == nullptr) return;
  if (logout) iscsi_logout_sync(ss.ctx);
  iscsi_destroy_context(ss.ctx);
  ss.ctx = nullptr;
}

// The target ended the connection: noticed by a look at the socket.
void probe(Session& ss) {
  if (ss.ctx == nullptr || (ss.state & kSessOpen) == 0) return;
  int fd = iscsi_get_fd(ss.ctx);
  bool dropped = fd < 0;
  if (!dropped) {
    struct pollfd pfd = {fd, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (poll(&pfd, 1, 0) > 0) {
      if ((pfd.revents & (POLLHUP | POLLERR | POLLRDHUP | POLLNVAL)) != 0)
        dropped = true;
      else if ((pfd.revents & POLLIN) != 0)
        dropped = iscsi_service(ss.ctx, POLLIN) < 0 || iscsi_get_fd(ss.ctx) < 0;
    }
  }
  if (!dropped) return;
  endConnection(ss, false);
  ss.state = kSessClosed;
}

// The libiscsi error text names the login status the target answered.
IscsiStatus statusOfLoginError(const std::string& err) {
  auto has = [&](const char* t) { return err.find(t) != std::string::npos; };
  if (has("(513)") || has("(514)") || has("uthentication") || has("CHAP") || has("chap")) return kIscsiAuthFailed;
  if (has("(515)") || has("(516)") || has("ot found") || has("emoved")) return kIscsiTargetNotFound;
  return kIscsiLoginFailed;
}

// libiscsi's text does not tell a refused connection from a silent peer:
// one plain connection attempt does.
IscsiStatus statusOfConnectFailure(const IscsiPortal& p, int timeout_s) {
  sockaddr_storage sa{};
  socklen_t len = 0;
  if (p.kind == 16) {
    auto* a = reinterpret_cast<sockaddr_in6*>(&sa);
    a->sin6_family = AF_INET6;
    a->sin6_port = htons(p.port);
    std::memcpy(&a->sin6_addr, p.address.data(), 16);
    len = sizeof *a;
  } else {
    auto* a = reinterpret_cast<sockaddr_in*>(&sa);
    a->sin_family = AF_INET;
    a->sin_port = htons(p.port);
    std::memcpy(&a->sin_addr, p.address.data(), 4);
    len = sizeof *a;
  }
  int fd = socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return kIscsiUnreachable;
  int err = 0;
  if (connect(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      struct pollfd pfd = {fd, POLLOUT, 0};
      err = ETIMEDOUT;
      if (poll(&pfd, 1, timeout_s * 1000) > 0) {
        socklen_t el = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el);
      }
    }
  }
  close(fd);
  return err == ECONNREFUSED ? kIscsiConnRefused : kIscsiUnreachable;
}

std::string blockText(const uint8_t* block, size_t at, size_t field, size_t len_at) {
  size_t len = std::min<size_t>(get16(block, len_at), field);
  std::string s(reinterpret_cast<const char*>(block + at), len);
  size_t nul = s.find('\0');
  return nul == std::string::npos ? s : s.substr(0, nul);
}

// One real login; on success the session's context is connected.
IscsiStatus loginForReal(Engine& fw, Session& ss) {
  State& s = st(fw);
  const uint8_t* block = ss.record.data() + kRecBlock;
  iscsi_context* ctx = iscsi_create_context(ss.initiator.empty() ? "iqn.2026-01.emu:initiator" : ss.initiator.c_str());
  if (ctx == nullptr) return kIscsiLoginFailed;
  iscsi_set_noautoreconnect(ctx, 1);
  iscsi_set_timeout(ctx, s.login_timeout);
  iscsi_set_session_type(ctx, ss.discovery ? ISCSI_SESSION_DISCOVERY : ISCSI_SESSION_NORMAL);
  if (!ss.discovery) iscsi_set_targetname(ctx, ss.target.c_str());
  iscsi_set_isid_random(ctx, 0x1C4E00, ss.key.qualifier);
  iscsi_set_header_digest(ctx, ss.hdr ? ISCSI_HEADER_DIGEST_CRC32C : ISCSI_HEADER_DIGEST_NONE);
  if (ss.chap) {
    std::string name = blockText(block, kBlkIniName, 256, kBlkLengths);
    std::string secret = blockText(block, kBlkIniSecret, 16, kBlkLengths + 2);
    iscsi_set_initiator_username_pwd(ctx, name.c_str(), secret.c_str());
    if (ss.mutual) {
      std::string tname = blockText(block, kBlkTgtName, 256, kBlkLengths + 4);
      std::string tsecret = blockText(block, kBlkTgtSecret, 16, kBlkLengths + 6);
      iscsi_set_target_username_pwd(ctx, tname.c_str(), tsecret.c_str());
    }
  }
  std::string portal = portalText(ss.portal);
  if (iscsi_connect_sync(ctx, portal.c_str()) != 0) {
    IscsiStatus r = statusOfConnectFailure(ss.portal, s.login_timeout);
    iscsi_destroy_context(ctx);
    return r;
  }
  if (iscsi_login_sync(ctx) != 0) {
    IscsiStatus r = statusOfLoginError(iscsi_get_error(ctx));
    iscsi_destroy_context(ctx);
    return r;
  }
  ss.ctx = ctx;
  struct sockaddr_storage local {};
  socklen_t len = sizeof local;
  int fd = iscsi_get_fd(ctx);
  if (fd >= 0 && getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
    if (local.ss_family == AF_INET)
      ss.src_port = ntohs(reinterpret_cast<sockaddr_in*>(&local)->sin_port);
    else if (local.ss_family == AF_INET6)
      ss.src_port = ntohs(reinterpret_cast<sockaddr_in6*>(&local)->sin6_port);
  }
  return kIscsiOk;
}

bool portHasIpv4(Engine& fw, unsigned fn) {
  for (const IscsiAddressEntry& e : iscsiNet(fw, fn).addresses)
    if (e.kind == kIscsiKindIpv4 && (e.address[0] | e.address[1] | e.address[2] | e.address[3]) != 0) return true;
  return false;
}

// A new session from a login record: logs in and, on success, adds it.
IscsiStatus openSession(Engine& fw, unsigned fn, const std::vector<uint8_t>& record, uint32_t boot_flags,
                        uint32_t* handle_out) {
  State& s = st(fw);
  FnIscsi& f = s.fns[fn];
  if (!portHasIpv4(fw, fn)) return kIscsiNoAddress;
  Session ss;
  ss.fn = fn;
  ss.record = record;
  ss.record.resize(kRecBytes, 0);
  const uint8_t* r = ss.record.data();
  const uint8_t* block = r + kRecBlock;
  ss.key = keyOfRecord(r);
  ss.target = textAt(r + kRecName, kNameBytes);
  ss.initiator = textAt(r + kRecInitiator, kNameBytes);
  ss.portal = portalOf(ss.key);
  ss.discovery = (get32(r, kRecFlags) & kLoginDiscovery) != 0;
  ss.hdr = block[kBlkHeaderDigest] == 1;
  ss.data = block[kBlkDataDigest] == 1;
  ss.chap = block[kBlkChap] == 1;
  ss.mutual = ss.chap && get32(block, kBlkMutual) == 1;
  ss.boot_flags = boot_flags | ((get32(r, kRecFlags) & kLoginBoot) != 0 ? kSessFlagBoot : 0);
  uint32_t eto = get32(r, kRecEto);
  ss.eto = eto == 0xFFFFFFFFu ? s.default_eto : eto;
  // The same key: an open session is refused, a closed one makes way.
  for (auto it = f.sessions.begin(); it != f.sessions.end(); ++it) {
    if (it->second.discovery != ss.discovery || !(it->second.key == ss.key)) continue;
    probe(it->second);
    if ((it->second.state & kSessOpen) != 0) return kIscsiSessionExists;
    endConnection(it->second, false);
    f.sessions.erase(it);
    break;
  }
  if (f.sessions.size() >= kMaxSessionsPerFunction) return kIscsiTooManySessions;
  if (ss.data && f.data_digest == DataDigestMode::Refused) return kIscsiDataDigest;
  IscsiStatus r2 = loginForReal(fw, ss);
  if (r2.status != 0) return r2;
  ss.handle = s.next_session++;
  ss.conn_handle = s.next_conn++;
  ss.state = kSessOpen;
  targetId(s, ss.target);
  if (handle_out != nullptr) *handle_out = ss.handle;
  f.sessions[ss.handle] = std::move(ss);
  return kIscsiOk;
}

// Stored entries without a session are logged in (not those whose last
// attempt failed).
void loginStoredEntries(Engine& fw, unsigned fn) {
  State& s = st(fw);
  FnIscsi& f = s.fns[fn];
  for (auto& [h, ss] : f.sessions) probe(ss);
  const std::vector<IscsiStore::Entry> entries = stored(fw, fn).entries;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].record.size() < kRecBytes || f.failed_entries.count(i) != 0) continue;
    Key k = keyOfRecord(entries[i].record.data());
    bool open = false;
    for (const auto& [h, ss] : f.sessions)
      if (!ss.discovery && ss.key == k && (ss.state & kSessOpen) != 0) open = true;
    if (open) continue;
    // Without an address, or at the session limit, nothing was tried: the
    // entry waits for the next list.
    IscsiStatus r = openSession(fw, fn, entries[i].record, entries[i].boot_flags, nullptr);
    if (r.status == kIscsiNoAddress.status || r.status == kIscsiTooManySessions.status) continue;
    if (r.status != 0) f.failed_entries.insert(i);
  }
}

Session* findSession(Engine& fw, unsigned fn, uint32_t handle) {
  FnIscsi& f = st(fw).fns[fn];
  auto it = f.sessions.find(handle);
  return it == f.sessions.end() ? nullptr : &it->second;
}

uint32_t sessionFlags(Engine& fw, const Session& ss) {
  uint32_t flags = ss.boot_flags;
  if (ss.discovery || !hasStoredEntry(fw, ss.fn, ss.key)) flags |= kSessFlagNotPersistent;
  return flags;
}

// The connection's login values: the block from byte 20, with the digests
// and CHAP as used.
void writeConnectionValues(Cmd& c, size_t at, const Session& ss) {
  const uint8_t* block = ss.record.data() + kRecBlock;
  c.wbytes(at, block + 20, kBlockBytes - 20);
  c.w8(at + 1, ss.hdr ? 1 : 0);
  c.w8(at + 2, ss.data ? 1 : 0);
  c.w8(at + 20, ss.chap ? 1 : 0);
  c.w32(at + 24, ss.mutual ? 1 : 0);
}

// ---- 23/6 login, 24/6 logout ----

void hLogin(Engine& fw, Cmd& c) {
  if (c.req_len < kRecBytes) return c.fail(kStatusIllegalField);
  FnIscsi& f = st(fw).fns[c.fn];
  std::vector<uint8_t> record(c.in, c.in + kRecBytes);
  if (!f.outcomes.empty()) {
    IscsiStatus o = f.outcomes.front();
    f.outcomes.pop_front();
    if (o.status != 0) return c.fail(o.status, o.additional);
  }
  uint32_t handle = 0;
  IscsiStatus r = openSession(fw, c.fn, record, 0, &handle);
  if (r.status != 0) return c.fail(r.status, r.additional);
  const Session& ss = *findSession(fw, c.fn, handle);
  c.respond(c.req_len);
  c.wbytes(0, record.data(), record.size());
  c.w32(0, ss.handle);
  c.w8(4, 1);  // opened
  c.w8(5, 0);
  c.w16(6, 0);
  c.w32(8, ss.conn_handle);
  c.w32(12, 0);
  c.wbytes(16, ss.record.data() + kRecBlock, 20);
  writeConnectionValues(c, 36, ss);
}

void hLogout(Engine& fw, Cmd& c) {
  uint32_t handle = c.r32(0);
  FnIscsi& f = st(fw).fns[c.fn];
  auto it = f.sessions.find(handle);
  // A session that is not there is as good as logged out.
  if (it == f.sessions.end()) return c.fail(31);
  endConnection(it->second, true);
  f.sessions.erase(it);
  c.respond(c.req_len);
}

// ---- 27/6, 28/6 persistent targets ----

void hAddPersistent(Engine& fw, Cmd& c) {
  if (c.req_len < kRecBytes) return c.fail(kStatusIllegalField);
  std::vector<uint8_t> record(c.in, c.in + kRecBytes);
  Key k = keyOfRecord(record.data());
  IscsiStore::Function& sf = stored(fw, c.fn);
  FnIscsi& f = st(fw).fns[c.fn];
  uint32_t boot = (get32(record.data(), kRecFlags) & kLoginBoot) != 0 ? kSessFlagBoot : 0;
  bool replaced = false;
  for (size_t i = 0; i < sf.entries.size(); ++i) {
    if (keyOfRecord(sf.entries[i].record.data()) == k) {
      sf.entries[i] = {record, boot};
      f.failed_entries.erase(i);
      replaced = true;
    }
  }
  if (!replaced) sf.entries.push_back({record, boot});
  // A session of that key is now persistent, and boots when the entry says so.
  for (auto& [h, ss] : f.sessions)
    if (!ss.discovery && ss.key == k && boot != 0) ss.boot_flags |= boot;
  fw.flashChanged();
  c.respond(c.req_len);
}

void hDelPersistent(Engine& fw, Cmd& c) {
  if (c.req_len < kDelBytes) return c.fail(kStatusIllegalField);
  Key k;
  k.name = lower(textAt(c.in + kRecName, kNameBytes));
  k.kind = c.in[kRecKind] == 16 ? 16 : 1;
  std::copy_n(c.in + kRecAddr, k.kind == 16 ? 16 : 4, k.addr.begin());
  k.port = get16(c.in, kRecTcpPort);
  k.qualifier = static_cast<uint16_t>(get32(c.in, kDelQualifier));
  IscsiStore::Function& sf = stored(fw, c.fn);
  FnIscsi& f = st(fw).fns[c.fn];
  size_t before = sf.entries.size();
  std::vector<IscsiStore::Entry> kept;
  for (IscsiStore::Entry& e : sf.entries)
    if (!(keyOfRecord(e.record.data()) == k)) kept.push_back(std::move(e));
  sf.entries = std::move(kept);
  // Nothing stored under that key: the firmware has nothing to delete.
  if (sf.entries.size() == before) return c.fail(31);
  f.failed_entries.clear();
  fw.flashChanged();
  c.respond(c.req_len);
}

// ---- 14/6 one session, 29/6 the active list ----

void hSession(Engine& fw, Cmd& c) {
  uint32_t handle = c.r32(0);
  Session* ss = findSession(fw, c.fn, handle);
  if (ss == nullptr) return c.fail(kIscsiNoSession.status, kIscsiNoSession.additional);
  probe(*ss);
  c.respond(kSessBytes);
  c.w32(0, ss->handle);
  c.w32(4, ss->forced_state != 0 ? ss->forced_state : ss->state);
  const uint8_t isid[6] = {
      0x80, 0x1C, 0x4E, 0x00, static_cast<uint8_t>(ss->key.qualifier >> 8), static_cast<uint8_t>(ss->key.qualifier)};
  c.wbytes(8, isid, 6);
  c.w16(14, static_cast<uint16_t>(ss->handle));
  c.w32(16, sessionFlags(fw, *ss));
  c.w16(20, malformed(fw, IscsiMalformed::SessionConnectionCount) ? 0xFFFF : 1);
  c.wtext(24, ss->target, kNameBytes);
  c.wtext(248, ss->initiator, kNameBytes);
  c.wbytes(472, ss->record.data() + kRecBlock, 20);
  size_t e = kSessConn;
  c.w32(e + 0, ss->conn_handle);
  bool logged_in = (ss->state & kSessOpen) != 0;
  c.w32(e + 4, (logged_in ? 1u : 0u) | (ss->redirected ? 4u : 0u));
  c.w16(e + 8, ss->src_port);
  c.w16(e + 10, ss->portal.port);
  c.w16(e + 14, 0);
  // The source address shown is the port's configured one.
  for (const IscsiAddressEntry& a : iscsiNet(fw, c.fn).addresses) {
    if ((a.kind == kIscsiKindIpv4) != (ss->portal.kind == 1)) continue;
    c.w8(e + 23, ss->portal.kind);
    c.wbytes(e + 24, a.address.data(), ss->portal.kind == 1 ? 4 : 16);
    break;
  }
  c.w8(e + 47, ss->portal.kind);
  c.wbytes(e + 48, ss->portal.address.data(), 16);
  if (ss->redirected) {
    c.w16(e + 12, ss->redirect.port);
    c.w8(e + 71, ss->redirect.kind);
    c.wbytes(e + 72, ss->redirect.address.data(), 16);
  }
  writeConnectionValues(c, e + 92, *ss);
  librarySizeReply(fw, c.req_len, static_cast<uint32_t>(kSessBytes));
}

void hActiveSessions(Engine& fw, Cmd& c) {
  loginStoredEntries(fw, c.fn);
  FnIscsi& f = st(fw).fns[c.fn];
  uint32_t n = static_cast<uint32_t>(f.sessions.size());
  uint32_t needed = 8 + 4 * n;
  c.respond(c.req_len);
  uint32_t room = c.req_len >= 8 ? (c.req_len - 8) / 4 : 0;
  uint32_t i = 0;
  for (const auto& [h, ss] : f.sessions) {
    if (i == room) break;
    c.w32(8 + 4 * size_t(i++), h);
  }
  c.w32(0, malformed(fw, IscsiMalformed::ActiveSessionCount) ? room + 1000 : n);
  c.w32(4, 0);
  librarySizeReply(fw, c.req_len, std::max<uint32_t>(needed, 12));
}

// ---- 30/6 target ids, 32/6 one target ----

struct TargetInfo {
  std::string name;
  std::vector<IscsiPortal> portals;
};

std::vector<TargetInfo> targetList(Engine& fw, unsigned fn, uint32_t kind) {
  std::vector<TargetInfo> out;
  auto add = [&](const std::string& name, const IscsiPortal& p) {
    for (TargetInfo& t : out) {
      if (lower(t.name) != lower(name)) continue;
      if (std::find(t.portals.begin(), t.portals.end(), p) == t.portals.end()) t.portals.push_back(p);
      return;
    }
    out.push_back({name, {p}});
  };
  FnIscsi& f = st(fw).fns[fn];
  if (kind == 1) {
    for (const Discovered& d : f.discovered) add(d.name, d.portal);
    return out;
  }
  for (const IscsiStore::Entry& e : stored(fw, fn).entries) {
    if (e.record.size() < kRecBytes) continue;
    add(textAt(e.record.data() + kRecName, kNameBytes), portalOf(keyOfRecord(e.record.data())));
  }
  for (const auto& [h, ss] : f.sessions)
    if (!ss.discovery && (ss.state & kSessOpen) != 0) add(ss.target, ss.portal);
  return out;
}

void hTargetIds(Engine& fw, Cmd& c) {
  State& s = st(fw);
  std::vector<TargetInfo> list = targetList(fw, c.fn, c.r32(0));
  uint32_t n = static_cast<uint32_t>(list.size());
  c.respond(c.req_len);
  uint32_t room = c.req_len >= 4 ? (c.req_len - 4) / 8 : 0;
  for (uint32_t i = 0; i < n && i < room; ++i) c.w32(4 + 8 * size_t(i), targetId(s, list[i].name));
  c.w32(0, malformed(fw, IscsiMalformed::TargetIdCount) ? room + 1000 : n);
  librarySizeReply(fw, c.req_len, std::max<uint32_t>(4 + 8 * n, 12));
}

void hTarget(Engine& fw, Cmd& c) {
  State& s = st(fw);
  uint32_t id = c.r32(0);
  const TargetInfo* found = nullptr;
  std::vector<TargetInfo> all = targetList(fw, c.fn, 0);
  std::vector<TargetInfo> disc = targetList(fw, c.fn, 1);
  all.insert(all.end(), disc.begin(), disc.end());
  for (const TargetInfo& t : all)
    if (targetId(s, t.name) == id) {
      found = &t;
      break;
    }
  if (found == nullptr) return c.fail(kStatusIllegalField);
  uint32_t groups = static_cast<uint32_t>(found->portals.size());
  uint32_t needed = static_cast<uint32_t>(kTgtGroups + kTgtGroupBytes * groups);
  c.respond(c.req_len);
  c.w32(0, id);
  c.wtext(4, found->name, kNameBytes);
  c.w32(260, malformed(fw, IscsiMalformed::TargetPortalGroups) ? 0xFFFFFFFFu : groups);
  // Each portal in a group of its own: groups lie 552 bytes apart, and a
  // portal takes 548 of them.
  for (uint32_t g = 0; g < groups; ++g) {
    size_t at = kTgtGroups + kTgtGroupBytes * g;
    const IscsiPortal& p = found->portals[g];
    c.w16(at, static_cast<uint16_t>(g + 1));
    c.w16(at + 2, g == 0 && malformed(fw, IscsiMalformed::TargetPortalCount) ? 0xFFFF : 1);
    c.w8(at + 7, p.kind);
    c.wbytes(at + 8, p.address.data(), 16);
    c.w16(at + 28, p.port);
  }
  librarySizeReply(fw, c.req_len, std::max<uint32_t>(needed, static_cast<uint32_t>(kTgtQueryBytes)));
}

// ---- 16/6, 17/6 session configuration; 53/6 boot flag ----

void hSessionConf(Engine& fw, Cmd& c) {
  uint32_t handle = c.r32(0);
  Session* ss = findSession(fw, c.fn, handle);
  if (ss == nullptr) return c.fail(kIscsiNoSession.status, kIscsiNoSession.additional);
  State& s = st(fw);
  uint16_t index = 0;
  for (const auto& [h, other] : s.fns[c.fn].sessions) {
    if (h == handle) break;
    if (lower(other.target) == lower(ss->target)) ++index;
  }
  c.respond(std::max<size_t>(c.req_len, kConfBytes));
  c.w32(0, handle);
  c.w32(4, ss->eto);
  c.w8(8, 1);
  c.w32(12, 0);
  c.w32(256, targetId(s, ss->target));
  c.w16(268, index);
  librarySizeReply(fw, c.req_len, static_cast<uint32_t>(kConfBytes));
}

void hSetSessionConf(Engine& fw, Cmd& c) {
  if (c.req_len < kConfSetBytes || c.r32(4) != 1) return c.fail(kStatusIllegalField);
  Session* ss = findSession(fw, c.fn, c.r32(0));
  if (ss == nullptr) return c.fail(kIscsiNoSession.status, kIscsiNoSession.additional);
  ss->eto = c.r32(8);
  c.respond(0);
}

void hBootTarget(Engine& fw, Cmd& c) {
  Session* ss = findSession(fw, c.fn, c.r32(0));
  if (ss == nullptr) return c.fail(kIscsiNoSession.status, kIscsiNoSession.additional);
  ss->boot_flags = c.r32(4) & (kSessFlagBoot | kSessFlagBoot2);
  // A stored entry of the session keeps the flag over a reboot.
  bool changed = false;
  for (IscsiStore::Entry& e : stored(fw, c.fn).entries)
    if (keyOfRecord(e.record.data()) == ss->key && e.boot_flags != ss->boot_flags) {
      e.boot_flags = ss->boot_flags;
      changed = true;
    }
  if (changed) fw.flashChanged();
  c.respond(0);
}

// ---- 59/6 SCSI pass-through ----

size_t cdbLength(uint8_t op) {
  switch (op >> 5) {
    case 0: return 6;
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    default: return 16;
  }
}

void applyScsiMalformed(Engine& fw, Cmd& c, const uint8_t* cdb, uint32_t len) {
  if (cdb[0] == 0xA0 && malformed(fw, IscsiMalformed::ReportLunsLength) && len >= 4) {
    c.w8(kPtData, 0x00);
    c.w8(kPtData + 1, 0xFF);
    c.w8(kPtData + 2, 0xFF);
    c.w8(kPtData + 3, 0xF8);
  }
  if (cdb[0] == 0x12 && (cdb[1] & 1) != 0 && cdb[2] == 0x80 && malformed(fw, IscsiMalformed::SerialNumberLength) &&
      len >= 4)
    c.w8(kPtData + 3, 0xFF);
}

// The SCSI answers of a scripted session: status byte and data.
uint8_t scriptedScsi(const Session& ss, int lun, const uint8_t* cdb, uint8_t dir, std::vector<uint8_t>* data) {
  constexpr uint8_t kGood = 0, kCheck = 2;
  auto be = [&](size_t at, uint64_t v, int n) {
    for (int i = 0; i < n; ++i)
      if (at + size_t(i) < data->size()) (*data)[at + size_t(i)] = static_cast<uint8_t>(v >> (8 * (n - 1 - i)));
  };
  auto text = [&](size_t at, const std::string& t, size_t field) {
    for (size_t i = 0; i < field && at + i < data->size(); ++i) (*data)[at + i] = i < t.size() ? uint8_t(t[i]) : ' ';
  };
  if (cdb[0] == 0xA0) {  // REPORT LUNS
    be(0, 8 * uint64_t(ss.luns.size()), 4);
    for (size_t i = 0; i < ss.luns.size(); ++i) {
      uint16_t l = ss.luns[i].lun;
      be(8 + 8 * i, l < 256 ? l : (0x4000u | l), 2);
    }
    return kGood;
  }
  const ScriptedLun* lu = nullptr;
  for (const ScriptedLun& l : ss.luns)
    if (l.lun == lun) lu = &l;
  if (lu == nullptr) return kCheck;
  switch (cdb[0]) {
    case 0x00: return kGood;
    case 0x12:
      if ((cdb[1] & 1) != 0) {
        if (cdb[2] != 0x80) return kCheck;
        be(1, 0x80, 1);
        be(3, lu->serial.size(), 1);
        text(4, lu->serial, lu->serial.size());
        return kGood;
      }
      be(2, 5, 1);
      be(3, 2, 1);
      be(4, 31, 1);
      text(8, lu->vendor, 8);
      text(16, lu->product, 16);
      text(32, "0001", 4);
      return kGood;
    case 0x25:
      be(0, lu->blocks - 1 > 0xFFFFFFFFull ? 0xFFFFFFFFull : lu->blocks - 1, 4);
      be(4, lu->block_size, 4);
      return kGood;
    case 0x9E:
      if ((cdb[1] & 0x1F) != 0x10) return kCheck;
      be(0, lu->blocks - 1, 8);
      be(8, lu->block_size, 4);
      return kGood;
    case 0x28: return kGood;  // zeros
    case 0x2A: return dir == 2 ? kGood : kCheck;
    default: return kCheck;
  }
}

void hPassthrough(Engine& fw, Cmd& c) {
  if (c.req_len < kPtData) return c.fail(kStatusIllegalField);
  Session* ss = findSession(fw, c.fn, c.r32(0));
  if (ss == nullptr) return c.fail(kIscsiNoSession.status, kIscsiNoSession.additional);
  probe(*ss);
  if ((ss->state & kSessOpen) == 0 || (ss->ctx == nullptr && !ss->scripted))
    return c.fail(kIscsiNoSession.status, kIscsiNoSession.additional);
  uint8_t lun8[8];
  for (int i = 0; i < 8; ++i) lun8[i] = c.r8(4 + size_t(i));
  int lun = ((lun8[0] & 0x3F) << 8) | lun8[1];
  uint8_t dir = c.r8(12);
  uint8_t cdb[16];
  for (int i = 0; i < 16; ++i) cdb[i] = c.r8(16 + size_t(i));
  uint32_t len = c.r16(34);
  if (kPtData + len > c.req_len) return c.fail(kStatusIllegalField);
  if (ss->scripted) {
    std::vector<uint8_t> data(len, 0);
    uint8_t status = scriptedScsi(*ss, lun, cdb, dir, &data);
    c.respond(c.req_len);
    for (size_t i = 0; i < kPtData; ++i) c.w8(i, c.in[i]);
    c.w8(15, status);
    if (dir == 1 && status == 0) c.wbytes(kPtData, data.data(), data.size());
    applyScsiMalformed(fw, c, cdb, len);
    return;
  }
  int xfer = dir == 1 ? SCSI_XFER_READ : dir == 2 ? SCSI_XFER_WRITE : SCSI_XFER_NONE;
  scsi_task* task = scsi_create_task(static_cast<int>(cdbLength(cdb[0])), cdb, xfer, static_cast<int>(len));
  if (task == nullptr) return c.fail(kStatusFailed);
  std::vector<uint8_t> out(c.in + kPtData, c.in + kPtData + len);
  iscsi_data data = {len, out.data()};
  // A unit attention (the LUN's power-on or a change) is the firmware's own
  // business: the command is sent once more, as a new task.
  for (int attempt = 0;; ++attempt) {
    scsi_task* done = iscsi_scsi_command_sync(ss->ctx, lun, task, dir == 2 ? &data : nullptr);
    if (done == nullptr) {
      scsi_free_scsi_task(task);
      probe(*ss);
      return c.fail(kIscsiUnreachable.status, kIscsiUnreachable.additional);
    }
    if (attempt < 2 && task->status == SCSI_STATUS_CHECK_CONDITION && task->sense.key == SCSI_SENSE_UNIT_ATTENTION) {
      scsi_free_scsi_task(task);
      task = scsi_create_task(static_cast<int>(cdbLength(cdb[0])), cdb, xfer, static_cast<int>(len));
      if (task == nullptr) return c.fail(kStatusFailed);
      continue;
    }
    break;
  }
  c.respond(c.req_len);
  for (size_t i = 0; i < kPtData; ++i) c.w8(i, c.in[i]);
  c.w8(15, static_cast<uint8_t>(task->status));
  if (dir == 1 && task->status == SCSI_STATUS_GOOD) {
    size_t n = std::min<size_t>(len, task->datain.size > 0 ? static_cast<size_t>(task->datain.size) : 0);
    c.wbytes(kPtData, task->datain.data, n);
    applyScsiMalformed(fw, c, cdb, len);
  }
  scsi_free_scsi_task(task);
}

// ---- 28/2, 29/2 discovery parameters ----

void hGetDiscovery(Engine& fw, Cmd& c) {
  const std::vector<uint8_t>& b = stored(fw, c.fn).discovery;
  c.respond(c.req_len);
  c.wbytes(0, b.data(), std::min<size_t>(b.size(), c.req_len));
}

void hSetDiscovery(Engine& fw, Cmd& c) {
  if (c.req_len < kDiscoveryBytes) return c.fail(kStatusIllegalField);
  stored(fw, c.fn).discovery.assign(c.in, c.in + kDiscoveryBytes);
  fw.flashChanged();
  c.respond(c.req_len);
}

// ---- 1/171, 1/172 named objects; 1/32 default ETO ----

std::vector<uint8_t> factoryRegion(uint32_t region) {
  std::vector<uint8_t> b(20, 0);
  wire::put32(b.data(), 0, region);
  wire::put32(b.data(), 4, 4);
  wire::put32(b.data(), 8, 1);
  b[16] = 0xFF;
  b[17] = 1;
  return b;
}

// The object of that name, or the factory image of a boot region.
const std::vector<uint8_t>* objectOf(Engine& fw, const std::string& name, std::vector<uint8_t>* scratch) {
  std::map<std::string, std::vector<uint8_t>>& objs = fw.profiles().iscsi.objects;
  auto it = objs.find(name);
  if (it != objs.end()) return &it->second;
  unsigned port = 0, region = 0;
  int used = 0;
  if (std::sscanf(name.c_str(), "/iscsidata/Port%x/Instance0/Region%u%n", &port, &region, &used) == 2 &&
      static_cast<size_t>(used) == name.size() && port < fw.ports() && (region == 2 || region == 3)) {
    *scratch = factoryRegion(region);
    return scratch;
  }
  return nullptr;
}

void hReadObject(Engine& fw, Cmd& c) {
  std::string name;
  if (c.req_len < kObjName + kObjNameBytes) {
    State& s = st(fw);
    if (s.prev_read == nullptr) return c.fail(kStatusNotSupported);
    return s.prev_read(fw, c);
  }
  c.rtext(kObjName, kObjNameBytes, &name);
  if (name.rfind(kObjPrefix, 0) != 0) {
    State& s = st(fw);
    if (s.prev_read == nullptr) return c.fail(kStatusNotSupported);
    return s.prev_read(fw, c);
  }
  std::vector<uint8_t> scratch;
  const std::vector<uint8_t>* obj = objectOf(fw, name, &scratch);
  if (obj == nullptr) return c.fail(kStatusIllegalField, 0x31);
  std::vector<uint8_t> data = *obj;
  if (malformed(fw, IscsiMalformed::RegionLength) && data.size() >= 8)
    wire::put32(data.data(), 4, static_cast<uint32_t>(data.size()) + 100);
  uint32_t want = c.r32(0) & 0xFFFFFFu, off = c.r32(4);
  uint32_t size = static_cast<uint32_t>(data.size());
  uint32_t room = c.req_len > kObjData ? static_cast<uint32_t>(c.req_len - kObjData) : 0;
  uint32_t left = off >= size ? 0 : size - off;
  // Length 0 asks for the whole object (and its length).
  uint32_t n = std::min(want == 0 ? left : std::min(want, left), room);
  c.respond(c.req_len);
  c.w32(0, malformed(fw, IscsiMalformed::ObjectReadLength) ? 0xFFFFFFu : n);
  c.w32(4, off + n >= size ? 0x80000000u : 0);
  if (n > 0) c.wbytes(kObjData, data.data() + off, n);
}

void hWriteObject(Engine& fw, Cmd& c) {
  State& s = st(fw);
  std::string name;
  c.rtext(kObjName, kObjNameBytes, &name);
  if (c.req_len < kObjWriteData || name.rfind(kObjPrefix, 0) != 0) {
    if (s.prev_write == nullptr) return c.fail(kStatusNotSupported);
    return s.prev_write(fw, c);
  }
  uint32_t word = c.r32(0), off = c.r32(4);
  uint32_t len = word & 0xFFFFFFu;
  bool eof = (word & 0x80000000u) != 0;
  if (kObjWriteData + size_t(len) > c.in_len || off > (1u << 24)) return c.fail(kStatusIllegalField);
  std::vector<uint8_t>& pending = s.pending_writes[name];
  if (off == 0) pending.clear();
  if (pending.size() < size_t(off) + len) pending.resize(size_t(off) + len);
  std::copy_n(c.in + kObjWriteData, len, pending.begin() + off);
  bool changed = false;
  if (eof) {
    std::vector<uint8_t>& obj = fw.profiles().iscsi.objects[name];
    changed = obj != pending;
    obj = std::move(pending);
    s.pending_writes.erase(name);
    fw.flashChanged();
  }
  c.respond(8);
  c.w32(0, len);
  c.w8(4, changed ? 1 : 0);
}

void hAttributes(Engine& fw, Cmd& c) {
  State& s = st(fw);
  if (s.prev_attrs == nullptr) return c.fail(kStatusNotSupported);
  s.prev_attrs(fw, c);
  if (c.status == 0 && s.default_eto_set) c.w32(92, s.default_eto);
}

void resetState(Engine& fw, State& fresh) {
  std::lock_guard<std::mutex> g(states_mu);
  State& old = states()[&fw];
  for (auto& [fn, f] : old.fns)
    for (auto& [h, ss] : f.sessions) endConnection(ss, false);
  old = std::move(fresh);
}

}  // namespace

void registerIscsiHandlers(Engine& fw) {
  State fresh;
  Handler read = fw.handlerFor(kSubCommon, 171), write = fw.handlerFor(kSubCommon, 172),
          attrs = fw.handlerFor(kSubCommon, 32);
  {
    std::lock_guard<std::mutex> g(states_mu);
    const State& old = states()[&fw];
    // Registered again: the handlers in front of which these stand stay.
    fresh.prev_read = read != hReadObject ? read : old.prev_read;
    fresh.prev_write = write != hWriteObject ? write : old.prev_write;
    fresh.prev_attrs = attrs != hAttributes ? attrs : old.prev_attrs;
  }
  resetState(fw, fresh);
  fw.registerHandler(kSub, 23, hLogin);
  fw.registerHandler(kSub, 24, hLogout, 4);
  fw.registerHandler(kSub, 27, hAddPersistent);
  fw.registerHandler(kSub, 28, hDelPersistent);
  fw.registerHandler(kSub, 14, hSession, 4);
  fw.registerHandler(kSub, 29, hActiveSessions, 4);
  fw.registerHandler(kSub, 30, hTargetIds, 4);
  fw.registerHandler(kSub, 32, hTarget, 4);
  fw.registerHandler(kSub, 16, hSessionConf, 4);
  fw.registerHandler(kSub, 17, hSetSessionConf);
  fw.registerHandler(kSub, 53, hBootTarget, 8);
  fw.registerHandler(kSub, 59, hPassthrough);
  fw.registerHandler(kSubNet, 28, hGetDiscovery);
  fw.registerHandler(kSubNet, 29, hSetDiscovery);
  // The object and attribute commands keep the minimum of the handlers they stand in front of.
  fw.registerHandler(kSubCommon, 171, hReadObject, fw.minimumPayload(kSubCommon, 171));
  fw.registerHandler(kSubCommon, 172, hWriteObject, fw.minimumPayload(kSubCommon, 172));
  fw.registerHandler(kSubCommon, 32, hAttributes, fw.minimumPayload(kSubCommon, 32));
}

std::vector<IscsiSessionView> iscsiSessions(Engine& fw, unsigned fn) {
  std::vector<IscsiSessionView> out;
  for (auto& [h, ss] : st(fw).fns[fn].sessions) {
    probe(ss);
    IscsiSessionView v;
    v.handle = h;
    v.conn_handle = ss.conn_handle;
    v.target_name = ss.target;
    v.initiator_name = ss.initiator;
    v.portal = ss.portal;
    v.isid_qualifier = ss.key.qualifier;
    v.state = ss.forced_state != 0 ? ss.forced_state : ss.state;
    v.flags = sessionFlags(fw, ss);
    v.eto = ss.eto;
    v.header_digest = ss.hdr;
    v.data_digest = ss.data;
    v.chap = ss.chap;
    v.mutual_chap = ss.mutual;
    v.source_port = ss.src_port;
    out.push_back(v);
  }
  return out;
}

std::vector<std::vector<uint8_t>> iscsiPersistentEntries(Engine& fw, unsigned fn) {
  std::vector<std::vector<uint8_t>> out;
  for (const IscsiStore::Entry& e : stored(fw, fn).entries) out.push_back(e.record);
  return out;
}

void iscsiReboot(Engine& fw) {
  State& s = st(fw);
  std::vector<unsigned> fns;
  for (auto& [fn, f] : s.fns) {
    for (auto& [h, ss] : f.sessions) endConnection(ss, true);
    f.sessions.clear();
    f.failed_entries.clear();
    f.outcomes.clear();
  }
  s.pending_writes.clear();
  for (const auto& [fn, sf] : fw.profiles().iscsi.fns)
    if (!sf.entries.empty()) fns.push_back(fn);
  for (unsigned fn : fns) loginStoredEntries(fw, fn);
}

void iscsiRelease(Engine& fw) {
  std::lock_guard<std::mutex> g(states_mu);
  auto it = states().find(&fw);
  if (it == states().end()) return;
  for (auto& [fn, f] : it->second.fns)
    for (auto& [h, ss] : f.sessions) endConnection(ss, true);
  states().erase(it);
}

void queueLoginOutcome(Engine& fw, unsigned fn, IscsiStatus status) { st(fw).fns[fn].outcomes.push_back(status); }

void setDataDigestMode(Engine& fw, unsigned fn, DataDigestMode mode) { st(fw).fns[fn].data_digest = mode; }

void setSessionState(Engine& fw, uint32_t handle, uint32_t state_bits) {
  for (auto& [fn, f] : st(fw).fns) {
    auto it = f.sessions.find(handle);
    if (it != f.sessions.end()) it->second.forced_state = state_bits;
  }
}

void setRedirect(Engine& fw, uint32_t handle, uint8_t kind, const std::array<uint8_t, 16>& address, uint16_t port) {
  for (auto& [fn, f] : st(fw).fns) {
    auto it = f.sessions.find(handle);
    if (it == f.sessions.end()) continue;
    it->second.redirected = true;
    it->second.redirect = IscsiPortal{kind, address, port};
  }
}

void setDefaultEto(Engine& fw, uint32_t seconds) {
  State& s = st(fw);
  s.default_eto = seconds;
  s.default_eto_set = true;
}

void addDiscoveredTarget(Engine& fw, unsigned fn, const std::string& name, const IscsiPortal& portal) {
  st(fw).fns[fn].discovered.push_back({name, portal});
}

void setLoginTimeout(Engine& fw, int seconds) { st(fw).login_timeout = seconds; }

std::vector<uint8_t> iscsiLoginRecord(const std::string& target, const IscsiPortal& portal, uint16_t qualifier,
                                      const std::string& initiator) {
  std::vector<uint8_t> r(kRecBytes, 0);
  std::copy_n(target.begin(), std::min(target.size(), kNameBytes - 1), r.begin() + kRecName);
  wire::put16(r.data(), 224, 24);
  r[kRecKind] = portal.kind;
  std::copy_n(portal.address.begin(), 16, r.begin() + kRecAddr);
  wire::put16(r.data(), kRecTcpPort, portal.port);
  wire::put32(r.data(), kRecFlags, 0x41);
  wire::put32(r.data(), kRecEto, 0xFFFFFFFFu);
  wire::put16(r.data(), kRecQualifier, qualifier);
  uint8_t* b = r.data() + kRecBlock;
  b[0] = 0x0F;
  wire::put32(b, 4, 8192);
  wire::put32(b, 8, 262144);
  wire::put16(b, 12, 1);
  wire::put16(b, 14, 1);
  wire::put16(b, 16, 2);
  wire::put16(b, 18, 20);
  wire::put32(b, 24, 65536);
  wire::put32(b, 28, 65536);
  wire::put32(b, 36, 16000);
  b[kBlkIniSecret] = ' ';
  b[kBlkTgtSecret] = ' ';
  std::copy_n(initiator.begin(), std::min(initiator.size(), kNameBytes - 1), r.begin() + kRecInitiator);
  wire::put16(r.data(), 1398, 0xFFFF);
  wire::put16(r.data(), 1400, 0xFFFF);
  return r;
}

uint32_t addScriptedSession(Engine& fw, unsigned fn, const std::vector<uint8_t>& record,
                            const std::vector<ScriptedLun>& luns) {
  State& s = st(fw);
  FnIscsi& f = s.fns[fn];
  if (f.sessions.size() >= kMaxSessionsPerFunction) return 0;
  Session ss;
  ss.fn = fn;
  ss.record = record;
  ss.record.resize(kRecBytes, 0);
  const uint8_t* r = ss.record.data();
  const uint8_t* block = r + kRecBlock;
  ss.key = keyOfRecord(r);
  ss.target = textAt(r + kRecName, kNameBytes);
  ss.initiator = textAt(r + kRecInitiator, kNameBytes);
  ss.portal = portalOf(ss.key);
  ss.hdr = block[kBlkHeaderDigest] == 1;
  ss.data = block[kBlkDataDigest] == 1;
  ss.chap = block[kBlkChap] == 1;
  ss.mutual = ss.chap && get32(block, kBlkMutual) == 1;
  uint32_t eto = get32(r, kRecEto);
  ss.eto = eto == 0xFFFFFFFFu ? s.default_eto : eto;
  ss.scripted = true;
  ss.luns = luns;
  ss.handle = s.next_session++;
  ss.conn_handle = s.next_conn++;
  ss.state = kSessOpen;
  targetId(s, ss.target);
  uint32_t h = ss.handle;
  f.sessions[h] = std::move(ss);
  return h;
}

void setMalformedReply(Engine& fw, IscsiMalformed kind, bool on) {
  State& s = st(fw);
  if (on)
    s.malformed.insert(kind);
  else
    s.malformed.erase(kind);
}

}  // namespace adapter
