// Saved-query files: one SQL statement, the database it runs against and
// named sections that a query tool keeps beside it (KvQueryFile), and the
// parameter lines of such a file (KvfParam).
//
// File format, text lines ending in CR LF:
//   line 1     "K+V 6.0 for " + database type, and " (2)" when the rest of the
//              file is scrambled; never scrambled itself. Read leniently: "K+V"
//              or "K&V" in any case; a version of one to three numbers joined
//              by "." (major, minor, revision) and at most one more
//              one-character token; "for"; the type up to "(" or the end; a
//              scrambling mode in parentheses; then nothing.
//   line 2     optional: "use " + database name + ";"
//   statement  ending in ";", broken into lines of at most 79 characters
//              outside text quoted with ' or "
//   sections   each "[" + name + "]" and its lines, up to the next header or
//              the end; a header is a whole line whose first character is
//              "[" and whose last one, trailing white space aside, is "]"
// Version 2 files (major version 2) have no header before the definition:
// the statement ends with the first line that ends in ";" outside quotes,
// and the lines after it form the "DEFINITION" section.
//
// The four known sections, numbered for the SectionType forms, are
// "PAGE_LAYOUT", "PARAMETERS", "DEFINITION" and "USER COMMANDS"; any other
// name is allowed. Sections are looked up by their exact name; a name counts
// as known when it equals one of the four without regard to case.
//
//   PARAMETERS   "PARAMETER.CLEAR ()", then one line a parameter:
//                "PARAMETER.ITEM ('t1', 't2', 't3', 't4', n)", each text's
//                quotes doubled inside, n unsigned 32-bit decimal
//   DEFINITION   among its lines "SET.QUERY.DESCRIPTION ('text')", the
//                description, quotes doubled inside, at most 255 characters
//
// Scrambling: with "(2)" every byte after the first line goes through
// encrypt mode 2 (util/files/encrypt.h), which keeps CR and LF, and 0xF2 and 0xF5
// too, so that lines survive and every byte reads back as written. Another
// mode number is kept and used the same way (modes other than 1 and 2 leave
// bytes as they are); mode 1 cannot keep lines and is refused.
//
// Saving writes a whole new file next to the target and renames it over the
// target (bosReplaceOpen/Commit), so the old file stays as it was until the
// new one has replaced it, and stays as it was when anything fails. What a
// save writes: the first line, the "use" line when a database name is set,
// the statement (as read, or rebuilt from setSqlStmt), and every section
// that is not removed: the known ones first, then the others, each group in
// order of position in the file and sections new in memory after those. An
// empty section is written as one empty line, and every part ends with a
// line end, so no part runs into the header after it. A file written here
// reads back to the same statement, sections and parameters and, saved
// again, gives the same bytes.
//
// Texts that could not read back as written are refused with 1517 "Invalid
// Parameter": a carriage return or line feed in a database type, database
// name, section name, parameter text or description; a "(" in a database
// type; a description over 255 characters; section text holding a line that
// would read as a section header. A statement line that would read as the "use"
// line or as a section header is written with a blank in front (white space
// that SQL ignores).
//
// Failures: 2720 "Error parsing first line of query file: %s1" (the path)
// for a first line that does not parse; 2721 "Could not get needed access to
// '%s1'." when the saved file cannot replace the target; 2705 "Error parsing
// %s2 at offset %n1." for a parameter line that does not parse; otherwise the
// message of the layer below (file, memory, scratch store).
#pragma once

#include "util/containers/kv_array.h"
#include "util/containers/kv_string.h"
#include "util/files/line_reader.h"
#include "util/files/tmp_file.h"

// The known sections.
enum SectionType : int {
  kvSectionPageLayout = 0,
  kvSectionParameters = 1,
  kvSectionDefinition = 2,
  kvSectionUserCommands = 3,
};

enum : uint32_t {
  kvQueryLineBytes = 2048,          // the line reader's buffer
  kvQueryStatementWidth = 79,       // statement lines are broken at this width
  kvQueryDescriptionChars = 255,    // longest description
  kvQueryParamTexts = 4,            // texts of a parameter line
};

// One parameter line: four texts and an unsigned 32-bit number.
class KV_UTIL_API KvfParam : public KvObject {
 public:
  KvfParam() = default;
  ~KvfParam() override;

  // Parses "PARAMETER.ITEM ('t1', 't2', 't3', 't4', n)" (trailing white space
  // and a line end allowed; the keywords in any case). Any other shape adds
  // 2705 with the line and the offset where it stopped, and fails; the
  // parameter is then unchanged.
  KvStatus initialize(const KvSubString& line);
  // The line of this parameter, without a line end, into line (replacing
  // its text). A text holding a carriage return or line feed is refused
  // (1517).
  KvStatus getParamLine(KvString& line) const;

  // index 0 to 3.
  const KvString& getText(uint16_t index) const { return texts_[index]; }
  KvStatus setText(uint16_t index, const unsigned char* text, uint32_t length) {
    return texts_[index].initialize(text, length);
  }
  uint32_t getNumber() const { return number_; }
  void setNumber(uint32_t number) { number_ = number; }

 private:
  KvString texts_[kvQueryParamTexts];
  uint32_t number_ = 0;
};

class SectionInfo;

class KV_UTIL_API KvQueryFile : public KvObject {
 public:
  KvQueryFile();
  // Closes the file; changes not saved are lost.
  ~KvQueryFile() override;

  // Starts a new query in memory (closing a file held before): version 6.0,
  // not scrambled, no sections, no path (save needs setWriteFileName, or
  // use saveAs).
  KvStatus initialize(const unsigned char* dbType, const unsigned char* sqlStatement, uint32_t length);

