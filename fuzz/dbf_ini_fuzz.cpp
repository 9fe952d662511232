// Fuzz target of RERUZ.INI: any bytes are the file of a directory of
// tables. Its sections are read as the index opener reads them (character
// set, MAINTAIN and UNIQUE entries up to the first empty one), then changed:
// an entry removed (renumbering what is left), one appended, a section
// deleted. A change either fails, leaving the file as it was, or leaves a
// file in which the appended entry reads back whole under the number its
// count gave.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unistd.h>

#include "base/handles/base_env.h"
#include "drivers/dbase/connection/dbf_connection.h"
#include "drivers/dbase/index/dbf_ini.h"
#include "fuzz/dbf_fuzz_session.h"
#include "fuzz/fuzz_check.h"
#include "util/memory/ram.h"

namespace {

struct Session {
  std::string dir;
  DbfConnection* connection = nullptr;
  Session() {
    dir = dbfFuzzScratchDir("kvinifuzz");
    connection = dbfFuzzConnect(dir);
  }
};


// Reads a section's entries as the index opener does; the number read.
uint16_t readSection(DbfIni* ini, const unsigned char* section) {
  uint16_t oem = 0;
  (void)ini->getCharset(section, &oem);
  FUZZ_CHECK(oem <= 1);
  static unsigned char file[dbfIniValueBytes], tag[dbfIniValueBytes];
  uint16_t count = 0;
  for (uint16_t i = 0; i < 300; ++i, ++count)
    if (ini->getMaintained(section, i, file, sizeof(file)) != kvSuccess || !file[0]) break;
  for (uint16_t i = 0; i < 300; ++i) {
    if (ini->getUnique(section, i, file, sizeof(file), tag, sizeof(tag)) != kvSuccess || !file[0]) break;
    FUZZ_CHECK(!std::strchr(kvC(file), ','));
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Session session;
  const std::string path = session.dir + "/RERUZ.INI";
  writeFile(path, data, size);
  session.connection->getErrorList().clearErrors();

  DbfIni ini(session.connection);
  FUZZ_CHECK(ini.open(kvU(session.dir.c_str())) == kvSuccess);
  const unsigned char* sections[] = {kvU("EMP.DBF"), kvU("a"), kvU("")};
  for (const unsigned char* section : sections) readSection(&ini, section);

  std::string before = readFile(path);
  if (ini.removeMaintained(kvU("EMP.DBF"), kvU("A.NDX")) != kvSuccess) FUZZ_CHECK(readFile(path) == before);
  before = readFile(path);
  if (ini.removeUnique(kvU("EMP.DBF"), kvU("A.MDX"), kvU("T")) != kvSuccess) FUZZ_CHECK(readFile(path) == before);

  before = readFile(path);
  if (ini.addMaintained(kvU("EMP.DBF"), kvU("NEW.NDX")) == kvSuccess) {
    unsigned char count[16];
    KvIni plain;
    FUZZ_CHECK(plain.open(kvU(path.c_str())) == kvSuccess);
    FUZZ_CHECK(plain.getEntry(kvU("EMP.DBF"), kvU("NUMMAINTAINED"), count, sizeof(count), kvU("0")) == kvSuccess);
    const long number = std::strtol(kvC(count), nullptr, 10);
    FUZZ_CHECK(number >= 1 && number <= 0xFFFF);
    static unsigned char value[dbfIniValueBytes];
    FUZZ_CHECK(ini.getMaintained(kvU("EMP.DBF"), uint16_t(number - 1), value, sizeof(value)) == kvSuccess);
    FUZZ_CHECK(std::strcmp(kvC(value), "NEW.NDX") == 0);
  } else {
    FUZZ_CHECK(readFile(path) == before);
  }
  FUZZ_CHECK(ini.removeTable(kvU("EMP.DBF")) == kvSuccess);
  return 0;
}
