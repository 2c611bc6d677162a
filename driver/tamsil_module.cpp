// Module load and unload: memory pool and heap, log component, lock domain,
// module parameters, driver registration, the device hash table and the
// management channel. Also the device identity tables.
#include <cstdio>
#include <cstring>

#include "tamsil.h"

VMK_NAMESPACE_REQUIRED(TAMSIL_VMKAPI_NAMESPACE);
VMK_VERSION_INFO(TAMSIL_MODULE_VERSION);

/* ------------------------------------------------------------------------ */
/* Driver-wide state                                                         */
/* ------------------------------------------------------------------------ */

tamsil_driverRecord tamsilDriver;
vmk_LogComponent tamsilDriverLog = VMK_INVALID_LOG_HANDLE;
vmk_HashTable tamsil_vmkdevHashTbl = VMK_INVALID_HASH_HANDLE;
vmk_MgmtHandle tamsil_mgmtHandle = nullptr;
vmk_uint32 adapter_idx = 0;

/* ------------------------------------------------------------------------ */
/* Module parameters                                                         */
/* ------------------------------------------------------------------------ */

unsigned int debugMask = TAMSIL_DEBUG_MASK_DEFAULT;
int d_rssqs[TAMSIL_MAX_PF_PARAMS];
int num_max_drss = 0;
int rssqs[TAMSIL_MAX_PF_PARAMS];
int num_max_rss = 0;
int emi_canceller = 0;
int tpe_recovery = 1;
int vxlan_offload = 1;
int msix = 1;
int dyn_netq = 1;
int max_vfs[TAMSIL_MAX_PF_PARAMS];
int num_max_vfs = 0;

// Every RSS and DRSS entry defaults to 1 (a count of 0 means no entry given).
static const bool tamsil_paramDefaultsSet = [] {
  for (int i = 0; i < TAMSIL_MAX_PF_PARAMS; i++) d_rssqs[i] = rssqs[i] = 1;
  return true;
}();

static const vmk_ModuleParamDesc tamsil_moduleParams[] = {
    {"debugMask", VMK_PARAM_UINT, &debugMask, 0, nullptr,
     "Enabled debug mask (default: DRIVER, UPLINK, QUEUE, SRIOV, MCC & VxLAN)"},
    {"DRSS", VMK_PARAM_INT_ARRAY, d_rssqs, TAMSIL_MAX_PF_PARAMS, &num_max_drss,
     "Number of RSS Queues to create on the Default Queue, 0 = disable"},
    {"RSS", VMK_PARAM_INT_ARRAY, rssqs, TAMSIL_MAX_PF_PARAMS, &num_max_rss,
     "Number of RSS Queues to create, 0 = disable"},
    {"emi_canceller", VMK_PARAM_BOOL, &emi_canceller, 0, nullptr,
     "Enable / Disable EMI Canceller, 0 = disable (default)"},
    {"tpe_recovery", VMK_PARAM_BOOL, &tpe_recovery, 0, nullptr, "Enable / Disable TPE Recovery,1 = enable (default)"},
    {"vxlan_offload", VMK_PARAM_BOOL, &vxlan_offload, 0, nullptr,
     "Enable / Disable vxlan_offload,1 = enable (default)"},
    {"msix", VMK_PARAM_BOOL, &msix, 0, nullptr, "Enable / Disable MSI-X, 1 = enable (default)"},
    {"dyn_netq", VMK_PARAM_BOOL, &dyn_netq, 0, nullptr, "Enable / Disable Dynamic Netqueue, 1 = enable (default)"},
    {"max_vfs", VMK_PARAM_INT_ARRAY, max_vfs, TAMSIL_MAX_PF_PARAMS, &num_max_vfs,
     "Number of PCI VFs to initialize, 0 = disable (default)"},
};
VMK_MODPARAM_TABLE(tamsil_moduleParams);

/* ------------------------------------------------------------------------ */
/* Device identity                                                           */
/* ------------------------------------------------------------------------ */

const char* const tamsil_device_name[TAMSIL_DEVICE_NAMES] = {
    "Kalderstone 2", "Quorvantix", "Kalderstone 3", "Quorvantix (ks3)", "Quorvantix (Pivard)", "Veskarn",
};

