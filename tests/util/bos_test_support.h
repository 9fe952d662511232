// Fixtures shared by the tests of the operating-system layer: a current
// error list that keeps every message (so a test sees that a failure added
// exactly one), a scratch directory removed afterwards, and a helper process
// that holds locks on a file while the test runs.
#pragma once

#include "tests/util/test_support.h"
#include "util/os/bos.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

// The scratch directory is dir_; a test that changes the working directory
// gets the old one back before the directory goes.
class BosTest : public ErrorCapturingTest {
 protected:
  void SetUp() override {
    ErrorCapturingTest::SetUp();
    ASSERT_TRUE(scratch_.make("kvbostest-"));
    dir_ = scratch_.name();
    char cwd[bosPathBytes];
    ASSERT_NE(getcwd(cwd, sizeof(cwd)), nullptr);
    cwd_ = cwd;
  }

  void TearDown() override {
    EXPECT_EQ(chdir(cwd_.c_str()), 0);
    scratch_.remove();
    ErrorCapturingTest::TearDown();
  }

  std::string path(const std::string& name) const { return scratch_.path(name); }

  // A name the layer may write into.
  struct PathBuffer {
    explicit PathBuffer(const std::string& text = "") { std::strcpy(kvC(bytes), text.c_str()); }
    operator unsigned char*() { return bytes; }
    std::string str() const { return kvC(bytes); }
    unsigned char bytes[bosPathBytes];
  };

  ScratchDirectory scratch_;
  std::string dir_;
  std::string cwd_;
};

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
