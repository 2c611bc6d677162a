// The driver channel: device discovery, raw ioctls, the request gateway, the
// command builder and the status map.
#include "backend/orsa_gateway.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "tree/hm_engine.h"
#include "tree/hm_log.h"
#include "tree/hm_status.h"
#include "tree/orsa_entry.h"

OrsaGlob orsa_glob;

namespace {

const u32 kCat = ORSA_LOG_CAT_OTHER;

// The largest payload a single command buffer can carry.
const u32 kMaxPayload = ORSA_MAX_CMD_BUFFER - ORSA_HDR_SIZE;

u16 get_le16(const u8* p) { return (u16)(p[0] | (p[1] << 8)); }
u32 get_le32(const u8* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }
void put_le32(u8* p, u32 v) {
  p[0] = (u8)v;
  p[1] = (u8)(v >> 8);
  p[2] = (u8)(v >> 16);
  p[3] = (u8)(v >> 24);
}

u8 response_status(const u8* buffer) { return buffer[4]; }
u16 response_additional(const u8* buffer) { return get_le16(buffer + 5); }
u32 response_actual_length(const u8* buffer) { return get_le32(buffer + 12); }

void close_nic_device() { os_put_nic_port_instances(orsa_glob.nic_port_instances, ORSA_MAX_FUNCTIONS); }

// Header Timeout: the loop-back test is given less time than any other command.
u32 request_timeout(u8 opcode, u8 subsystem, i32 protocol) {
  if (opcode == 18) return subsystem == 2 ? 20 : 11;
  return protocol == ORSA_PROTO_NIC ? 30 : 120;
}

// Runs a raw NIC ioctl on the freshly opened NIC device; the device is closed
// afterwards. Returns the refresh result (non-zero: nothing was sent) through
// *refresh and the ioctl result otherwise.
int nic_raw_ioctl(unsigned long request, void* block, u32* refresh) {
  *refresh = refresh_orsa_hierarchy();
  if (*refresh != 0) return -1;
  int rc = ioctl(orsa_glob.nic_port_instances[0], request, block);
  close_nic_device();
  return rc;
}

void fill_bdf(u32 instance, u8* bdf) {
  const OrsaPciFunction& f = orsa_glob.NicFunctionTable[instance];
  bdf[0] = f.bus;
  bdf[1] = f.device;
  bdf[2] = f.function;
}

// Only such names may reach a shell command line.
bool well_formed_ifname(const char* name) {
  size_t n = strlen(name);
  if (n == 0 || n > 15) return false;
  for (size_t i = 0; i < n; i++) {
    char c = name[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
              c == '.' || c == ':' || c == '-';
    if (!ok) return false;
  }
  return true;
}

bool well_formed_pci_address(const char* text) {
  size_t n = strlen(text);
  if (n == 0 || n > 15) return false;
  for (size_t i = 0; i < n; i++) {
    char c = text[i];
    bool ok = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' || c == '.';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

// --- Devices and functions ----------------------------------------------------

bool orsa_valid_nic_instance(u32 instance) {
  u32 found = orsa_glob.nic_valid_hba < ORSA_MAX_FUNCTIONS - 1 ? orsa_glob.nic_valid_hba : ORSA_MAX_FUNCTIONS - 1;
  return instance >= 1 && instance <= found;
}

bool orsa_valid_iscsi_instance(u32 instance) {
  u32 found = orsa_glob.iscsi_valid_hba < ORSA_MAX_FUNCTIONS ? orsa_glob.iscsi_valid_hba : ORSA_MAX_FUNCTIONS;
  return instance >= 1 && instance <= found;
}

u32 ioctl_get_chipinfo(u32 index, void* block) {
  int fd = index == 1 ? orsa_glob.nic_port_instances[0] : -1;
  int rc = ioctl(fd, ORSA_NIC_IOCTL_CHIP_INFO, block);
  if (rc < 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s: ioctl_get_chipinfo failed\n", __func__);
    return 1;
  }
  return (u32)rc;
}

u32 enumerate_ks_nics(u32 start) {
  OrsaChipInfo info;
  memset(&info, 0, sizeof info);
  u32 rc = ioctl_get_chipinfo(1, &info);
  if (rc != 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s: ioctl_get_chipinfo failed with status = %d\n", __func__, (int)rc);
    return 0;
  }
  // The driver's counts are trusted only as far as the block and the table reach.
  u32 chips = info.chip_count < ORSA_MAX_CHIPS ? info.chip_count : ORSA_MAX_CHIPS;
  u32 next = start;
  for (u32 c = 0; c < chips; c++) {
    const OrsaChipRecord& rec = info.chips[c];
    u32 fns = rec.function_count < ORSA_MAX_CHIP_FUNCTIONS ? rec.function_count : ORSA_MAX_CHIP_FUNCTIONS;
    for (u32 f = 0; f < fns && next + 1 < ORSA_MAX_FUNCTIONS; f++) {
      next++;
      OrsaPciFunction& e = orsa_glob.NicFunctionTable[next];
      e.bus = rec.bus;
      e.device = rec.device;
      e.function = rec.functions[f];
    }
  }
  return next;
}

u32 ORSA_get_interface_names(u32 count, u32 first) {
  memset(orsa_glob.nic_if_names, 0, sizeof orsa_glob.nic_if_names);
  if (count > ORSA_MAX_FUNCTIONS - 1) count = ORSA_MAX_FUNCTIONS - 1;
  for (u32 k = first; k < count; k++) {
    const OrsaPciFunction& f = orsa_glob.NicFunctionTable[k + 1];
    char key[32];
    snprintf(key, sizeof key, "%03d:%02d.%d/vmkname", f.bus, f.device, f.function);
    FILE* fp = fopen("/etc/vmware/esx.conf", "r");
    if (fp == NULL) {
      pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to open /etc/vmware/esx.conf\n", __func__);
      return 0;
    }
    char line[101];
    while (fgets(line, sizeof line, fp) != NULL) {
      size_t n = strlen(line);
      if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
      if (strstr(line, key) == NULL) continue;
      const char* eq = strchr(line, '=');
      if (eq != NULL) {
        // The value is the quoted text after "=".
        const char* open_quote = strchr(eq + 1, '"');
        if (open_quote != NULL) {
          const char* value = open_quote + 1;
          size_t len = strcspn(value, "\"");
          if (len > 9) len = 9;
          memcpy(orsa_glob.nic_if_names[k], value, len);
          orsa_glob.nic_if_names[k][len] = '\0';
        }
      }
      pdebug(kCat, ORSA_LOG_DEBUG, "%s:ifname = %s bus = 0x%x dev = 0x%x fun = 0x%x and i = %d\n", __func__,
             orsa_glob.nic_if_names[k], f.bus, f.device, f.function, (int)k);
      break;
    }
    fclose(fp);
  }
  return count;
}

u32 os_get_nic_port_instances(i32* array, u32 n) {
  if (n > ORSA_MAX_FUNCTIONS) n = ORSA_MAX_FUNCTIONS;
  for (u32 i = 0; i < n; i++) array[i] = -1;
  if (n == 0) return 0;
  int fd = open(ORSA_NIC_DEVICE, O_RDWR);
  if (fd < 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "could not open device node %s\n", ORSA_NIC_DEVICE);
    return 0;
  }
  array[0] = fd;
  u32 count = enumerate_ks_nics(0);
  if (count > 0 && ORSA_get_interface_names(count, 0) == 0) {
    close(fd);
    array[0] = -1;
    count = 0;
  }
  pdebug(kCat, ORSA_LOG_INFO, "%s:valid_hba = %d\n", __func__, (int)count);
  return count;
}

void os_put_nic_port_instances(i32* array, i32 n) {
  for (i32 i = 0; i < n; i++) {
    if (array[i] != -1) {
      close(array[i]);
      array[i] = -1;
    }
  }
}

void os_put_port_instances(i32* array, i32 n) { os_put_nic_port_instances(array, n); }

u32 os_get_port_instances(i32* array, u32 n) {
  if (n > ORSA_MAX_FUNCTIONS) n = ORSA_MAX_FUNCTIONS;
  for (u32 i = 0; i < n; i++) array[i] = -1;
  u32 count = 0;
  for (u32 dev = 0; dev < n; dev++) {
    char path[64];
    snprintf(path, sizeof path, "%s%d", ORSA_ISCSI_DEVICE_PREFIX, (int)dev);
    int fd = open(path, O_RDWR | O_CLOEXEC);
    if (fd >= 0) array[count++] = fd;
  }
  pdebug(kCat, ORSA_LOG_INFO, "%s:valid_hba = %d\n", __func__, (int)count);
  return count;
}

i32 get_the_protocol(i32 controller) {
  if (controller < 0 || (u32)controller >= ORSA_MAX_CONTROLLERS) return ORSA_PROTO_NONE;
  u8 flags = orsa_glob.controller_protocol[controller];
  if (flags & 1) return ORSA_PROTO_ISCSI;
  if (flags & 2) return ORSA_PROTO_NIC;
  if (flags & 4) return ORSA_PROTO_OTHER;
  return ORSA_PROTO_NONE;
}

// --- Raw ioctls ---------------------------------------------------------------

u32 ioctl_get_vmhba_name(u32 instance, char* name) {
  if (!orsa_valid_iscsi_instance(instance)) return 1;
  if (orsa_glob.iscsi_inst_flags[instance - 1] & 2) {
    orsa_strlcpy(name, orsa_glob.vmhba_names[instance - 1], ORSA_VMHBA_NAME_SIZE);
    return 0;
  }
  // The driver's 32 bytes need not end in a NUL: take at most 31 characters.
  char reply[ORSA_VMHBA_NAME_SIZE];
  memset(reply, 0, sizeof reply);
  int rc = ioctl(orsa_glob.iscsi_port_instances[instance - 1], ORSA_ISCSI_IOCTL_VMHBA_NAME, reply);
  if (rc != 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:ioctl failed with status = %d\n", __func__, rc);
    return 1;
  }
  reply[ORSA_VMHBA_NAME_SIZE - 1] = '\0';
  memcpy(name, reply, strlen(reply) + 1);
  return 0;
}

u32 ioctl_get_mtu(u32 instance, void* dinfo) {
  if (!orsa_valid_nic_instance(instance)) return 1;
  OrsaCharInfo info;
  memset(&info, 0, sizeof info);
  fill_bdf(instance, &info.bus);
  u32 refresh;
  int rc = nic_raw_ioctl(ORSA_NIC_IOCTL_DRIVER_INFO, &info, &refresh);
  if (refresh != 0) return refresh;
  if (rc < 0) return 1;
  memcpy(dinfo, info.dinfo, ORSA_DINFO_SIZE);
  return 0;
}

u32 ioctl_get_virt_f_info(u32 instance, void* dinfo, u32* number_vfs) {
  if (!orsa_valid_nic_instance(instance)) return 1;
  OrsaCharInfo info;
  memset(&info, 0, sizeof info);
  fill_bdf(instance, &info.bus);
  u32 refresh;
  int rc = nic_raw_ioctl(ORSA_NIC_IOCTL_VF_TABLE, &info, &refresh);
  if (refresh != 0) return refresh;
  if (rc != 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "status = %d Unable to process command\n", rc);
    return 1;
  }
  memcpy(dinfo, info.dinfo, ORSA_DINFO_SIZE);
  u32 vfs = get_le32(info.dinfo + 12);
  pdebug(kCat, ORSA_LOG_DEBUG, "%s:char_info.dinfo.vf_table.number_vfs = %d\n", __func__, (int)vfs);
  if (number_vfs != NULL) *number_vfs = vfs;
  return 0;
}

namespace {

// One PCI configuration read of `length` bytes into block (header + data area).
u32 read_pci_conf(u32 instance, u32 offset, u32 length, u8* block) {
  OrsaPciConfParams* p = (OrsaPciConfParams*)block;
  u8* data = block + ORSA_PCI_CONF_DATA_OFFSET;
  fill_bdf(instance, &p->bus);
  p->offset = offset;
  p->data_length = length;
  p->pci_data = (u32)(uintptr_t)data;
  pdebug(kCat, ORSA_LOG_DEBUG,
         "\n Before sending ioctl, offset = %d,data_length = %d, pci_conf_params.pci_data = %d,%d,%d\n",
         (int)p->offset, (int)p->data_length, data[0], data[1], data[2]);
  u32 refresh;
  int rc = nic_raw_ioctl(ORSA_NIC_IOCTL_PCI_CONF, block, &refresh);
  if (refresh != 0) return refresh;
  pdebug(kCat, ORSA_LOG_DEBUG,
         "\n After sending ioctl, offset = %d,data_length = %d, pci_conf_params.pci_data = %d,%d,%d\n",
         (int)p->offset, (int)p->data_length, data[0], data[1], data[2]);
  if (rc != 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "status = %d Unable to process command\n", rc);
    return 1;
  }
  pdebug(kCat, ORSA_LOG_DEBUG, "After sending ioctl in response, offset = %d,data_length = %d\n",
         (int)p->offset, (int)p->data_length);
  return 0;
}

}  // namespace

u32 ioctl_pivard_read_pci_conf(u32 instance, u32* value) {
  if (!orsa_valid_nic_instance(instance)) return 1;
  u8 block[ORSA_PCI_CONF_DATA_OFFSET + 4];
  memset(block, 0, sizeof block);
  u32 rc = read_pci_conf(instance, 0xa4, 4, block);
  if (rc != 0) return rc;
  *value = get_le32(block + ORSA_PCI_CONF_DATA_OFFSET);
  return 0;
}

u32 ORSA_get_pivard_pci_data(u32 instance, u32 offset, u32 length, char* text) {
  if (!orsa_valid_nic_instance(instance)) return 1;
  // The driver writes data_length bytes into the block: never more than it holds.
  if (length > ORSA_PCI_CONF_MAX_DATA) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s: length %u is more than the %d bytes one read carries\n", __func__,
           (unsigned)length, (int)ORSA_PCI_CONF_MAX_DATA);
    return 1;
  }
  u8* block = (u8*)orsa_dmalloc(ORSA_PCI_CONF_BLOCK_SIZE);
  if (block == NULL) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s: memory allocation failed\n", __func__);
    return 1;
  }
  memset(block, 0, ORSA_PCI_CONF_BLOCK_SIZE);
  u32 rc = read_pci_conf(instance, offset, length, block);
  if (rc == 0) {
    const u8* data = block + ORSA_PCI_CONF_DATA_OFFSET;
    u32 shown = length < 256 ? length : 256;
    const size_t cap = 600;
    size_t used = 0;
    text[0] = '\0';
    for (u32 i = 0; i < shown && used + 1 < cap; i++) {
      int w = i > 0 && i % 16 == 0 ? snprintf(text + used, cap - used, "\n%02x ", data[i])
                                   : snprintf(text + used, cap - used, "%02x ", data[i]);
      if (w < 0) break;
      used += (size_t)w;
      if (used >= cap) used = cap - 1;
    }
  }
  orsa_dfree(block);
  return rc;
}

