// Symbol interposition of open, open64, ioctl and close for the library's test
// executables: the device paths and the descriptors handed out for them go to
// the installed emulated host; everything else goes on to libc untouched.
//
// Linked as object code into the test executable, these definitions come
// before libc's for the library too (whether it is linked statically or as
// libdrelmo.so), so the library under test is the one that ships.
//
// <sys/ioctl.h> is deliberately not included: its declaration of ioctl
// carries a noexcept clause that this definition need not repeat.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/types.h>

#include "emulated_host.h"

namespace {

using OpenFn = int (*)(const char*, int, ...);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);

template <typename Fn>
Fn next(const char* name) {
  return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

bool takesMode(int flags) { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

// Opens path through the emulated host when it serves the path, else through
// libc's function `real`.
int openVia(OpenFn real, const char* path, int flags, mode_t mode) {
  chardev::EmulatedHost* host = chardev::installed();
  if (host != nullptr && host->handlesPath(path)) return host->openDevice(path, flags);
  if (real == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real(path, flags, mode);
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (takesMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  static OpenFn real_open = next<OpenFn>("open");
  return openVia(real_open, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (takesMode(flags)) {
    va_list ap;
    va_start(ap, flags);
    mode = va_arg(ap, mode_t);
    va_end(ap);
  }
  static OpenFn real_open64 = next<OpenFn>("open64");
  return openVia(real_open64, path, flags, mode);
}

int ioctl(int fd, unsigned long request, ...) {
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  chardev::EmulatedHost* host = chardev::installed();
  if (host != nullptr && host->ownsDescriptor(fd)) return host->ioctl(fd, request, arg);
  static IoctlFn real_ioctl = next<IoctlFn>("ioctl");
  if (real_ioctl == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real_ioctl(fd, request, arg);
}

int close(int fd) {
  chardev::EmulatedHost* host = chardev::installed();
  if (host != nullptr && host->ownsDescriptor(fd)) host->release(fd);
  static CloseFn real_close = next<CloseFn>("close");
  if (real_close == nullptr) {
    errno = ENOSYS;
    return -1;
  }
  return real_close(fd);
}

}  // extern "C"
