// Date masks; see txt_date_mask.h.
#include "drivers/text/masks/txt_date_mask.h"

#include "base/convert/base_date.h"
#include "base/handles/base_error_list.h"
#include "drivers/text/text_message_ids.h"
#include "drivers/text/text_messages.h"
#include "util/charsets/charset.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

KvStatus maskError(uint16_t id) {
  if (KvErrorKeeper::getErrorList()) addOdbcError(stateSyntax, id);
  return kvFailure;
}

// The names of month (1..12) or weekday (0..6), upper case as the strings hold them.
std::string monthAbbreviation(uint16_t month) { return std::string(txtString(strTxtMonthAbbreviations) + 3 * (month - 1), 3); }
std::string monthName(uint16_t month) { return txtString(uint16_t(strTxtMonthFirst + month - 1)); }
std::string dayAbbreviation(uint16_t weekday) { return std::string(txtString(strTxtDayAbbreviations) + 3 * weekday, 3); }
std::string dayName(uint16_t weekday) { return txtString(uint16_t(strTxtDayFirst + weekday)); }

enum Casing { lowerCase, capitalised, upperCase };

std::string cased(std::string name, Casing casing) {
  if (casing == upperCase) return name;
  for (size_t i = casing == capitalised ? 1 : 0; i < name.size(); ++i) name[i] = char(kvToLower(uint8_t(name[i])));
  return name;
}

bool sameNoCase(const unsigned char* text, const std::string& name) {
  for (size_t i = 0; i < name.size(); ++i)
    if (kvToUpper(text[i]) != kvToUpper(uint8_t(name[i]))) return false;
  return true;
}

// A run of one letter (either case) from p: its length, and the token for
// the exact spellings of lengths 3 and 4 (0: none).
struct Run {
  size_t length;
  uint8_t token;
};

Run letterRun(const unsigned char* p, char lower, const char* const spellings3[3], const char* const spellings4[3],
              uint8_t first3) {
  size_t n = 0;
  while (kvToLower(p[n]) == uint8_t(lower)) ++n;
  Run run{n, 0};
  if (n == 3 || n == 4) {
    const char* const* spellings = n == 3 ? spellings3 : spellings4;
    for (uint8_t i = 0; i < 3; ++i)
      if (std::strncmp(reinterpret_cast<const char*>(p), spellings[i], n) == 0)
        run.token = uint8_t(first3 + (n == 4 ? 3 : 0) + i);
  }
  return run;
}

}  // namespace