// --- Request road ---------------------------------------------------------------

u32 ORSA_IssueIOCTL(i32 OsHandle, u8 opcode, u8 subsystem, u32 length, u8* buffer, u8 domain, u8 port,
                    i32 protocol, u32 instance) {
  pdebug(kCat, ORSA_LOG_DEBUG, "%s:before getting OsHandle=%d\n", __func__, (int)OsHandle);
  if (protocol != ORSA_PROTO_ISCSI && protocol != ORSA_PROTO_NIC) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:Unable to process command ioctl_result = %d errno = %d err_str = %s\n",
           __func__, -1, EINVAL, strerror(EINVAL));
    return 1;
  }
  if (buffer == NULL || length > kMaxPayload) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:no command buffer for a payload of %u bytes\n", __func__, (unsigned)length);
    return 1;
  }
  if (protocol == ORSA_PROTO_NIC && !orsa_valid_nic_instance(instance)) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:no NIC function %u\n", __func__, (unsigned)instance);
    return 1;
  }

  OrsaRequestHeader* hdr = (OrsaRequestHeader*)buffer;
  hdr->PageCode = opcode;
  hdr->version = orsa_glob.hdr_version == 1 ? 1 : 0;
  hdr->Timeout = request_timeout(opcode, subsystem, protocol);
  hdr->request_length = length;
  hdr->subsystem = subsystem;
  hdr->domain = domain;
  hdr->port_number = port;
  pdebug(kCat, ORSA_LOG_DEBUG, "%s:orsa_glob.pf_number = 0x%x\n", __func__, (unsigned)(u8)orsa_glob.pf_number);
  if (orsa_glob.pf_number > 0) hdr->pf_vh = (u16)((hdr->pf_vh & ~0x3FFu) | ((u32)orsa_glob.pf_number & 0x3FFu));
  pdebug(kCat, ORSA_LOG_DEBUG,
         "%s:IOCTL HEADER DUMP\nOsHandle =%d\nRequest_Header->PageCode :0x%x\nRequest_Header->request_length "
         ":0x%x\nRequest_Header->Timeout :%d\nRequest_Header->subsystem :0x%x\nRequest_Header->domain "
         ":0x%x\nRequest_Header->version :%d\nRequest_Header->port_number :%d\nRequestHeader->pfnumber "
         ":%d\nRequestHeader->vfnumber :%d\nRequestHeader->vhnumber :%d\n",
         __func__, (int)OsHandle, hdr->PageCode, (unsigned)hdr->request_length, (int)hdr->Timeout, hdr->subsystem,
         hdr->domain, hdr->version, hdr->port_number, hdr->pf_vh & 0x3FF, hdr->vfnumber, hdr->pf_vh >> 10);

  int rc;
  int err = 0;
  if (protocol == ORSA_PROTO_NIC) {
    size_t total = (size_t)length + ORSA_NIC_BLOCK_PREFIX;
    u8* block = (u8*)orsa_dmalloc(total);
    if (block == NULL) {
      pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to allocate pnicioctlbuffer\n", __func__);
      return 1;
    }
    OrsaNicIoctlBuffer* nb = (OrsaNicIoctlBuffer*)block;
    memcpy(nb->signature, ORSA_NIC_SIGNATURE, sizeof nb->signature);
    nb->magic = ORSA_NIC_BLOCK_MAGIC;
    fill_bdf(instance, &nb->bus);
    memcpy(&nb->header, buffer, (size_t)length + ORSA_HDR_SIZE);
    if (refresh_orsa_hierarchy() != 0) {
      orsa_dfree(block);
      return 1;
    }
    rc = ioctl(orsa_glob.nic_port_instances[0], ORSA_NIC_IOCTL_PASSTHRU, block);
    err = errno;
    memcpy(buffer, &nb->header, (size_t)length + ORSA_HDR_SIZE);
    orsa_dfree(block);
    close_nic_device();
  } else {
    rc = ioctl(OsHandle, ORSA_ISCSI_IOCTL_PASSTHRU, buffer);
    err = errno;
  }
  if (rc < 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:Unable to process command ioctl_result = %d errno = %d err_str = %s\n",
           __func__, rc, err, strerror(err));
    if (protocol == ORSA_PROTO_ISCSI && err == EIO) return ORSA_STATUS_ISCSI_EIO;
    // The buffer holds no response: its status byte is still the Timeout we wrote.
    return 1;
  }
  return 0;
}

