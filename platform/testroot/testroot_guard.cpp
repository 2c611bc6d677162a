// Linked into every program that may only run in the throw-away test root
// (the library's tests, the library demo, the emulated host): the check runs
// at process start, before main and before the static initialisers of the
// program's own code, so nothing of the program reaches the machine when it
// was started outside the root.
#include <errno.h>
#include <string.h>

#include "testroot.h"

namespace {

__attribute__((constructor(101))) void refuseOutsideTestRoot() {
  const char* name = program_invocation_short_name;
  testroot::requireOrExit(name != nullptr && *name != '\0' ? name : nullptr);
}

}  // namespace
