// Machine memory, pools, mappings, heaps, hash tables and bit vectors.
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "kernel_fixture.h"

namespace {

constexpr vmk_MA k4GB = 0x100000000ull;

class MemoryTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    makePoolAndHeap(&pool, &heap, 4096);
  }
  void TearDown() override {
    EXPECT_EQ(VMK_OK, vmk_HeapDestroy(heap));
    EXPECT_EQ(VMK_OK, vmk_MemPoolDestroy(pool));
    StandinTest::TearDown();
  }
  // A second heap "other" on the same pool (nullptr: not made).
  vmk_HeapID otherHeap() {
    vmk_HeapCreateProps hp{};
    hp.type = VMK_HEAP_TYPE_MEMPOOL;
    vmk_NameInitialize(&hp.name, "other");
    hp.initial = 1024;
    hp.max = 4096;
    hp.memPool = pool;
    vmk_HeapID other = nullptr;
    EXPECT_EQ(VMK_OK, vmk_HeapCreate(&hp, &other));
    return other;
  }
  vmk_MpnRange alloc(vmk_MemPhysAddrConstraint range, vmk_uint32 pages) {
    vmk_MemPoolAllocProps props{};
    props.physRange = range;
    vmk_MpnRange r{};
    EXPECT_EQ(VMK_OK, vmk_MemPoolAlloc(pool, &props, pages, &r));
    return r;
  }
  vmk_MemPool pool = nullptr;
  vmk_HeapID heap = nullptr;
};

TEST_F(MemoryTest, AddressRangesFollowTheConstraint) {
  vmk_MpnRange low = alloc(VMK_PHYS_ADDR_BELOW_4GB, 3);
  vmk_MpnRange any = alloc(VMK_PHYS_ADDR_ANY, 2);
  EXPECT_LT(VMK_MPN_2_MA(low.startMPN) + 3 * VMK_PAGE_SIZE, k4GB + 1);
  EXPECT_GE(VMK_MPN_2_MA(any.startMPN), k4GB);
  EXPECT_EQ(5, vmktest::live().poolPages);
  EXPECT_EQ(VMK_OK, vmk_MemPoolFree(pool, &low));
  EXPECT_EQ(VMK_OK, vmk_MemPoolFree(pool, &any));
  EXPECT_EQ(0, vmktest::live().poolPages);
}

TEST_F(MemoryTest, PoolLimitAndBusyDestroy) {
  vmk_MemPoolAllocProps props{};
  vmk_MpnRange r{};
  EXPECT_EQ(VMK_NO_MEMORY, vmk_MemPoolAlloc(pool, &props, 65, &r));
  r = alloc(VMK_PHYS_ADDR_ANY, 64);
  vmk_MpnRange more{};
  EXPECT_EQ(VMK_NO_MEMORY, vmk_MemPoolAlloc(pool, &props, 1, &more));
  // Part of an allocation cannot go back on its own.
  vmk_MpnRange part{r.startMPN, 1};
  EXPECT_EQ(VMK_BAD_PARAM, vmk_MemPoolFree(pool, &part));
  EXPECT_EQ(VMK_OK, vmk_MemPoolFree(pool, &r));
}

TEST_F(MemoryTest, MapTranslateUnmap) {
  vmk_MpnRange r = alloc(VMK_PHYS_ADDR_BELOW_4GB, 2);
  vmk_VA va = 0;
  ASSERT_EQ(VMK_OK, vmk_Map(0, &r, VMK_MAPATTRS_READWRITE, &va));
  memset((void*)va, 0, 2 * VMK_PAGE_SIZE);
  vmk_MA ma = 0;
  ASSERT_EQ(VMK_OK, vmk_VA2MA(va + 5000, 1, &ma));
  EXPECT_EQ(VMK_MPN_2_MA(r.startMPN) + 5000, ma);
  EXPECT_EQ(VMK_NOT_FOUND, vmk_VA2MA(va + 2 * VMK_PAGE_SIZE, 1, &ma));
  // Mapped pages cannot be returned.
  EXPECT_EQ(VMK_BUSY, vmk_MemPoolFree(pool, &r));
  EXPECT_EQ(1, vmktest::live().mappings);
  ASSERT_EQ(VMK_OK, vmk_Unmap(va));
  EXPECT_EQ(VMK_NOT_FOUND, vmk_VA2MA(va, 1, &ma));
  EXPECT_EQ(VMK_OK, vmk_MemPoolFree(pool, &r));
}