namespace {

// The descriptor a request of this protocol goes to; -2 when the instance names
// no function of that protocol or the protocol is unknown.
i32 os_handle_for(u32 instance, u32 protocol) {
  if (protocol == ORSA_PROTO_ISCSI) {
    if (!orsa_valid_iscsi_instance(instance)) return -2;
    return orsa_glob.iscsi_port_instances[instance - 1];
  }
  if (protocol == ORSA_PROTO_NIC) {
    if (!orsa_valid_nic_instance(instance)) return -2;
    return orsa_glob.nic_port_instances[0];
  }
  return -2;
}

// Allocates the command buffer, sends it and copies the payload area back.
// Returns the buffer (to be released by the caller) or none on failure.
u8* send_command(u32 instance, u8 opcode, u8 subsystem, u32 payload_length, u32 buffer_length, void* payload,
                 bool copy_back, u8 domain, u8 port, u32 protocol, bool log_alloc) {
  i32 handle = os_handle_for(instance, protocol);
  if (handle == -2) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:no function %u for protocol %u\n", __func__, (unsigned)instance,
           (unsigned)protocol);
    return NULL;
  }
  pdebug(kCat, ORSA_LOG_INFO, "%s:oshandle is %d\n", __func__, (int)handle);
  // A payload that does not fit the buffer (or a buffer size that wrapped) is refused.
  if (payload_length > kMaxPayload || (u32)payload_length + ORSA_HDR_SIZE > buffer_length) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:payload of %u bytes does not fit a command buffer of %u bytes\n", __func__,
           (unsigned)payload_length, (unsigned)buffer_length);
    return NULL;
  }
  u8* buffer = (u8*)orsa_dmalloc(buffer_length);
  if (buffer == NULL) {
    if (log_alloc) pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to Allocate memory\n", __func__);
    return NULL;
  }
  memset(buffer, 0, buffer_length);
  if (payload != NULL && payload_length > 0) memcpy(buffer + ORSA_HDR_SIZE, payload, payload_length);
  if (ORSA_IssueIOCTL(handle, opcode, subsystem, payload_length, buffer, domain, port, (i32)protocol, instance) !=
      0) {
    orsa_dfree(buffer);
    return NULL;
  }
  if (copy_back && payload != NULL && payload_length > 0) memcpy(payload, buffer + ORSA_HDR_SIZE, payload_length);
  return buffer;
}

}  // namespace

