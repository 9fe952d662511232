// Fuzz target of the saved-query file reader and writer.
//
// Input: one byte of settings, then the file.
//   bit 0: put a valid first line in front ("K+V 6.0 for X"), so that the
//          run reaches the statement and the sections
//   bit 1: with bit 0, "(2)" on that line and the rest scrambled in mode 2
//   bit 2: with bit 0, version "2.0" (the definition follows the statement)
//   bit 3: also set the file's bytes as the text of a section and as the
//          statement before saving
// Besides what the sanitizers catch:
//   - a file that opens can be read whole (statement, sections, lines,
//     parameters, description) without a crash; a failure leaves a message;
//   - saved, it reads as before (a section text gaining the line end it
//     lacked); saved again, it gives the same bytes and reads the same;
//   - a section text that is not refused reads back as it was set (a line
//     end added when it had none).
// The words of the format are in query_file_fuzz.dict:
//   query_file_fuzz -dict=fuzz/query_file_fuzz.dict -max_total_time=60 -max_len=4096
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "util/files/encrypt.h"
#include "util/error_list.h"
#include "util/files/query_file.h"

namespace {

const char* const sectionNames[] = {"PAGE_LAYOUT", "PARAMETERS", "DEFINITION", "USER COMMANDS", "Fuzz", ""};

// The files of a run live in a directory of their own, removed at exit.
std::string scratch;

void removeScratch() {
  for (const char* name : {"/in.kqy", "/first.kqy", "/second.kqy"}) unlink((scratch + name).c_str());
  rmdir(scratch.c_str());
}

const std::string& scratchDirectory() {
  if (scratch.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvqueryfuzz-XXXXXX";
    const char* made = mkdtemp(&pattern[0]);
    FUZZ_CHECK(made != nullptr);
    scratch = made;
    std::atexit(removeScratch);
  }
  return scratch;
}

void writeWhole(const std::string& path, const std::string& data) {
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data.data(), 1, data.size(), file) == data.size());
  std::fclose(file);
}

std::string readWhole(const std::string& path) {
  std::string data;
  FILE* file = std::fopen(path.c_str(), "rb");
  FUZZ_CHECK(file != nullptr);
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), file)) > 0;) data.append(chunk, got);
  std::fclose(file);
  return data;
}

int hasErrors(KvErrorList& list) { return list.getErrorAtPos(0) != nullptr; }

// What a reading finds: the statement, each section's text, the parameter
// lines, the description, the database type and name (or a mark for a read
// that failed).
struct Reading {
  std::vector<std::string> parts;
  bool operator==(const Reading& other) const { return parts == other.parts; }
};

// A reading as it is after a save: every section text ends with a line end.
Reading asSaved(Reading reading) {
  for (size_t i = 1; i <= sizeof(sectionNames) / sizeof(sectionNames[0]); ++i) {
    std::string& text = reading.parts[i];
    if (text == "<none>" || text == "<section failed>") continue;
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) text += "\r\n";
  }
  return reading;
}

