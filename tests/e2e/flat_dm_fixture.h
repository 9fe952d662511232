// One connection to a data source of the test file driver through the real
// unixODBC Driver Manager, for the engine's end-to-end tests from C++: a
// temporary directory with its own odbcinst.ini and odbc.ini (data source
// "Files" over its data/ folder, filled with the standard tables of
// flattest_tables.py unless the test asks for an empty one), an
// environment, a connection and a statement handle (unless the test asks
// for a connection it connects itself).
#pragma once

#include "odbc_handles.h"

#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class FlatDriverManagerTest : public ::testing::Test {
 protected:
  // withTables: write the standard tables into the data folder first;
  // connected: connect to "Files" and allocate the statement handle, else
  // leave the allocated connection to the test.
  explicit FlatDriverManagerTest(bool withTables = true, bool connected = true)
      : withTables_(withTables), connected_(connected) {}

  void SetUp() override {
    char pattern[] = "/tmp/kve2eflatXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    data_ = dir_ + "/data";
    ASSERT_EQ(mkdir(data_.c_str(), 0700), 0);
    if (withTables_) {
      const std::string tables = "/usr/bin/python3 " KV_E2E_SOURCE_DIR "/flattest_tables.py " + data_;
      ASSERT_EQ(std::system(tables.c_str()), 0);
    }
    std::ofstream(dir_ + "/odbcinst.ini") << "[KvFlatTest]\nDriver=" KV_FLATTEST_DRIVER "\n";
    std::ofstream(dir_ + "/odbc.ini") << "[Files]\nDriver=KvFlatTest\nDatabase=" << data_ << "\n";
    std::ofstream(dir_ + "/user.ini") << "";
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINI", (dir_ + "/user.ini").c_str(), 1);
    if (connected_) ASSERT_EQ(odbcOpen("Files", &env_, &dbc_, &stmt_), SQL_SUCCESS);
    else ASSERT_EQ(odbcOpen(nullptr, &env_, &dbc_), SQL_SUCCESS);
  }
  void TearDown() override {
    odbcClose(env_, dbc_, stmt_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  // The statement's first diagnostic as "STATE message".
  std::string error() {
    SQLCHAR state[6] = {0}, message[512] = {0};
    SQLINTEGER native = 0;
    SQLError(env_, dbc_, stmt_, state, &native, message, sizeof(message), nullptr);
    return std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message);
  }

  std::string dir_, data_;
  SQLHENV env_ = SQL_NULL_HENV;
  SQLHDBC dbc_ = SQL_NULL_HDBC;
  SQLHSTMT stmt_ = SQL_NULL_HSTMT;

 private:
  bool withTables_;
  bool connected_;
};
