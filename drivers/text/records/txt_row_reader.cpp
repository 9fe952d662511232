// The text reader; see txt_row_reader.h.
#include "drivers/text/records/txt_row_reader.h"

#include "util/charsets/charset.h"

#include <algorithm>

unsigned char txtDelimiterOf(uint32_t tableType, unsigned char delimiter) {
  switch (tableType) {
    case txtTableTab: return '\t';
    case txtTableCharacter: return delimiter;
    case txtTableFixed: return 0;
    default: return ',';
  }
}

bool txtDelimiterUsable(unsigned char delimiter) {
  return delimiter != '"' && delimiter != '\r' && delimiter != '\n' && delimiter != 0 && delimiter != txtEndOfFileMark;
}

TxtRowReader::TxtRowReader(TxtByteSource* source, uint32_t windowBytes) : source_(source), window_(windowBytes) {}

void TxtRowReader::configure(uint32_t tableType, unsigned char delimiter, const std::vector<TxtColumnSpan>& columns) {
  tableType_ = tableType;
  delimiter_ = txtDelimiterOf(tableType, delimiter);
  columns_ = columns;
  values_.assign(columns.size(), std::string());
  cut_.assign(columns.size(), 0);
  // Bytes the delimited reader looks at one by one.
  for (int b = 0; b < 256; ++b)
    special_[b] = b == delimiter_ || b == '"' || b == '\r' || b == '\n' || b == txtEndOfFileMark ||
                  kvIsDbcsLeadByte(uint8_t(b));
  lineBytes_ = 0;
  for (const TxtColumnSpan& c : columns)
    lineBytes_ = std::max<uint32_t>(lineBytes_, uint32_t(std::min<uint64_t>(uint64_t(c.offset) + c.length, 0xFFFFFFFFu)));
}

int TxtRowReader::refill() {
  if (status_ != kvSuccess) return -1;
  const uint64_t at = offset();
  uint32_t got = 0;
  if (source_->read(at, window_.data(), uint32_t(window_.size()), &got) != kvSuccess) {
    status_ = kvFailure;
    got = 0;
  }
  windowStart_ = at;
  windowFill_ = got;
  position_ = 0;
  return got ? window_[0] : -1;
}

void TxtRowReader::seek(uint64_t offset) {
  if (offset >= windowStart_ && offset <= windowStart_ + windowFill_) {
    position_ = uint32_t(offset - windowStart_);
  } else {
    windowStart_ = offset;
    windowFill_ = 0;
    position_ = 0;
  }
}

void TxtRowReader::skipEmptyLines() {
  for (int c = peek(); c == '\r' || c == '\n'; c = peek()) advance();
}

TxtRowReader::End TxtRowReader::readDelimited(std::string* out, uint32_t length, uint8_t* cut) {
  bool first = true;
  bool quoted = false;
  auto store = [&](int c) {
    if (out->size() < length) out->push_back(char(c));
    else *cut = 1;
  };
  for (;;) {
    // A run of plain bytes in the window is taken at once.
    const uint32_t start = position_;
    while (position_ < windowFill_ && !special_[window_[position_]]) ++position_;
    if (position_ > start) {
      first = false;
      size_t n = position_ - start;
      const size_t room = length > out->size() ? length - out->size() : 0;
      if (n > room) {
        *cut = 1;
        n = room;
      }
      out->append(reinterpret_cast<const char*>(window_.data() + start), n);
      continue;
    }
    int c = peek();
    if (c < 0 || c == txtEndOfFileMark) return endRow;
    advance();
    if (c == '\r') continue;
    if (first) {
      first = false;
      if (c == '"') {
        quoted = true;
        continue;
      }
    }
    if (kvIsDbcsLeadByte(uint8_t(c))) {
      store(c);
      const int trail = peek();
      if (trail >= 0) {
        store(trail);
        advance();
      }
      continue;
    }
    if (c == '"') {
      // Two double quotes are one; inside a quoted value a single one
      // closes it, elsewhere it is dropped.
      if (peek() == '"') {
        store('"');
        advance();
      } else {
        quoted = false;
      }
      continue;
    }
    if (!quoted && c == delimiter_) return endColumn;
    if (!quoted && c == '\n') return endRow;
    store(c);
  }
}

void TxtRowReader::readFixedLine() {
  line_.clear();
  for (;;) {
    int c = peek();
    if (c < 0 || c == txtEndOfFileMark) return;
    advance();
    if (c == '\n') return;
    if (c == '\r') continue;
    if (line_.size() < lineBytes_) line_.push_back(char(c));
    if (kvIsDbcsLeadByte(uint8_t(c))) {
      const int trail = peek();
      if (trail < 0) return;
      advance();
      if (line_.size() < lineBytes_) line_.push_back(char(trail));
    }
  }
}

namespace {

void trimTrailingBlanks(std::string* value) {
  size_t end = value->size();
  while (end && (*value)[end - 1] == ' ') --end;
  value->resize(end);
}

}  // namespace

KvStatus TxtRowReader::readRow(uint64_t offset, int* found) {
  *found = 0;
  status_ = kvSuccess;
  seek(offset);
  skipEmptyLines();
  rowOffset_ = this->offset();
  const int c = peek();
  if (c < 0 || c == txtEndOfFileMark) {
    nextOffset_ = rowOffset_;
    return status_;
  }
  for (size_t i = 0; i < values_.size(); ++i) {
    values_[i].clear();
    cut_[i] = 0;
  }
  if (tableType_ == txtTableFixed) {
    readFixedLine();
    for (size_t i = 0; i < columns_.size(); ++i) {
      const TxtColumnSpan& span = columns_[i];
      if (span.offset < line_.size())
        values_[i].assign(line_, span.offset, std::min<size_t>(span.length, line_.size() - span.offset));
      trimTrailingBlanks(&values_[i]);
    }
  } else {
    End end = endColumn;
    for (size_t i = 0; i < columns_.size() && end == endColumn; ++i) {
      end = readDelimited(&values_[i], columns_[i].length, &cut_[i]);
      trimTrailingBlanks(&values_[i]);
    }
    // Values beyond the last column, read by the same rules.
    std::string ignored;
    uint8_t ignoredCut = 0;
    while (end == endColumn) end = readDelimited(&ignored, 0, &ignoredCut);
  }
  if (status_ != kvSuccess) return kvFailure;
  nextOffset_ = this->offset();
  *found = 1;
  return kvSuccess;
}

KvStatus TxtRowReader::skipFirstLine(uint64_t* next) {
  status_ = kvSuccess;
  seek(0);
  if (tableType_ == txtTableFixed) {
    readFixedLine();
  } else {
    std::string ignored;
    uint8_t ignoredCut = 0;
    while (readDelimited(&ignored, 0, &ignoredCut) == endColumn) {
    }
  }
  if (status_ != kvSuccess) return kvFailure;
  *next = offset();
  return kvSuccess;
}
