// tgtd in the test root (iscsi_target.h).
#include "iscsi_target.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "testroot.h"

extern char** environ;

namespace testroot {

namespace {

constexpr int kStartWaitMs = 30000;
constexpr int kStopWaitMs = 10000;

void sleepMs(int ms) {
  struct timespec ts = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

int64_t nowMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::vector<char*> cargs(const std::vector<std::string>& argv) {
  std::vector<char*> v;
  for (const std::string& a : argv) v.push_back(const_cast<char*>(a.c_str()));
  v.push_back(nullptr);
  return v;
}

bool fail(std::string* why, const std::string& text) {
  if (why != nullptr) *why = text;
  return false;
}

std::string readFile(const std::string& path) {
  std::string s;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace

int runProgram(const std::vector<std::string>& argv, std::string* out) {
  int pipefd[2] = {-1, -1};
  if (pipe2(pipefd, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 2);
  pid_t pid = -1;
  std::vector<char*> v = cargs(argv);
  int rc = posix_spawnp(&pid, v[0], &fa, nullptr, v.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(pipefd[1]);
  if (rc != 0) {
    close(pipefd[0]);
    return -1;
  }
  std::string text;
  char buf[4096];
  for (;;) {
    ssize_t n = read(pipefd[0], buf, sizeof buf);
    if (n > 0) {
      text.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  close(pipefd[0]);
  int st = 0;
  while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {}
  if (out != nullptr) *out = text;
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

IscsiTarget::~IscsiTarget() { stop(); }

int IscsiTarget::admin(const std::vector<std::string>& args, std::string* out) const {
  std::vector<std::string> argv = {"tgtadm", "--lld", "iscsi", "--control-port", std::to_string(port_)};
  argv.insert(argv.end(), args.begin(), args.end());
  return runProgram(argv, out);
}

bool IscsiTarget::start(std::string* why, uint16_t port) {
  if (running()) return true;
  std::string reason;
  if (!inside(&reason)) return fail(why, "outside the test root: " + reason);
  port_ = port;
  // The interface, once per namespace (a second daemon shares it).
  std::string out;
  if (runProgram({"ip", "link", "show", kInterface}, &out) != 0) {
    std::string addr = std::string(kAddress) + "/" + std::to_string(kPrefix);
    // A dummy interface; a kernel without them gets an empty bridge, which
    // holds an address just as well (traffic to it stays in the namespace).
    if (runProgram({"ip", "link", "set", "lo", "up"}, &out) != 0 ||
        (runProgram({"ip", "link", "add", kInterface, "address", kMac, "type", "dummy"}, &out) != 0 &&
         runProgram({"ip", "link", "add", kInterface, "address", kMac, "type", "bridge"}, &out) != 0) ||
        runProgram({"ip", "addr", "add", addr, "dev", kInterface}, &out) != 0 ||
        runProgram({"ip", "link", "set", kInterface, "up"}, &out) != 0)
      return fail(why, "cannot bring up " + std::string(kInterface) + ": " + out);
  }
  char templ[] = "/tmp/iscsi-target.XXXXXX";
  if (mkdtemp(templ) == nullptr) return fail(why, "mkdtemp failed");
  dir_ = templ;
  mkdir("/run/tgtd", 0755);
  std::string log = dir_ + "/tgtd.log";
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&fa, 1, 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> argv = {"tgtd",           "-f",
                                   "--control-port", std::to_string(port_),
                                   "--iscsi",        "portal=" + std::string(kAddress) + ":" + std::to_string(port_)};
  std::vector<char*> v = cargs(argv);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, v[0], &fa, nullptr, v.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return fail(why, std::string("cannot start tgtd: ") + std::strerror(rc));
  pid_ = pid;
  int64_t until = nowMs() + kStartWaitMs;
  while (admin({"--op", "show", "--mode", "sys"}) != 0) {
    int st = 0;
    if (waitpid(pid_, &st, WNOHANG) == pid_) {
      pid_ = -1;
      return fail(why, "tgtd ended: " + readFile(log));
    }
    if (nowMs() > until) {
      stop();
      return fail(why, "tgtd does not answer: " + readFile(log));
    }
    sleepMs(20);
  }
  return true;
}

void IscsiTarget::stop() {
  if (pid_ <= 0) return;
  // The daemon ignores SIGTERM: it ends when the system is deleted, which
  // it refuses while it has targets.
  std::string out;
  admin({"--op", "show", "--mode", "target"}, &out);
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Target ", 0) != 0) continue;
    std::string tid = line.substr(7, line.find(':') - 7);
    admin({"--op", "delete", "--mode", "target", "--force", "--tid", tid});
  }
  runProgram({"tgtadm", "--control-port", std::to_string(port_), "--op", "delete", "--mode", "system"});
  int64_t until = nowMs() + kStopWaitMs;
  int st = 0;
  for (;;) {
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) break;
    if (nowMs() > until) {
      // It did not end: the test's daemon holds nothing worth a clean stop.
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {}
      break;
    }
    sleepMs(10);
  }
  pid_ = -1;
}

int IscsiTarget::addTarget(const std::string& iqn) {
  std::string out;
  // The next free tid.
  admin({"--op", "show", "--mode", "target"}, &out);
  int tid = 1;
  for (;;) {
    if (out.find("Target " + std::to_string(tid) + ":") == std::string::npos) break;
    ++tid;
  }
  std::string t = std::to_string(tid);
  if (admin({"--op", "new", "--mode", "target", "--tid", t, "-T", iqn}) != 0) return 0;
  if (admin({"--op", "bind", "--mode", "target", "--tid", t, "-I", "ALL"}) != 0) return 0;
  return tid;
}

bool IscsiTarget::deleteTarget(int tid) {
  return admin({"--op", "delete", "--mode", "target", "--force", "--tid", std::to_string(tid)}) == 0;
}

std::string IscsiTarget::lunPath(int tid, unsigned lun) const {
  return dir_ + "/lun-" + std::to_string(tid) + "-" + std::to_string(lun) + ".img";
}

bool IscsiTarget::addLun(int tid, unsigned lun, const LunSpec& spec) {
  if (!running()) return false;
  std::string path = lunPath(tid, lun);
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ftruncate(fd, static_cast<off_t>(spec.blocks * 512)) == 0;
  std::vector<uint8_t> block(512, spec.pattern);
  for (uint64_t b = 0; ok && b < spec.pattern_blocks && b < spec.blocks; ++b)
    ok = pwrite(fd, block.data(), block.size(), static_cast<off_t>(b * 512)) == 512;
  close(fd);
  if (!ok) return false;
  std::string t = std::to_string(tid), l = std::to_string(lun);
  if (admin({"--op", "new", "--mode", "logicalunit", "--tid", t, "--lun", l, "-b", path}) != 0) return false;
  std::string params;
  auto param = [&](const char* key, const std::string& v) {
    if (v.empty()) return;
    if (!params.empty()) params += ",";
    params += std::string(key) + "=" + v;
  };
  param("vendor_id", spec.vendor);
  param("product_id", spec.product);
  param("scsi_sn", spec.serial);
  if (params.empty()) return true;
  return admin({"--op", "update", "--mode", "logicalunit", "--tid", t, "--lun", l, "--params", params}) == 0;
}

bool IscsiTarget::addAccount(const std::string& user, const std::string& password) {
  return admin({"--op", "new", "--mode", "account", "--user", user, "--password", password}) == 0;
}

bool IscsiTarget::bindAccount(int tid, const std::string& user, bool outgoing) {
  std::vector<std::string> a = {"--op", "bind", "--mode", "account", "--tid", std::to_string(tid), "--user", user};
  if (outgoing) a.push_back("--outgoing");
  return admin(a) == 0;
}

bool IscsiTarget::unbindAccount(int tid, const std::string& user, bool outgoing) {
  std::vector<std::string> a = {"--op", "unbind", "--mode", "account", "--tid", std::to_string(tid), "--user", user};
  if (outgoing) a.push_back("--outgoing");
  return admin(a) == 0;
}

bool IscsiTarget::dropSessions(int tid) {
  std::string out;
  std::string t = std::to_string(tid);
  if (admin({"--op", "show", "--mode", "conn", "--tid", t}, &out) != 0) return false;
  // "Session: <sid>" then "Connection: <cid>" lines.
  std::istringstream in(out);
  std::string line, sid;
  bool ok = true;
  while (std::getline(in, line)) {
    size_t k;
    if ((k = line.find("Session: ")) != std::string::npos) sid = line.substr(k + 9);
    if ((k = line.find("Connection: ")) != std::string::npos && !sid.empty())
      ok = admin({"--op", "delete", "--mode", "conn", "--tid", t, "--sid", sid, "--cid", line.substr(k + 12)}) == 0 &&
           ok;
  }
  return ok;
}

std::vector<uint8_t> IscsiTarget::lunBytes(int tid, unsigned lun, uint64_t offset, size_t n) const {
  std::vector<uint8_t> b(n, 0);
  int fd = open(lunPath(tid, lun).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  ssize_t got = pread(fd, b.data(), n, static_cast<off_t>(offset));
  close(fd);
  if (got < 0) return {};
  b.resize(static_cast<size_t>(got));
  return b;
}

std::string IscsiTarget::show() const {
  std::string out;
  admin({"--op", "show", "--mode", "target"}, &out);
  return out;
}

std::string IscsiTarget::log() const { return readFile(dir_ + "/tgtd.log"); }

}  // namespace testroot
