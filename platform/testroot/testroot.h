// Is this process inside the throw-away test root (run-in-testroot)?
//
// The library's tests, its fuzz targets, the demo and the emulated host write
// the host's own paths (/scratch/..., /etc/vmware/esx.conf, /tmp locks): on
// the machine itself they would overwrite its files. Every such program asks
// here before it touches anything, and stops outside the root.
//
// The root is recognised by three things together, not by the environment
// alone (TAMSIL_IN_TESTROOT can be set by hand):
//   - TAMSIL_IN_TESTROOT=1, which run-in-testroot exports;
//   - "/" is an overlay (the root's copy-on-write view of the machine);
//   - the marker file /.tamsil-testroot, written by run-in-testroot into the
//     overlay's tmpfs layer, names the mount namespace it was made in, and
//     that is this process's own: a marker left on a real disk or copied
//     elsewhere names another namespace.
//
// Usage:
//   std::string why;
//   if (!testroot::inside(&why)) { ... why says what is missing ... }
//   testroot::requireOrExit("my_program");   // prints how to run it and exits 2
#pragma once

#include <string>

namespace testroot {

constexpr const char* kMarkerPath = "/.tamsil-testroot";
constexpr int kRefusedExit = 2;

bool inside(std::string* why = nullptr);

// Outside the root: prints to stderr why, and the command that runs this
// process's command line in the root (`runner` before it, by default
// run-in-testroot), then ends the process with kRefusedExit (no atexit
// handlers, no static destructors: nothing runs that could touch the host).
void requireOrExit(const char* program, const char* runner = nullptr);

// For programs that may be started by hand (the benchmarks): outside the
// root, runs this program again with the same arguments inside a fresh one
// (run-in-testroot) and never returns; inside, returns at once. Exits 1 when
// the program cannot be started again.
void enterOrExit(int argc, char** argv);

}  // namespace testroot