Reading readEverything(KvQueryFile& query, KvErrorList& list) {
  Reading reading;
  KvString text;
  reading.parts.push_back(query.getSqlStmt(&text) == kvSuccess
                              ? std::string(reinterpret_cast<const char*>(text.getStr()), text.getLength())
                              : "<statement failed>");
  for (const char* name : sectionNames) {
    unsigned char* data = nullptr;
    uint32_t length = 0;
    if (query.getHugeSectionChunk(reinterpret_cast<const unsigned char*>(name), &data, &length) == kvSuccess) {
      reading.parts.push_back(data ? std::string(reinterpret_cast<char*>(data), length) : "<none>");
      ramFree(data);
    } else {
      FUZZ_CHECK(hasErrors(list));
      reading.parts.push_back("<section failed>");
    }
    KvArray lines;
    lines.setOwnsObjects(true);
    if (query.getLines(reinterpret_cast<const unsigned char*>(name), &lines) != kvSuccess) FUZZ_CHECK(hasErrors(list));
  }
  KvArray params;
  params.setOwnsObjects(true);
  if (query.getParams(&params) == kvSuccess) {
    for (uint16_t i = 0; i < params.getCount(); ++i) {
      KvString line;
      const auto* param = static_cast<const KvfParam*>(params.getAt(i));
      reading.parts.push_back(param->getParamLine(line) == kvSuccess
                                  ? std::string(reinterpret_cast<const char*>(line.getStr()), line.getLength())
                                  : "<line refused>");
    }
  } else {
    FUZZ_CHECK(hasErrors(list));
    reading.parts.push_back("<params failed>");
  }
  reading.parts.push_back(query.getDescription(&text) == kvSuccess
                              ? std::string(reinterpret_cast<const char*>(text.getStr()), text.getLength())
                              : "<description failed>");
  const KvString* names[] = {&query.getDbType(), &query.getDbName()};
  for (const KvString* name : names)
    reading.parts.push_back(std::string(reinterpret_cast<const char*>(name->getStr()), name->getLength()));
  list.clearErrors();
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t settings = data[0];
  std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string file = body;
  if (settings & 1) {
    std::string first = settings & 4 ? "K+V 2.0 for X" : "K+V 6.0 for X";
    if (settings & 2) {
      first += " (2)";
      encrypt(reinterpret_cast<unsigned char*>(&file[0]), uint32_t(file.size()), kvEncryptKeepLines, nullptr);
    }
    file = first + "\r\n" + file;
  }
  const std::string directory = scratchDirectory();
  const std::string input = directory + "/in.kqy";
  const std::string first = directory + "/first.kqy";
  const std::string second = directory + "/second.kqy";
  writeWhole(input, file);

  KvErrorList list(nullptr, 1);
  KvErrorKeeper::setErrorList(&list);
  {
    KvQueryFile query;
    if (query.openFile(reinterpret_cast<const unsigned char*>(input.c_str())) != kvSuccess) {
      FUZZ_CHECK(hasErrors(list));
      FUZZ_CHECK(!query.isOpen());
    } else {
      const Reading before = readEverything(query, list);
      std::string setSection;
      if (settings & 8) {
        if (query.setHugeSectionChunk(reinterpret_cast<const unsigned char*>("Fuzz"), body.data(),
                                      uint32_t(body.size())) == kvSuccess) {
          // An empty text is written as one empty line; every text ends
          // with a line end.
          const bool endsInLineEnd = body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") == 0;
          setSection = endsInLineEnd ? body : body + "\r\n";
        }
        if (query.setSqlStmt(reinterpret_cast<const unsigned char*>(body.data()), uint32_t(body.size())) != kvSuccess)
          FUZZ_CHECK(hasErrors(list));
        list.clearErrors();
      }
      if (query.saveAs(reinterpret_cast<const unsigned char*>(first.c_str())) != kvSuccess) {
        // Only a statement that grows too large for a string while it is
        // broken into lines may keep the query from being written (and
        // what was written must read).
        KvError* error = list.getErrorAtPos(0);
        FUZZ_CHECK(error != nullptr && error->getNumber() == kvMsgStringTooLarge);
      } else {
        const Reading once = readEverything(query, list);
        if (!(settings & 8)) FUZZ_CHECK(once == asSaved(before));
        if (!setSection.empty()) FUZZ_CHECK(once.parts[5] == setSection);
        FUZZ_CHECK(query.saveAs(reinterpret_cast<const unsigned char*>(second.c_str())) == kvSuccess);
        FUZZ_CHECK(readWhole(first) == readWhole(second));
        FUZZ_CHECK(readEverything(query, list) == once);
      }
    }
  }
  list.clearErrors();
  KvErrorKeeper::giveUpErrorList();
  unlink(first.c_str());
  unlink(second.c_str());
  return 0;
}
