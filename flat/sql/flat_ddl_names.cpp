// Readers of names, words and numbers shared by the CREATE and DROP
// parsers, and the state of a table file the name checks ask about.
#include "flat/sql/flat_ddl_internal.h"

#include "base/handles/base_messages.h"
#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"
#include "flat/flat_errors.h"
#include "flat/flat_message_ids.h"
#include "util/os/bos.h"
#include "util/memory/ram.h"

#include <cstring>

KvStatus flatCopyDdlName(unsigned char* to, uint32_t size, const unsigned char* name, uint32_t length) {
  if (length >= size) {
    addFlatSyntaxError(msgNameTooLong) << name << uint32_t(size - 1);
    return kvFailure;
  }
  std::memcpy(to, name, length);
  to[length] = 0;
  return kvSuccess;
}

KvStatus flatDdlReadTableName(FlatStatement* statement, const unsigned char** position, unsigned char* name,
                              uint32_t size, bool* found) {
  *found = false;
  name[0] = 0;
  unsigned char* read = nullptr;
  if (flatReadName(position, &read) != kvSuccess) return kvFailure;
  if (!read) return kvSuccess;
  KvStatus status = statement->getFlatConnection()->flatStripEngrave(read);
  if (status == kvSuccess && read[0]) {
    status = flatCopyDdlName(name, size, read, uint32_t(std::strlen(reinterpret_cast<const char*>(read))));
    if (status == kvSuccess) *found = true;
  }
  ramFree(read);
  return status;
}

KvStatus flatDdlReadIdentifier(FlatStatement* statement, const unsigned char** position, unsigned char* name,
                               bool* found) {
  *found = false;
  name[0] = 0;
  const unsigned char* start = *position;
  FlatToken token;
  if (token.read(position, flatScanDdlWord) != kvSuccess) return kvFailure;
  const bool backQuoted = token.isQuoted() && token.first() == '`';
  if (token.isEnd() || (token.isPunctuation() && !backQuoted) || (token.isQuoted() && !backQuoted)) {
    *position = start;
    return kvSuccess;
  }
  if (flatCopyDdlName(name, flatDdlNameBytes, token.getText(), token.getLength()) != kvSuccess) return kvFailure;
  if (backQuoted && statement->getFlatConnection()->flatStripEngrave(name) != kvSuccess) return kvFailure;
  *found = name[0] != 0;
  return kvSuccess;
}

KvStatus flatDdlTakeWord(const unsigned char** position, const char* word, bool* taken) {
  *taken = false;
  const unsigned char* p = *position;
  FlatToken token;
  if (token.read(&p, flatScanOperator) != kvSuccess) return kvFailure;
  if (token.is(word)) {
    *position = p;
    *taken = true;
  }
  return kvSuccess;
}

KvStatus flatDdlReadNumber(const unsigned char** position, uint64_t* value, bool* found) {
  *found = false;
  *value = 0;
  const unsigned char* p = *position;
  FlatToken token;
  if (token.read(&p, flatScanDdlWord) != kvSuccess) return kvFailure;
  if (token.isEnd()) return kvSuccess;
  const unsigned char* text = token.getText();
  uint64_t number = 0;
  for (uint32_t i = 0; i < token.getLength(); ++i) {
    if (text[i] < '0' || text[i] > '9') return kvSuccess;
    // Saturates: every caller's limit lies far below.
    number = number > (UINT64_MAX - 9) / 10 ? UINT64_MAX : number * 10 + uint64_t(text[i] - '0');
  }
  *value = number;
  *found = true;
  *position = p;
  return kvSuccess;
}

KvStatus flatDdlTableState(FlatStatement* statement, const unsigned char* name, unsigned char* path,
                           uint16_t* open, bool* exists) {
  FlatConnection* connection = statement->getFlatConnection();
  if (connection->resolveTableName(nullptr, name, path) != kvSuccess) return kvFailure;
  *open = connection->isFileOpen(path);
  *exists = bosexist(path) != 0;
  return kvSuccess;
}

uint32_t flatDdlLimit(FlatStatement* statement, uint16_t infoType) {
  KvStatus status = kvSuccess;
  const uint32_t limit = statement->getFlatConnection()->getInfoNumber(infoType, &status);
  if (status == kvSuccess) return limit;
  KvErrorKeeper::clearLastError();
  return 0;
}
