// Linked into every GoogleTest program that runs in the throw-away test root:
// all the cases of one program (or of one shard of it) share one root, so
// before each case the root's writable host paths are put back as the root
// had them when it was made. A case never sees the library's log,
// persistence files, lock files or esx.conf of the case before it, nor a
// host file an earlier case rewrote or removed, whatever order the cases
// run in. (What the library keeps in memory is the fixtures' to reset.)
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "testroot.h"

namespace {

// The folders run-in-testroot makes empty: everything the library and the
// emulated host write at run time lands in them.
constexpr const char* kEmptiedDirs[] = {"/tmp", "/scratch", "/etc/vmware"};
// Host files outside those folders that the emulated host writes and tests
// change or remove: restored to the machine's own copy (or to absent).
constexpr const char* kHostFiles[] = {"/etc/banner", "/etc/issue.net", "/etc/vmware-release"};

// Only the root's own files go: a folder mounted inside an emptied one (the
// checkout, the working folder or a TAMSIL_TESTROOT_BIND folder that lives
// under /tmp is bound there) is the machine's own and is left whole, with the
// folders that lead to it.
bool removeTree(const std::string& path, dev_t dev, bool* kept);

bool emptyDir(const std::string& dir, dev_t dev, bool* kept) {
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return errno == ENOENT;
  bool ok = true;
  while (dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    ok = removeTree(dir + "/" + e->d_name, dev, kept) && ok;
  }
  closedir(d);
  return ok;
}

bool removeTree(const std::string& path, dev_t dev, bool* kept) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (st.st_dev != dev) {
    *kept = true;
    return true;
  }
  if (S_ISDIR(st.st_mode)) {
    // Make a read-only folder a test left behind removable.
    chmod(path.c_str(), 0700);
    bool inner_kept = false;
    bool ok = emptyDir(path, dev, &inner_kept);
    if (inner_kept) {
      *kept = true;
      return ok;
    }
    return rmdir(path.c_str()) == 0 && ok;
  }
  return unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool emptyDir(const std::string& dir) {
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) return errno == ENOENT;
  bool kept = false;
  return emptyDir(dir, st.st_dev, &kept);
}

bool removeTree(const std::string& path) {
  std::string parent = path.substr(0, path.find_last_of('/'));
  struct stat st;
  if (lstat(parent.empty() ? "/" : parent.c_str(), &st) != 0) return errno == ENOENT;
  bool kept = false;
  return removeTree(path, st.st_dev, &kept);
}

struct SavedFile {
  std::string path;
  std::optional<std::string> content;  // nullopt: the file was absent
  mode_t mode = 0644;
};

class FreshRootPerCase : public ::testing::EmptyTestEventListener {
 public:
  void OnTestProgramStart(const ::testing::UnitTest&) override {
    for (const char* p : kHostFiles) {
      SavedFile f{p, std::nullopt, 0644};
      struct stat st;
      if (stat(p, &st) == 0 && S_ISREG(st.st_mode)) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        f.content = s.str();
        f.mode = st.st_mode & 07777;
      }
      saved_.push_back(std::move(f));
    }
  }

  void OnTestStart(const ::testing::TestInfo&) override {
    // Only inside the root (the guard stops any other start before main;
    // this is the second look before deleting anything).
    if (!testroot::inside()) return;
    bool ok = true;
    for (const char* d : kEmptiedDirs) {
      if (!emptyDir(d)) ok = false;
      mkdir(d, strcmp(d, "/tmp") == 0 ? 01777 : 0755);
    }
    chmod("/tmp", 01777);
    for (const SavedFile& f : saved_) {
      if (!removeTree(f.path)) ok = false;
      if (!f.content) continue;
      int fd = open(f.path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, f.mode);
      if (fd < 0 || write(fd, f.content->data(), f.content->size()) != (ssize_t)f.content->size()) ok = false;
      if (fd >= 0) close(fd);
    }
    if (!ok) ADD_FAILURE() << "the test root could not be put back before this case: " << strerror(errno);
  }

 private:
  std::vector<SavedFile> saved_;
};

// Before main: gtest_main's InitGoogleTest keeps listeners appended earlier.
__attribute__((constructor)) void addFreshRootPerCase() {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshRootPerCase);
}

}  // namespace
