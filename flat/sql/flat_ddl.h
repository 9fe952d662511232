// The descriptors of CREATE TABLE, CREATE [UNIQUE] INDEX, DROP INDEX and
// DROP TABLE, and FlatDataTypeParser, which matches a column's type name
// against the driver's type list. The engine parses these statements and
// checks their names against the connection (the table's file, whether it
// is open, whether it exists); the file driver's subclasses execute them
// (create or remove files and indexes) and answer the name checks that the
// engine leaves failing.
//
// Grammar (words upper-cased; table names kept in case, back-quotes removed):
//   CREATE TABLE name ( column type [ ( n [, m] ) ] [ NOT NULL ] , ... )
//   CREATE [UNIQUE] INDEX name ON table ( column [ASC|DESC] , ... )
//   DROP INDEX qualifier.name          (the qualifier is the table)
//   DROP TABLE name
//
// Column and index names are kept in buffers of flatDdlNameBytes, table
// names (which may be paths) in buffers of a path's size; a longer name is
// refused with 4099, never cut (a cut table name names another file).
#pragma once

#include "flat/sql/flat_descriptor.h"
#include "util/os/bos.h"
#include "util/containers/kv_array.h"

#include <vector>

struct BaseTypeRow;

enum : uint32_t { flatDdlNameBytes = 129, flatDdlTableNameBytes = bosPathBytes };

// Copies length bytes of name into a buffer of size bytes (terminated); a
// longer one gives 4099 (37000).
KV_FLAT_API KvStatus flatCopyDdlName(unsigned char* to, uint32_t size, const unsigned char* name, uint32_t length);

// One column of CREATE TABLE.
class KV_FLAT_API FlatColumnDef : public KvObject {
 public:
  unsigned char name[flatDdlNameBytes] = {};
  uint16_t typeIndex = 0;  // into the connection's type list
  uint16_t width = 0;      // width or precision
  uint16_t scale = 0;
  uint16_t nullable = 1;   // 0: NOT NULL was given
};

// One key column of CREATE INDEX.
class KV_FLAT_API FlatKeyColumn : public KvObject {
 public:
  unsigned char name[flatDdlNameBytes] = {};
  uint16_t descending = 0;
};

// Matches the words of a type name, which may be several ("LONG VARCHAR"),
// against the connection's type list and the names its createAliases adds.
class KV_FLAT_API FlatDataTypeParser : public KvObject {
 public:
  explicit FlatDataTypeParser(FlatConnection* connection);
  ~FlatDataTypeParser() override;
  // A further name for the type of typeIndex (text kept by reference).
  void addCandidate(const char* name, uint16_t typeIndex);
  // Reads the type name at *position for column; *position ends after the
  // name's last word (the word after a type name is never consumed). No
  // match gives 4022 (37000).
  KvStatus parse(const unsigned char** position, const unsigned char* column, uint16_t* typeIndex);

 private:
  struct Candidate {
    const char* name;
    uint16_t typeIndex;
    uint32_t read;  // bytes of the name matched so far
    bool complete;
  };
  FlatConnection* connection_;
  std::vector<Candidate> candidates_;
};

class KV_FLAT_API FlatCreateDesc : public FlatDescriptor {
 public:
  explicit FlatCreateDesc(FlatStatement* statement) : FlatDescriptor(statement) {}
  ~FlatCreateDesc() override;
  // Fails (S1C00): the driver's subclass creates the table.
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
  FlatSqlDesc* getSqlDesc() override { return nullptr; }
  // The table's file must be neither open (S0001, 4019) nor there (S0001,
  // 4010).
  virtual KvStatus canCreateTableName(const unsigned char* name);
  // The driver decides which column names its format takes; the engine's
  // version refuses every name (S1C00).
  virtual KvStatus canCreateColumnName(const unsigned char* name);