u32 ORSA_prepare_mailbox_cmd(u32 instance, u8 opcode, u8 subsystem, u32 payload_length, u16 buffer_length,
                             void* payload, u8 direction, u8 domain, u8 port, u32 protocol) {
  u8* buffer = send_command(instance, opcode, subsystem, payload_length, buffer_length, payload, direction != 0,
                            domain, port, protocol, false);
  if (buffer == NULL) return 1;
  u32 status = response_status(buffer);
  if (status == 0) {
    orsa_dfree(buffer);
    return 0;
  }
  u32 additional = response_additional(buffer);
  if (additional != 23) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:The IOCTL with opcode:0x%x subsystem:0x%x failed with status 0x%x\n",
           __func__, opcode, subsystem, (unsigned)status);
    pdebug(kCat, ORSA_LOG_ERROR, "%s:actual response length is %d\n", __func__,
           (int)response_actual_length(buffer));
    pdebug(kCat, ORSA_LOG_ERROR, "%s:additional status is:0x%x\n", __func__, (unsigned)additional);
  }
  orsa_dfree(buffer);
  return OrsaStatusFromIOCTLResponse(status, additional, opcode);
}

u32 ORSA_get_mailbox_cmd_size(u32 instance, u8 opcode, u8 subsystem, u16 payload_length, u16 buffer_length,
                              void* payload, u16* needed, u8 domain, u8 port, u32 protocol) {
  u8* buffer = send_command(instance, opcode, subsystem, payload_length, buffer_length, payload, false, domain,
                            port, protocol, true);
  if (buffer == NULL) return 1;
  u32 status = response_status(buffer);
  // Status 4: the buffer was too small for the reply, which is what a size query asks.
  if (status == 0 || status == 4) {
    if (payload != NULL && payload_length > 0) memcpy(payload, buffer + ORSA_HDR_SIZE, payload_length);
    if (needed != NULL) *needed = (u16)response_actual_length(buffer);
    orsa_dfree(buffer);
    return 0;
  }
  u32 additional = response_additional(buffer);
  if (additional != 23) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s: The IOCTL with opcode: 0x%x subsystem: 0x%x failed with status 0x%x\n",
           __func__, opcode, subsystem, (unsigned)status);
    pdebug(kCat, ORSA_LOG_ERROR, "%s: Additional status 0x%x\n", __func__, (unsigned)additional);
  }
  orsa_dfree(buffer);
  return OrsaStatusFromIOCTLResponse(status, additional, opcode);
}

