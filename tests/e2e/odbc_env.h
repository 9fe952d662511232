// A private unixODBC configuration for end-to-end tests: a temporary
// directory with odbcinst.ini (the test drivers) and odbc.ini (data
// sources), pointed to by ODBCSYSINI and ODBCINI before the Driver Manager
// reads anything.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

class PrivateOdbc {
 public:
  // dataSources: the text of odbc.ini (sections and keys).
  explicit PrivateOdbc(const std::string& dataSources) {
    char pattern[] = "/tmp/kve2eXXXXXX";
    const char* made = mkdtemp(pattern);
    dir_ = made ? made : "/tmp";
    std::ofstream(dir_ + "/odbcinst.ini") << "[KvTest]\nDescription=Kestrane test driver\nDriver=" KV_TEST_DRIVER
                                             "\nSetup=" KV_TEST_DRIVER
                                             "\n\n[KvTest2]\nDescription=Kestrane test driver, second "
                                             "library\nDriver=" KV_TEST_DRIVER2 "\nSetup=" KV_TEST_DRIVER2 "\n";
    std::ofstream(dir_ + "/odbc.ini") << dataSources;
    std::ofstream(dir_ + "/user.ini") << "";
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINI", (dir_ + "/user.ini").c_str(), 1);
    setenv("HOME", dir_.c_str(), 1);
  }
  ~PrivateOdbc() {
    for (const char* name : {"/odbcinst.ini", "/odbc.ini", "/user.ini"}) unlink((dir_ + name).c_str());
    rmdir(dir_.c_str());
  }
  const std::string& dir() const { return dir_; }

 private:
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
