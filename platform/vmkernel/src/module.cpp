// Modules, the module loader with its parameters, and the management channel.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "internal.h"

using namespace vmkint;

/* ------------------------------------------------------------------------ */
/* Modules                                                                   */
/* ------------------------------------------------------------------------ */

namespace {
std::mutex modLock;
struct ModuleRec {
  vmk_HeapID heap = nullptr;
};
std::map<vmk_ModuleID, ModuleRec> modules;
vmk_ModuleID nextModule = 1;
std::set<std::string>& presentModules() {
  static auto* s = new std::set<std::string>();
  return *s;
}

struct ParamEntry {
  vmk_ModuleParamDesc desc;
  std::vector<uint8_t> defaults;
  int defaultCount = 0;
};
std::vector<ParamEntry>& params() {
  static auto* p = new std::vector<ParamEntry>();
  return *p;
}

size_t paramBytes(const vmk_ModuleParamDesc& d) {
  return d.type == VMK_PARAM_INT_ARRAY ? sizeof(int) * d.capacity : sizeof(int);
}

void restoreDefaults() {
  for (auto& p : params()) {
    memcpy(p.desc.value, p.defaults.data(), p.defaults.size());
    if (p.desc.count) *p.desc.count = p.defaultCount;
  }
}

bool parseInt(const std::string& text, long long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0') return false;
  *out = v;
  return true;
}
}  // namespace

VMK_ReturnStatus vmk_ModuleRegister(vmk_ModuleID* id, vmk_revnum interfaceRevision) {
  VMK_FAULT_RETURN("vmk_ModuleRegister");
  if (id == nullptr) return VMK_BAD_PARAM;
  if (interfaceRevision != VMKAPI_REVISION) return VMK_NOT_SUPPORTED;
  std::lock_guard<std::mutex> g(modLock);
  *id = nextModule++;
  modules[*id] = ModuleRec{};
  counters.modules++;
  return VMK_OK;
}

VMK_ReturnStatus vmk_ModuleUnregister(vmk_ModuleID id) {
  VMK_FAULT_RETURN("vmk_ModuleUnregister");
  std::lock_guard<std::mutex> g(modLock);
  if (modules.erase(id) == 0) return VMK_NOT_FOUND;
  counters.modules--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_ModuleSetHeapID(vmk_ModuleID id, vmk_HeapID heap) {
  VMK_FAULT_RETURN("vmk_ModuleSetHeapID");
  std::lock_guard<std::mutex> g(modLock);
  auto it = modules.find(id);
  if (it == modules.end()) return VMK_NOT_FOUND;
  it->second.heap = heap;
  return VMK_OK;
}

vmk_HeapID vmk_ModuleGetHeapID(vmk_ModuleID id) {
  std::lock_guard<std::mutex> g(modLock);
  auto it = modules.find(id);
  return it == modules.end() ? VMK_INVALID_HEAP_ID : it->second.heap;
}

VMK_ReturnStatus vmk_ModuleGetID(const char* name, vmk_ModuleID* id) {
  VMK_FAULT_RETURN("vmk_ModuleGetID");
  if (name == nullptr || id == nullptr) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(modLock);
  if (presentModules().count(name) == 0) return VMK_NOT_FOUND;
  *id = 1000 + (vmk_ModuleID)std::distance(presentModules().begin(), presentModules().find(name));
  return VMK_OK;
}

namespace {
std::vector<std::string>& declarations() {
  static auto* d = new std::vector<std::string>();
  return *d;
}
}  // namespace

void vmk_ModuleDeclare(const char* what, const char* value) {
  std::lock_guard<std::mutex> g(modLock);
  declarations().push_back(std::string(what) + " " + value);
}

void vmk_ModuleParamTableRegister(const vmk_ModuleParamDesc* table, vmk_uint32 entries) {
  std::lock_guard<std::mutex> g(modLock);
  for (vmk_uint32 i = 0; i < entries; i++) {
    ParamEntry p;
    p.desc = table[i];
    p.defaults.resize(paramBytes(table[i]));
    memcpy(p.defaults.data(), table[i].value, p.defaults.size());
    p.defaultCount = table[i].count ? *table[i].count : 0;
    params().push_back(p);
  }
}

/* ------------------------------------------------------------------------ */
/* Management channel                                                        */
/* ------------------------------------------------------------------------ */

struct vmk_MgmtHandleInt {
  std::string name;
  vmk_MgmtSignature sig;
  std::vector<vmk_MgmtCallbackInfo> callbacks;
  vmk_MgmtCookie cookie;
  vmk_MgmtCleanupFn cleanup;
  struct Key {
    std::string name;
    vmk_MgmtKeyType type;
    vmk_MgmtKeyGetFn get;
    vmk_MgmtKeySetFn set;
  };
  std::vector<Key> keys;
};

namespace {
std::map<std::string, vmk_MgmtHandleInt*> channels;  // modLock
}

VMK_ReturnStatus vmk_MgmtInit(vmk_ModuleID, vmk_HeapID, const vmk_MgmtSignature* signature,
                              vmk_MgmtCleanupFn cleanup, vmk_MgmtCookie cookie, vmk_MgmtHandle* handle) {
  VMK_FAULT_RETURN("vmk_MgmtInit");
  if (signature == nullptr || handle == nullptr || (signature->numCallbacks > 0 && signature->callbacks == nullptr))
    return VMK_BAD_PARAM;
  for (vmk_uint32 i = 0; i < signature->numCallbacks; i++)
    if (signature->callbacks[i].numParameters > VMK_MGMT_MAX_CALLBACK_PARAMS) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(modLock);
  if (channels.count(signature->name.string)) return VMK_EXISTS;
  auto* h = new vmk_MgmtHandleInt();
  h->name = signature->name.string;
  h->sig = *signature;
  h->callbacks.assign(signature->callbacks, signature->callbacks + signature->numCallbacks);
  h->cookie = cookie;
  h->cleanup = cleanup;
  channels[h->name] = h;
  counters.mgmtHandles++;
  *handle = h;
  return VMK_OK;
}

VMK_ReturnStatus vmk_MgmtDestroy(vmk_MgmtHandle handle) {
  VMK_FAULT_RETURN("vmk_MgmtDestroy");
  if (handle == nullptr) return VMK_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> g(modLock);
    auto it = channels.find(handle->name);
    if (it == channels.end() || it->second != handle) return VMK_INVALID_HANDLE;
    channels.erase(it);
  }
  if (handle->cleanup) handle->cleanup(handle->cookie);
  delete handle;
  counters.mgmtHandles--;
  return VMK_OK;
}