vmk_uint32 tamsil_deviceNameIndex(vmk_uint16 deviceId) {
  switch (deviceId) {
    case TAMSIL_DEVID_VESKARN:
    case TAMSIL_DEVID_VESKARN_ALT: return 5;
    case TAMSIL_DEVID_KS3: return 3;
    case TAMSIL_DEVID_KS3_ALT: return 2;
    case TAMSIL_DEVID_KS2: return 1;
    case TAMSIL_DEVID_PIVARD: return 4;
    default: return 0;
  }
}

vmk_uint32 tamsil_asicGeneration(vmk_uint16 deviceId) {
  switch (deviceId) {
    case TAMSIL_DEVID_KS2:
    case TAMSIL_DEVID_KS2_ALT: return TAMSIL_ASIC_KS2;
    case TAMSIL_DEVID_KS3:
    case TAMSIL_DEVID_KS3_ALT: return TAMSIL_ASIC_KS3;
    case TAMSIL_DEVID_PIVARD: return TAMSIL_ASIC_PIVARD;
    case TAMSIL_DEVID_VESKARN:
    case TAMSIL_DEVID_VESKARN_ALT: return TAMSIL_ASIC_VESKARN;
    default: return TAMSIL_ASIC_NONE;
  }
}

/* ------------------------------------------------------------------------ */
/* Pool and heap sizing                                                      */
/* ------------------------------------------------------------------------ */

vmk_uint32 tamsil_calculateMpoolSize(void) { return TAMSIL_MPOOL_BASE_PAGES; }

vmk_uint32 tamsil_calculateHeapSize(void) {
  vmk_ByteCount hashSize = vmk_HashGetAllocSize(TAMSIL_HASH_ENTRIES);
  vmk_HeapAllocationDescriptor descs[] = {
      {40, 16, 1}, {40, 0, 172}, {hashSize, 0, 1}, {hashSize, 0, 1}, {16, 0, 64}, {12, 0, 1}, {24, 0, 64},
  };
  vmk_ByteCount size = 0;
  if (vmk_HeapDetermineMaxSize(descs, sizeof descs / sizeof descs[0], &size) != VMK_OK) return 0;
  return (vmk_uint32)size;
}

int tamsil_DestroyHeap(void) {
  VMK_ReturnStatus status;
  if (tamsilDriver.heap_id != VMK_INVALID_HEAP_ID) {
    status = vmk_HeapDestroy(tamsilDriver.heap_id);
    if (status != VMK_OK) vmk_AlertMessage("vmk_HeapDestroy failed: %s\n", vmk_StatusToString(status));
    tamsilDriver.heap_id = VMK_INVALID_HEAP_ID;
  }
  if (tamsilDriver.mem_pool != VMK_MEMPOOL_INVALID) {
    status = vmk_MemPoolDestroy(tamsilDriver.mem_pool);
    if (status != VMK_OK) vmk_AlertMessage("vmk_MemPoolDestroy failed: %s\n", vmk_StatusToString(status));
    tamsilDriver.mem_pool = VMK_MEMPOOL_INVALID;
  }
  return 0;
}

/* ------------------------------------------------------------------------ */
/* Array parameter checks                                                    */
/* ------------------------------------------------------------------------ */

struct tamsil_arrayParam {
  const int* values;
  int count;
  const char* entryFmt;     // one listing entry
  const char* limitMsg;     // count above the limit: the load fails
  const char* bufferMsg;    // listing full: the listing stops
  const char* listingMsg;   // the listing, with the DRIVER bit
};

// Checks one array parameter and lists its entries. False when the load must fail.
static bool tamsil_checkArrayParam(const tamsil_arrayParam* p) {
  if (p->count <= 0) return true;
  if (p->count > TAMSIL_MAX_PF_PARAMS) {
    tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, false, nullptr, __func__, __LINE__, p->limitMsg,
                   TAMSIL_MAX_PF_PARAMS);
    return false;
  }
  char text[TAMSIL_PARAM_LIST_LEN];
  memset(text, 0, sizeof text);
  size_t used = 0;
  for (int i = 0; i < p->count; i++) {
    char entry[TAMSIL_PARAM_ENTRY_LEN];
    int n = snprintf(entry, sizeof entry, p->entryFmt, i, p->values[i]);
    if (n < 0 || n >= (int)sizeof entry || used + (size_t)n >= sizeof text) {
      tamsil_logLine(VMK_LOG_URGENCY_ALERT, TAMSIL_LOG_LEVEL_ERR, false, nullptr, __func__, __LINE__, "%s",
                     p->bufferMsg);
      break;
    }
    memcpy(text + used, entry, (size_t)n + 1);
    used += (size_t)n;
  }
  if (debugMask & TAMSIL_DBG_DRIVER)
    tamsil_logLine(VMK_LOG_URGENCY_NORMAL, TAMSIL_LOG_LEVEL_INFO, false, nullptr, __func__, __LINE__, p->listingMsg,
                   p->count, text);
  return true;
}

