// The on-disk format helpers and the work lists.
#include <gtest/gtest.h>

#include "core/disk_format.h"
#include "core/work_list.h"

namespace {

using namespace core;

TEST(DiskFormat, FatLinks) {
  EXPECT_EQ(DecodeFatLink(0xFFFFFF), 0);
  EXPECT_EQ(DecodeFatLink(0xFFFFFE), -1);
  EXPECT_EQ(DecodeFatLink(0x000000), 0);
  EXPECT_EQ(DecodeFatLink(0x123456), 0);
  EXPECT_EQ(DecodeFatLink(0x020000), 0);
  EXPECT_EQ(DecodeFatLink(0x01FFFF), 131071);
  EXPECT_EQ(EncodeFatLink(0), 0xFFFFFFu);
  EXPECT_EQ(EncodeFatLink(-1), 0xFFFFFEu);
  EXPECT_EQ(EncodeFatLink(0x1FFFF), 0x01FFFFu);
  std::vector<uint8_t> view(0x80000, 0);
  WriteFat24(view.data(), kFAT1, 5, 6);
  EXPECT_EQ(view[0x2000F], 0);
  EXPECT_EQ(view[0x20011], 6);
  EXPECT_EQ(ReadFat24(view.data(), kFAT1, 5), 6u);
}

TEST(DiskFormat, SizesFromAndToEntryFields) {
  EntrySizeFields f = SizeToEntryFields(1000000, 2068);
  EXPECT_EQ(f.ClusterCount, 1);
  EXPECT_EQ(f.FreeBytes, 58368);
  EXPECT_EQ(f.LastSectorBytes, 64);
  EXPECT_EQ(f.CheckByte, 65);
  EXPECT_EQ(EntrySize(f.ClusterCount, 2068, f.FreeBytes, f.LastSectorBytes), 1000000);
  f = SizeToEntryFields(2068.0 * 512, 2068);
  EXPECT_EQ(f.ClusterCount, 1);
  EXPECT_EQ(f.FreeBytes, 0);
  EXPECT_EQ(f.LastSectorBytes, 0);
  EXPECT_EQ(EntrySize(1, 2068, 0, 0), 2068.0 * 512);
  f = SizeToEntryFields(1059216, 2068);
  EXPECT_EQ(f.ClusterCount, 2);
  EXPECT_EQ(f.FreeBytes, 1058304);
  EXPECT_EQ(f.LastSectorBytes, 400);
  EXPECT_EQ(f.CheckByte, 146);
  f = SizeToEntryFields(0, 2068);
  EXPECT_EQ(f.ClusterCount, 0);
  EXPECT_EQ(f.CheckByte, 1);
  EXPECT_EQ(EntrySize(0, 2068, 0, 0), 0);
}

TEST(DiskFormat, Dates) {
  EXPECT_EQ(DateSerial(1899, 12, 30), 0);
  TopfDate d = DateValueToTopfDate(DateValue(2000, 1, 1, 20, 15, 30));
  EXPECT_EQ(d.Mjd, 51544);
  EXPECT_EQ(d.Hour, 20);
  EXPECT_EQ(d.Minute, 15);
  EXPECT_EQ(d.Second, 30);
  uint8_t bytes[5];
  WriteTopfDate(bytes, d);
  EXPECT_EQ(bytes[0], 0xC9);
  EXPECT_EQ(bytes[1], 0x58);
  // Seconds are ignored when the loader reads a date.
  EXPECT_NEAR(TopfDateToDateValue(d), DateValue(2000, 1, 1, 20, 15, 0), 1e-9);
  DateParts p = SplitDateValue(DateValue(2026, 12, 8, 14, 3, 7));
  EXPECT_EQ(p.Year, 2026);
  EXPECT_EQ(p.Month, 12);
  EXPECT_EQ(p.Day, 8);
  EXPECT_EQ(p.Hour, 14);
  EXPECT_EQ(p.Minute, 3);
  EXPECT_EQ(p.Second, 7);
}

TEST(DiskFormat, LastClusterAndClusterSize) {
  EXPECT_EQ(ComputeLastCluster(250000000.0, 2068), 120889);
  EXPECT_EQ(ComputeLastCluster(2.5 * 2068, 2068), 1);   // 2.5 rounds to 2 (even)
  EXPECT_EQ(ComputeLastCluster(3.5 * 2068, 2068), 3);   // 3.5 rounds to 4
  EXPECT_EQ(ComputeLastCluster(1e12, 2068), 0x1FFFF);   // never past the FAT
  EXPECT_EQ(ComputeLastCluster(1000, 0), -1);
  EXPECT_FALSE(ValidSectorsPerCluster(0));
  EXPECT_FALSE(ValidSectorsPerCluster(1791));
  EXPECT_TRUE(ValidSectorsPerCluster(1792));
  EXPECT_TRUE(ValidSectorsPerCluster(2068));
  EXPECT_TRUE(ValidSectorsPerCluster(4512));
  EXPECT_FALSE(ValidSectorsPerCluster(-32768));
  EXPECT_EQ(CrcIdText(0x0000ABCD), "0000ABCD");
}

TEST(DiskFormat, NamesAndHeaders) {
  uint8_t slot[128] = {};
  const uint8_t name[] = {0x41, 0x42, 0x09, 0x43, 0x00, 0x44};
  std::copy(std::begin(name), std::end(name), slot + 20);
  EXPECT_EQ(ReadEntryName(slot), "ABC");
  slot[24] = 0xFF;
  EXPECT_EQ(ReadEntryName(slot), "ABC");

  uint8_t sector[512] = {'T', 'F', 'r', 'c', 'P', 1};
  EXPECT_FALSE(IsRecHeader(sector));
  sector[5] = 0;
  sector[6] = 0x99;
  EXPECT_TRUE(IsRecHeader(sector));
}

TEST(WorkListTest, QueueAndSortedList) {
  WorkList queue;
  queue.AddItem("0 \\");
  queue.AddItem("5 \\A\\");
  EXPECT_EQ(queue.TakeFirst(), "0 \\");
  EXPECT_EQ(queue.ListCount(), 1u);

  WorkList sorted(true);
  for (const char* s : {"12", "7", "12", "100", "b", "A"}) sorted.AddItem(s);
  ASSERT_EQ(sorted.ListCount(), 6u);
  EXPECT_EQ(sorted.List(0), "100");
  EXPECT_EQ(sorted.List(1), "12");
  EXPECT_EQ(sorted.List(2), "12");
  EXPECT_EQ(sorted.List(3), "7");
  EXPECT_EQ(sorted.List(4), "A");
  EXPECT_EQ(sorted.List(5), "b");
  sorted.RemoveItem(0);
  EXPECT_EQ(sorted.List(0), "12");

  // Many lines at once end in the order one at a time leaves them, ties too.
  const std::vector<std::string> lines = {"b", "A", "M", "a", "12", "m", "B", "7"};
  for (const std::string& line : lines) sorted.AddItem(line);
  WorkList many(true);
  for (const char* s : {"12", "7", "12", "b", "A"}) many.AddItem(s);
  many.AddItems(lines);
  ASSERT_EQ(many.ListCount(), sorted.ListCount());
  for (size_t k = 0; k < many.ListCount(); ++k) EXPECT_EQ(many.List(k), sorted.List(k)) << k;
}

}  // namespace
