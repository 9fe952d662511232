// The test data source's dialect: how its SQL writes the ODBC escape
// clauses, and its data types (the SQLGetTypeInfo table). See
// test_dialect.cpp for the forms.
#pragma once

#include "base/connection/base_connection.h"
#include "base/catalog/base_type_info.h"

// The connection's expandNativeEscape.
KvStatus testExpandNativeEscape(BaseConnection* connection, KvReplaceString* text, uint32_t argumentLength,
                                EscapeType type, EscapeFunctionType function);

extern const BaseTypeRow testTypeTable[];
extern const uint16_t testTypeCount;