static bool tamsil_checkModuleParams(void) {
  const tamsil_arrayParam params[] = {
      {max_vfs, num_max_vfs, "max_vfs[%d]=%d ", "Exceeding max PF limit while creating VFs. Allowed is %d\n",
       "Buffer limit exceeded while displaying max_vfs info\n", "num_max_vfs=%d %s\n"},
      {rssqs, num_max_rss, "rssqs[%d]=%d ", "Exceeding max PF limit while creating RSS queues. Allowed is %d\n",
       "Buffer limit exceeded while displaying RSS queue info\n", "num_max_rss=%d %s\n"},
      {d_rssqs, num_max_drss, "d_rssqs[%d]=%d ",
       "Exceeding max PF limit while creating RSS queuesfor default queue. Allowed is %d\n",
       "Buffer limit exceeded while displaying Default RSS queue info\n", "num_max_drss=%d %s\n"},
  };
  for (const auto& p : params)
    if (!tamsil_checkArrayParam(&p)) return false;
  return true;
}

/* ------------------------------------------------------------------------ */
/* Device hash table                                                         */
/* ------------------------------------------------------------------------ */

static vmk_HashKeyIteratorCmd tamsil_vmkdevHashFree(vmk_HashTable, vmk_HashKey, vmk_HashValue value,
                                                    vmk_AddrCookie) {
  // Entry values are nodes on the module heap; they go with their entries.
  if (value != nullptr) vmk_HeapFree(tamsilDriver.heap_id, value);
  return VMK_HASH_KEY_ITER_CMD_DELETE;
}

// Deletes every entry and releases the table when it is then empty.
static void tamsil_vmkdevHashDestroy(void) {
  if (tamsil_vmkdevHashTbl == VMK_INVALID_HASH_HANDLE) return;
  vmk_AddrCookie none{};
  if (vmk_HashKeyIterate(tamsil_vmkdevHashTbl, tamsil_vmkdevHashFree, none) != VMK_OK)
    vmk_AlertMessage("Error in deleting tamsil_vmkdevHashTbl hash entries\n");
  if (vmk_HashIsEmpty(tamsil_vmkdevHashTbl) && vmk_HashRelease(tamsil_vmkdevHashTbl) == VMK_OK)
    tamsil_vmkdevHashTbl = VMK_INVALID_HASH_HANDLE;
}

/* ------------------------------------------------------------------------ */
/* Load and unload                                                           */
/* ------------------------------------------------------------------------ */

