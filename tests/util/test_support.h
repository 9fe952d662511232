// Scaffolding shared by the unit tests: a fixture whose tests run with a
// keep-all error list as the thread's current list (so a test sees every
// message a failure added, in order), a scratch directory that goes with
// everything in it, environment variables put back after a test, and whole
// files read and written in one call.
//
// Tests may call the system directly here; the rule that every system call
// goes through the OS layer binds the libraries, not their tests.
#pragma once

#include "util/error_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

// Installs a keep-all error list as the current list in SetUp and gives it
// up in TearDown, checking that no other list was left current. A fixture
// that overrides SetUp or TearDown calls these: the list must be current
// for the whole test body.
class ErrorCapturingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = new KvErrorList(this, 1);
    KvErrorKeeper::setErrorList(list_);
  }
  void TearDown() override {
    EXPECT_EQ(KvErrorKeeper::giveUpErrorList(), list_);
    delete list_;
    list_ = nullptr;
  }

  // The numbers of the messages in the list, in order.
  std::vector<uint16_t> errors() const {
    std::vector<uint16_t> numbers;
    for (uint32_t i = 0; KvError* e = list_->getErrorAtPos(i); ++i) numbers.push_back(e->getNumber());
    return numbers;
  }
  // Number and text of the first message (the only one, where a test
  // expects one); 0 and "" when the list is empty.
  uint16_t firstErrorNumber() const {
    KvError* first = list_->getErrorAtPos(0);
    return first ? first->getNumber() : 0;
  }
  std::string firstErrorText() const {
    KvError* first = list_->getErrorAtPos(0);
    return first ? kvC(first->getErrorText()) : "";
  }
  // Number and text of the last message (the memory error while the list
  // is out of memory); 0 and "" when the list is empty.
  uint16_t lastErrorNumber() const {
    KvError* last = list_->getLastError();
    return last ? last->getNumber() : 0;
  }
  std::string lastErrorText() const {
    KvError* last = list_->getLastError();
    return last ? kvC(last->getErrorText()) : "";
  }
  void clearErrors() { list_->clearErrors(); }

  KvErrorList* list_ = nullptr;
};

// A fresh directory /tmp/<prefix>XXXXXX, removed with everything below it
// (links are removed, never followed) when the object goes.
class ScratchDirectory {
 public:
  ScratchDirectory() = default;
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;
  ~ScratchDirectory() { remove(); }

  // False, with nothing made, when the system refuses.
  bool make(const std::string& prefix) {
    remove();
    std::string pattern = "/tmp/" + prefix + "XXXXXX";
    if (!mkdtemp(&pattern[0])) return false;
    name_ = pattern;
    return true;
  }
  void remove() {
    if (!name_.empty()) nftw(name_.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    name_.clear();
  }

  const std::string& name() const { return name_; }
  std::string path(const std::string& entry) const { return name_ + "/" + entry; }

 private:
  static int removeEntry(const char* name, const struct stat*, int, struct FTW*) {
    std::remove(name);
    return 0;
  }

  std::string name_;
};

// Sets environment variables for a test and puts back, when the object goes,
// the value each had before the first set (or its absence).
class EnvironmentGuard {
 public:
  EnvironmentGuard() = default;
  EnvironmentGuard(const EnvironmentGuard&) = delete;
  EnvironmentGuard& operator=(const EnvironmentGuard&) = delete;
  ~EnvironmentGuard() { restore(); }

  void set(const char* name, const std::string& value) {
    bool known = std::any_of(saved_.begin(), saved_.end(), [&](const Saved& s) { return s.name == name; });
    if (!known) {
      const char* old = std::getenv(name);
      saved_.push_back({name, old != nullptr, old ? old : ""});
    }
    setenv(name, value.c_str(), 1);
  }
  void restore() {
    for (auto s = saved_.rbegin(); s != saved_.rend(); ++s) {
      if (s->had) {
        setenv(s->name.c_str(), s->value.c_str(), 1);
      } else {
        unsetenv(s->name.c_str());
      }
    }
    saved_.clear();
  }

 private:
  struct Saved {
    std::string name;
    bool had;
    std::string value;
  };
  std::vector<Saved> saved_;
};

// Writes a whole file, making the directories above it that are missing.
inline void writeFile(const std::string& name, const std::string& data) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(name).parent_path(), ignored);
  int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0) << name;
  ssize_t written = write(fd, data.data(), data.size());
  close(fd);
  ASSERT_EQ(written, ssize_t(data.size())) << name;
}

// The bytes of a whole file; "<missing>" when it cannot be opened, so that
// a missing file never reads as an empty one.
inline std::string readFile(const std::string& name) {
  int fd = open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "<missing>";
  std::string data;
  char chunk[4096];
  for (ssize_t got; (got = read(fd, chunk, sizeof(chunk))) > 0;) data.append(chunk, size_t(got));
  close(fd);
  return data;
}

// Whether a name exists; a link counts itself, wherever it leads.
inline bool fileExists(const std::string& name) {
  struct stat st;
  return lstat(name.c_str(), &st) == 0;
}

// The names in a directory but "." and "..", sorted; none when it cannot be
// read.
inline std::vector<std::string> listing(const std::string& directory) {
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

// The process's open descriptors whose file lies in directory (its name,
// "(deleted)" appended by the kernel for an unlinked one), as
// "/proc/self/fd/N" paths that stat follows to the file.
inline std::vector<std::string> openFilesIn(const std::string& directory) {
  std::vector<std::string> found;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (struct dirent* e = readdir(d)) {
      if (e->d_name[0] == '.') continue;
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      char target[4096];
      const ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
      if (length <= 0) continue;
      target[length] = 0;
      if (std::strncmp(target, (directory + "/").c_str(), directory.size() + 1) == 0) found.push_back(link);
    }
    closedir(d);
  }
  return found;
}

// A fixed sequence of short arbitrary texts for the tests that every
// tokenizer ends and stays inside its text: mostly characters that start or
// end tokens (quotes, brackets, operators, blanks), the rest any byte.
class ArbitraryTexts {
 public:
  // 1 to 40 bytes; withNul false keeps a zero byte out, for readers that
  // take a terminated text.
  std::vector<unsigned char> next(bool withNul) {
    static const char alphabet[] = "'\"`(){}[]+-*/.,;:=<>!?#$|_ \t\na1";
    std::vector<unsigned char> text(1 + nextByte() % 40);
    for (unsigned char& c : text) {
      const unsigned char r = nextByte();
      c = r < 128 ? static_cast<unsigned char>(alphabet[r % (sizeof(alphabet) - 1)]) : nextByte();
      if (c == 0 && !withNul) c = 'z';
    }
    return text;
  }

 private:
  unsigned char nextByte() {
    seed_ = seed_ * 1103515245u + 12345u;
    return static_cast<unsigned char>(seed_ >> 16);
  }
  uint32_t seed_ = 12345;
};
