// Records of a statement: result columns (BaseField), the application's
// column bindings (BaseBinding) and parameters (BaseParam). Drivers derive
// their own records from these; the statement keeps arrays of pointers.
#pragma once

#include "base/base_types.h"
#include "util/kv_object.h"

class KV_BASE_API BaseField : public KvObject {
 public:
  BaseField();
  ~BaseField() override;
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
};