int init_module(void) {
  VMK_ReturnStatus status;

  memset(&tamsilDriver, 0, sizeof tamsilDriver);
  tamsilDriver.module_id = VMK_INVALID_MODULE_ID;
  tamsilDriverLog = VMK_INVALID_LOG_HANDLE;
  tamsil_vmkdevHashTbl = VMK_INVALID_HASH_HANDLE;
  tamsil_mgmtHandle = nullptr;
  adapter_idx = 0;

  // 1. Module.
  status = vmk_ModuleRegister(&tamsilDriver.module_id, TAMSIL_INTERFACE_REVISION);
  if (status != VMK_OK) {
    vmk_AlertMessage("vmk_ModuleRegister failed: %s\n", vmk_StatusToString(status));
    return 1;
  }
  vmk_NameInitialize(&tamsilDriver.name, TAMSIL_DRIVER_NAME);

  // 2. Memory pool: every adapter's object and DMA memory comes from it.
  vmk_uint32 poolPages = tamsil_calculateMpoolSize() * TAMSIL_MPOOL_SLACK_PERCENT / 100;
  vmk_MemPoolProps poolProps;
  memset(&poolProps, 0, sizeof poolProps);
  vmk_NameCopy(&poolProps.name, &tamsilDriver.name);
  poolProps.module = tamsilDriver.module_id;
  poolProps.parentMemPool = VMK_MEMPOOL_INVALID;
  poolProps.memPoolType = VMK_MEM_POOL_LEAF;
  poolProps.reservation = TAMSIL_MPOOL_RESERVATION_FACTOR * poolPages;
  poolProps.limit = TAMSIL_MPOOL_LIMIT_FACTOR * poolPages;
  status = vmk_MemPoolCreate(&poolProps, &tamsilDriver.mem_pool);
  if (status != VMK_OK) {
    vmk_AlertMessage("vmk_MemPoolCreate failed: %s\n", vmk_StatusToString(status));
    tamsilDriver.mem_pool = VMK_MEMPOOL_INVALID;
    goto unregister_module;
  }

  // 3. Heap for the small objects, backed by the pool.
  {
    vmk_uint32 heapSize = tamsil_calculateHeapSize() * TAMSIL_MPOOL_SLACK_PERCENT / 100;
    vmk_HeapCreateProps heapProps;
    memset(&heapProps, 0, sizeof heapProps);
    heapProps.type = VMK_HEAP_TYPE_MEMPOOL;
    vmk_NameCopy(&heapProps.name, &tamsilDriver.name);
    heapProps.module = tamsilDriver.module_id;
    heapProps.initial = (vmk_ByteCount)TAMSIL_HEAP_INITIAL_FACTOR * heapSize;
    heapProps.max = (vmk_ByteCount)TAMSIL_HEAP_MAX_FACTOR * heapSize;
    heapProps.creationTimeoutMS = TAMSIL_HEAP_TIMEOUT_MS;
    heapProps.physContiguity = VMK_MEM_PHYS_CONTIGUOUS;
    heapProps.physRange = VMK_PHYS_ADDR_ANY;
    heapProps.memPool = tamsilDriver.mem_pool;
    status = vmk_HeapCreate(&heapProps, &tamsilDriver.heap_id);
  }
  if (status != VMK_OK) {
    vmk_AlertMessage("vmk_HeapCreate failed: %s\n", vmk_StatusToString(status));
    tamsilDriver.heap_id = VMK_INVALID_HEAP_ID;
    goto destroy_heap;
  }
  vmk_ModuleSetHeapID(tamsilDriver.module_id, tamsilDriver.heap_id);

  // 4. Log component.
  {
    vmk_LogProperties logProps;
    memset(&logProps, 0, sizeof logProps);
    vmk_NameCopy(&logProps.name, &tamsilDriver.name);
    logProps.module = tamsilDriver.module_id;
    logProps.heap = tamsilDriver.heap_id;
    logProps.defaultLevel = 0;
    logProps.throttle = nullptr;
    status = vmk_LogRegister(&logProps, &tamsilDriver.log);
  }
  if (status != VMK_OK) {
    vmk_AlertMessage("vmk_LogRegister failed: %s\n", vmk_StatusToString(status));
    tamsilDriver.log = VMK_INVALID_LOG_HANDLE;
    goto destroy_heap;
  }
  vmk_LogSetCurrentLogLevel(tamsilDriver.log, 1);
  tamsilDriverLog = tamsilDriver.log;

  // 5. Lock domain.
  status = vmk_LockDomainCreate(tamsilDriver.module_id, tamsilDriver.heap_id, &tamsilDriver.name,
                                &tamsilDriver.lock_domain);
  if (status != VMK_OK) {
    TAMSIL_MOD_ERR("vmk_LockDomainCreate failed, status: 0x%x\n", status);
    tamsilDriver.lock_domain = VMK_LOCKDOMAIN_INVALID;
    goto unregister_log;
  }

  // 6. Module parameters.
  if (!tamsil_checkModuleParams()) goto destroy_lock_domain;

  // 7. Driver.
  status = tamsil_driverRegister();
  if (status != VMK_OK) {
    TAMSIL_MOD_ERR("Initialization of tamsil driver failed: 0x%x\n", status);
    tamsilDriver.driver_handle = VMK_DRIVER_NONE;
    goto destroy_lock_domain;
  }
  TAMSIL_MOD_WARN("Initialization of tamsil driver successful\n");

  // 8. Device hash table: PCI name -> uplink name and kernel device.
  {
    vmk_HashProperties hashProps;
    memset(&hashProps, 0, sizeof hashProps);
    hashProps.moduleID = tamsilDriver.module_id;
    hashProps.heapID = tamsilDriver.heap_id;
    hashProps.keyType = VMK_HASH_KEY_TYPE_STR;
    hashProps.keyFlags = VMK_HASH_KEY_FLAGS_LOCAL_COPY;
    hashProps.keySize = TAMSIL_HASH_KEY_LEN;
    hashProps.nbEntries = TAMSIL_HASH_ENTRIES;
    status = vmk_HashAlloc(&hashProps, &tamsil_vmkdevHashTbl);
  }
  if (status != VMK_OK) {
    TAMSIL_MOD_ERR("Initialization of tamsil_vmkdevHashTbl failed: %d\n", (int)status);
    tamsil_vmkdevHashTbl = VMK_INVALID_HASH_HANDLE;
    goto unregister_driver;
  }
  TAMSIL_MOD_DBG(TAMSIL_DBG_VXLAN, TAMSIL_LOG_LEVEL_INFO, "Allocation of tamsil_vmkdevHashTbl successful\n");

  // 9. Management channel.
  status = vmk_MgmtInit(tamsilDriver.module_id, tamsilDriver.heap_id, &tamsil_mgmtSignature, nullptr,
                        TAMSIL_MGMT_COOKIE, &tamsil_mgmtHandle);
  if (status != VMK_OK) {
    TAMSIL_MOD_ERR("Initialization of tamsil driver with mgmt failed, status: 0x%x\n", status);
    tamsil_mgmtHandle = nullptr;
    goto destroy_hash;
  }
  TAMSIL_MOD_DBG(TAMSIL_DBG_DRIVER, TAMSIL_LOG_LEVEL_INFO, "Initialization of tamsil driver with mgmt succeeded\n");
  return 0;

destroy_hash:
  tamsil_vmkdevHashDestroy();
unregister_driver:
  vmk_DriverUnregister(tamsilDriver.driver_handle);
  tamsilDriver.driver_handle = VMK_DRIVER_NONE;
destroy_lock_domain:
  vmk_LockDomainDestroy(tamsilDriver.lock_domain);
  tamsilDriver.lock_domain = VMK_LOCKDOMAIN_INVALID;
unregister_log:
  tamsilDriverLog = VMK_INVALID_LOG_HANDLE;
  vmk_LogUnregister(tamsilDriver.log);
  tamsilDriver.log = VMK_INVALID_LOG_HANDLE;
destroy_heap:
  tamsil_DestroyHeap();
unregister_module:
  vmk_ModuleUnregister(tamsilDriver.module_id);
  tamsilDriver.module_id = VMK_INVALID_MODULE_ID;
  return 1;
}

