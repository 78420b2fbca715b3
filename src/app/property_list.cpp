#include "app/property_list.h"

#include <cstdlib>
#include <cstring>

namespace {

void CopyName(PropertyEntry* entry, const char* name) {
  entry->name[0] = '\0';
  if (!name) return;
  // Names longer than the field are cut at 19 characters, never overrun.
  size_t length = strnlen(name, sizeof(entry->name) - 1);
  memcpy(entry->name, name, length);
  entry->name[length] = '\0';
}

}  // namespace

PropertyEntry* CreatePropertyList(void* data, PropertyReleaseFn release, int32_t id, const char* name) {
  auto* entry = static_cast<PropertyEntry*>(calloc(1, sizeof(PropertyEntry)));
  if (!entry) return nullptr;
  entry->id = id;
  CopyName(entry, name);
  entry->data = data;
  entry->release = release;
  return entry;
}

int AddProperty(PropertyEntry* list, void* data, PropertyReleaseFn release, int32_t id, const char* name) {
  if (!list) return 0;
  PropertyEntry* last = list;
  for (PropertyEntry* entry = list; entry; entry = entry->next) {
    if (entry->id == id) return 0;
    last = entry;
  }
  PropertyEntry* added = CreatePropertyList(data, release, id, name);
  if (!added) return 0;
  added->previous = last;
  last->next = added;
  return 1;
}

int RemoveProperty(PropertyEntry* list, int32_t id) {
  if (!list) return 0;
  for (PropertyEntry* entry = list->next; entry; entry = entry->next) {
    if (entry->id != id) continue;
    entry->previous->next = entry->next;
    if (entry->next) entry->next->previous = entry->previous;
    if (entry->release) entry->release(entry, entry->data, entry->id, entry->name);
    free(entry);
    return 1;
  }
  return 0;
}

void* FindProperty(PropertyEntry* list, int32_t id) {
  for (PropertyEntry* entry = list; entry; entry = entry->next) {
    if (entry->id == id) return entry->data;
  }
  return nullptr;
}

void FreePropertyList(PropertyEntry* list) {
  while (list) {
    PropertyEntry* next = list->next;
    if (list->release) list->release(list, list->data, list->id, list->name);
    free(list);
    list = next;
  }
}

void ReleaseScanValue(PropertyEntry*, void* data, int32_t, const char*) { free(data); }

int StoreScanValue(PropertyEntry* list, int32_t id, const char* name, int64_t value) {
  if (!list) return 0;
  if (FindProperty(list, id)) RemoveProperty(list, id);
  auto* block = static_cast<int64_t*>(calloc(1, sizeof(int64_t)));
  if (!block) return 0;
  *block = value;
  if (!AddProperty(list, block, ReleaseScanValue, id, name)) {
    free(block);
    return 0;
  }
  return 1;
}

bool ReadScanValue(PropertyEntry* list, int32_t id, int64_t* value) {
  const auto* block = static_cast<const int64_t*>(FindProperty(list, id));
  if (!block) return false;
  *value = *block;
  return true;
}

bool ReadScanValue(PropertyEntry* list, int32_t id, int32_t* value) {
  int64_t wide = 0;
  if (!ReadScanValue(list, id, &wide)) return false;
  *value = static_cast<int32_t>(wide);
  return true;
}
