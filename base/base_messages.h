// The framework's string table and SQLSTATE table (see base_messages.cpp).
// SQLSTATEs are named by their index in the table; the indexes used by the
// framework's own code have names below.
#pragma once

#include "base/base_message_ids.h"
#include "base/base_types.h"
#include "util/resource.h"

enum : uint16_t { baseSqlStateCount = 94 };

enum BaseSqlState : uint16_t {
  stateSuccess = 0,        // 00000
  stateWarning = 1,        // 01000
  stateTruncated = 3,      // 01004
  stateBadConnString = 5,  // 01S00
  stateErrorInRow = 6,     // 01S01
  stateOptionChanged = 7,  // 01S02
  stateNoRowsChanged = 8,  // 01S03
  stateManyRowsChanged = 9,  // 01S04
  stateCancelAsClose = 10, // 01S05
  stateWrongParamCount = 11,  // 07001
  stateRestrictedType = 12,  // 07006
  stateConnectionInUse = 15,  // 08002
  stateDegreeMismatch = 21,  // 21S02
  stateRightTruncation = 22, // 22001
  stateNumericRange = 23,    // 22003
  stateAssignment = 24,      // 22005
  stateDatetimeOverflow = 25,  // 22008
  stateIntegrity = 28,     // 23000
  stateCursorState = 29,   // 24000
  stateTxnState = 30,      // 25000
  stateBadCursorName = 32, // 34000
  stateSyntax = 33,        // 37000
  stateDupCursorName = 34, // 3C000
  stateNotSupported = 38,  // IM001
  stateOptionFailed = 43,  // IM006
  stateTranslation = 46,   // IM009
  stateTableNotFound = 52, // S0002
  stateColumnNotFound = 56,  // S0022
  stateGeneral = 58,       // S1000
  stateMemory = 59,        // S1001
  stateColumnNumber = 60,  // S1002
  stateProgramType = 61,   // S1003
  stateSqlType = 62,       // S1004
  stateArgumentValue = 64, // S1009
  stateSequence = 65,      // S1010
  stateInvalidNow = 66,    // S1011
  stateTxnOperation = 67,  // S1012
  stateNoCursorName = 68,  // S1015
  stateStringLength = 69,  // S1090
  stateInvalidParamNumber = 72,  // S1093
    stateScale = 73,         // S1094
  statePrecision = 83,     // S1104
  stateParamType = 84,     // S1105
  stateFetchType = 85,     // S1106
  stateRowRange = 86,      // S1107
  stateConcurrency = 87,   // S1108
  stateInvalidCursorPos = 88,  // S1109
  stateNotCapable = 91,    // S1C00
};
