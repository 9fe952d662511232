// Records of a statement: result columns (BaseField), the application's
// column bindings (BaseBinding) and parameters (BaseParam). Drivers derive
// their own records from these; the statement keeps arrays of pointers.
#pragma once

#include "base/base_types.h"
#include "util/kv_object.h"

class KV_BASE_API BaseField : public KvObject {
 public:
  enum : uint32_t { flagUnsigned = 0x1 };

  BaseField();
  ~BaseField() override;

  // The column as the driver describes it; the conversions read these.
  int16_t sqlType = 0;
  uint32_t precision = 0;  // precision or length
  int16_t scale = 0;
  uint32_t flags = 0;
};

class KV_BASE_API BaseBinding : public KvObject {
 public:
  BaseBinding();
  ~BaseBinding() override;
};

class KV_BASE_API BaseParam : public KvObject {
 public:
  BaseParam();
  ~BaseParam() override;

  // The parameter as SQLBindParameter described it; the conversions read
  // these. The value and length pointers are the application's.
  int16_t cType = SQL_C_DEFAULT;
  int16_t sqlType = 0;
  uint32_t precision = 0;
  int16_t scale = 0;
  void* value = nullptr;
  SQLLEN* length = nullptr;
  SQLLEN bufferSize = 0;

  // SQL_RESET_PARAMS: the parameter no longer has a value of the
  // application's; it must be bound again before the next execution.
  void forgetValue();
};
