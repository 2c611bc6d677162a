#include "backend/orsa_linuxhost.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "backend/orsa_gateway.h"
#include "backend/orsa_openiscsi.h"
#include "iscsi/iscsi_persist.h"
#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;

int run_with_shell(const char* command) { return system(command); }

const OrsaLinuxHost kRealHost = {run_with_shell, ""};
const OrsaLinuxHost* g_host = &kRealHost;

// A host path below the file root.
std::string host_path(const char* path) {
  const char* root = g_host->root != nullptr ? g_host->root : "";
  return std::string(root) + path;
}

// The command's exit status, -1 when it did not exit normally.
int run(const std::string& command) {
  pdebug(kCat, ORSA_LOG_DEBUG, "%s:cmd = %s\n", __func__, command.c_str());
  int status = g_host->run(command.c_str());
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// The first line of a host file without its line end; false when it cannot
// be read or is empty.
bool first_line(const std::string& path, char* out, size_t size) {
  FILE* fp = fopen(path.c_str(), "r");
  if (fp == NULL) return false;
  bool ok = fgets(out, (int)size, fp) != NULL;
  fclose(fp);
  if (!ok) return false;
  out[strcspn(out, "\r\n")] = '\0';
  return out[0] != '\0';
}

bool write_text(const std::string& path, const char* text) {
  FILE* fp = fopen(path.c_str(), "w");
  if (fp == NULL) return false;
  bool ok = fputs(text, fp) >= 0;
  return fclose(fp) == 0 && ok;
}

bool only_chars(const char* text, size_t max, const char* extra) {
  size_t n = strlen(text);
  if (n == 0 || n > max) return false;
  for (size_t i = 0; i < n; i++) {
    char c = text[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || strchr(extra, c) != NULL;
    if (!ok) return false;
  }
  return true;
}

// What may reach a command line.
bool plain_ifname(const char* name) { return only_chars(name, 15, "_.:-") && name[0] != '-'; }
bool plain_pci_address(const char* text) { return only_chars(text, 15, ":.") && strchr(text, ':') != NULL; }
bool plain_path(const char* path) { return only_chars(path, 200, "_./+-") && path[0] != '-'; }

// The host interface name of NIC function `function` (1-based), when usable.
const char* interface_of(u32 function) {
  if (function < 1 || function >= ORSA_MAX_FUNCTIONS) return NULL;
  const char* name = orsa_glob.nic_if_names[function - 1];
  return plain_ifname(name) ? name : NULL;
}

}  // namespace

int orsa_linux_run(const char* command) { return run(command); }

std::string orsa_linux_path(const char* path) { return host_path(path); }

void orsa_set_linux_host(const OrsaLinuxHost* host) { g_host = host != nullptr && host->run != nullptr ? host : &kRealHost; }

u32 get_flash_name(const char* path, char out[HM_VALUE_SIZE]) {
  if (path == nullptr || out == nullptr) return 1;
  // The last component: count the components, then take that one.
  u32 n = 0;
  for (char* field; (field = orsa_parse(path, n + 1, "/")) != nullptr; n++) orsa_dfree(field);
  if (n == 0) return 1;
  char* name = orsa_parse(path, n, "/");
  if (name == nullptr) return 1;
  snprintf(out, HM_VALUE_SIZE, "%s", name);
  orsa_dfree(name);
  return 0;
}

// Markers of the kernels the Linux drivers were released for, most specific
// first: a release such as "4.18.0-305.el8.x86_64" is told by its first match.
const OrsaDistribution orsa_distributions[] = {
    {"el9", 1},     {"el8", 2},        {"el7", 3},        {"el6", 4},     {"el5", 5},
    {".fc", 6},     {"uek", 7},        {"-default", 8},   {"-azure", 9},  {"-aws", 10},
    {"-generic", 11}, {"-lowlatency", 12}, {"-amd64", 13}, {"-cloud", 14}, {"xen", 15},
};
const size_t orsa_distribution_count = sizeof orsa_distributions / sizeof orsa_distributions[0];

i32 find_os_distribution(void) {
  const std::string file = host_path("/tmp/kernelname");
  run("uname -r  2>/dev/null > " + file);
  char release[128] = "";
  bool read = first_line(file, release, sizeof release);
  unlink(file.c_str());
  if (!read) return -1;
  for (size_t i = 0; i < orsa_distribution_count; i++)
    if (strstr(release, orsa_distributions[i].marker) != NULL) return orsa_distributions[i].code;
  return -1;
}

u32 ORSA_get_all_iscsi_devices(void) {
  static const u16 vendors[] = {0x1C4E, 0x1E7B};
  static const u16 devices[] = {0x3A12, 0x3B02, 0x3B03, 0x3A22, 0x3B12, 0x3B22};
  const std::string file = host_path("/tmp/orsa_scsi_ids");
  memset(orsa_glob.iscsi_pci_addresses, 0, sizeof orsa_glob.iscsi_pci_addresses);
  u32 stored = 0;
  for (u16 vendor : vendors) {
    for (u16 device : devices) {
      char cmd[256];
      snprintf(cmd, sizeof cmd, "lspci -D -d %x:%x 2> /dev/null | cut -d\" \" -f1 > %s", vendor, device,
               file.c_str());
      run(cmd);
      FILE* fp = fopen(file.c_str(), "r");
      if (fp == NULL) continue;
      char line[64];
      while (fgets(line, sizeof line, fp) != NULL && stored < ORSA_MAX_FUNCTIONS) {
        line[strcspn(line, "\r\n")] = '\0';
        // Each address goes into later command lines: only a plain one is kept.
        if (line[0] == '\0' || !plain_pci_address(line)) continue;
        memcpy(orsa_glob.iscsi_pci_addresses[stored++], line, strlen(line) + 1);  // at most 15 characters
      }
      fclose(fp);
      unlink(file.c_str());
    }
  }
  pdebug(kCat, ORSA_LOG_DEBUG, "%s:iSCSI functions found = %d\n", __func__, (int)stored);
  return stored;
}

u32 ORSA_backend_client_nic_bdf(u32 function, char bus[HM_VALUE_SIZE], char fn[HM_VALUE_SIZE], u32* domain) {
  const char* ifname = interface_of(function);
  if (ifname == NULL || bus == nullptr || fn == nullptr) return 1;
  const std::string file = host_path("/tmp/IfName");
  char cmd[256];
  snprintf(cmd, sizeof cmd, "ethtool -i %s 2> /dev/null | grep -a bus-info | cut -d\" \" -f2 > %s", ifname,
           file.c_str());
  run(cmd);
  char addr[64] = "";
  bool read = first_line(file, addr, sizeof addr);
  unlink(file.c_str());
  if (!read) return 1;
  // dddd:bb:dd.f, or bb:dd.f without the domain.
  unsigned long parts[4] = {0, 0, 0, 0};
  int colons = 0;
  for (const char* c = addr; *c != '\0'; c++) colons += *c == ':';
  char* end = addr;
  int fields = colons == 2 ? 4 : 3;
  for (int i = 0; i < fields; i++) {
    const char* start = end + (i > 0 ? 1 : 0);
    errno = 0;
    parts[i] = strtoul(start, &end, 16);
    char want = i + 1 == fields ? '\0' : i + 2 == fields ? '.' : ':';
    if (end == start || errno != 0 || *end != want) {
      pdebug(kCat, ORSA_LOG_ERROR, "%s:unreadable PCI address %s\n", __func__, addr);
      return 1;
    }
  }
  int at = fields == 4 ? 1 : 0;
  if (fields == 4 && domain != nullptr) *domain = (u32)parts[0];
  snprintf(bus, HM_VALUE_SIZE, "0x%lx", parts[at]);
  snprintf(fn, HM_VALUE_SIZE, "0x%lx", parts[at + 2]);
  return 0;
}

u32 ORSA_get_nic_driver_type(void) {
  int status = run("modinfo sornic 2> /dev/null | grep -a \"supported:\" | grep -a external > /dev/null 2>&1");
  if (status == 1) ORSA_NIC_INBOX_DRIVER_LOADED = 1;
  return 0;
}

namespace {

// Copies the firmware file into /lib/firmware (made with mode 0755 when it is
// not there) under its own name.
bool copy_to_firmware_dir(const char* path, const char* name) {
  const std::string dir = host_path("/lib/firmware");
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return false;
  FILE* in = fopen(path, "rb");
  if (in == NULL) return false;
  FILE* out = fopen((dir + "/" + name).c_str(), "wb");
  if (out == NULL) {
    fclose(in);
    return false;
  }
  char buf[8192];
  bool ok = true;
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, in)) > 0)
    if (fwrite(buf, 1, n, out) != n) ok = false;
  ok = ok && !ferror(in);
  fclose(in);
  return fclose(out) == 0 && ok;
}