  // Opens and reads the file (closing one held before); the path is made
  // absolute. The file stays open until closeFile; sections are read from it
  // when asked for.
  KvStatus openFile(const unsigned char* path);
  // Closes the file and forgets everything, changes included.
  KvStatus closeFile();
  // Writes the file to the write path when one is set, else over the file's
  // own path, and opens what was written (it becomes the object's file).
  KvStatus save();
  KvStatus saveAndClose();
  // Writes the file to path, closes, and opens path; the write path is
  // cleared.
  KvStatus saveAs(const unsigned char* path);
  // Where save writes (made absolute); null or empty clears it.
  KvStatus setWriteFileName(const unsigned char* path);

  KvStatus setDbName(const unsigned char* name);
  KvStatus setDbType(const unsigned char* type);
  // The statement as it will be written; at most kvStringMaxBytes - 1 bytes
  // (2716 beyond).
  KvStatus setSqlStmt(const unsigned char* text, uint32_t length);
  // The statement with the line breaks of the file turned back into blanks
  // (outside quotes) and without its trailing line end.
  KvStatus getSqlStmt(KvString* out);

  const KvString& getDbType() const { return dbType_; }
  const KvString& getDbName() const { return dbName_; }
  uint16_t getMajorVersion() const { return version_[0]; }
  uint16_t getMinorVersion() const { return version_[1]; }
  uint16_t getRevision() const { return version_[2]; }
  int isScrambled() const { return scrambled_; }
  uint16_t getScrambleMode() const { return scrambleMode_; }
  int isOpen() const { return reader_.getFile() != 0; }
  // The file's absolute path; null for a new query.
  const unsigned char* getFileName() const { return fullPath_; }

  // Sections by exact name or by SectionType. A section that does not exist
  // reads as empty (data null, length 0) and removing it does nothing.
  // The text of a section is its lines as they stand in the file, line ends
  // included.
  //
  // getSectionChunk: the text into a string; a section of kvStringMaxBytes
  // bytes or more fails with 2716 (use getHugeSectionChunk).
  KvStatus getSectionChunk(const unsigned char* name, KvString* out);
  KvStatus getSectionChunk(SectionType type, KvString* out);
  // A new block (ramAlloc, freed by the caller with ramFree) of length + 1
  // bytes holding the text and a terminator.
  KvStatus getHugeSectionChunk(const unsigned char* name, unsigned char** data, uint32_t* length);
  KvStatus getHugeSectionChunk(SectionType type, unsigned char** data, uint32_t* length);
  // Replaces the section's text (making the section when missing); kept in
  // the scratch store until saved.
  KvStatus setHugeSectionChunk(const unsigned char* name, const void* data, uint32_t length);
  KvStatus setHugeSectionChunk(SectionType type, const void* data, uint32_t length);
  KvStatus doesSectionExist(const unsigned char* name, unsigned int* exists);
  KvStatus doesSectionExist(SectionType type, unsigned int* exists);
  KvStatus removeSection(const unsigned char* name);
  KvStatus removeSection(SectionType type);
  // Appends a new KvString for each non-empty line of the section.
  KvStatus getLines(const unsigned char* name, KvArray* lines);
  KvStatus getLines(SectionType type, KvArray* lines);
  // The file offset where the statement ends and the sections begin.
  KvStatus getFirstSectionOffset(uint32_t* offset);

  // Appends a new KvfParam for each line of "PARAMETERS" after the first.
  KvStatus getParams(KvArray* params);
  // Rewrites "PARAMETERS" from an array of KvfParam.
  KvStatus setParams(KvArray* params);
  // The description, empty when there is none.
  KvStatus getDescription(KvString* out);
  // Replaces the description line of "DEFINITION" (or puts one first).
  KvStatus setDescription(KvString* text);

  static const unsigned char* getSectionName(SectionType type);

 private:
  class Writer;

  // The scrambling mode of the lines after the first; 0 for none.
  uint16_t lineMode() const { return scrambled_ ? scrambleMode_ : uint16_t(0); }
  KV_LOCAL void reset();
  KV_LOCAL KvStatus readFile();
  KV_LOCAL KvStatus parseFirstLine(const unsigned char* text, uint32_t length);
  KV_LOCAL KvStatus scanSections();
  KV_LOCAL KvStatus addSection(const unsigned char* name, uint32_t nameLength, int fromFile, uint32_t position,
                               SectionInfo** made);
  KV_LOCAL SectionInfo* findSection(const unsigned char* name) const;
  KV_LOCAL KvStatus readSection(const SectionInfo* section, unsigned char* out);
  KV_LOCAL KvStatus readFileBytes(uint32_t position, uint32_t length, unsigned char* out);
  KV_LOCAL KvStatus writeQuery(Writer& writer);
  KV_LOCAL KvStatus writeStatement(Writer& writer);
  KV_LOCAL KvStatus writeTo(const unsigned char* path);
  KV_LOCAL static KvStatus absolutePath(const unsigned char* path, unsigned char* full);
  KV_LOCAL KvStatus copyPath(unsigned char** target, const unsigned char* path);

  KvFileByLine reader_;
  KvSubString line_;
  KvTmpFile store_;  // sections changed in memory
  unsigned char* fullPath_ = nullptr;
  unsigned char* writePath_ = nullptr;
  uint16_t version_[3] = {6, 0, 0};
  KvString dbType_;
  KvString dbName_;
  uint32_t statementStart_ = 0;
  uint32_t firstSection_ = 0;  // where the statement ends in the file
  KvString sqlStmt_;           // the statement once set in memory
  int sqlInMemory_ = 0;
  KvSortedArray sections_;     // SectionInfo, in the order they are written; owned
  uint32_t nextSequence_ = 0;  // order of sections made in memory
  int scrambled_ = 0;
  uint16_t scrambleMode_ = 0;
};
