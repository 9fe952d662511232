// Helpers shared by the files of the operating-system layer (bos_*.cpp);
// nothing here leaves libkvutil.
#pragma once

#include "util/os/bos.h"

// The lowest file number the layer hands out: 0, 1 and 2 stay the standard
// streams, and 0 means "no file".
enum : int { bosFirstFileNumber = 3 };

// Outcome of finding a name without regard to case.
enum BosLookup : int {
  bosLookupFound = 0,      // path names an existing entry
  bosLookupMissing = 1,    // path holds the existing leading components as on
                           // disk and the rest as given: the name to create
  bosLookupAmbiguous = 2,  // a component matches rivalA and rivalB
  bosLookupTooLong = 3,    // beyond PATH_MAX or a component beyond NAME_MAX
};

struct BosResolvedName {
  char path[bosPathBytes];
  char rivalA[bosNameBytes];
  char rivalB[bosNameBytes];
};

// Finds name ("\" read as "/") on disk. An exact name is taken as it is; a
// component that does not exist exactly is looked for among its directory's
// entries without regard to ASCII case.
BosLookup bosResolveName(const unsigned char* name, BosResolvedName* resolved);

// Adds message id with the caller's name as its parameter and, when reason
// is given, that text appended; returns kvFailure.
KvStatus bosAddFileError(uint16_t id, const unsigned char* name, const char* reason);
// Adds message id for a name whose lookup gave outcome (ambiguous: names the
// rivals; too long: 1524 instead of id); returns kvFailure.
KvStatus bosAddLookupError(uint16_t id, const unsigned char* name, BosLookup outcome,
                           const BosResolvedName& resolved);

// Forgets the region locks recorded for a file number (closed, or handed out
// afresh).
void bosForgetRegionLocks(int file);

// The temporary directory as an absolute path, into a buffer of bosPathBytes.
KvStatus bosTemporaryDirectory(char* directory);

// Nonzero when two ASCII texts are equal without regard to case.
int bosSameNameIgnoringCase(const char* a, const char* b);
