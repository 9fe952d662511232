// Fixtures shared by the tests of the operating-system layer: a current
// error list that keeps every message (so a test sees that a failure added
// exactly one), a scratch directory removed afterwards, and a helper process
// that holds locks on a file while the test runs.
#pragma once

#include "util/bos.h"
#include "util/error_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

class BosTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = new KvErrorList(this, 1);
    KvErrorKeeper::setErrorList(list_);
    char pattern[] = "/tmp/kvbostest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    char cwd[bosPathBytes];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    cwd_ = cwd;
  }

  void TearDown() override {
    EXPECT_EQ(chdir(cwd_.c_str()), 0);
    nftw(dir_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), list_);
    delete list_;
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // The numbers of the messages in the current list, in order.
  std::vector<uint16_t> errors() const {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; KvError* e = list_->getErrorAtPos(i); ++i) numbers.push_back(e->getNumber());
    return numbers;
  }
  std::string lastErrorText() const {
    KvError* last = list_->getLastError();
    return last ? kvC(last->getErrorText()) : "";
  }
  void clearErrors() { list_->clearErrors(); }

  static void writeFile(const std::string& name, const std::string& data) {
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0) << name;
    ASSERT_EQ(write(fd, data.data(), data.size()), ssize_t(data.size()));
    close(fd);
  }
  static std::string readFile(const std::string& name) {
    std::string data;
    int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "<missing>";
    char chunk[4096];
    for (ssize_t got; (got = read(fd, chunk, sizeof(chunk))) > 0;) data.append(chunk, size_t(got));
    close(fd);
    return data;
  }
  static bool exists(const std::string& name) {
    struct stat st;
    return lstat(name.c_str(), &st) == 0;
  }
  // The names of a directory, sorted.
  static std::vector<std::string> listing(const std::string& directory);

  // A name the layer may write into.
  struct PathBuffer {
    explicit PathBuffer(const std::string& text = "") { std::strcpy(kvC(bytes), text.c_str()); }
    operator unsigned char*() { return bytes; }
    std::string str() const { return kvC(bytes); }
    unsigned char bytes[bosPathBytes];
  };

  KvErrorList* list_ = nullptr;
  std::string dir_;
  std::string cwd_;

 private:
  static int removeEntry(const char* name, const struct stat*, int type, struct FTW*) {
    if (type == FTW_DP) {
      rmdir(name);
    } else {
      unlink(name);
    }
    return 0;
  }
};

inline std::vector<std::string> BosTest::listing(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* d = opendir(directory.c_str())) {
    while (struct dirent* e = readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// A /usr/bin/python3 child that runs a script on a file, prints "ready" when
// the script has taken its locks, and ends when its standard input closes.
class PythonHolder {
 public:
  static bool available() { return access("/usr/bin/python3", X_OK) == 0; }

  // body is Python run with f, an open file of path (read-write) and fcntl.
  bool start(const std::string& path, const std::string& body) {
    std::string script = "import fcntl, sys\nf = open(sys.argv[1], 'r+b')\n" + body +
                         "\nprint('ready', flush=True)\nsys.stdin.read()\n";
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) return false;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toChild[0], 0);
      dup2(fromChild[1], 1);
      execl("/usr/bin/python3", "python3", "-c", script.c_str(), path.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    input_ = toChild[1];
    std::string line;
    char c;
    while (read(fromChild[0], &c, 1) == 1 && c != '\n') line += c;
    close(fromChild[0]);
    return line == "ready";
  }

  // Closes the child's input and waits until it has ended (its locks gone).
  void stop() {
    if (input_ >= 0) close(input_);
    input_ = -1;
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  ~PythonHolder() { stop(); }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
};