// --- Status map -------------------------------------------------------------------

#define ANY ORSA_MATCH_ANY, 0
#define EQ(a) ORSA_MATCH_EQ, a
#define ABOVE(a) ORSA_MATCH_ABOVE, a
#define OPS(...) {__VA_ARGS__}
#define ANY_OP {0}

const OrsaStatusMapRow orsa_status_map[] = {
    {1, 2, ABOVE(162), ANY_OP, 5, 0, NULL},
    {1, 2, EQ(0), ANY_OP, 116, 0, NULL},
    {1, 2, EQ(16), ANY_OP, 1, 41,
     "Active session(s) present. Please log out of all sessions before clearing configuration. For systems "
     "booting from an iSCSI target, configuration can only be cleared using the Brennock Utility."},
    {1, 2, EQ(17), ANY_OP, 1, 27, "Session already opened."},
    {1, 2, EQ(18), ANY_OP, 35, 35, "Failed to get session related info, because session is in closed state."},
    {1, 2, EQ(19), OPS(29), 32, 0, NULL},
    {1, 2, EQ(19), ANY_OP, 32, 32,
     "Destination host not reachable. Please check cable and network connections and make sure IP address is "
     "valid. For more information, see Troubleshooting section in Kalderstone documentation."},
    {1, 2, EQ(21), ANY_OP, 1, 23, "TCP Connect Failure. Please make sure that the target is enabled and operational."},
    {1, 2, EQ(22), ANY_OP, 245, 0, NULL},
    {1, 2, EQ(23), ANY_OP, 1, 52, "The Link Status is Down. Please check the cable."},
    {1, 2, EQ(24), ANY_OP, 0, 33,
     "An error occurred changing the DHCP setting. Please check the configuration on the network and the DHCP "
     "server."},
    {1, 2, EQ(30), ANY_OP, 213, 0, NULL},
    {1, 2, EQ(43), ANY_OP, 1, 24,
     "Initiator error. Please make sure your initiator is configured and enabled at the target."},
    {1, 2, EQ(44), OPS(23, 27), 25, 0, NULL},
    {1, 2, EQ(44), ANY_OP, 1, 25,
     "Authentication failure. Please make sure your initiator is properly enabled for authentication at the "
     "target."},
    {1, 2, EQ(45), ANY_OP, 1, 26,
     "Authorization failure. Please make sure you are using the correct CHAP username and secret."},
    {1, 2, EQ(46), ANY_OP, 144, 144, "The requested target does not exist at this address."},
    {1, 2, EQ(56), ANY_OP, 1, 164, "Login Service not available. Please make sure that the target is operational."},
    {1, 2, EQ(58), ANY_OP, 1, 38,
     "Initiator CHAP secret is same as target CHAP secret. Please set a different initiator CHAP secret from the "
     "target CHAP secret."},
    {1, 2, EQ(59), ANY_OP, 1, 37,
     "Invalid Secret Length. Please make sure that the secret is over 12 characters and less than 16 characters "
     "in length."},
    {1, 2, EQ(75), OPS(57), 229, 0, NULL},
    {1, 2, EQ(75), OPS(1), 213, 0, NULL},
    {1, 2, EQ(75), ANY_OP, 327, 0, NULL},
    {1, 2, EQ(77), ANY_OP, 1, 136, "Unable to flash the firmware image as there is a CRC mismatch."},
    {1, 2, EQ(79), ANY_OP, 151, 0, NULL},
    {1, 2, EQ(81), ANY_OP, 151, 0, NULL},
    {1, 2, EQ(83), ANY_OP, 153, 153, "This LoopBack type is not supported on this Kalderstone controller."},
    {1, 2, EQ(84), ANY_OP, 154, 154,
     "The given port is already in loopback state, only after exiting this loopback mode, a new loopback type "
     "can be applied."},
    {1, 2, EQ(85), ANY_OP, 155, 0, NULL},
    {1, 2, EQ(99), ANY_OP, 198, 0, NULL},
    {1, 2, EQ(100), ANY_OP, 243, 0, NULL},
    {1, 2, EQ(104), ANY_OP, 253, 0, NULL},
    {1, 2, EQ(162), ANY_OP, 262, 0, NULL},
    {1, 2, EQ(105), OPS(1), 213, 0, NULL},
    {1, 2, EQ(105), ANY_OP, 5, 0, NULL},
    {1, 2, ANY, ANY_OP, 5, 0, NULL},
    {3, 3, ANY, OPS(57), 229, 0, NULL},
    {3, 3, ANY, ANY_OP, 1, 0, NULL},
    {4, 4, ANY, ANY_OP, 31, 0, NULL},
    {5, 5, EQ(0), ANY_OP, 196, 196, "IOCTL is not supported for the VF at all."},
    {5, 5, EQ(96), ANY_OP, 195, 195, "IOCTL is not supported with the current privilege level."},
    {5, 5, ANY, ANY_OP, 5, 0, NULL},
    {20, 20, ANY, OPS(23), 1, 175, "The Target count exceeded the configured maximum limit."},
    {20, 20, ANY, ANY_OP, 1, 0, NULL},
    {30, 30, ANY, OPS(169), 55, 0, NULL},
    {30, 30, ANY, ANY_OP, 5, 0, NULL},
    {31, 31, ANY, OPS(24, 28), 0, 0, NULL},
    {31, 31, ANY, ANY_OP, 28, 0, NULL},
    {44, 44, ANY, ANY_OP, 55, 0, NULL},
    {46, 46, EQ(0), ANY_OP, 1, 45,
     "The Kalderstone iSCSI initiator TCP/IP settings are not configured. Please configure the TCP/IP settings "
     "before issuing this command."},
    {46, 46, ANY, ANY_OP, 5, 0, NULL},
    {49, 49, ANY, ANY_OP, 1, 117,
     "The target logout request did not complete because IOs were pending. Please quiesce IO to the device and "
     "re-attempt the logout."},
    {66, 66, EQ(103), OPS(69), 236, 0, NULL},
    {66, 66, ANY, OPS(73, 70, 12, 8, 69), 149, 0, NULL},
    {66, 66, ANY, ANY_OP, 149, 149, "This Operation is not supported."},
};
const size_t orsa_status_map_rows = sizeof orsa_status_map / sizeof orsa_status_map[0];

