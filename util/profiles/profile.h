// Profile storage: settings read and written by INI name, section and key.
//
// A fixed list of well-known INI names is kept in stores of their own, with
// the rules of a keyed store (lists of "key=value" items, counted list
// lengths); every other INI name is a private-profile file with Windows
// rules (util/profiles/ini_file.h). The known names, matched on the last component of
// the INI name, upper-cased: a name found in the text
//   "ODBC.INI ODBCINST.INI CONTROL.INI TLM.INI TLMINST.INI DI7.INI RE6.INI VIZIR.INI"
// at the start of one of its names is that name (so "odbc" is ODBC.INI,
// while "INST.INI" is a file of its own).
//
//   INI name       store
//   ODBC.INI       unixODBC's data sources: the user file (kvOdbcUserIniPath)
//                  read first, then the system file
//                  ($ODBCSYSINI/odbc.ini, else /etc/odbc.ini). A section is
//                  taken whole from the first file that has it; a list of
//                  sections is the union of both. Writes go to the user file;
//                  changing a data source that only the system file has first
//                  copies it into the user file, so that it keeps its other
//                  keys.
//   ODBCINST.INI   unixODBC's drivers: $ODBCSYSINI/odbcinst.ini, else
//                  /etc/odbcinst.ini.
//   the others     the lower-case name in the user's configuration directory
//                  ($XDG_CONFIG_HOME/kestrane, else ~/.config/kestrane).
// Other INI names are files at their path when they have a directory part,
// else in the configuration directory.
#pragma once

#include "util/memory/kv_object.h"

// Reads a setting into buffer (size bytes) and returns the bytes placed
// there. With a known INI name:
// - section null or empty: the section names, each zero-terminated, and one
//   more zero; the result counts that final zero. When the store does not
//   exist, the default is copied and its length returned; when it has no
//   section, the default is copied and 0 returned.
// - key null or empty: the section's entries as "key=value" items in the
//   same form (values over 512 bytes are not listed); a missing or empty
//   section gives the default and its length.
// - otherwise the value, or the default when the section or the key is
//   missing; the result is the length of the text in buffer.
// A list that does not fit stops at the last whole item (the rest of the
// buffer zeroed) and the result is size. A text that does not fit is cut and
// terminated. Other INI names follow the Windows private-profile rules. The
// INI name is never changed. Reads leave no message.
KV_UTIL_API uint32_t ntGetProfileString(const unsigned char* section, const unsigned char* key,
                                        const unsigned char* defaultValue, unsigned char* buffer,
                                        uint32_t size, const unsigned char* iniName);

// Writes a setting. With a known INI name: key and value given set the entry
// (creating the section); an empty or null value deletes the entry; an empty
// or null key deletes the section with all its entries. A missing section or
// entry counts as deleted. A null or empty section is refused (1517), so a
// slip never removes every data source. Other INI names: a null value deletes
// the entry, a null key the section. Texts that would break the file's
// structure are refused (1517); a file that cannot be written fails with the
// OS layer's message.
KV_UTIL_API KvStatus ntWriteProfileString(const unsigned char* section, const unsigned char* key,
                                          const unsigned char* value, const unsigned char* iniName);

// The user's file of data sources, as unixODBC finds it: $ODBCINI, else
// .odbc.ini in the home directory of the real user's passwd entry (unixODBC
// does not read HOME), else /home/.odbc.ini. path holds bosPathBytes.
KV_UTIL_API KvStatus kvOdbcUserIniPath(unsigned char* path);

// An open INI name through which the drivers read and write their own
// settings. Every operation on a closed one adds 2717 "Initialization file
// is not open.".
class KV_UTIL_API KvIni : public KvObject {
 public:
  KvIni();
  ~KvIni() override;

  // Closes a name held before (its failure is returned), then keeps a copy
  // of name. A null name is refused (1517).
  virtual KvStatus open(const unsigned char* name);
  virtual KvStatus close();

  // 0 when open; else 2717 and 1.
  KvStatus validState();
  const unsigned char* getName() const { return name_; }

  // The setting into buffer (size bytes, cut and terminated), by the rules of
  // ntGetProfileString; the default when closed. Returns 0.
  KvStatus getEntry(const unsigned char* section, const unsigned char* key, unsigned char* buffer,
                    uint16_t size, const unsigned char* defaultValue);
  // A decimal setting. An absent entry gives the default; so does one that
  // is not a signed 32-bit decimal (the conversion's 2701 or 2702 stays) or
  // one outside -32768..65535, which a 16-bit value cannot hold (2701).
  // Values 32768..65535 are stored as their 16 bits, for callers that read
  // them unsigned. Returns 0.
  KvStatus getEntry(const unsigned char* section, const unsigned char* key, int16_t* value,
                    int16_t defaultValue);
  // ntWriteProfileString (a null value for deleteEntry) when open, and its
  // result, so that a setting that could not be saved is not taken for
  // saved; 1 after 2717 when closed.
  KvStatus writeEntry(const unsigned char* section, const unsigned char* key, const unsigned char* value);
  KvStatus deleteEntry(const unsigned char* section, const unsigned char* key);

 private:
  unsigned char* name_ = nullptr;
};
