// One open index file: its handle, reads and writes by page, and the
// messages that name it; see dbf_index_file.h.
#include "drivers/dbase/index/dbf_index_file.h"

#include "base/handles/base_error_list.h"
#include "drivers/dbase/dbase_message_ids.h"
#include "drivers/dbase/table/dbf_shared_desc.h"
#include "flat/connection/flat_connection.h"
#include "util/os/bos.h"

#include <cstring>

uint16_t dbfIndexMaxKeyLength(uint32_t kind) {
  static const uint16_t largest[dbfIndexKindCount] = {100, 100, 100, 250, 100, 240, 240};
  return kind < dbfIndexKindCount ? largest[kind] : 0;
}

DbfIndexFile::DbfIndexFile(void* owner, DbfSharedDesc* table) : owner_(owner) {
  if (table && table->getConnection())
    intlSort_ = (table->getConnection()->getEngineFlags() & flatIntlSort) != 0;
}

DbfIndexFile::~DbfIndexFile() {
  close();
  ramFree(path_);
}

KvStatus DbfIndexFile::setPath(const unsigned char* path) {
  unsigned char* copy = ramAllocStr(path);
  if (!copy) return kvFailure;
  ramFree(path_);
  path_ = copy;
  return kvSuccess;
}

KvStatus DbfIndexFile::open(bool readOnly) {
  unsigned char name[bosPathBytes];
  size_t length = path_ ? std::strlen(kvC(path_)) : 0;
  if (length == 0 || length >= sizeof(name)) return invalid();
  std::memcpy(name, path_, length + 1);
  close();
  if (bosFileOpen(name, readOnly ? 0 : uint32_t(bosOpenReadWrite), &handle_) != kvSuccess) return kvFailure;
  // Messages about the file name it as it is on disk.
  bosDiskName(name, name);
  return setPath(name);
}

void DbfIndexFile::close() {
  if (handle_) (void)(bosFileClose(handle_));
  handle_ = 0;
}

KvStatus DbfIndexFile::read(uint64_t offset, void* buffer, uint32_t length, uint32_t* got) {
  *got = 0;
  if (offset > uint64_t(INT64_MAX)) return fail(msgDbfIndexRead);
  return bosFileRead(handle_, int64_t(offset), buffer, length, got);
}

KvStatus DbfIndexFile::readPage(uint32_t page, void* buffer, uint32_t length) {
  uint32_t got = 0;
  if (read(uint64_t(page) * dbfIndexPageUnit, buffer, length, &got) != kvSuccess) return kvFailure;
  if (got != length) return fail(msgDbfIndexRead);
  return kvSuccess;
}

KvStatus DbfIndexFile::write(uint64_t offset, const void* data, uint32_t length) {
  if (offset > uint64_t(INT64_MAX)) return invalid();
  return bosFileWrite(handle_, int64_t(offset), data, length);
}

KvStatus DbfIndexFile::writePage(uint32_t page, const void* data, uint32_t length) {
  return write(uint64_t(page) * dbfIndexPageUnit, data, length);
}

KvStatus DbfIndexFile::size(uint64_t* bytes) {
  int64_t size = 0;
  if (bosFileSize(handle_, &size) != kvSuccess) return kvFailure;
  *bytes = uint64_t(size);
  return kvSuccess;
}

KvStatus DbfIndexFile::invalid() const { return fail(msgDbfBadIndex); }

KvStatus DbfIndexFile::fail(uint16_t messageId) const {
  addOdbcError(stateGeneral, messageId) << (path_ ? path_ : kvU(""));
  return kvFailure;
}
