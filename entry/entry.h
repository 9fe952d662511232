// The ODBC entry layer, compiled into every driver deliverable: the
// exported ODBC functions, the allocators of the driver's handle objects,
// connection sharing and the module's start-up.
//
// A driver supplies the three builders below; the layer calls them from
// SQLAllocEnv, SQLAllocConnect and SQLAllocStmt. Each returns null when the
// object could not be made.
#pragma once

#include "base/base_connection.h"
#include "base/base_env.h"
#include "base/base_statement.h"
#include "util/ram.h"

#include <new>

BaseEnv* entryMakeEnv();
BaseConnection* entryMakeConnection(BaseEnv* env);
BaseStatement* entryMakeStatement(BaseConnection* connection);

// Builds a handle object in zero-filled memory of the sub-allocator.
template <class T, class Arg>
T* entryBuild(Arg arg) {
  void* memory = ramAllocZ(sizeof(T));
  return memory ? new (memory) T(arg) : nullptr;
}

// The driver module's file name without its directory ("libkvtext.so").
void entryGetDllName(unsigned char* buffer, uint32_t size);
// The identity of this deliverable (its module instance).
const void* entryModuleInstance();
// The profile the driver's data sources are read from.
extern const unsigned char* entryProfileName;
