// Fuzz target of KVTXT.INI: the input is the file, read by the text
// driver's schema reader in a scratch directory. Every table it lists is
// looked up and read; a definition read is within the driver's limits: a
// plain file name, a usable delimiter, column lengths and offsets in range,
// names of at most 32 bytes. Reading never changes the file.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/handles/base_error_list.h"
#include "drivers/text/schema/txt_ini.h"
#include "fuzz/fuzz_check.h"

namespace {

std::string scratch() {
  char pattern[] = "/tmp/kvtxtinifuzzXXXXXX";
  return mkdtemp(pattern) ? pattern : "/tmp";
}

std::string readAll(const std::string& name) {
  std::string bytes;
  FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return bytes;
  char chunk[4096];
  for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), f)) > 0;) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = scratch();
  static KvErrorList list(nullptr, 1);
  KvErrorKeeper::setErrorList(&list);
  const std::string path = dir + "/KVTXT.INI";
  FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f);
  if (size) FUZZ_CHECK(std::fwrite(data, 1, size, f) == size);
  std::fclose(f);
  const std::string before = readAll(path);

  TxtIni ini;
  FUZZ_CHECK(ini.open(reinterpret_cast<const unsigned char*>(dir.c_str())) == kvSuccess);
  std::vector<std::string> tables, files;
  FUZZ_CHECK(ini.listTables(&tables, &files) == kvSuccess);
  tables.push_back("x");
  for (const std::string& name : tables) {
    list.clearErrors();
    std::string section;
    FUZZ_CHECK(ini.findTable(reinterpret_cast<const unsigned char*>(name.c_str()), &section) == kvSuccess);
    if (section.empty()) continue;
    TxtTableDef def;
    if (ini.readTable(section, &def) != kvSuccess) continue;
    FUZZ_CHECK(txtPlainFileName(def.file));
    FUZZ_CHECK(def.tableType <= txtTableFixed);
    FUZZ_CHECK(def.tableType != txtTableCharacter || txtDelimiterUsable(def.delimiter));
    for (const TxtColumnDef& c : def.columns) {
      FUZZ_CHECK(!c.name.empty() && c.name.size() <= txtMaxNameBytes);
      FUZZ_CHECK(c.length >= 1 && c.length <= txtMaxColumnBytes);
      FUZZ_CHECK(uint64_t(c.offset) + c.length <= txtMaxLineBytes);
      FUZZ_CHECK(c.type == 'V' || c.type == 'N' || c.type == 'D');
    }
  }
  FUZZ_CHECK(readAll(path) == before);
  return 0;
}