KvStatus txtCompileMask(const unsigned char* text, unsigned char* out) {
  static const char* const month3[3] = {"mmm", "Mmm", "MMM"};
  static const char* const month4[3] = {"mmmm", "Mmmm", "MMMM"};
  static const char* const day3[3] = {"ddd", "Ddd", "DDD"};
  static const char* const day4[3] = {"dddd", "Dddd", "DDDD"};
  unsigned char compiled[txtMaskBytes];
  size_t used = 0;
  // Room for n more bytes and the terminator.
  auto fits = [&](size_t n) { return used + n + 1 <= txtMaskBytes; };
  const unsigned char* p = text;
  while (*p) {
    const unsigned char c = *p;
    if (c == 'm' || c == 'M' || c == 'd' || c == 'D') {
      const bool month = c == 'm' || c == 'M';
      Run run = month ? letterRun(p, 'm', month3, month4, txtTokMonAbbrLower)
                      : letterRun(p, 'd', day3, day4, txtTokDayAbbrLower);
      uint8_t token = 0;
      if (run.length == 1) token = month ? txtTokMonth : txtTokDay;
      else if (run.length == 2) token = month ? txtTokMonth2 : txtTokDay2;
      else if (run.length <= 4) token = run.token;
      if (!token) {
        if (run.length == 3) return maskError(month ? msgTxtMaskMonthAbbr : msgTxtMaskDayAbbr);
        if (run.length == 4) return maskError(month ? msgTxtMaskMonthName : msgTxtMaskDayName);
        return maskError(msgTxtMaskInvalid);
      }
      if (!fits(1)) return maskError(msgTxtMaskInvalid);
      compiled[used++] = token;
      p += run.length;
    } else if (c == 'y' || c == 'Y') {
      size_t n = 0;
      while (p[n] == 'y' || p[n] == 'Y') ++n;
      if ((n != 2 && n != 4) || !fits(1)) return maskError(msgTxtMaskInvalid);
      compiled[used++] = n == 2 ? txtTokYear2 : txtTokYear4;
      p += n;
    } else if (c == 'J' || std::strchr("/-.:, ", c)) {
      static const char separators[] = "/-.:, ";
      if (!fits(1)) return maskError(msgTxtMaskInvalid);
      compiled[used++] = c == 'J' ? uint8_t(txtTokDayNumber)
                                  : uint8_t(txtTokSlash + (std::strchr(separators, c) - separators));
      ++p;
    } else if (c == '\\') {
      if (!p[1] || !fits(2)) return maskError(msgTxtMaskInvalid);
      compiled[used++] = txtTokLiteral;
      compiled[used++] = p[1];
      p += 2;
    } else if (c == '"' || c == '\'') {
      const unsigned char* end = reinterpret_cast<const unsigned char*>(std::strchr(reinterpret_cast<const char*>(p + 1), c));
      if (!end) return maskError(msgTxtMaskNoQuote);
      const size_t n = size_t(end - p - 1);
      if (n) {
        if (n > 255 || !fits(2 + n)) return maskError(msgTxtMaskInvalid);
        compiled[used++] = txtTokQuoted;
        compiled[used++] = uint8_t(n);
        std::memcpy(compiled + used, p + 1, n);
        used += n;
      }
      p = end + 1;
    } else {
      return maskError(msgTxtMaskInvalid);
    }
  }
  compiled[used] = 0;
  std::memcpy(out, compiled, used + 1);
  return kvSuccess;
}

