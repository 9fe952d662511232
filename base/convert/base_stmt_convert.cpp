// The statement's conversion operations: the column or parameter record
// supplies the SQL type, precision and scale, the conversion layer
// (base_convert.h) does the work, and every error or warning it posts gets
// " Error in column %n1." or " Error in parameter %n1." appended.
#include "base/convert/base_convert.h"
#include "base/handles/base_error_list.h"
#include "base/results/base_field.h"
#include "base/handles/base_message_ids.h"
#include "base/handles/base_messages.h"
#include "base/handles/base_out_string.h"
#include "base/statement/base_statement.h"

namespace {

uint32_t errorCount() {
  KvErrorList* list = KvErrorKeeper::getErrorList();
  return list ? list->getCount() : 0;
}

// Names the column or parameter in every message posted since the list
// held first of them.
void nameMessagesFrom(uint32_t first, uint16_t msgId, uint16_t number) {
  for (uint32_t i = first, count = errorCount(); i < count; ++i) {
    appendResourceTextAtPos(msgId, i) << uint32_t(number);
  }
}

BaseValueDesc describe(const BaseField& field) {
  BaseValueDesc desc;
  desc.sqlType = field.sqlType;
  desc.precision = field.precision;
  desc.scale = field.scale;
  desc.isUnsigned = (field.flags & BaseField::flagUnsigned) != 0;
  return desc;
}

BaseValueDesc describe(const BaseParam& param) {
  BaseValueDesc desc;
  desc.sqlType = param.sqlType;
  desc.precision = param.precision;
  desc.scale = param.scale;
  return desc;
}

}  // namespace

KvStatus BaseStatement::convertInternalToC(uint16_t column, int16_t cType, BaseOutString* out, const void* data,
                                           int32_t length, InternalType type) {
  if (column < 1 || column > fieldCount_ || !fields_[column - 1]) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const uint32_t first = errorCount();
  const KvStatus status = BaseConvertToC(column, describe(*fields_[column - 1]), cType, out, data, length, type,
                                         getDataOffset_, connection_);
  nameMessagesFrom(first, msgInColumn, column);
  return status;
}

KvStatus BaseStatement::convertInternalToCHuge(uint16_t column, int16_t cType, BaseOutString* out, const void* data,
                                               int32_t length, InternalType type) {
  if (column < 1 || column > fieldCount_ || !fields_[column - 1]) {
    addOdbcError(stateColumnNumber);
    return kvFailure;
  }
  const uint32_t first = errorCount();
  const KvStatus status = BaseConvertToCHuge(column, describe(*fields_[column - 1]), cType, out, data, length, type,
                                             getDataOffset_, connection_);
  nameMessagesFrom(first, msgInColumn, column);
  return status;
}

KvStatus BaseStatement::convertInternalToC(uint16_t parameter, const void* data, int32_t length, InternalType type) {
  if (parameter < 1 || parameter > paramCapacity_ || !params_[parameter - 1]) {
    addOdbcError(stateInvalidParamNumber);
    return kvFailure;
  }
  const BaseParam& param = *params_[parameter - 1];
  BaseOutString out(param.value, param.bufferSize, param.length);
  const uint32_t first = errorCount();
  const KvStatus status = BaseConvertToC(parameter, describe(param), param.cType, &out, data, length, type, 0,
                                         connection_);
  nameMessagesFrom(first, msgInParameter, parameter);
  return status;
}

KvStatus BaseStatement::convertCToInternal(uint16_t parameter, const void* data, SQLLEN length, InternalType target,
                                           void* out, int32_t* outLength, uint32_t outSize) {
  const BaseParam* record = getParamRecord(parameter);
  if (!record) {
    addOdbcError(stateInvalidParamNumber);
    return kvFailure;
  }
  const BaseParam& param = *record;
  const uint32_t first = errorCount();
  const KvStatus status = BaseConvertFromC(parameter, describe(param), param.cType, data, length, target, out,
                                           outLength, outSize, connection_);
  nameMessagesFrom(first, msgInParameter, parameter);
  return status;
}
