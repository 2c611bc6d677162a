// A stand-in for the host's iSCSI management framework: it loads the plugin
// (libdrelmo.so) with dlopen, calls IMA_VMW_PluginInit with its owner id,
// hands object ids and the records the framework passes by value by value,
// the others by pointer, frees every block the plugin hands out with
// IMA_FreeMemory, and calls IMA_VMW_PluginCleanup as often as it called
// IMA_VMW_PluginInit.
//
// Its records are laid out from the byte offsets the framework and the plugin
// agree on (i386: 64-bit members 4-byte aligned), pinned below; it includes
// no header of the plugin.
//
//   imahost::Host host;
//   if (!host.load("libdrelmo.so", &why)) ...;
//   host.init(0x5a);
//   std::vector<imahost::Oid> phbas;
//   u32 st = host.list("IMA_GetPhbaOidList", &phbas);
//   imahost::Record<8868> props;
//   st = host.call("IMA_GetPhbaProperties", phbas[0], props.data());
//   std::string vendor = props.wide(0, 64);
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#if defined(__clang__)
#define IMAHOST_NO_FUNCTION_CHECK __attribute__((no_sanitize("function")))
#else
#define IMAHOST_NO_FUNCTION_CHECK
#endif

namespace imahost {

using u8 = uint8_t;
using u16 = uint16_t;
using u32 = uint32_t;
using u64 = uint64_t;

// Object id: type, owner, 64-bit sequence number (the tree tag, sign-extended).
struct __attribute__((packed, aligned(4))) Oid {
  u32 type;
  u32 owner;
  u64 sequence;
};
static_assert(sizeof(Oid) == 16 && offsetof(Oid, sequence) == 8, "object id");

// Id list: a count, then the ids from byte 4.
struct __attribute__((packed, aligned(4))) OidList {
  u32 count;
  Oid oids[1];
};
static_assert(offsetof(OidList, oids) == 4 && offsetof(OidList, oids[1].sequence) == 28,
              "sequence number k of a list at byte 12 + 16k");

// IP address: the IPv4 flag, then 16 address bytes (IPv4 in the first four).
struct IpAddress {
  u32 ipv4;
  u8 bytes[16];
};
static_assert(sizeof(IpAddress) == 20, "IP address");

// Target address: host-name flag, the address or a 256-character host name,
// the TCP port.
struct TargetAddress {
  u32 host_name_flag;
  union {
    IpAddress ip;
    u32 host_name[256];
  } id;
  u16 port;
  u8 pad[2];
};
static_assert(sizeof(TargetAddress) == 1032 && offsetof(TargetAddress, port) == 1028, "target address");

// Static discovery target: a 224-character name, then the target address.
struct StaticTarget {
  u32 name[224];
  TargetAddress address;
  u8 unread[8];
};
static_assert(sizeof(StaticTarget) == 1936 && offsetof(StaticTarget, address) == 896, "static discovery target");

// Record sizes of the records passed by pointer.
enum : size_t {
  kPhbaProperties = 8868,
  kLhbaProperties = 1180,
  kNodeProperties = 2004,
  kPortalProperties = 36,
  kLnpProperties = 12,
  kVmwLnpProperties = 44,
  kPnpProperties = 40,
  kVmwPnpProperties = 72,
  kIpProperties = 184,
  kMtuProperties = 28,
  kArpProperties = 16,
  kMinMax = 28,
  kBoolValue = 16,
  kDigestProperties = 8,
  kAuthParms = 12296,
  kMutualList = 12300,
};
// CHAP parameters inside the authentication record.
enum : size_t {
  kChapRetries = 0,
  kChapName = 4,
  kChapNameLength = 516,
  kChapMin = 520,
  kChapMax = 524,
  kChapSecret = 528,
  kChapSecretLength = 784,
  kChapLevel = 788,
};

// A record the host owns, read and written at byte offsets. Filled with a
// pattern first, so a field the plugin leaves alone shows.
template <size_t N>
class Record {
 public:
  explicit Record(u8 fill = 0xA5) { memset(b_, fill, N); }
  u8* data() { return b_; }
  const u8* data() const { return b_; }
  static constexpr size_t size() { return N; }
  u32 u32at(size_t at) const {
    u32 v;
    memcpy(&v, b_ + at, 4);
    return v;
  }
  u16 u16at(size_t at) const {
    u16 v;
    memcpy(&v, b_ + at, 2);
    return v;
  }
  Oid oidat(size_t at) const {
    Oid v;
    memcpy(&v, b_ + at, sizeof v);
    return v;
  }
  void put32(size_t at, u32 v) { memcpy(b_ + at, &v, 4); }
  void puttext(size_t at, const std::string& s) { memcpy(b_ + at, s.data(), s.size()); }
  // A wide text of at most n characters at the offset, as UTF-8 (code
  // points below 0x80 only; others as "?").
  std::string wide(size_t at, size_t n) const;
  std::vector<u32> widecodes(size_t at, size_t n) const;
  bool zero(size_t from, size_t to) const {
    for (size_t i = from; i < to; i++)
      if (b_[i] != 0) return false;
    return true;
  }