u32 flash_failed() {
  orsa_set_status(166);
  return 1;
}

// The flash itself; the interface is up. 0, or the result to return.
u32 flash(const char* ifname, const char* path, const std::string& errors) {
  const bool ethtool_flashes = run("ethtool -h 2>&1 | grep -a -e \"--flash\" > /dev/null 2>&1") == 0;
  if (!ethtool_flashes) {
    char name[HM_VALUE_SIZE];
    if (get_flash_name(path, name) != 0 || !copy_to_firmware_dir(path, name)) return flash_failed();
    // The firmware loader gives up after a minute: a flash takes longer.
    write_text(host_path("/sys/class/firmware/timeout"), "360\n");
    const std::string request = host_path("/sys/class/net/") + ifname + "/flash_fw";
    return write_text(request, name) ? 0 : flash_failed();
  }
  char enforce[8] = "";
  const bool enforcing = first_line(host_path("/sys/fs/selinux/enforce"), enforce, sizeof enforce) &&
                         strcmp(enforce, "1") == 0;
  if (enforcing) run("setenforce 0 > /dev/null 2>&1");
  int status = run(std::string("ethtool -f ") + ifname + " " + path + " >/dev/null 2> " + errors);
  if (enforcing) run("setenforce 1 > /dev/null 2>&1");
  if (status == 0) return 0;
  if (status == 255) {
    static const struct {
      const char* text;
      u32 code;
    } known[] = {
        {"Resource temporarily unavailable", 318},
        {"Required key not available", 337},
        {"Key was rejected by service", 336},
    };
    char line[256] = "";
    if (first_line(errors, line, sizeof line))
      for (const auto& k : known)
        if (strstr(line, k.text) != NULL) return orsa_set_status(k.code);
  }
  pdebug(kCat, ORSA_LOG_ERROR, "%s:ethtool -f ended with status %d\n", __func__, status);
  return flash_failed();
}

}  // namespace