TEST_F(MemoryTest, HeapAccountsBlocksAndEnforcesItsMaximum) {
  void* a = vmk_HeapAlloc(heap, 1000);
  void* b = vmk_HeapAlign(heap, 64, 64);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(0u, (uintptr_t)b % 64);
  EXPECT_EQ(2, vmktest::live().heapBlocks);
  EXPECT_EQ(nullptr, vmk_HeapAlloc(heap, 4000));  // over the 4096-byte maximum
  EXPECT_EQ(VMK_BUSY, vmk_HeapDestroy(heap));     // blocks still live
  vmk_HeapFree(heap, a);
  vmk_HeapFree(heap, b);
  EXPECT_EQ(0, vmktest::live().heapBlocks);
  // The pool cannot go while its heap exists.
  EXPECT_EQ(VMK_BUSY, vmk_MemPoolDestroy(pool));
}

TEST_F(MemoryTest, FreeingAStrangerStopsTheMachine) {
  int local = 0;
  EXPECT_DEATH(vmk_HeapFree(heap, &local), "is not a live block of heap test");
}

TEST_F(MemoryTest, FreeingAnotherHeapsBlockStopsTheMachine) {
  vmk_HeapID other = otherHeap();
  ASSERT_NE(nullptr, other);
  void* b = vmk_HeapAlloc(other, 32);
  ASSERT_NE(nullptr, b);
  EXPECT_DEATH(vmk_HeapFree(heap, b), "is not a live block of heap test");
  vmk_HeapFree(other, b);
  EXPECT_DEATH(vmk_HeapFree(other, b), "is not a live block of heap other");  // twice
  EXPECT_EQ(VMK_OK, vmk_HeapDestroy(other));
}

// A freed block a thread keeps for its next allocation is no longer anyone's:
// the heap that takes it again is charged for it, its bytes are the heap's
// garbage again, and freeing it to the heap that gave it up stops the machine.
TEST_F(MemoryTest, AFreedBlockTakenAgainBelongsToItsNewHeap) {
  vmk_HeapID other = otherHeap();
  ASSERT_NE(nullptr, other);
  auto used = [](const char* name) {
    vmktest::HeapInfo info{};
    EXPECT_TRUE(vmktest::heapInfo(name, &info));
    return info.used;
  };
  auto* a = (uint8_t*)vmk_HeapAlloc(heap, 40);
  ASSERT_NE(nullptr, a);
  memset(a, 0, 40);
  vmk_HeapFree(heap, a);
  EXPECT_EQ(0u, used("test"));
  EXPECT_DEATH(vmk_HeapFree(other, a), "is not a live block of heap other");
  auto* b = (uint8_t*)vmk_HeapAlloc(other, 40);
  ASSERT_NE(nullptr, b);
  for (int i = 0; i < 40; i++) ASSERT_EQ(0xA5, b[i]) << i;
  EXPECT_EQ(0u, used("test"));
  EXPECT_EQ(40u + 16u, used("other"));
  EXPECT_EQ(1, vmktest::live().heapBlocks);
  EXPECT_DEATH(vmk_HeapFree(heap, b), "is not a live block of heap test");
  vmk_HeapFree(other, b);
  EXPECT_EQ(0u, used("other"));
  // More blocks freed than a thread keeps: every one is still given back.
  std::vector<void*> many;
  for (int i = 0; i < 40; i++) many.push_back(vmk_HeapAlloc(heap, 40));
  for (void* p : many) ASSERT_NE(nullptr, p);
  EXPECT_EQ(40, vmktest::live().heapBlocks);
  for (void* p : many) vmk_HeapFree(heap, p);
  for (void* p : {many.front(), many[20], many.back()})
    EXPECT_DEATH(vmk_HeapFree(heap, p), "is not a live block of heap test");
  EXPECT_EQ(0, vmktest::live().heapBlocks);
  EXPECT_EQ(0u, used("test"));
  EXPECT_EQ(VMK_OK, vmk_HeapDestroy(other));
}

