// What the dBASE fuzz targets share: objects made in the sub-allocator's
// memory as the driver makes them, a scratch directory, a driver connection
// on it (its error list made the current one), and whole-file reads and
// writes for setting up inputs and comparing files before and after.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "fuzz/fuzz_check.h"
#include "util/memory/ram.h"

template <class T, class Arg>
T* build(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// A new directory under /tmp named from `prefix` ("kvinifuzz"); /tmp itself
// when none can be made.
inline std::string dbfFuzzScratchDir(const char* prefix) {
  std::string pattern = std::string("/tmp/") + prefix + "XXXXXX";
  return mkdtemp(&pattern[0]) ? pattern : std::string("/tmp");
}

// A dBASE connection on `dir`, through a fresh environment.
inline DbfConnection* dbfFuzzConnect(const std::string& dir) {
  auto* env = build<BaseEnv>(OdbcDriverNumber(1));
  auto* connection = build<DbfConnection>(static_cast<BaseEnv*>(env));
  std::string text = "DRIVER=dbase;DB=" + dir + ";";
  SQLRETURN rc = connection->SQLDriverConnect(nullptr, kvU(const_cast<char*>(text.c_str())), SQLSMALLINT(SQL_NTS),
                                              nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  FUZZ_CHECK(rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO);
  KvErrorKeeper::setErrorList(&connection->getErrorList());
  return connection;
}

inline void writeFile(const std::string& name, const void* data, size_t size) {
  FILE* f = std::fopen(name.c_str(), "wb");
  FUZZ_CHECK(f);
  if (size) FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);
}

// The file's bytes; empty when it cannot be opened.
inline std::string readFile(const std::string& name) {
  std::string bytes;
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return bytes;
  char chunk[4096];
  while (size_t n = std::fread(chunk, 1, sizeof(chunk), f)) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}
