// The text reader: turns the bytes of a delimited or fixed-width text file
// into rows of column values, reading through a window over a byte source.
//
// Delimited rows (table types Comma, Tab, Character):
//   - a value that starts with a double quote is quoted: inside it the
//     delimiter and LF are data and two double quotes stand for one; the
//     next single double quote closes it;
//   - after a closing quote (and in a value that does not start with one)
//     the value runs on to the next delimiter or LF; there a single double
//     quote is dropped and two stand for one;
//   - CR is dropped everywhere; ^Z (26) ends the value and the row and is
//     not consumed, so the next row starts there and finds the end;
//   - the byte after a DBCS lead byte is always data;
//   - values beyond the last column are read by the same rules and
//     dropped, so their quotes cannot make phantom rows;
//   - a value loses its trailing blanks; bytes beyond the column's length
//     are dropped and the value is marked cut;
//   - lines that hold nothing (only CR and LF) are passed over.
// Fixed-width rows: the line up to LF (CR dropped and not counted, ^Z and
// the end of the file end it, a DBCS trail byte is data); each column is
// the bytes at its offset and length, less trailing blanks; a line too
// short for a column leaves it empty. Empty lines are passed over too.
//
// Offsets are 64-bit: a file of any size is read without wrapping.
#pragma once

#include "util/kv_types.h"

#include <string>
#include <vector>

enum TxtTableType : uint32_t { txtTableComma = 0, txtTableTab = 1, txtTableCharacter = 2, txtTableFixed = 3 };

enum : unsigned char { txtEndOfFileMark = 26 };

struct TxtColumnSpan {
  uint32_t offset = 0;  // fixed-width: the column's first byte in the line, from 0
  uint32_t length = 0;  // the most bytes a value keeps (fixed-width: its width)
};

class TxtByteSource {
 public:
  virtual ~TxtByteSource() = default;
  // Up to length bytes at offset into buffer; got is short only at the end.
  virtual KvStatus read(uint64_t offset, unsigned char* buffer, uint32_t length, uint32_t* got) = 0;
};

class TxtRowReader {
 public:
  enum : uint32_t { defaultWindowBytes = 65536 };
  explicit TxtRowReader(TxtByteSource* source, uint32_t windowBytes = defaultWindowBytes);

  // The layout of the rows: table type, delimiter (delimited types) and
  // the columns in order.
  void configure(uint32_t tableType, unsigned char delimiter, const std::vector<TxtColumnSpan>& columns);
  // Forgets the bytes read so far (the file may have changed).
  void invalidate() { windowFill_ = 0; windowStart_ = 0; }

  // Reads the row at offset (empty lines before it passed over). found 0
  // at the end of the data (no byte left, or ^Z).
  KvStatus readRow(uint64_t offset, int* found);
  // The row's first byte and the offset just behind the row.
  uint64_t rowOffset() const { return rowOffset_; }
  uint64_t nextOffset() const { return nextOffset_; }
  size_t columnCount() const { return values_.size(); }
  const std::string& value(size_t column) const { return values_[column]; }
  bool isCut(size_t column) const { return cut_[column] != 0; }

  // The offset behind the first line (a header of names), read by the same
  // rules as a row: quotes are honoured in delimited tables.
  KvStatus skipFirstLine(uint64_t* next);

 private:
  // The byte at the position (-1 at the end of the file, or a read
  // failure, which status_ keeps).
  int peek() {
    if (position_ < windowFill_) return window_[position_];
    return refill();
  }
  void advance() { ++position_; }
  int refill();
  uint64_t offset() const { return windowStart_ + position_; }
  void seek(uint64_t offset);

  enum End { endColumn, endRow };
  End readDelimited(std::string* out, uint32_t length, uint8_t* cut);
  void readFixedLine();
  void skipEmptyLines();

  TxtByteSource* source_;
  std::vector<unsigned char> window_;
  uint64_t windowStart_ = 0;
  uint32_t windowFill_ = 0;
  uint32_t position_ = 0;
  KvStatus status_ = kvSuccess;

  uint32_t tableType_ = txtTableComma;
  unsigned char delimiter_ = ',';
  bool special_[256] = {};
  std::vector<TxtColumnSpan> columns_;
  uint32_t lineBytes_ = 0;  // fixed-width: the bytes of a line that any column uses
  std::string line_;

  std::vector<std::string> values_;
  std::vector<uint8_t> cut_;
  uint64_t rowOffset_ = 0;
  uint64_t nextOffset_ = 0;
};

// The delimiter of a table type (the given one for Character).
unsigned char txtDelimiterOf(uint32_t tableType, unsigned char delimiter);
// Whether a byte may serve as a delimiter: not a double quote, CR, LF, NUL
// or ^Z.
bool txtDelimiterUsable(unsigned char delimiter);
