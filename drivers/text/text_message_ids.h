// Named ids of the text driver's own strings: its messages (1240-1299), its
// name and the labels, type names, month and weekday names the framework,
// the engine and the date masks ask for (20101 and up). The texts stand
// beside them in text_messages.cpp, a table sorted by id.
#pragma once

#include <cstdint>

enum TextMessageId : uint16_t {
  msgTxtTableNotExist = 1240,      // "Table %s1 does not exist."
  msgTxtIniNoName = 1241,          // "Missing field name field in KVTXT.INI file."
  msgTxtIniNoOffset = 1242,        // "Missing offset field in KVTXT.INI file."
  msgTxtIniNoLength = 1243,        // "Missing length field in KVTXT.INI file."
  msgTxtIniNoPrecision = 1244,     // "Missing precision field in KVTXT.INI file."
  msgTxtIniNoScale = 1245,         // "Missing scale field in KVTXT.INI file."
  msgTxtIniBadType = 1246,         // "Unknown data type in KVTXT.INI file %s1."
  msgTxtNoDefinition = 1247,       // "File name missing in INI file."
  msgTxtTableNameLong = 1250,      // "Table name is longer than 32 characters."
  msgTxtTableExists = 1251,        // "Table already exists."
  msgTxtColumnTwice = 1252,        // "Column %s1 is defined more than once."
  msgTxtColumnNameLong = 1253,     // "Column %s1 is longer than 32 characters."
  msgTxtMaskMonthAbbr = 1255,      // "Month abbreviation mask must be either mmm, Mmm, or MMM."
  msgTxtMaskMonthName = 1256,      // "Month name mask must be either mmmm, Mmmm, or MMMM."
  msgTxtMaskDayAbbr = 1257,        // "Day abbreviation mask must be either ddd, Ddd, or DDD."
  msgTxtMaskDayName = 1258,        // "Day name mask must be either dddd, Dddd, or DDDD."
  msgTxtMaskNoQuote = 1259,        // "Can not find the ending quote in the date mask."
  msgTxtMaskInvalid = 1260,        // "Invalid date mask."
  msgTxtMaskTooSmall = 1261,       // "The Column in the file is to small for the entire date string."
  msgTxtMaskNoMatch = 1262,        // "Data can not be converted using the given mask."
  msgTxtIniNoMask = 1263,          // "No mask in INI file."
  msgTxtNoCreateIndex = 1264,      // "Driver cannot create indexes."
  msgTxtNoDropIndex = 1265,        // "Driver cannot drop indexes."
  msgTxtBadDate = 1266,            // "Invalid date value %s1."
  // Beyond the driver's original table: values of KVTXT.INI and of the
  // connection that the driver refuses rather than misreads.
  msgTxtIniBadValue = 1270,        // "Invalid %s1 value '%s2' in KVTXT.INI file for table %s3."
  msgTxtBadDelimiter = 1271,       // "Invalid delimiter character: %s1"
  msgTxtMaskYearRange = 1272,      // "The year %n1 cannot be written by a two-digit year mask."

  strTxtDriverName = 20101,        // "Text": the name in the message prefix
  strTxtOwnerTerm = 20102,
  strTxtQualifierTerm = 20104,
  strTxtProcedureTerm = 20105,
  strTxtTableTerm = 20106,
  strTxtDriverVersion = 20107,
  strTxtParamLength = 20108,
  strTxtParamMaxLength = 20109,
  strTxtParamPrecision = 20110,
  strTxtParamPrecisionScale = 20111,
  strTxtWarning = 20115,
  strTxtMonthAbbreviations = 20116,  // "JANFEB...DEC", three letters a month
  strTxtTypeVarchar = 20118,
  strTxtTypeDate = 20119,
  strTxtTypeNumeric = 20120,
  strTxtMonthFirst = 20125,          // "JANUARY"; 20136 "DECEMBER"
  strTxtDayFirst = 20137,            // "SUNDAY"; 20143 "SATURDAY"
  strTxtDayAbbreviations = 20144,    // "SUNMON...SAT", three letters a day
};
