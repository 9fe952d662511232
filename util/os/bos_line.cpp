// Splitting a text buffer into lines (bosgetbl): the reader of definition
// and script texts held whole in memory. Line feeds inside quotes belong to
// the line, so a quoted value may span lines; ";" in the first column starts
// a comment line.
#include "util/os/bos.h"

namespace {

constexpr uint32_t lastPosition = 0xFFFF;
constexpr unsigned char ctrlZ = 26;

inline int atEnd(const unsigned char* buffer, uint32_t pos) {
  return pos >= lastPosition || buffer[pos] == 0 || buffer[pos] == ctrlZ;
}

}  // namespace

void bosgetbl(const unsigned char* buffer, uint16_t* pos, unsigned char* out, uint16_t outBytes,
              int16_t* length) {
  uint32_t at = *pos;
  if (outBytes) out[0] = 0;
  if (atEnd(buffer, at)) {
    *length = -1;
    return;
  }
  const int comment = buffer[at] == ';';
  unsigned char quote = 0;
  uint32_t copied = 0;
  int cut = 0;
  for (; !atEnd(buffer, at); ++at) {
    unsigned char c = buffer[at];
    if (!quote && c == '\n') {
      ++at;
      break;
    }
    if (!quote && c == '\r' && !atEnd(buffer, at + 1) && buffer[at + 1] == '\n') continue;
    if (!comment) {
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      }
    } else if (copied > 0) {
      continue;
    }
    if (copied + 1 < outBytes) {
      out[copied++] = c;
    } else {
      cut = 1;
    }
  }
  if (outBytes) out[copied] = 0;
  *length = cut ? -2 : int16_t(copied);
  *pos = uint16_t(at);
}