 private:
  u8 b_[N];
};

template <size_t N>
std::vector<u32> Record<N>::widecodes(size_t at, size_t n) const {
  std::vector<u32> out;
  for (size_t i = 0; i < n; i++) {
    u32 c = u32at(at + 4 * i);
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

template <size_t N>
std::string Record<N>::wide(size_t at, size_t n) const {
  std::string s;
  for (u32 c : widecodes(at, n)) s += c < 0x80 ? (char)c : '?';
  return s;
}

// A wide string as the host passes it: code points and a 0.
std::vector<u32> widen(const std::string& ascii);

class Host {
 public:
  Host() = default;
  ~Host();
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  // Loads the plugin (path nullptr: the program itself, which links it);
  // false with the reason.
  bool load(const char* path, std::string* why);
  void* symbol(const char* name) const;
  bool loaded() const { return handle_ != nullptr; }

  // IMA_VMW_PluginInit with the owner id; counted.
  u32 init(u32 owner);
  // IMA_VMW_PluginCleanup, only while an init is not yet cleaned up.
  void cleanup();
  u32 owner() const { return owner_; }
  int opens() const { return opens_; }

  // Calls an entry point with the given arguments (the framework's calling
  // convention: plain cdecl, records by value as given). The framework types
  // the entry point by its own records, which have the plugin's layout but
  // are not the plugin's types: the sanitizer's function-type check, which
  // compares the C++ types, does not apply to this call.
  template <typename... A>
  IMAHOST_NO_FUNCTION_CHECK u32 call(const char* name, A... args) {
    auto f = reinterpret_cast<u32 (*)(A...)>(symbol(name));
    return f(args...);
  }
  // An id of this host for a tag (sign-extended into the sequence number).
  Oid oid(u32 type, u32 tag) const;
  Oid oid(u32 type, u32 tag, u32 owner) const;

  // A list entry point (out list pointer last); the list is copied and
  // freed with IMA_FreeMemory.
  template <typename... A>
  u32 list(const char* name, std::vector<Oid>* out, A... args) {
    OidList* block = nullptr;
    u32 st = call(name, args..., &block);
    out->clear();
    if (block != nullptr) {
      for (u32 i = 0; i < block->count; i++) out->push_back(block->oids[i]);
      last_block_bytes_ = 4 + 16 * (size_t)block->count;
      free_block(block);
    }
    return st;
  }
  // IMA_FreeMemory of a block the plugin handed out.
  u32 free_block(void* block);
  size_t last_block_bytes() const { return last_block_bytes_; }
  size_t blocks_freed() const { return freed_; }

 private:
  void* handle_ = nullptr;
  u32 owner_ = 0;
  int opens_ = 0;
  size_t freed_ = 0;
  size_t last_block_bytes_ = 0;
};

}  // namespace imahost