// Blocks taken and given back by many threads at once: the heap's charge,
// its maximum and the count of live blocks stay exact.
TEST_F(MemoryTest, HeapBlocksFromManyThreads) {
  const int kThreads = 8;
  std::atomic<int> ready{0}, got{0};
  std::vector<std::thread> ts;
  for (int t = 0; t < kThreads; t++)
    ts.emplace_back([&, t] {
      for (int i = 0; i < 3000; i++) {
        void* a = vmk_HeapAlloc(heap, 40 + (i + t) % 50);
        void* b = vmk_HeapAlign(heap, 64, 64);
        ASSERT_NE(nullptr, a);
        ASSERT_NE(nullptr, b);
        ASSERT_EQ(0u, (uintptr_t)b % 64);
        memset(a, t, 40);
        vmk_HeapFree(heap, b);
        vmk_HeapFree(heap, a);
      }
      // All at once: four blocks of 1000 bytes fit the 4096-byte maximum.
      ready++;
      while (ready.load() < kThreads) std::this_thread::yield();
      void* big = vmk_HeapAlloc(heap, 1000);
      if (big != nullptr) got++;
      ready++;
      while (ready.load() < 2 * kThreads) std::this_thread::yield();
      vmk_HeapFree(heap, big);
    });
  for (auto& t : ts) t.join();
  EXPECT_EQ(4, got.load());
  EXPECT_EQ(0, vmktest::live().heapBlocks);
  vmktest::HeapInfo info;
  ASSERT_TRUE(vmktest::heapInfo("test", &info));
  EXPECT_EQ(0u, info.used);
}

TEST(HeapSizing, DescriptorsAddUpWithOverheadAndAlignment) {
  vmk_HeapAllocationDescriptor one[] = {{40, 0, 1}};
  vmk_HeapAllocationDescriptor many[] = {{40, 0, 10}, {40, 64, 1}};
  vmk_ByteCount a = 0, b = 0;
  ASSERT_EQ(VMK_OK, vmk_HeapDetermineMaxSize(one, 1, &a));
  ASSERT_EQ(VMK_OK, vmk_HeapDetermineMaxSize(many, 2, &b));
  EXPECT_GE(a, 40u);
  EXPECT_GT(b, 11 * a);  // the aligned one costs its slack
}

TEST_F(MemoryTest, BitVectorAtomics) {
  vmk_BitVector* bv = vmk_BitVectorAlloc(heap, 8);
  ASSERT_NE(nullptr, bv);
  EXPECT_EQ(0u, vmk_BitVectorGetWord(bv, 0));
  vmk_BitVectorAtomicSet(bv, 4);
  vmk_BitVectorAtomicSet(bv, 5);
  EXPECT_EQ(0x30u, vmk_BitVectorGetWord(bv, 0));
  EXPECT_TRUE(vmk_BitVectorAtomicTestAndClear(bv, 5));
  EXPECT_FALSE(vmk_BitVectorAtomicTestAndClear(bv, 5));
  EXPECT_FALSE(vmk_BitVectorAtomicTestAndSet(bv, 2));
  EXPECT_TRUE(vmk_BitVectorTest(bv, 2));
  vmk_BitVectorAtomicClear(bv, 4);
  EXPECT_EQ(0x4u, vmk_BitVectorGetWord(bv, 0));
  EXPECT_DEATH(vmk_BitVectorAtomicSet(bv, 8), "bit 8 out of 8");
  vmk_BitVectorFree(heap, bv);
}

class HashTest : public StandinTest {
 protected:
  void SetUp() override {
    StandinTest::SetUp();
    makePoolAndHeap(&pool, &heap, 1 << 16);
    vmk_HashProperties p{};
    p.heapID = heap;
    p.keyType = VMK_HASH_KEY_TYPE_STR;
    p.keyFlags = VMK_HASH_KEY_FLAGS_LOCAL_COPY;
    p.keySize = 16;
    p.nbEntries = 4;
    ASSERT_EQ(VMK_OK, vmk_HashAlloc(&p, &table));
  }
  void TearDown() override {
    EXPECT_EQ(VMK_OK, vmk_HashDeleteAll(table));
    EXPECT_EQ(VMK_OK, vmk_HashRelease(table));
    EXPECT_EQ(VMK_OK, vmk_HeapDestroy(heap));
    EXPECT_EQ(VMK_OK, vmk_MemPoolDestroy(pool));
    StandinTest::TearDown();
  }
  vmk_MemPool pool = nullptr;
  vmk_HeapID heap = nullptr;
  vmk_HashTable table = nullptr;
};

