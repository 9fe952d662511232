// A private unixODBC configuration for end-to-end tests: a temporary
// directory with odbcinst.ini (the test drivers) and odbc.ini (data
// sources), pointed to by ODBCSYSINI and ODBCINI before the Driver Manager
// reads anything.
//
// unixODBC reads ODBCSYSINI and ODBCINI once and keeps the paths for the
// life of the process, so every PrivateOdbc of one process shares one
// directory: the first makes it, each writes its own odbc.ini and an empty
// user.ini there, and the directory goes, with whatever tests left in it,
// when the process ends. A test binary thus passes whether
// CTest runs each test in a process of its own or the binary runs whole.
#pragma once

#include "odbc_handles.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

class PrivateOdbc {
 public:
  // dataSources: the text of odbc.ini (sections and keys).
  explicit PrivateOdbc(const std::string& dataSources) : dir_(sharedDirectory().name) {
    std::ofstream(dir_ + "/odbc.ini") << dataSources;
    std::ofstream(dir_ + "/user.ini") << "";
  }
  const std::string& dir() const { return dir_; }

 private:
  struct Directory {
    Directory() {
      char pattern[] = "/tmp/kve2eXXXXXX";
      const char* made = mkdtemp(pattern);
      name = made ? made : "/tmp";
      // The second library is the one whose SQLFetch arrives as itself
      // (ExFetchMapping=0): set once, since the Driver Manager keeps what it
      // read of this file while its time stamp stays in the same second.
      std::ofstream(name + "/odbcinst.ini")
          << "[KvTest]\nDescription=Kestrane test driver\nDriver=" KV_TEST_DRIVER "\nSetup=" KV_TEST_DRIVER
             "\n\n[KvTest2]\nDescription=Kestrane test driver, second library\nDriver=" KV_TEST_DRIVER2
             "\nSetup=" KV_TEST_DRIVER2 "\nExFetchMapping=0\n";
      setenv("ODBCSYSINI", name.c_str(), 1);
      setenv("ODBCINI", (name + "/user.ini").c_str(), 1);
      setenv("HOME", name.c_str(), 1);
    }
    ~Directory() {
      std::error_code ignored;
      if (name != "/tmp") std::filesystem::remove_all(name, ignored);
    }
    std::string name;
  };
  static Directory& sharedDirectory() {
    static Directory directory;
    return directory;
  }

  std::string dir_;
};

// The diagnostics of a handle, as the Driver Manager hands them out.
struct Diagnostic {
  std::string state;
  SQLINTEGER native;
  std::string text;
};

inline std::vector<Diagnostic> diagnostics(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt) {
  std::vector<Diagnostic> out;
  for (int i = 0; i < 20; ++i) {
    SQLCHAR state[6] = {0}, text[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLError(env, dbc, stmt, state, &native, text, sizeof(text), &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    out.push_back({reinterpret_cast<char*>(state), native, reinterpret_cast<char*>(text)});
  }
  return out;
}