KvStatus txtParseDate(const unsigned char* value, uint32_t length, const unsigned char* mask, int16_t* year,
                      uint16_t* month, uint16_t* day) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int32_t y = local.tm_year + 1900, m = local.tm_mon + 1, d = 1;
  size_t at = 0;
  while (at < length && value[at] == ' ') ++at;
  auto left = [&]() { return size_t(length) - at; };
  auto digit = [&](size_t i) { return at + i < length && value[at + i] >= '0' && value[at + i] <= '9'; };
  // One or two digits in 1..limit.
  auto smallNumber = [&](int32_t limit, int32_t* out) {
    if (digit(0) && digit(1)) {
      int32_t v = (value[at] - '0') * 10 + (value[at + 1] - '0');
      if (v >= 1 && v <= limit) {
        *out = v;
        at += 2;
        return true;
      }
    }
    if (!digit(0)) return false;
    int32_t v = value[at] - '0';
    if (v < 1) return false;
    *out = v;
    at += 1;
    return true;
  };
  // The first of count names that the text at the position starts with.
  auto matchName = [&](int count, std::string (*name)(uint16_t), uint16_t first, int32_t* which) {
    for (int i = 0; i < count; ++i) {
      std::string n = name(uint16_t(first + i));
      if (left() >= n.size() && sameNoCase(value + at, n)) {
        *which = first + i;
        at += n.size();
        return true;
      }
    }
    return false;
  };
  for (const unsigned char* t = mask; *t; ++t) {
    bool ok = true;
    int32_t ignored = 0;
    switch (*t) {
      case txtTokMonth:
      case txtTokMonth2:
        ok = smallNumber(12, &m);
        break;
      case txtTokDay:
      case txtTokDay2:
        ok = smallNumber(31, &d);
        break;
      case txtTokMonAbbrLower:
      case txtTokMonAbbrCap:
      case txtTokMonAbbrUpper:
        ok = left() >= 3 && matchName(12, monthAbbreviation, 1, &m);
        break;
      case txtTokMonNameLower:
      case txtTokMonNameCap:
      case txtTokMonNameUpper:
        ok = matchName(12, monthName, 1, &m);
        break;
      case txtTokDayAbbrLower:
      case txtTokDayAbbrCap:
      case txtTokDayAbbrUpper:
        ok = matchName(7, dayAbbreviation, 0, &ignored);
        break;
      case txtTokDayNameLower:
      case txtTokDayNameCap:
      case txtTokDayNameUpper:
        ok = matchName(7, dayName, 0, &ignored);
        break;
      case txtTokYear2:
        ok = digit(0) && digit(1);
        if (ok) {
          y = 1900 + (value[at] - '0') * 10 + (value[at + 1] - '0');
          at += 2;
        }
        break;
      case txtTokYear4:
        ok = digit(0) && digit(1) && digit(2) && digit(3);
        if (ok) {
          y = 0;
          for (int i = 0; i < 4; ++i) y = y * 10 + (value[at + i] - '0');
          at += 4;
        }
        break;
      case txtTokDayNumber: {
        ok = digit(0);
        int64_t number = 0;
        while (ok && digit(0)) {
          number = number * 10 + (value[at++] - '0');
          if (number > baseLastDayNumber) ok = false;
        }
        if (ok && number < baseFirstDayNumber) ok = false;
        if (ok) {
          int16_t yy = 0;
          uint16_t mm = 0, dd = 0;
          BaseJulianToDate(int32_t(number), &yy, &mm, &dd);
          y = yy;
          m = mm;
          d = dd;
        }
        break;
      }
      case txtTokSlash:
      case txtTokDash:
      case txtTokDot:
      case txtTokColon:
      case txtTokComma:
      case txtTokBlank:
        ok = left() >= 1;
        if (ok) ++at;
        break;
      case txtTokLiteral:
        ++t;
        ok = *t && left() >= 1;
        if (ok) ++at;
        break;
      case txtTokQuoted: {
        const uint8_t n = t[1];
        if (!n || std::strlen(reinterpret_cast<const char*>(t + 2)) < n) return maskError(msgTxtMaskInvalid);
        ok = left() >= n;
        if (ok) at += n;
        // The length byte, then the text (which may hold any byte but 0).
        t += 1 + n;
        break;
      }
      default:
        ok = false;
        break;
    }
    if (!ok) return maskError(msgTxtMaskNoMatch);
  }
  // Day and month are checked together: 2/31 is no date.
  if (y < 1 || y > 9999 || BaseValidateDate(int16_t(y), uint16_t(m), uint16_t(d)) != kvSuccess) {
    if (KvErrorKeeper::getErrorList()) KvErrorKeeper::clearLastError();
    return maskError(msgTxtMaskNoMatch);
  }
  *year = int16_t(y);
  *month = uint16_t(m);
  *day = uint16_t(d);
  return kvSuccess;
}