#undef ANY
#undef EQ
#undef ABOVE
#undef OPS
#undef ANY_OP

namespace {

bool row_matches(const OrsaStatusMapRow& r, u32 status, u32 additional, u8 opcode) {
  if (status < r.status_min || status > r.status_max) return false;
  if (r.match == ORSA_MATCH_EQ && additional != r.additional) return false;
  if (r.match == ORSA_MATCH_ABOVE && additional <= r.additional) return false;
  if (r.opcodes[0] == 0) return true;
  for (u8 op : r.opcodes)
    if (op != 0 && op == opcode) return true;
  return false;
}

}  // namespace

u32 OrsaStatusFromIOCTLResponse(u32 status, u32 additional_status, u8 opcode) {
  if (status > 66) return 1;
  if (status == 0) return 0;
  for (size_t i = 0; i < orsa_status_map_rows; i++) {
    const OrsaStatusMapRow& r = orsa_status_map[i];
    if (!row_matches(r, status, additional_status, opcode)) continue;
    if (r.message_code != 0) orsa_set_last_status(r.message_code, r.message);
    return r.result;
  }
  return 1;  // any other status up to 66
}

// --- Flash --------------------------------------------------------------------------

namespace {

const u32 kFlashChunk = 32768;
const u32 kFlashPayload = 32788;
const u8 kFlashOpcode = 7;
const u8 kFlashComponentOpcode = 6;
const u8 kCommonSubsystem = 1;

// The descriptor a gateway-direct command goes to, or -2 when the instance
// names no function of the protocol.
i32 direct_handle(u32 instance, i32 protocol) {
  if (protocol == ORSA_PROTO_NIC) return orsa_valid_nic_instance(instance) ? orsa_glob.nic_port_instances[0] : -2;
  if (protocol == ORSA_PROTO_ISCSI)
    return orsa_valid_iscsi_instance(instance) ? orsa_glob.iscsi_port_instances[instance - 1] : -2;
  return -2;
}

}  // namespace