VMK_ReturnStatus vmk_MgmtAddKey(vmk_MgmtHandle handle, vmk_MgmtKeyType type, const vmk_Name* name,
                                vmk_MgmtKeyGetFn get, vmk_MgmtKeySetFn set) {
  VMK_FAULT_RETURN("vmk_MgmtAddKey");
  if (handle == nullptr || name == nullptr || name->string[0] == '\0') return VMK_BAD_PARAM;
  if (type != VMK_MGMT_KEY_TYPE_LONG && type != VMK_MGMT_KEY_TYPE_STRING) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(modLock);
  for (auto& k : handle->keys)
    if (k.name == name->string) return VMK_EXISTS;
  handle->keys.push_back({name->string, type, get, set});
  return VMK_OK;
}

namespace vmkint {
void resetModules() {
  std::lock_guard<std::mutex> g(modLock);
  presentModules().clear();
}
}  // namespace vmkint

namespace vmktest {

bool setModuleParameters(const std::string& options, std::string* error) {
  std::lock_guard<std::mutex> g(modLock);
  restoreDefaults();
  std::istringstream in(options);
  std::string item;
  while (in >> item) {
    auto eq = item.find('=');
    std::string name = item.substr(0, eq);
    std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
    ParamEntry* p = nullptr;
    for (auto& e : params())
      if (name == e.desc.name) p = &e;
    if (p == nullptr) {
      if (error) *error = "unknown parameter " + name;
      return false;
    }
    long long v;
    if (p->desc.type == VMK_PARAM_INT_ARRAY) {
      // Every value counts, even beyond the array: the module sees how many
      // the administrator gave.
      int* arr = (int*)p->desc.value;
      int n = 0;
      std::istringstream vs(value);
      std::string one;
      while (std::getline(vs, one, ',')) {
        if (!parseInt(one, &v)) {
          if (error) *error = "bad value " + one + " for " + name;
          return false;
        }
        if ((vmk_uint32)n < p->desc.capacity) arr[n] = (int)v;
        n++;
      }
      if (p->desc.count) *p->desc.count = n;
      continue;
    }
    if (!parseInt(value, &v)) {
      if (error) *error = "bad value " + value + " for " + name;
      return false;
    }
    if (p->desc.type == VMK_PARAM_BOOL) v = v != 0;
    if (p->desc.type == VMK_PARAM_UINT) *(unsigned int*)p->desc.value = (unsigned int)v;
    else *(int*)p->desc.value = (int)v;
  }
  return true;
}

std::vector<std::string> moduleDeclarations() {
  std::lock_guard<std::mutex> g(modLock);
  return declarations();
}

std::vector<std::string> moduleParameterList() {
  std::lock_guard<std::mutex> g(modLock);
  std::vector<std::string> out;
  static const char* typeNames[] = {"int", "uint", "bool", "array of int"};
  for (auto& p : params()) out.push_back(std::string(p.desc.name) + " " + typeNames[p.desc.type] + " " + p.desc.description);
  return out;
}

int loadModule(int (*init)(), const std::string& options) {
  std::string error;
  if (!setModuleParameters(options, &error)) {
    vmk_WarningMessage("module loader: %s\n", error.c_str());
    return -1;
  }
  return init();
}

void unloadModule(void (*cleanup)()) { cleanup(); }

VMK_ReturnStatus mgmtInvoke(const std::string& name, uint64_t id, void* p1, size_t p1Size, void* p2,
                            size_t p2Size) {
  vmk_MgmtCallbackInfo info{};
  vmk_MgmtCookie cookie;
  {
    std::lock_guard<std::mutex> g(modLock);
    auto it = channels.find(name);
    if (it == channels.end()) return VMK_NOT_FOUND;
    bool found = false;
    for (auto& cb : it->second->callbacks)
      if (cb.callbackId == id) {
        info = cb;
        found = true;
      }
    if (!found) return VMK_NOT_FOUND;
    cookie = it->second->cookie;
  }
  if (info.numParameters != 2 || info.parameterSizes[0] != p1Size || info.parameterSizes[1] != p2Size)
    return VMK_BAD_PARAM;
  // The transport hands the callback kernel copies of exactly the declared
  // sizes and copies back what the callback may write.
  std::vector<uint8_t> k1(p1Size), k2(p2Size);
  if (p1) memcpy(k1.data(), p1, p1Size);
  if (p2) memcpy(k2.data(), p2, p2Size);
  VMK_ReturnStatus s = info.callback(cookie, 0, k1.data(), k2.data());
  if (p1 && info.parameterTypes[0] != VMK_MGMT_PARMTYPE_IN) memcpy(p1, k1.data(), p1Size);
  if (p2 && info.parameterTypes[1] != VMK_MGMT_PARMTYPE_IN) memcpy(p2, k2.data(), p2Size);
  return s;
}

static bool findKey(const std::string& instance, const std::string& key, vmk_MgmtHandleInt::Key* out,
                    vmk_MgmtCookie* cookie) {
  std::lock_guard<std::mutex> g(modLock);
  auto it = channels.find(instance);
  if (it == channels.end()) return false;
  for (auto& k : it->second->keys)
    if (k.name == key) {
      *out = k;
      *cookie = it->second->cookie;
      return true;
    }
  return false;
}

VMK_ReturnStatus mgmtKeyGet(const std::string& instance, const std::string& key, std::string* value) {
  vmk_MgmtHandleInt::Key k;
  vmk_MgmtCookie cookie;
  if (!findKey(instance, key, &k, &cookie)) return VMK_NOT_FOUND;
  if (k.get == nullptr) return VMK_NOT_SUPPORTED;
  std::vector<char> buf(VMK_MGMT_KEY_STRING_MAX, 0);
  VMK_ReturnStatus s = k.get(cookie, buf.data());
  if (value) {
    if (k.type == VMK_MGMT_KEY_TYPE_LONG) value->assign(std::to_string(*(vmk_int64*)buf.data()));
    else value->assign(buf.data(), strnlen(buf.data(), buf.size()));
  }
  return s;
}

VMK_ReturnStatus mgmtKeySet(const std::string& instance, const std::string& key, const std::string& value) {
  vmk_MgmtHandleInt::Key k;
  vmk_MgmtCookie cookie;
  if (!findKey(instance, key, &k, &cookie)) return VMK_NOT_FOUND;
  if (k.set == nullptr) return VMK_NOT_SUPPORTED;
  std::vector<char> buf(VMK_MGMT_KEY_STRING_MAX, 0);
  if (k.type == VMK_MGMT_KEY_TYPE_LONG) {
    long long v;
    if (!parseInt(value, &v)) return VMK_BAD_PARAM;
    *(vmk_int64*)buf.data() = v;
  } else {
    memcpy(buf.data(), value.data(), std::min(value.size(), buf.size() - 1));
  }
  return k.set(cookie, buf.data());
}

std::vector<std::string> mgmtKeys(const std::string& instance) {
  std::lock_guard<std::mutex> g(modLock);
  std::vector<std::string> out;
  auto it = channels.find(instance);
  if (it != channels.end())
    for (auto& k : it->second->keys) out.push_back(k.name);
  return out;
}

bool mgmtRegistered(const std::string& name) {
  std::lock_guard<std::mutex> g(modLock);
  return channels.count(name) != 0;
}

void setModulePresent(const std::string& name, bool present) {
  std::lock_guard<std::mutex> g(modLock);
  if (present) presentModules().insert(name);
  else presentModules().erase(name);
}

}  // namespace vmktest
