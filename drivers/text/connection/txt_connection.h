// TxtConnection: the text driver's connection, on the file SQL engine. A
// connection names a directory whose text files are its tables: those
// KVTXT.INI defines, by table name or file name, and the files of the
// extensions the connection lists. TxtStatement is its statement.
//
// Keys (short name first, then long; from the connection string or the
// data source), after the engine's:
//   EE  ExtraExtensions  extensions whose files are listed ("NONE": files
//                        without one); none by default
//   FLN FirstLineNames   "1": a first line of names (default "0")
//   SR  ScanRows         rows read to guess a table (default 25)
//   TT  TableType        Comma, Tab, Character, Fixed (default Comma)
//   DC  Delimiter        TableType Character: the delimiter (default ",");
//                        a double quote, CR, LF or NUL is refused
//   UT  UndefinedTable   Guess or Prompt (default Prompt)
//   MFI MacFileInfo      kept; SQLGetInfo 1027 answers its "TEXT" part
#pragma once

#include "flat/connection/flat_connection.h"
#include "flat/exec/flat_statement.h"

#include <string>
#include <vector>

enum TxtUndefinedAction : uint32_t { txtUndefinedPrompt = 0, txtUndefinedGuess = 1 };

class TxtConnection : public FlatConnection {
 public:
  explicit TxtConnection(BaseEnv* env);
  ~TxtConnection() override;

  void getDllName(unsigned char* buffer, uint32_t size) override;
  KvStatus connectInit(KvValueParser* parser) override;
  KvStatus connectLogon() override;
  // 25 (read-only only when the access mode is) and 1027.
  KvStatus getAskedForInfo(uint16_t type, void** value, BaseInfoValType* kind) override;
  KvStatus getConnectOption(uint16_t option, void* value) override;
  KvStatus prepareToCommit(FlatSharedDesc* shared, FlatFileDesc** writer) override;
  short getResourceStr(uint16_t id, unsigned char* buffer, uint32_t size) override;
  KvStatus drvrSetToAllocatedState() override;
  void getExt(unsigned char* buffer) override;
  KvStatus checkExt(const unsigned char* ext) override;
  // The defined tables of KVTXT.INI, then the files of each extension
  // (with their extension) that KVTXT.INI does not define.
  KvStatus getTable(unsigned char** name, const unsigned char* qualifier, const unsigned char* pattern,
                    uint16_t first) override;
  // A table name stands for itself in its directory: the directory part it
  // carries ("/" or "\"), else the qualifier, else the database directory.
  // Names keep their own extension (or none) and their whole length.
  KvStatus resolveTableName(const unsigned char* qualifier, const unsigned char* name, unsigned char* path) override;

  // What opening a table without a definition does (the table's file
  // exists): the definition cannot be asked for without a window, and is
  // not guessed yet, so the open fails with 1247.
  KvStatus undefinedTable(const unsigned char* name);

  uint32_t getTableType() const { return tableType_; }
  bool getFirstLineNames() const { return firstLineNames_; }
  unsigned char getDelimiter() const { return delimiter_; }
  uint32_t getScanRows() const { return scanRows_; }
  uint32_t getUndefinedAction() const { return undefinedAction_; }
  const std::vector<std::string>& getExtensions() const { return extensions_; }

 private:
  uint32_t tableType_ = 0;
  bool firstLineNames_ = false;
  uint32_t scanRows_ = 25;
  unsigned char delimiter_ = ',';
  uint32_t undefinedAction_ = txtUndefinedPrompt;
  std::string macFileInfo_;
  std::vector<std::string> extensions_;
  // The running table listing.
  std::vector<std::string> listing_;
  size_t listed_ = 0;
};

class TxtStatement : public FlatStatement {
 public:
  explicit TxtStatement(FlatConnection* connection) : FlatStatement(connection) {}
  KvStatus allocFileDesc(FlatFileDesc** out) override;
  FlatSqlDesc* allocSqlDesc() override;
  FlatDescriptor* allocCrIndexDesc() override;
  FlatDescriptor* allocDropIndexDesc() override;
};

// The extension list of an ExtraExtensions value: split at commas, trailing
// blanks cut, empty items skipped, "NONE" as "", no item twice (case
// ignored).
std::vector<std::string> txtParseExtensions(const std::string& value);