u32 ioctl_upgrade_flash(u32 instance, u32* request, u8 domain, u8 port, i32 protocol, u8 offset_mode) {
  i32 handle = direct_handle(instance, protocol);
  if (handle == -2 || request == NULL) return 1;
  u8* buffer = (u8*)orsa_dmalloc(ORSA_HDR_SIZE + kFlashPayload);
  if (buffer == NULL) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:ERROR: Unable to allocate memory for the FlashROM command.\n", __func__);
    return 1;
  }
  memset(buffer, 0, ORSA_HDR_SIZE + kFlashPayload);
  u8* payload = buffer + ORSA_HDR_SIZE;
  memcpy(payload, request, 5 * sizeof(u32));
  const u32 optype = request[1];
  const u32 total = request[2];
  const u32 start = request[3];
  const u8* data = (const u8*)request + 16;

  u32 result = 0;
  u32 sent = 0;
  while (sent < total) {
    u32 chunk = total - sent < kFlashChunk ? total - sent : kFlashChunk;
    bool last = sent + chunk == total;
    memcpy(payload + 16, data + sent, chunk);
    put_le32(payload + 0, last ? 1 : 2);  // 1 flash, 2 save
    put_le32(payload + 4, optype);
    put_le32(payload + 8, chunk);
    if (offset_mode) {
      put_le32(payload + 12, start + sent);
      pdebug(kCat, ORSA_LOG_DEBUG, "%s:offset = %x\n", __func__, (unsigned)(start + sent));
    }
    u32 rc = ORSA_IssueIOCTL(handle, kFlashOpcode, kCommonSubsystem, kFlashPayload, buffer, domain, port, protocol,
                             instance);
    if (rc != 0) {
      result = rc;
      break;
    }
    u32 status = response_status(buffer);
    u32 additional = response_additional(buffer);
    if (status != 0) {
      // "Already flashed" only means the image is in place once its last chunk went out.
      if (status == 1 && additional == 77 && optype == 23 && last) {
        result = 0;
      } else if (status == 23 && additional == 87) {
        result = ORSA_STATUS_FLASH_ADDSTATUS_87;
      } else if (status == 23 && additional == 86) {
        result = ORSA_STATUS_FLASH_ADDSTATUS_86;
      } else {
        pdebug(kCat, ORSA_LOG_ERROR, "%s:Error in Writing ROM. status = %d and Addstatus = %d\n", __func__,
               (int)status, (int)additional);
        result = status;
      }
      break;
    }
    sent += chunk;
  }
  orsa_dfree(buffer);
  return result;
}

