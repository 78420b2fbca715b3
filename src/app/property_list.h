// The application-wide list of numbered, named entries that pages and
// workers share. Plain procedural interface: 1/0 or pointer/null results.
#pragma once

#include <cstdint>

struct PropertyEntry;

// Called when an entry is removed or the list is freed, before the entry's
// own memory goes. Responsible for whatever the data refers to.
using PropertyReleaseFn = void (*)(PropertyEntry* entry, void* data, int32_t id, const char* name);

struct PropertyEntry {
  int32_t id;
  char name[20];
  void* data;
  PropertyEntry* next;
  PropertyEntry* previous;
  PropertyReleaseFn release;
};

// Ids used by the program.
enum PropertyId : int32_t {
  kPropRoot = 0,
  kPropBitRate = 1,
  kPropBitRateBinary = 2,
  kPropFirstFrame = 3,
  kPropSplitWindow = 4,
  kPropMergeWindow = 5,
  kPropHelpWindow = 6,
  kPropAboutWindow = 7,
  kPropVariableBitRate = 8,
};

PropertyEntry* CreatePropertyList(void* data, PropertyReleaseFn release, int32_t id, const char* name);
int AddProperty(PropertyEntry* list, void* data, PropertyReleaseFn release, int32_t id, const char* name);
int RemoveProperty(PropertyEntry* list, int32_t id);
void* FindProperty(PropertyEntry* list, int32_t id);
void FreePropertyList(PropertyEntry* list);
void ReleaseScanValue(PropertyEntry* entry, void* data, int32_t id, const char* name);

// Replaces the value stored under id (removing an older entry first) with a
// fresh zero-filled block holding value. 1 on success, 0 when memory is out.
// Values are kept in 64 bits, so that a position past 2 GiB stays exact.
int StoreScanValue(PropertyEntry* list, int32_t id, const char* name, int64_t value);
// The value of a scan entry; false when the entry is absent. The 32-bit form
// is for values that fit it (bitrates, indexes).
bool ReadScanValue(PropertyEntry* list, int32_t id, int64_t* value);
bool ReadScanValue(PropertyEntry* list, int32_t id, int32_t* value);