  // Empties the names and columns; the driver calls it after executing. The
  // thread's errors stay: a warning of the parse (4040) must reach the
  // application of an SQLExecDirect.
  void cleanUp();
  const unsigned char* getTableName() const { return tableName_; }
  uint16_t getColumnCount() const { return columns_.getCount(); }
  FlatColumnDef* getColumn(uint16_t index) const { return static_cast<FlatColumnDef*>(columns_.getAt(index)); }
  // The type-list row of a column.
  const BaseTypeRow* getColumnType(uint16_t index) const;

 private:
  KvStatus parseColumn(const unsigned char** position);
  KvStatus parseCreateParams(const unsigned char** position, FlatColumnDef* column, const BaseTypeRow& type);
  unsigned char tableName_[flatDdlTableNameBytes] = {};
  KvArray columns_;  // FlatColumnDef, owned
};

class KV_FLAT_API FlatCrIndexDesc : public FlatDescriptor {
 public:
  explicit FlatCrIndexDesc(FlatStatement* statement) : FlatDescriptor(statement) {}
  ~FlatCrIndexDesc() override;
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
  FlatSqlDesc* getSqlDesc() override { return nullptr; }
  // The index name at *position, checked (canCreateIndexName) and stored.
  virtual KvStatus parseIndexName(const unsigned char** position);
  // The table must exist (S0002, 4036) and not be open (4037).
  virtual KvStatus canCreateIndexForTableName(const unsigned char* name);
  // Driver's: the engine's version refuses (S1C00).
  virtual KvStatus canCreateIndexName(const unsigned char* name);
  // "(" key column [ASC|DESC], ... ")".
  virtual KvStatus parseColumnIdentifiers(const unsigned char** position);
  // Driver's: the engine's version refuses (S1C00).
  virtual KvStatus canCreateColumnNameInIndex(const unsigned char* name);

  void cleanUp();
  const unsigned char* getIndexName() const { return indexName_; }
  const unsigned char* getTableName() const { return tableName_; }
  uint16_t isUnique() const { return unique_; }
  uint16_t getKeyCount() const { return keys_.getCount(); }
  FlatKeyColumn* getKey(uint16_t index) const { return static_cast<FlatKeyColumn*>(keys_.getAt(index)); }

 private:
  unsigned char indexName_[flatDdlNameBytes] = {};
  unsigned char tableName_[flatDdlTableNameBytes] = {};
  KvArray keys_;  // FlatKeyColumn, owned
  uint16_t unique_ = 0;
};

class KV_FLAT_API FlatDropIndexDesc : public FlatDescriptor {
 public:
  explicit FlatDropIndexDesc(FlatStatement* statement) : FlatDescriptor(statement) {}
  ~FlatDropIndexDesc() override;
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
  FlatSqlDesc* getSqlDesc() override { return nullptr; }
  // Driver's: the engine's version refuses (S1C00).
  virtual KvStatus canDropIndexName(const unsigned char* name);
  // The qualifier is a table: it must exist (S0002, 4036) and not be open
  // (4038).
  virtual KvStatus isValidQualifier(const unsigned char* name);

  void cleanUp();
  const unsigned char* getQualifier() const { return qualifier_; }
  const unsigned char* getIndexName() const { return indexName_; }

 private:
  unsigned char qualifier_[flatDdlTableNameBytes] = {};
  unsigned char indexName_[flatDdlNameBytes] = {};
};

class KV_FLAT_API FlatDropTableDesc : public FlatDescriptor {
 public:
  explicit FlatDropTableDesc(FlatStatement* statement) : FlatDescriptor(statement) {}
  ~FlatDropTableDesc() override;
  KvStatus execute() override;
  KvStatus parse(const unsigned char* text, uint32_t* position) override;
  FlatSqlDesc* getSqlDesc() override { return nullptr; }
  // The table must exist (S0002, 4036) and not be open (4035).
  virtual KvStatus canDropTableName(const unsigned char* name);

  void cleanUp();
  const unsigned char* getTableName() const { return tableName_; }

 private:
  unsigned char tableName_[flatDdlTableNameBytes] = {};
};