void cleanup_module(void) {
  if (tamsilDriver.driver_handle != VMK_DRIVER_NONE) {
    vmk_DriverUnregister(tamsilDriver.driver_handle);
    tamsilDriver.driver_handle = VMK_DRIVER_NONE;
  }
  // Every device is detached: what they left in quarantine goes last.
  tamsil_quarantineRelease();
  if (tamsilDriver.lock_domain != VMK_LOCKDOMAIN_INVALID) {
    vmk_LockDomainDestroy(tamsilDriver.lock_domain);
    tamsilDriver.lock_domain = VMK_LOCKDOMAIN_INVALID;
  }
  if (tamsilDriver.log != VMK_INVALID_LOG_HANDLE) {
    tamsilDriverLog = VMK_INVALID_LOG_HANDLE;
    vmk_LogUnregister(tamsilDriver.log);
    tamsilDriver.log = VMK_INVALID_LOG_HANDLE;
  }
  tamsil_vmkdevHashDestroy();
  if (tamsil_mgmtHandle != nullptr) {
    vmk_MgmtDestroy(tamsil_mgmtHandle);
    tamsil_mgmtHandle = nullptr;
  }
  tamsil_DestroyHeap();
  if (tamsilDriver.module_id != VMK_INVALID_MODULE_ID) {
    vmk_ModuleUnregister(tamsilDriver.module_id);
    tamsilDriver.module_id = VMK_INVALID_MODULE_ID;
  }
}
