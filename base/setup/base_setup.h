// Data-source setup: the common work of every driver's ConfigDSN. The ODBC
// installer (unixODBC's libodbcinst, through SQLConfigDataSource) calls a
// driver's ConfigDSN to add, configure or remove a data source; the driver
// hands its table of setup keys (SetupInfo rows) to a DSNInfoStruct, which
// gathers each key's value from the attribute list or the data source's
// section of ODBC.INI, then removes or writes the data source through the
// installer, or asks the driver to show its setup dialog, which
// BaseInitSetupDialog fills and BaseWriteValuesToIni reads back.
//
// The installer decides which file a data source lives in: a request for a
// user data source works on the user's odbc.ini, one for a system data
// source (ODBC_ADD_SYS_DSN and its kin, which the installer turns into
// requests 1 to 3 for the driver) on the system's.
//
// Every failure of a request leaves an installer error (SQLInstallerError)
// that says why, and writes nothing: names, values and the attribute list
// are checked before the first write. What the framework's own code posts
// meanwhile goes to a private error list that is discarded with the object.
#pragma once

#include "base/base_types.h"
#include "platform/headless/headless_window.h"
#include "util/error_list.h"

// The answers of ConfigDSN and of the installer's own calls (BOOL).
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// How a row's value is shown in the setup dialog and read back from it.
enum SetupControlKind : uint32_t {
  setupEdit = 0,        // text limit, then the text; read: the text (at most 255 bytes)
  setupRadio = 1,       // checked when the value equals the first string (case-
                        // insensitive, non-empty); read: the first string when
                        // checked, else no value (nothing is written)
  setupCheckBox = 2,    // checked when the value equals the first string (case-
                        // insensitive); read: the first string when checked, else
                        // the second
  setupCombo = 3,       // the driver fills the list; the item equal to the value
                        // is selected; read: the text
  setupComboList = 4,   // the first string's comma-separated items (leading blanks
                        // dropped, empty items skipped) are added, and the item
                        // whose text up to its first blank (or whole text) equals
                        // the value is selected; read: the text up to its first
                        // blank
  setupNoControl = 5,   // no control: the value read at the start is written back
};

// One setup key of a driver, in a constant table of the driver. Radio
// buttons that set one key are one row each, under the same key.
struct SetupInfo {
  const char* key;           // ODBC.INI key and attribute keyword
  uint16_t control;          // dialog control id (unused for setupNoControl)
  SetupControlKind kind;
  const char* first;         // setupRadio, setupCheckBox: the value a checked control
                             // stands for; setupComboList: the list of choices
  const char* second;        // the default when neither the attributes nor ODBC.INI
                             // give the key; setupCheckBox: the unchecked value
  uint16_t limit;            // setupEdit: the text limit (0: none)
};

// Controls of every setup dialog besides the rows'.
enum : uint16_t {
  setupControlName = 401,         // the data source name, limit 32
  setupControlDescription = 402,  // the description, limit 255
  setupControlNameCompanion = 403 // disabled together with 401
};

// Why a setup request failed. Each has the installer error code and the text
// it posts (base_installer.cpp); the subject fills the text's "%s". A
// driver posts setupDialogFailed when its setup dialog cannot be shown.
enum BaseSetupFailure : uint16_t {
  setupBadRequest,         // subject: the request number
  setupBadDriver,          // subject: the driver description
  setupNoName,             // no DSN in the attributes
  setupBadName,            // subject: the data source name
  setupBadAttributes,      // subject: the attribute at fault
  setupAttributesTooLong,  // no end within DSNInfoStruct::attributesMaxBytes
  setupBadValue,           // subject: the key whose value is refused
  setupWriteFailed,        // subject: the data source name
  setupRemoveFailed,       // subject: the data source name
  setupNoMemory,
  setupDialogFailed,       // subject: the data source name
};

// Posts the installer error of failure (SQLPostInstallerError).
KV_BASE_API void basePostSetupError(BaseSetupFailure failure, const unsigned char* subject);

class KV_BASE_API DSNInfoStruct {
 public:
  // The requests a driver receives.
  enum : uint16_t { requestAdd = 1, requestConfigure = 2, requestRemove = 3 };
  enum : uint32_t {
    flagTaskData = 0x1,   // ziz-task data was started
    flagErrorList = 0x2,  // the private error list is the thread's current list
  };
  // The longest attribute list read, its double zero byte included.
  enum : uint32_t { attributesMaxBytes = 2048 };
  // Values read from ODBC.INI and from edit controls are cut to this.
  enum : uint32_t { valueMaxBytes = 255 };

