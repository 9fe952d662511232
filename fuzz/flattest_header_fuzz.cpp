// Fuzz target of the test file driver's table header parser: any bytes are
// a file's first bytes. Besides what the sanitizers catch, a header that
// parses, written again from its layout, parses into the same layout.
#include <cstring>
#include <string>

#include "drivers/flattest/flattest_format.h"
#include "fuzz/fuzz_check.h"

namespace {

bool same(const FlatTestLayout& a, const FlatTestLayout& b) {
  if (a.columns.size() != b.columns.size() || a.headerBytes != b.headerBytes || a.recordWidth != b.recordWidth ||
      a.recordCount != b.recordCount)
    return false;
  for (size_t i = 0; i < a.columns.size(); ++i) {
    const FlatTestColumn& x = a.columns[i];
    const FlatTestColumn& y = b.columns[i];
    if (x.name != y.name || x.type != y.type || x.width != y.width || x.flags != y.flags || x.offset != y.offset)
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FlatTestLayout layout;
  std::string reason;
  if (!flatTestParseHeader(data, uint32_t(size > 0xFFFFFFFF ? 0xFFFFFFFF : size), &layout, &reason)) return 0;
  std::vector<unsigned char> header = flatTestHeader(layout);
  FlatTestLayout again;
  FUZZ_CHECK(flatTestParseHeader(header.data(), uint32_t(header.size()), &again, &reason));
  FUZZ_CHECK(same(layout, again));
  return 0;
}
