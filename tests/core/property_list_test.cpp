#include "app/property_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "mpeg/source_scan.h"

namespace {

std::vector<int32_t> Ids(PropertyEntry* list) {
  std::vector<int32_t> ids;
  for (PropertyEntry* e = list; e; e = e->next) ids.push_back(e->id);
  return ids;
}

int releaseCalls = 0;
std::vector<int32_t> releasedIds;
void CountingRelease(PropertyEntry* entry, void* data, int32_t id, const char* name) {
  ++releaseCalls;
  releasedIds.push_back(id);
  EXPECT_EQ(entry->id, id);
  EXPECT_EQ(entry->data, data);
  EXPECT_STREQ(entry->name, name);
  free(data);
}

TEST(PropertyList, RootAddFindRemove) {
  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, 0, nullptr);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list->name, "");
  int a = 1, b = 2;
  EXPECT_EQ(AddProperty(list, &a, nullptr, 4, "Split Window"), 1);
  EXPECT_EQ(AddProperty(list, &b, nullptr, 5, "Merge Window"), 1);
  EXPECT_EQ(AddProperty(list, &b, nullptr, 4, "again"), 0);  // duplicate id
  EXPECT_EQ(AddProperty(list, &b, nullptr, 0, "root"), 0);   // the root's id
  EXPECT_EQ(AddProperty(nullptr, &b, nullptr, 9, "x"), 0);
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{0, 4, 5}));
  EXPECT_EQ(FindProperty(list, 4), &a);
  EXPECT_EQ(FindProperty(list, 0), nullptr);
  EXPECT_EQ(FindProperty(list, 7), nullptr);
  EXPECT_EQ(RemoveProperty(list, 0), 0);
  EXPECT_EQ(RemoveProperty(list, 4), 1);
  EXPECT_EQ(RemoveProperty(list, 4), 0);
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{0, 5}));
  EXPECT_EQ(list->next->previous, list);
  FreePropertyList(list);
}

TEST(PropertyList, NamesAreKeptToNineteenCharacters) {
  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, 0, nullptr);
  ASSERT_EQ(AddProperty(list, nullptr, nullptr, 1, "abcdefghijklmnopqrs"), 1);
  ASSERT_EQ(AddProperty(list, nullptr, nullptr, 2, "abcdefghijklmnopqrstuvwxyz"), 1);
  EXPECT_STREQ(list->next->name, "abcdefghijklmnopqrs");
  EXPECT_STREQ(list->next->next->name, "abcdefghijklmnopqrs");
  FreePropertyList(list);
}

TEST(PropertyList, ScanValuesAreReplacedAndEachBlockFreedOnce) {
  releaseCalls = 0;
  releasedIds.clear();
  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, 0, nullptr);
  ASSERT_EQ(StoreScanValue(list, 2, "Bit Rate Binary", 9), 1);
  ASSERT_EQ(StoreScanValue(list, 1, "Bit Rate", 128), 1);
  // Swap in a counting release routine so the frees can be observed.
  for (PropertyEntry* e = list->next; e; e = e->next) e->release = CountingRelease;
  ASSERT_EQ(StoreScanValue(list, 2, "Bit Rate Binary", 5), 1);
  EXPECT_EQ(releaseCalls, 1);
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{0, 1, 2}));
  int32_t value = 0;
  EXPECT_TRUE(ReadScanValue(list, 2, &value));
  EXPECT_EQ(value, 5);
  EXPECT_FALSE(ReadScanValue(list, 3, &value));
  list->next->next->release = CountingRelease;
  FreePropertyList(list);
  EXPECT_EQ(releaseCalls, 3);
  EXPECT_EQ(releasedIds, (std::vector<int32_t>{2, 1, 2}));
}

TEST(PropertyList, FirstFramePastTwoGibIsKeptExactly) {
  PropertyEntry* list = CreatePropertyList(nullptr, nullptr, 0, nullptr);
  for (int64_t far : {(int64_t{1} << 31) + 417, (int64_t{5} << 30) + 3}) {
    snip::ScanResult scan;
    scan.outcome = snip::ScanOutcome::Accepted;
    scan.bitrate = 128;
    scan.bitrateIndex = 9;
    scan.audioStart = far;
    ASSERT_EQ(snip::StoreScanResult(list, scan), 1);
    int64_t stored = 0;
    EXPECT_TRUE(ReadScanValue(list, kPropFirstFrame, &stored));
    EXPECT_EQ(stored, far);
    int32_t bitrate = 0;
    EXPECT_TRUE(ReadScanValue(list, kPropBitRate, &bitrate));
    EXPECT_EQ(bitrate, 128);
  }
  FreePropertyList(list);
}

}  // namespace
