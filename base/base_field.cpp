// Statement records; see base_field.h.
#include "base/base_field.h"

BaseField::BaseField() = default;
BaseField::~BaseField() = default;
BaseBinding::BaseBinding() = default;
BaseBinding::~BaseBinding() = default;
BaseParam::BaseParam() = default;
BaseParam::~BaseParam() = default;
void BaseParam::forgetValue() {
  value = nullptr;
  length = nullptr;
}
