// The tree state file a client saved, replayed over the tree that discovery
// built on the emulated host: any bytes may stand in the file (a truncated
// save, a file edited by hand, another version's records).
//
// Input: the file. With TAMSIL_FUZZ_WRITE_SEED=<path> the start-up also
// writes the state file of the fresh tree there (a seed for the corpus).
#include <cstdio>
#include <cstdlib>

#include "library_host.h"
#include "tree/hm_engine.h"
#include "tree/hm_persist.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzlib::startHost(true);
  if (const char* seed = getenv("TAMSIL_FUZZ_WRITE_SEED")) {
    FILE* f = fopen(seed, "w");
    if (f == nullptr || save_node(hm_get_root(orsa_current_hierarchy), f, 0xFFFFFFFFu) != 0) abort();
    fclose(f);
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzlib::beginInput(data, size);
  FILE* f = tmpfile();
  if (f == nullptr) abort();
  if (size != 0 && fwrite(data, 1, size, f) != size) abort();
  rewind(f);
  if (restore_hm(f) != 0) abort();  // a replay answers 0 whatever it skipped
  fclose(f);
  // What the replay made is saved again as a client would (groups and
  // links: reading every property back would ask the adapter each time).
  FILE* out = tmpfile();
  if (out == nullptr) abort();
  if (save_node(hm_get_root(orsa_current_hierarchy), out, 0) != 0) abort();
  fclose(out);
  fuzzlib::endInput();
  return 0;
}