  // parent: the window ConfigDSN was given (null: none); driver: the
  // driver's description (its odbcinst.ini section); attributes: the
  // "key=value" items, each ended by a zero byte, the list by one more.
  // rows (count of them) must outlive the object.
  DSNInfoStruct(SQLHWND parent, uint16_t request, const unsigned char* driver, const unsigned char* attributes,
                const SetupInfo* rows, uint16_t count);
  // Frees the values and names, gives up the private error list and ends the
  // ziz-task data when they were started.
  ~DSNInfoStruct();
  DSNInfoStruct(const DSNInfoStruct&) = delete;
  DSNInfoStruct& operator=(const DSNInfoStruct&) = delete;

  // Carries out the request. Remove: removes the data source. Add or
  // configure with a parent window: sets *showDialog to 1 (the driver then
  // shows its setup dialog) and answers TRUE. Without one: writes the data
  // source at once (SetDSNAttributes). FALSE, with an installer error, when
  // the request fails.
  BOOL config(uint16_t* showDialog);

  SQLHWND getParent() const { return parent_; }
  uint16_t getRequest() const { return request_; }
  const unsigned char* getDriver() const { return driver_; }
  const SetupInfo* getRows() const { return rows_; }
  uint16_t getRowCount() const { return count_; }
  // The value of row i (null: none).
  const unsigned char* getValue(uint16_t i) const { return values_ ? values_[i] : nullptr; }
  // Replaces the value of row i by a copy of value (null: none).
  KvStatus setValue(uint16_t i, const unsigned char* value);
  // The data-source name at the start (empty when the attributes had none)
  // and the current one.
  const unsigned char* getStartName() const { return startName_ ? startName_ : kvU(""); }
  const unsigned char* getName() const { return name_ ? name_ : kvU(""); }
  KvStatus setName(const unsigned char* name);
  // After the data source was written under the current name, that name is
  // the one the object started from (a later write renames from it).
  KvStatus takeNameAsStart();

 private:
  KvStatus readAttributes();
  const unsigned char* findAttribute(const unsigned char* key) const;
  KvStatus gatherValues();

  SQLHWND parent_;
  uint16_t request_;
  const unsigned char* driver_;
  const unsigned char* attributes_;
  const SetupInfo* rows_;
  uint16_t count_;
  unsigned char** values_ = nullptr;  // one owned value (or null) per row
  unsigned char* startName_ = nullptr;
  unsigned char* name_ = nullptr;
  // The attribute list's items after reading: owned copies split at "=",
  // keys and values trimmed of blanks.
  unsigned char* attributeCopy_ = nullptr;
  const unsigned char** itemKeys_ = nullptr;
  const unsigned char** itemValues_ = nullptr;
  uint16_t itemCount_ = 0;
  KvErrorList errorList_;
  uint32_t flags_ = 0;
};

// Writes the data source of info under its current name: checks the name
// (non-empty, accepted by SQLValidDSN, and nothing in it that would break
// the structure of odbc.ini: "[", "]", "=", a line break), the driver and
// every value (no line break) before anything is written; then the section
// with its Driver key (SQLWriteDSNToIni, which replaces a section of that
// name), every row that has a value, and, when the name differs (without
// regard to case) from a non-empty starting name, removes the data source
// under the starting name. FALSE, with an installer error, on failure.
KV_BASE_API BOOL SetDSNAttributes(DSNInfoStruct* info);

// Fills the setup dialog when it opens: 401 gets the current name (limit
// 32), every row's control its value by the row's kind, 402 the limit 255;
// for an add request that named the data source, 401 and 403 are disabled.
// Fails when a control the rows or the framework need is missing.
KV_BASE_API KvStatus BaseInitSetupDialog(KvWindow* dialog, DSNInfoStruct* info);

// Reads the dialog back when the user confirms: the name from 401, every
// row's control but setupNoControl's by its kind; then writes the data
// source (SetDSNAttributes). Failure (the dialog should stay open) leaves
// the installer error that says why.
KV_BASE_API KvStatus BaseWriteValuesToIni(KvWindow* dialog, DSNInfoStruct* info);