KvStatus txtWriteDate(const unsigned char* mask, int16_t year, uint16_t month, uint16_t day, unsigned char* out,
                      uint32_t size) {
  if (BaseValidateDate(year, month, day) != kvSuccess) return kvFailure;
  const int32_t number = BaseDateToJulian(year, month, day);
  const uint16_t weekday = uint16_t((number + 1) % 7);
  std::string text;
  for (const unsigned char* t = mask; *t; ++t) {
    std::string piece;
    char digits[16];
    switch (*t) {
      case txtTokMonth: std::snprintf(digits, sizeof(digits), "%u", unsigned(month)); piece = digits; break;
      case txtTokMonth2: std::snprintf(digits, sizeof(digits), "%.2u", unsigned(month)); piece = digits; break;
      case txtTokMonAbbrLower: piece = cased(monthAbbreviation(month), lowerCase); break;
      case txtTokMonAbbrCap: piece = cased(monthAbbreviation(month), capitalised); break;
      case txtTokMonAbbrUpper: piece = cased(monthAbbreviation(month), upperCase); break;
      case txtTokMonNameLower: piece = cased(monthName(month), lowerCase); break;
      case txtTokMonNameCap: piece = cased(monthName(month), capitalised); break;
      case txtTokMonNameUpper: piece = cased(monthName(month), upperCase); break;
      case txtTokDay: std::snprintf(digits, sizeof(digits), "%u", unsigned(day)); piece = digits; break;
      case txtTokDay2: std::snprintf(digits, sizeof(digits), "%.2u", unsigned(day)); piece = digits; break;
      case txtTokDayAbbrLower: piece = cased(dayAbbreviation(weekday), lowerCase); break;
      case txtTokDayAbbrCap: piece = cased(dayAbbreviation(weekday), capitalised); break;
      case txtTokDayAbbrUpper: piece = cased(dayAbbreviation(weekday), upperCase); break;
      case txtTokDayNameLower: piece = cased(dayName(weekday), lowerCase); break;
      case txtTokDayNameCap: piece = cased(dayName(weekday), capitalised); break;
      case txtTokDayNameUpper: piece = cased(dayName(weekday), upperCase); break;
      case txtTokYear2:
        // Two digits read back as 19yy: any other century would come back
        // as another date.
        if (year < 1900 || year > 1999) {
          if (KvErrorKeeper::getErrorList()) addOdbcError(stateSyntax, msgTxtMaskYearRange) << int32_t(year);
          return kvFailure;
        }
        std::snprintf(digits, sizeof(digits), "%.2u", unsigned(year % 100));
        piece = digits;
        break;
      case txtTokYear4: std::snprintf(digits, sizeof(digits), "%.4u", unsigned(year)); piece = digits; break;
      case txtTokDayNumber: std::snprintf(digits, sizeof(digits), "%ld", long(number)); piece = digits; break;
      case txtTokSlash: piece = "/"; break;
      case txtTokDash: piece = "-"; break;
      case txtTokDot: piece = "."; break;
      case txtTokColon: piece = ":"; break;
      case txtTokComma: piece = ","; break;
      case txtTokBlank: piece = " "; break;
      case txtTokLiteral:
        if (!t[1]) return maskError(msgTxtMaskInvalid);
        piece.assign(1, char(t[1]));
        ++t;
        break;
      case txtTokQuoted: {
        const uint8_t n = t[1];
        if (!n || std::strlen(reinterpret_cast<const char*>(t + 2)) < n) return maskError(msgTxtMaskInvalid);
        piece.assign(reinterpret_cast<const char*>(t + 2), n);
        t += 1 + n;
        break;
      }
      default:
        return maskError(msgTxtMaskInvalid);
    }
    if (text.size() + piece.size() >= size) return maskError(msgTxtMaskTooSmall);
    text += piece;
  }
  std::memcpy(out, text.c_str(), text.size() + 1);
  return kvSuccess;
}

KvStatus txtMaskToText(const unsigned char* mask, unsigned char* out, uint32_t size) {
  static const char* const texts[] = {"",    "m",    "mm",   "mmm",  "Mmm",  "MMM",  "mmmm", "Mmmm", "MMMM",
                                      "d",   "dd",   "ddd",  "Ddd",  "DDD",  "dddd", "Dddd", "DDDD", "yy",
                                      "yyyy", "J",   "/",    "-",    ".",    ":",    ",",    " "};
  std::string text;
  for (const unsigned char* t = mask; *t; ++t) {
    if (*t <= txtTokBlank) {
      // Runs of one letter compile as one token: "d" then "dd" is written
      // d""dd, so that it does not come back as "ddd".
      const char next = texts[*t][0];
      if (!text.empty() && std::strchr("mdy", kvToLower(uint8_t(next))) &&
          kvToLower(uint8_t(text.back())) == kvToLower(uint8_t(next)))
        text += "\"\"";
      text += texts[*t];
    } else if (*t == txtTokLiteral && t[1]) {
      text += '\\';
      text += char(t[1]);
      ++t;
    } else if (*t == txtTokQuoted && t[1] && std::strlen(reinterpret_cast<const char*>(t + 2)) >= t[1]) {
      std::string quoted(reinterpret_cast<const char*>(t + 2), t[1]);
      // Quoted text ends at the next quote of its kind: the other kind
      // encloses a text that holds a double quote.
      const char quote = quoted.find('"') == std::string::npos ? '"' : '\'';
      text += quote + quoted + quote;
      t += 1 + t[1];
    } else {
      return maskError(msgTxtMaskInvalid);
    }
  }
  if (text.size() >= size) return maskError(msgTxtMaskInvalid);
  std::memcpy(out, text.c_str(), text.size() + 1);
  return kvSuccess;
}