u32 ioctl_get_flash_component_details(i32 instance, u32 words[6], u8 domain, u8 port, i32 protocol) {
  i32 handle = direct_handle((u32)instance, protocol);
  if (handle == -2 || words == NULL) return 1;
  const u32 payload_length = 6 * sizeof(u32);
  u8* buffer = (u8*)orsa_dmalloc(ORSA_HDR_SIZE + payload_length);
  if (buffer == NULL) return 1;
  memset(buffer, 0, ORSA_HDR_SIZE + payload_length);
  memcpy(buffer + ORSA_HDR_SIZE, words, payload_length);
  u32 rc = ORSA_IssueIOCTL(handle, kFlashComponentOpcode, kCommonSubsystem, payload_length, buffer, domain, port,
                           protocol, (u32)instance);
  if (rc == 0) {
    u32 status = response_status(buffer);
    if (status == 0) {
      memcpy(words, buffer + ORSA_HDR_SIZE, payload_length);
    } else {
      pdebug(kCat, ORSA_LOG_ERROR, "%s:Error in Writing ROM. status = %d and Addstatus = %d\n", __func__,
             (int)status, (int)response_additional(buffer));
      rc = status;
    }
  }
  orsa_dfree(buffer);
  return rc;
}

// --- Linux host ---------------------------------------------------------------------

u32 ORSA_check_valid_interface(const char* ifname) {
  ORSA_ENTRY_LOCK();
  if (ifname == NULL) return 1;
  // The name goes into shell command lines: anything but a plain interface name is refused.
  if (!well_formed_ifname(ifname)) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:Given Interface name is not valid or not PF.\n", __func__);
    return 1;
  }
  char file[64];
  snprintf(file, sizeof file, "/tmp/ifname_%s", ifname);
  char cmd[512];
  snprintf(cmd, sizeof cmd, "ethtool -i %s 2> /dev/null | grep -a bus-info | cut -d\" \" -f2 > %s", ifname, file);
  pdebug(kCat, ORSA_LOG_DEBUG, "%s:cmd = %s\n", __func__, cmd);
  int ret = system(cmd);
  (void)ret;
  FILE* fp = fopen(file, "r");
  if (fp == NULL) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:Failed to Open file\n", __func__);
    unlink(file);
    return 1;
  }
  char addr[64];
  addr[0] = '\0';
  if (fgets(addr, sizeof addr, fp) == NULL) addr[0] = '\0';
  fclose(fp);
  unlink(file);
  addr[strcspn(addr, "\r\n")] = '\0';
  if (strlen(addr) == 0) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:strlen(buf) is zero\n", __func__);
    return 1;
  }
  if (!well_formed_pci_address(addr)) return 1;

  auto found = [&](const char* pattern) {
    snprintf(cmd, sizeof cmd, "lspci -s %s -x 2> /dev/null | grep -a 00: | grep -a \"%s\" > /dev/null 2>&1", addr,
             pattern);
    pdebug(kCat, ORSA_LOG_DEBUG, "%s:cmd = %s\n", __func__, cmd);
    int status = system(cmd);
    pdebug(kCat, ORSA_LOG_DEBUG, "%s:ret_status = %d\n", __func__, status);
    return status == 0;
  };
  if (found("4e 1c")) return 0;
  bool last_match = found("7b 1e") ? found("20 5c") : found("ff ff ff ff");
  if (last_match) {
    pdebug(kCat, ORSA_LOG_ERROR, "%s:Given Interface name is not valid or not PF.\n", __func__);
    return 1;
  }
  return 0;
}
