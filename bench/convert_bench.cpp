// The conversions a fetch runs for every column of every row: 1,000,000
// values each of number text to double, double to SQL_C_CHAR text (the
// 22-character form), integer to SQL_C_CHAR, date to SQL_C_CHAR and ANSI
// text to SQL_C_WCHAR. Prints nanoseconds a value, and the same for
// strtod and snprintf as a yardstick.
#include "base/convert/base_convert.h"
#include "base/handles/base_error_list.h"
#include "base/convert/base_num_convert.h"
#include "base/handles/base_out_string.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int count = 1000000;

template <class Work>
double nanosecondsEach(Work work) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) work(i);
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / count;
}

BaseValueDesc column(int16_t sqlType) {
  BaseValueDesc desc;
  desc.sqlType = sqlType;
  desc.precision = 30;
  return desc;
}

}  // namespace

int main() {
  BaseErrorList list(nullptr);
  KvErrorKeeper::setErrorList(&list);
  std::vector<std::string> texts;
  for (int i = 0; i < 1000; ++i) texts.push_back(std::to_string(i * 7919.0 / 13.0));
  volatile double sink = 0;

  const double textToDouble = nanosecondsEach([&](int i) {
    const std::string& text = texts[i % 1000];
    double value;
    if (BaseConvertNum(itChar, text.data(), int32_t(text.size()), itDouble, &value, nullptr, 0, 0, 0) == kvSuccess) {
      sink = sink + value;
    }
  });
  const double strtodEach = nanosecondsEach([&](int i) { sink = sink + std::strtod(texts[i % 1000].c_str(), nullptr); });

  char buffer[64];
  SQLLEN length = 0;
  BaseOutString out(buffer, SQLLEN(sizeof(buffer)), &length);
  const double doubleToText = nanosecondsEach([&](int i) {
    const double value = i / 7.0;
    (void)BaseConvertToC(1, column(SQL_DOUBLE), SQL_C_CHAR, &out, &value, 8, itDouble, 0, nullptr);
  });
  const double snprintfEach = nanosecondsEach([&](int i) { std::snprintf(buffer, sizeof(buffer), "%.15g", i / 7.0); });
  const double integerToText = nanosecondsEach([&](int i) {
    (void)BaseConvertToC(1, column(SQL_INTEGER), SQL_C_CHAR, &out, &i, 4, itSLong, 0, nullptr);
  });
  const DATE_STRUCT date = {1995, 7, 4};
  const double dateToText = nanosecondsEach([&](int) {
    (void)BaseConvertToC(1, column(SQL_DATE), SQL_C_CHAR, &out, &date, 6, itDate, 0, nullptr);
  });
  const char name[] = "Kestrane driver column value";
  const double textToWide = nanosecondsEach([&](int) {
    (void)BaseConvertToC(1, column(SQL_VARCHAR), SQL_C_WCHAR, &out, name, int32_t(sizeof(name) - 1), itChar, 0,
                         nullptr);
  });
  list.clearErrors();
  KvErrorKeeper::giveUpErrorList();

  std::printf("number text to double   %7.1f ns (strtod %.1f ns)\n", textToDouble, strtodEach);
  std::printf("double to SQL_C_CHAR    %7.1f ns (snprintf %%.15g %.1f ns)\n", doubleToText, snprintfEach);
  std::printf("integer to SQL_C_CHAR   %7.1f ns\n", integerToText);
  std::printf("date to SQL_C_CHAR      %7.1f ns\n", dateToText);
  std::printf("text to SQL_C_WCHAR     %7.1f ns\n", textToWide);
  return 0;
}