u32 ORSA_firmware_download(HmNode* node, u32 function, u32 kind, const char* path) {
  const std::string errors = host_path("/tmp/m_flash.txt");
  const char* ifname = interface_of(function);
  // Both go into command lines.
  if (node == nullptr || ifname == NULL || path == nullptr || !plain_path(path)) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:no usable interface or firmware file\n", __func__);
    return flash_failed();
  }
  char flags[32] = "";
  const std::string flags_file = host_path("/sys/class/net/") + ifname + "/flags";
  const bool was_up = first_line(flags_file, flags, sizeof flags) && (strtoul(flags, NULL, 16) & 0x1) != 0;
  if (!was_up && run(std::string("ifconfig ") + ifname + " up 2> /dev/null") != 0) {
    unlink(errors.c_str());
    return flash_failed();
  }
  u32 rc = flash(ifname, path, errors);
  if (!was_up) run(std::string("ifconfig ") + ifname + " down 2> /dev/null");
  unlink(errors.c_str());
  if (rc != 0) return rc;

  if (kind != 4) {
    orsa_set_status(55);
    return 0;
  }
  char active[HM_VALUE_SIZE] = "", flashed[HM_VALUE_SIZE] = "";
  if (internal_get_property(node, "ActiveFirmwareVersion", active) != 0 ||
      internal_get_property(node, "FirmwareVersionOnFlash", flashed) != 0) {
    orsa_set_last_status(264,
                         "Firmware download completed but failed to get ActiveFirmwareVersion and "
                         "FirmwareVersionOnFlash properties. Please check orsa2d.log file for more information.");
    return 0;
  }
  if (strcmp(active, flashed) != 0) orsa_set_status(55);
  return 0;
}
