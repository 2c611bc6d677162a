// Hash tables. The table and each entry take their memory from the caller's
// heap, so heap sizing and accounting see them.
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "internal.h"

using namespace vmkint;

namespace {
constexpr vmk_ByteCount kTableHeader = 64;
constexpr vmk_ByteCount kBucketBytes = 16;
constexpr vmk_ByteCount kEntryBytes = 32;
}  // namespace

struct vmk_HashTableInt {
  vmk_HeapID heap;
  vmk_HashKeyType keyType;
  vmk_uint32 keySize;
  vmk_uint32 nbEntries;
  void* tableMem;  // the table's own heap block
  struct Entry {
    vmk_HashKey key;       // what the caller inserted
    vmk_HashValue value;
    void* mem;             // the entry's heap block
  };
  std::map<std::string, Entry> entries;
  std::mutex lock;

  bool makeKey(vmk_HashKey key, std::string* out) const {
    switch (keyType) {
      case VMK_HASH_KEY_TYPE_INT:
        out->assign((const char*)&key, sizeof key);
        return true;
      case VMK_HASH_KEY_TYPE_STR: {
        if (key == nullptr) return false;
        size_t n = strnlen((const char*)key, keySize);
        if (n >= keySize) return false;  // no room for the terminator: too long
        out->assign((const char*)key, n);
        return true;
      }
      case VMK_HASH_KEY_TYPE_OPAQUE:
        if (key == nullptr) return false;
        out->assign((const char*)key, keySize);
        return true;
    }
    return false;
  }
};

vmk_ByteCount vmk_HashGetAllocSize(vmk_uint32 nbEntries) { return kTableHeader + kBucketBytes * nbEntries; }

VMK_ReturnStatus vmk_HashAlloc(const vmk_HashProperties* props, vmk_HashTable* table) {
  VMK_FAULT_RETURN("vmk_HashAlloc");
  if (props == nullptr || table == nullptr || props->heapID == nullptr || props->nbEntries == 0) return VMK_BAD_PARAM;
  if (props->keyType != VMK_HASH_KEY_TYPE_INT && props->keySize == 0) return VMK_BAD_PARAM;
  void* mem = heapAllocInternal(props->heapID, vmk_HashGetAllocSize(props->nbEntries), 16);
  if (mem == nullptr) return VMK_NO_MEMORY;
  auto* t = new vmk_HashTableInt();
  t->heap = props->heapID;
  t->keyType = props->keyType;
  t->keySize = props->keySize;
  t->nbEntries = props->nbEntries;
  t->tableMem = mem;
  counters.hashTables++;
  *table = t;
  return VMK_OK;
}

VMK_ReturnStatus vmk_HashRelease(vmk_HashTable table) {
  VMK_FAULT_RETURN("vmk_HashRelease");
  if (table == nullptr) return VMK_INVALID_HANDLE;
  {
    std::lock_guard<std::mutex> g(table->lock);
    if (!table->entries.empty()) return VMK_BUSY;
  }
  vmk_HeapFree(table->heap, table->tableMem);
  delete table;
  counters.hashTables--;
  return VMK_OK;
}

vmk_Bool vmk_HashIsEmpty(vmk_HashTable table) {
  if (table == nullptr) return VMK_TRUE;
  std::lock_guard<std::mutex> g(table->lock);
  return table->entries.empty();
}

VMK_ReturnStatus vmk_HashKeyInsert(vmk_HashTable table, vmk_HashKey key, vmk_HashValue value) {
  VMK_FAULT_RETURN("vmk_HashKeyInsert");
  if (table == nullptr) return VMK_INVALID_HANDLE;
  std::string k;
  if (!table->makeKey(key, &k)) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(table->lock);
  if (table->entries.count(k)) return VMK_EXISTS;
  if (table->entries.size() >= table->nbEntries) return VMK_LIMIT_EXCEEDED;
  void* mem = heapAllocInternal(table->heap, kEntryBytes + table->keySize, 16);
  if (mem == nullptr) return VMK_NO_MEMORY;
  table->entries[k] = vmk_HashTableInt::Entry{key, value, mem};
  return VMK_OK;
}

// Looks `key` up and hands its value back; `remove` also drops the entry.
static VMK_ReturnStatus hashKeyTake(vmk_HashTable table, vmk_HashKey key, vmk_HashValue* value, bool remove) {
  if (table == nullptr) return VMK_INVALID_HANDLE;
  std::string k;
  if (!table->makeKey(key, &k)) return VMK_BAD_PARAM;
  std::lock_guard<std::mutex> g(table->lock);
  auto it = table->entries.find(k);
  if (it == table->entries.end()) return VMK_NOT_FOUND;
  if (value) *value = it->second.value;
  if (remove) {
    vmk_HeapFree(table->heap, it->second.mem);
    table->entries.erase(it);
  }
  return VMK_OK;
}

VMK_ReturnStatus vmk_HashKeyFind(vmk_HashTable table, vmk_HashKey key, vmk_HashValue* value) {
  VMK_FAULT_RETURN("vmk_HashKeyFind");
  return hashKeyTake(table, key, value, false);
}

VMK_ReturnStatus vmk_HashKeyDelete(vmk_HashTable table, vmk_HashKey key, vmk_HashValue* value) {
  VMK_FAULT_RETURN("vmk_HashKeyDelete");
  return hashKeyTake(table, key, value, true);
}

VMK_ReturnStatus vmk_HashDeleteAll(vmk_HashTable table) {
  VMK_FAULT_RETURN("vmk_HashDeleteAll");
  if (table == nullptr) return VMK_INVALID_HANDLE;
  std::lock_guard<std::mutex> g(table->lock);
  for (auto& [k, e] : table->entries) vmk_HeapFree(table->heap, e.mem);
  table->entries.clear();
  return VMK_OK;
}

VMK_ReturnStatus vmk_HashKeyIterate(vmk_HashTable table, vmk_HashKeyIterator iterator, vmk_AddrCookie data) {
  VMK_FAULT_RETURN("vmk_HashKeyIterate");
  if (table == nullptr || iterator == nullptr) return VMK_BAD_PARAM;
  // The iterator runs without the table lock (it may look the table up);
  // it sees the entries present when the walk began.
  std::vector<std::pair<std::string, vmk_HashTableInt::Entry>> snapshot;
  {
    std::lock_guard<std::mutex> g(table->lock);
    snapshot.assign(table->entries.begin(), table->entries.end());
  }
  for (auto& [k, e] : snapshot) {
    // The table's own copy of the key, so the caller's key memory may be gone.
    vmk_HashKey key = table->keyType == VMK_HASH_KEY_TYPE_INT ? e.key : (vmk_HashKey)k.c_str();
    vmk_HashKeyIteratorCmd cmd = iterator(table, key, e.value, data);
    if (cmd & VMK_HASH_KEY_ITER_CMD_DELETE) {
      std::lock_guard<std::mutex> g(table->lock);
      auto it = table->entries.find(k);
      if (it != table->entries.end()) {
        vmk_HeapFree(table->heap, it->second.mem);
        table->entries.erase(it);
      }
    }
    if (cmd & VMK_HASH_KEY_ITER_CMD_STOP) break;
  }
  return VMK_OK;
}
