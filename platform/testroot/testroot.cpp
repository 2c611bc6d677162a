#include "testroot.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <vector>

#ifndef TAMSIL_TESTROOT_PATH
#define TAMSIL_TESTROOT_PATH "platform/testroot/run-in-testroot"
#endif

namespace testroot {

namespace {

constexpr long kOverlayMagic = 0x794c7630;  // statfs f_type of an overlay

// The first line of a small file, without its newline; "" when unreadable.
std::string firstLine(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  char buf[128];
  ssize_t n = read(fd, buf, sizeof buf - 1);
  close(fd);
  if (n <= 0) return "";
  buf[n] = '\0';
  std::string s(buf);
  size_t nl = s.find('\n');
  return nl == std::string::npos ? s : s.substr(0, nl);
}

std::string ownMountNamespace() {
  char buf[128];
  ssize_t n = readlink("/proc/self/ns/mnt", buf, sizeof buf - 1);
  if (n <= 0) return "";
  buf[n] = '\0';
  return buf;
}

bool refuse(std::string* why, const char* text) {
  if (why != nullptr) *why = text;
  return false;
}

}  // namespace

bool inside(std::string* why) {
  const char* env = getenv("TAMSIL_IN_TESTROOT");
  if (env == nullptr || strcmp(env, "1") != 0) return refuse(why, "TAMSIL_IN_TESTROOT is not 1");
  struct statfs fs;
  if (statfs("/", &fs) != 0 || static_cast<long>(fs.f_type) != kOverlayMagic)
    return refuse(why, "/ is not the test root's overlay");
  std::string marker = firstLine(kMarkerPath);
  if (marker.empty()) return refuse(why, "the test root's marker /.tamsil-testroot is missing");
  std::string ns = ownMountNamespace();
  if (ns.empty() || marker != ns)
    return refuse(why, "the marker /.tamsil-testroot was made in another mount namespace");
  return true;
}

static std::string commandLine() {
  int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "";
  std::string all;
  char buf[4096];
  for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) all.append(buf, static_cast<size_t>(n));
  close(fd);
  std::string out;
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    std::string arg = all.substr(start, end - start);
    if (!out.empty()) out += ' ';
    if (arg.find_first_of(" \t'\"$\\*?[]()&;|<>") == std::string::npos && !arg.empty()) {
      out += arg;
    } else {
      out += '\'';
      for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
      out += '\'';
    }
    start = end + 1;
  }
  return out;
}

void requireOrExit(const char* program, const char* runner) {
  std::string why;
  if (inside(&why)) return;
  std::string cmd = commandLine();
  if (cmd.empty()) cmd = program != nullptr ? program : "PROGRAM";
  fprintf(stderr,
          "%s: refusing to run outside the test root (%s).\n"
          "It would write the host's own paths (/scratch, /etc/vmware, /tmp) on this machine.\n"
          "Run it as:  %s %s\n",
          program != nullptr ? program : "this program", why.c_str(), runner != nullptr ? runner : TAMSIL_TESTROOT_PATH,
          cmd.c_str());
  fflush(stderr);
  _exit(kRefusedExit);
}

void enterOrExit(int argc, char** argv) {
  if (inside()) return;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) _exit(1);
  self[n] = '\0';
  std::vector<char*> args;
  args.push_back(const_cast<char*>(TAMSIL_TESTROOT_PATH));
  args.push_back(self);
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  args.push_back(nullptr);
  execv(TAMSIL_TESTROOT_PATH, args.data());
  perror("run-in-testroot");
  _exit(1);
}

}  // namespace testroot
