// Tokens of statement text; see flat_sql_token.h.
#include "flat/sql/flat_sql_token.h"

#include "base/handles/base_error_list.h"
#include "base/handles/base_messages.h"
#include "util/charsets/charset.h"
#include "util/memory/ram.h"

#include <cstring>

const unsigned char* flatSkipWhite(const unsigned char* position) {
  while (*position != 0 && !kvIsDbcsLeadByte(*position) && kvCharIsSpace(*position)) ++position;
  return position;
}

FlatToken::~FlatToken() { release(); }

void FlatToken::release() {
  ramFree(block_);
  block_ = nullptr;
  length_ = 0;
}

KvStatus FlatToken::read(const unsigned char** position, uint16_t mode) {
  release();
  start_ = flatSkipWhite(*position);
  buffer_[0] = 0;
  if (buttoken(buffer_, position, mode) != kvSuccess) {
    // An unclosed quote or an overlong token is a fault of the statement.
    resetLastErrorSqlState(stateSyntax);
    buffer_[0] = 0;
    return kvFailure;
  }
  block_ = buttokenBlock(buffer_);
  length_ = uint32_t(std::strlen(reinterpret_cast<const char*>(getText())));
  return kvSuccess;
}

bool FlatToken::is(const char* word) const {
  return std::strcmp(reinterpret_cast<const char*>(getText()), word) == 0;
}

bool FlatToken::isQuoted() const {
  unsigned char c = first();
  return length_ >= 2 && (c == '\'' || c == '"' || c == '`');
}

bool FlatToken::isPunctuation() const {
  unsigned char c = first();
  return length_ == 1 && !kvIsDbcsLeadByte(c) && !kvCharIsAlnum(c) && c != '_' && c != '\'' && c != '"' &&
         c != '`';
}

bool FlatToken::isNumber() const {
  const unsigned char* text = getText();
  return (text[0] >= '0' && text[0] <= '9') || (text[0] == '.' && text[1] >= '0' && text[1] <= '9');
}

KvStatus flatReadName(const unsigned char** position, unsigned char** name) {
  *name = nullptr;
  const unsigned char* start = flatSkipWhite(*position);
  const unsigned char* p = start;
  bool quoted = false;
  while (*p != 0) {
    if (*p == '`') {
      quoted = !quoted;
    } else if (!quoted && ((!kvIsDbcsLeadByte(*p) && kvCharIsSpace(*p)) || std::strchr(",()|;", *p))) {
      break;
    }
    p += kvCharBytes(p);
  }
  *position = p;
  if (p == start) return kvSuccess;
  *name = ramAllocStr(start, uint32_t(p - start));
  return *name ? kvSuccess : kvFailure;
}