TEST_F(HashTest, InsertFindDeleteWithStringKeys) {
  int a = 1, b = 2;
  char key[16] = "0000:005:00.1";
  ASSERT_EQ(VMK_OK, vmk_HashKeyInsert(table, key, &a));
  EXPECT_EQ(VMK_EXISTS, vmk_HashKeyInsert(table, key, &b));
  strcpy(key, "changed");  // the table keeps its own copy
  vmk_HashValue v = nullptr;
  EXPECT_EQ(VMK_OK, vmk_HashKeyFind(table, (vmk_HashKey) "0000:005:00.1", &v));
  EXPECT_EQ(&a, v);
  EXPECT_EQ(VMK_NOT_FOUND, vmk_HashKeyFind(table, key, &v));
  // A key needs room for its terminator within the key size.
  EXPECT_EQ(VMK_BAD_PARAM, vmk_HashKeyInsert(table, (vmk_HashKey) "0123456789abcdef", &a));
  EXPECT_EQ(VMK_OK, vmk_HashKeyInsert(table, (vmk_HashKey) "0123456789abcde", &b));
  EXPECT_FALSE(vmk_HashIsEmpty(table));
  EXPECT_EQ(VMK_BUSY, vmk_HashRelease(table));
  EXPECT_EQ(VMK_OK, vmk_HashKeyDelete(table, (vmk_HashKey) "0000:005:00.1", &v));
  EXPECT_EQ(&a, v);
  EXPECT_EQ(VMK_NOT_FOUND, vmk_HashKeyDelete(table, (vmk_HashKey) "0000:005:00.1", &v));
}

TEST_F(HashTest, CapacityAndHeapUse) {
  long before = vmktest::live().heapBlocks;
  int x = 0;
  const char* keys[] = {"a", "b", "c", "d", "e"};
  for (int i = 0; i < 4; i++) ASSERT_EQ(VMK_OK, vmk_HashKeyInsert(table, (vmk_HashKey)keys[i], &x));
  EXPECT_EQ(VMK_LIMIT_EXCEEDED, vmk_HashKeyInsert(table, (vmk_HashKey)keys[4], &x));
  EXPECT_EQ(before + 4, vmktest::live().heapBlocks);
}

vmk_HashKeyIteratorCmd collect(vmk_HashTable, vmk_HashKey key, vmk_HashValue, vmk_AddrCookie data) {
  auto* seen = (std::vector<std::string>*)data.ptr;
  seen->push_back((const char*)key);
  if (seen->back() == "b") return VMK_HASH_KEY_ITER_CMD_DELETE;
  return VMK_HASH_KEY_ITER_CMD_CONTINUE;
}

vmk_HashKeyIteratorCmd stopAtFirst(vmk_HashTable, vmk_HashKey, vmk_HashValue, vmk_AddrCookie data) {
  (*(int*)data.ptr)++;
  return VMK_HASH_KEY_ITER_CMD_STOP;
}

TEST_F(HashTest, IterateDeletesAndStops) {
  int x = 0;
  for (const char* k : {"a", "b", "c"}) ASSERT_EQ(VMK_OK, vmk_HashKeyInsert(table, (vmk_HashKey)k, &x));
  std::vector<std::string> seen;
  vmk_AddrCookie c;
  c.ptr = &seen;
  ASSERT_EQ(VMK_OK, vmk_HashKeyIterate(table, collect, c));
  EXPECT_EQ(3u, seen.size());
  EXPECT_EQ(VMK_NOT_FOUND, vmk_HashKeyFind(table, (vmk_HashKey) "b", nullptr));
  int calls = 0;
  c.ptr = &calls;
  ASSERT_EQ(VMK_OK, vmk_HashKeyIterate(table, stopAtFirst, c));
  EXPECT_EQ(1, calls);
}

}  // namespace
