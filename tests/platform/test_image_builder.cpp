// The disk-image builder writes the recorder's on-disk format: every field
// read back here is checked against values worked out by hand.
#include "tests/support/image_builder.h"

#include <cstring>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace imagebuilder;

namespace {

constexpr uint32_t kSpc = 2068;
constexpr uint64_t kCluster = uint64_t(kSpc) * 512;   // 1,058,816

Date At(int y, int mo, int d, int h, int mi, int s = 0) {
  Date date;
  date.Year = y; date.Month = mo; date.Day = d; date.Hour = h; date.Minute = mi; date.Second = s;
  return date;
}

}  // namespace

TEST(FormatHelpers, CrcCheckValues) {
  const char* digits = "123456789";
  EXPECT_EQ(Crc32Mpeg2(reinterpret_cast<const uint8_t*>(digits), 9), 0x0376E6E7u);
  std::vector<uint8_t> zeros(512, 0x00), ones(512, 0xFF);
  EXPECT_EQ(Crc32Mpeg2(zeros.data(), zeros.size()), 0xE151AAB2u);
  EXPECT_EQ(Crc32Mpeg2(ones.data(), ones.size()), 0x063C2142u);
  EXPECT_EQ(FatCrcLength(1), 512u);
  EXPECT_EQ(FatCrcLength(170), 512u);
  EXPECT_EQ(FatCrcLength(171), 1024u);
  EXPECT_EQ(FatCrcLength(131071), 393216u);
}

TEST(FormatHelpers, EntrySizeFields) {
  SizeFields f = SizeFieldsFor(1000000, kSpc);
  EXPECT_EQ(f.ClusterCount, 1u);
  EXPECT_EQ(f.FreeBytes, 58368u);
  EXPECT_EQ(f.LastSectorBytes, 64u);
  EXPECT_EQ(f.CheckByte, 65u);
  EXPECT_EQ(SizeFromFields(1, 58368, 64, kSpc), 1000000u);

  f = SizeFieldsFor(kCluster, kSpc);
  EXPECT_EQ(f.ClusterCount, 1u);
  EXPECT_EQ(f.FreeBytes, 0u);
  EXPECT_EQ(f.LastSectorBytes, 0u);
  EXPECT_EQ(SizeFromFields(1, 0, 0, kSpc), kCluster);

  f = SizeFieldsFor(0, kSpc);
  EXPECT_EQ(f.ClusterCount, 0u);
  EXPECT_EQ(f.FreeBytes, 0u);
  EXPECT_EQ(f.LastSectorBytes, 0u);

  for (uint64_t size : std::vector<uint64_t>{1, 511, 512, 513, kCluster + 1, 5000000000ull}) {
    f = SizeFieldsFor(size, kSpc);
    EXPECT_EQ(SizeFromFields(f.ClusterCount, f.FreeBytes, f.LastSectorBytes, kSpc), size) << size;
  }
}

TEST(FormatHelpers, DatesAndGeometry) {
  EXPECT_EQ(MjdOf(2000, 1, 1), 51544);
  EXPECT_EQ(MjdOf(1858, 11, 17), 0);
  EXPECT_DOUBLE_EQ(DateValueOf(At(2000, 1, 1, 20, 15)), 51544 - 15018 + 20 / 24.0 + 15 / 1440.0);
  EXPECT_DOUBLE_EQ(DateValueOf(At(1899, 12, 30, 0, 0)), 0.0);

  // 1034 cylinders give 1034 x 16065 / 2068 = 8032.5 clusters: ties go to the even 8032.
  EXPECT_EQ(CylindersOf(1034ull * 16065 * 512), 1034);
  EXPECT_EQ(LastClusterOf(1034ull * 16065 * 512, kSpc), 8031);
  EXPECT_EQ(LastClusterOf(1034ull * 16065 * 512 + 16064 * 512, kSpc), 8031);   // partial cylinder
  uint8_t word[4] = {0x07, 0x26, 0x08, 0x07};
  SwapWords(word, 4);
  EXPECT_EQ(GetBE32(word), 0x07082607u);
}

class BuiltImage : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageSpec spec;
    spec.LastCluster = 2000;
    spec.BackupCrc = 0x0000ABCD;
    disk = std::make_unique<DiskImage>(spec);
    disk->AddFolder("\\DataFiles\\Sub");                     // FAT index 4
    FileSpec a;
    a.Path = "\\DataFiles\\film.rec";
    a.When = At(2000, 1, 1, 20, 15, 42);
    a.Size = 1000000;
    a.Data = Content::Pattern(5);
    RecHeader h;
    h.DurationMinutes = 93;
    h.ServiceName = "Das Erste";
    h.EventName = "Tatort";
    h.EventText = "Line 1\r\nLine 2";
    h.CryptValue = 3;
    a.Header = h;
    a.CryptFlags = 4;
    a.CryptValue = 2;
    chainA = disk->AddFile(a);
    FileSpec b;
    b.Path = "\\DataFiles\\Sub\\frag.bin";
    b.Size = 2 * kCluster + 10;
    b.Data = Content::Of("abc");
    b.Chain = {300, 100, 200};
    chainB = disk->AddFile(b);
    path = dir / "PhysicalDrive0";
    disk->Write(path);
    image = std::make_unique<ImageFile>(path);
  }

  TempDir dir;
  std::string path;
  std::unique_ptr<DiskImage> disk;
  std::unique_ptr<ImageFile> image;
  std::vector<uint32_t> chainA, chainB;
};

TEST_F(BuiltImage, SizeGeometryAndSparseness) {
  EXPECT_GE(disk->LastCluster(), 2000);
  EXPECT_EQ(LastClusterOf(disk->SizeBytes(), kSpc), disk->LastCluster());
  EXPECT_GE(disk->SizeBytes(), uint64_t(disk->LastCluster() + 2) * kCluster);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(uint64_t(st.st_size), disk->SizeBytes());
  // System cluster, 5 directories, 1 + 3 data clusters at most.
  EXPECT_LE(uint64_t(st.st_blocks) * 512, 11 * kCluster);
}

TEST_F(BuiltImage, WordsAreByteReversedOnDisk) {
  std::vector<uint8_t> raw = image->ReadRaw(0, 8);
  EXPECT_EQ(raw, (std::vector<uint8_t>{0x07, 0x26, 0x08, 0x07, 'F', 'P', 'O', 'T'}));
  std::vector<uint8_t> view = image->ReadView(0, 8);
  EXPECT_EQ(view, (std::vector<uint8_t>{0x07, 0x08, 0x26, 0x07, 'T', 'O', 'P', 'F'}));
}

TEST_F(BuiltImage, SuperblocksFatsAndCrc) {
  EXPECT_EQ(image->SuperU32(kSbMagic), kMagicNumber);
  EXPECT_EQ(image->IdString(), "TOPFIELD TF5000PVR HDD");
  std::vector<uint8_t> sb = image->ReadView(0, 512), backup = image->ReadView(512, 512);
  EXPECT_EQ(sb, backup);
  EXPECT_EQ(sb[32], 1);
  EXPECT_EQ(sb[33], 0);
  EXPECT_EQ(image->SuperU16(kSbSectorsPerCluster), kSpc);
  // Root 0, recycle 1, DataFiles 2, ProgramFiles 3, Sub 4, film 1 cluster, frag 3.
  EXPECT_EQ(image->SuperU32(kSbUsedClusters), 9u);
  EXPECT_EQ(image->SuperU32(kSbRootFreeBytes), kCluster - 4 * 128);

  // FAT chains, FAT2 the same as FAT1.
  EXPECT_EQ(image->FatEntry(0), kFatEnd);
  for (uint32_t i = 1; i <= 4; ++i) EXPECT_EQ(image->FatEntry(i), kFatEnd) << i;
  ASSERT_EQ(chainA.size(), 1u);
  EXPECT_EQ(chainA[0], 5u);
  EXPECT_EQ(image->FatEntry(5), kFatEnd);
  EXPECT_EQ(image->FatEntry(300), 100u);
  EXPECT_EQ(image->FatEntry(100), 200u);
  EXPECT_EQ(image->FatEntry(200), kFatEnd);
  EXPECT_EQ(image->FatEntry(6), kFatFree);
  EXPECT_EQ(image->FatEntry(0x1FFFF), kFatFree);
  EXPECT_EQ(image->ReadView(kFat1Offset, 3 * kFatEntries), image->ReadView(kFat2Offset, 3 * kFatEntries));

  // CRC over Ceil(3 x LastCluster / 512) x 512 bytes of FAT1, worked out here.
  const uint32_t n = static_cast<uint32_t>(disk->LastCluster());
  std::vector<uint8_t> fat = image->ReadView(kFat1Offset, (3 * n + 511) / 512 * 512);
  const uint32_t crc = Crc32Mpeg2(fat.data(), fat.size());
  EXPECT_EQ(image->SuperU32(kSbFatCrc), crc);
  EXPECT_EQ(image->SuperU32(kSbFatCrc, true), crc);

  // Trailer.
  EXPECT_EQ(GetBE32(image->ReadView(kCluster - 8, 4).data()), 0x46697265u);
  EXPECT_EQ(GetBE32(image->ReadView(kCluster - 4, 4).data()), 0x0000ABCDu);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(image->ReadView(kCluster - 8, 4).data()), 4), "Fire");
}

TEST_F(BuiltImage, RootDirectoryAndItsCopy) {
  std::vector<uint8_t> root = image->ReadClusterView(1);
  EXPECT_EQ(image->ReadView(1024, 512), std::vector<uint8_t>(root.begin(), root.begin() + 512));
  auto entries = DecodeDirectory(root);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].second.Attribute, 0xF1);
  EXPECT_EQ(entries[0].second.Name, "__ROOT__");
  EXPECT_EQ(entries[0].second.StartCluster, 0u);
  EXPECT_EQ(entries[0].second.FreeBytes, kCluster - 512);
  EXPECT_EQ(entries[1].second.Attribute, 0xF3);
  EXPECT_EQ(entries[1].second.Name, "__RECYCLE__");
  EXPECT_EQ(entries[1].second.StartCluster, 1u);
  EXPECT_EQ(entries[2].second.Attribute, 0xF2);
  EXPECT_EQ(entries[2].second.Name, "DataFiles");
  EXPECT_EQ(entries[2].second.StartCluster, 2u);
  // DataFiles: own cluster + film (1) + Sub (1 + 3).
  EXPECT_EQ(entries[2].second.ClusterCount, 6u);
  EXPECT_EQ(entries[3].second.Name, "ProgramFiles");
  EXPECT_EQ(entries[3].second.StartCluster, 3u);
  EXPECT_EQ(entries[3].second.ClusterCount, 1u);
  // Slot 4 on is unused: 0xFF throughout.
  EXPECT_EQ(root[4 * 128], 0xFF);
  EXPECT_EQ(root[kCluster - 1], 0xFF);
}

TEST_F(BuiltImage, SubdirectoryEntriesAndFileFields) {
  std::vector<uint8_t> data = image->ReadClusterView(3);    // FAT index 2
  auto entries = DecodeDirectory(data);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].second.Attribute, 0xF1);
  EXPECT_EQ(entries[0].second.Name, ".");
  EXPECT_EQ(entries[0].second.StartCluster, 2u);
  EXPECT_EQ(entries[0].second.ClusterCount, 1u);
  EXPECT_EQ(entries[0].second.FreeBytes, kCluster - 4 * 128);
  EXPECT_EQ(entries[1].second.Attribute, 0xF0);
  EXPECT_EQ(entries[1].second.Name, "..");
  EXPECT_EQ(entries[1].second.StartCluster, 0u);
  EXPECT_EQ(entries[2].second.Name, "Sub");
  EXPECT_EQ(entries[2].second.StartCluster, 4u);
  EXPECT_EQ(entries[2].second.ClusterCount, 4u);
  EXPECT_EQ(entries[2].second.FreeBytes, 0u);

  const DecodedEntry& film = entries[3].second;
  EXPECT_EQ(film.Attribute, 0xD1);
  EXPECT_EQ(film.Name, "film.rec");
  EXPECT_EQ(film.StartCluster, 5u);
  EXPECT_EQ(film.ClusterCount, 1u);
  EXPECT_EQ(film.FreeBytes, 58368u);
  EXPECT_EQ(film.LastSectorBytes, 64u);
  EXPECT_EQ(film.CheckByte, 65u);
  EXPECT_EQ(film.CryptFlags, 4u);
  EXPECT_EQ(film.CryptValue, 2u);
  // 1 January 2000 20:15:42 -> C9 58, 20, 15, 42.
  const uint8_t* slot = data.data() + 3 * 128;
  EXPECT_EQ(slot[1], 0xC9);
  EXPECT_EQ(slot[2], 0x58);
  EXPECT_EQ(slot[3], 20);
  EXPECT_EQ(slot[4], 15);
  EXPECT_EQ(slot[5], 42);
  EXPECT_EQ(slot[6], 0);
  EXPECT_EQ(slot[7], 0);

  std::vector<uint8_t> sub = image->ReadClusterView(5);     // FAT index 4
  auto subEntries = DecodeDirectory(sub);
  ASSERT_EQ(subEntries.size(), 3u);
  EXPECT_EQ(subEntries[1].second.StartCluster, 2u);          // ".." -> DataFiles
  EXPECT_EQ(subEntries[1].second.FreeBytes, kCluster - 4 * 128);
  EXPECT_EQ(subEntries[2].second.Attribute, 0xD0);
  EXPECT_EQ(subEntries[2].second.StartCluster, 300u);
  EXPECT_EQ(subEntries[2].second.ClusterCount, 3u);
  EXPECT_EQ(subEntries[2].second.FreeBytes, (kSpc - 1) * 512u);
  EXPECT_EQ(subEntries[2].second.LastSectorBytes, 10u);
}

TEST_F(BuiltImage, FileDataAndRecordingHeader) {
  std::vector<uint8_t> first = image->ReadClusterView(6);   // FAT index 5
  EXPECT_EQ(std::memcmp(first.data(), "TFrc", 4), 0);
  EXPECT_EQ(first[4], 0x50);
  EXPECT_EQ(first[5], 0);
  EXPECT_EQ(GetBE16(first.data() + 8), 93);
  EXPECT_EQ(first[13], 0);
  EXPECT_EQ(GetBE16(first.data() + 18), 42);
  EXPECT_EQ(GetBE16(first.data() + 24), 0x100);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.data() + 28)), "Das Erste");
  EXPECT_EQ(GetBE32(first.data() + 72), 1u);
  EXPECT_EQ(first[85], 7);
  EXPECT_EQ(first[87], 0x05);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first.data() + 88)), "Tatort");
  EXPECT_EQ(GetBE16(first.data() + 362), 15);
  EXPECT_EQ(first[368], 0x05);
  EXPECT_EQ(first[369 + 6], 0x8D);
  EXPECT_EQ(first[369 + 7], 0x8A);
  EXPECT_EQ(first[1396], 3);
  uint32_t le;
  std::memcpy(&le, first.data(), 4);
  EXPECT_EQ(le, 0x63724654u);
  // Content after the header, and nothing after the end of the file.
  for (uint64_t o : {1656ull, 2000ull, 999999ull})
    EXPECT_EQ(first[o], PatternByte(5, o - 1656)) << o;
  EXPECT_EQ(first[1000000], 0);
  std::string model = disk->FileBytes("\\DataFiles\\film.rec");
  EXPECT_EQ(model.size(), 1000000u);
  EXPECT_EQ(std::memcmp(model.data(), first.data(), model.size()), 0);

  // The fragmented file: clusters in chain order.
  std::string frag = disk->FileBytes("\\DataFiles\\Sub\\frag.bin");
  ASSERT_EQ(frag.size(), 2 * kCluster + 10);
  std::string read;
  for (uint32_t index : chainB) {
    std::vector<uint8_t> c = image->ReadClusterView(index + 1);
    read.append(reinterpret_cast<const char*>(c.data()), c.size());
  }
  EXPECT_EQ(read.substr(0, frag.size()), frag);
  EXPECT_EQ(frag.substr(0, 7), "abcabca");
  EXPECT_EQ(frag[kCluster], "abc"[kCluster % 3]);
}

TEST_F(BuiltImage, RawAccessDamagesWithoutTouchingTheCrc) {
  const uint32_t crc = image->SuperU32(kSbFatCrc);
  image->SetFatEntry(7, 0x123456, true, false);
  EXPECT_EQ(image->FatEntry(7, 1), 0x123456u);
  EXPECT_EQ(image->FatEntry(7, 2), kFatFree);
  EXPECT_EQ(image->SuperU32(kSbFatCrc), crc);
  const uint32_t n = static_cast<uint32_t>(disk->LastCluster());
  const uint32_t fresh = image->RecomputeFatCrc(n);
  EXPECT_NE(fresh, crc);
  EXPECT_EQ(image->SuperU32(kSbFatCrc), fresh);
  EXPECT_EQ(image->SuperU32(kSbFatCrc, true), fresh);
  // Raw order on the disk: the entry's three bytes at 0x20000 + 21 lie in
  // the word at 0x20014 (bytes 1..3 of the view word -> raw bytes 2..0).
  std::vector<uint8_t> raw = image->ReadRaw(0x20014, 4);
  EXPECT_EQ(raw[2], 0x12);
  EXPECT_EQ(raw[1], 0x34);
  EXPECT_EQ(raw[0], 0x56);

  image->SetSuperU16(kSbSectorsPerCluster, 4512, true, false);
  EXPECT_EQ(image->SuperU16(kSbSectorsPerCluster), 4512);
  EXPECT_EQ(image->SuperU16(kSbSectorsPerCluster, true), kSpc);

  std::vector<uint8_t> slot = image->ReadSlot(2, 3);
  slot[123] = 1;
  image->WriteSlot(2, 3, slot);
  EXPECT_EQ(DecodeEntry(image->ReadSlot(2, 3).data()).SkipByte, 1);
}

TEST(DiskImageDump, SccAndScdOfAFreshDisk) {
  TempDir dir;
  DiskImage disk;                 // SPC 2068
  disk.AddFolder("\\DataFiles\\Sub", 9);
  disk.WriteDump(dir / "dump");
  const std::string scc = ReadWholeFile(dir / "dump.scc");
  const std::string scd = ReadWholeFile(dir / "dump.scd");
  ASSERT_EQ(scc.size(), 1058832u);
  ASSERT_EQ(scd.size(), 5294100u);
  std::vector<uint8_t> view = disk.SystemClusterView();
  EXPECT_EQ(std::memcmp(scc.data(), view.data(), view.size()), 0);
  double cylinders;
  int32_t tracks, sectors;
  std::memcpy(&cylinders, scc.data() + kCluster, 8);
  std::memcpy(&tracks, scc.data() + kCluster + 8, 4);
  std::memcpy(&sectors, scc.data() + kCluster + 12, 4);
  EXPECT_EQ(cylinders, double(CylindersOf(disk.SizeBytes())));
  EXPECT_EQ(tracks, 255);
  EXPECT_EQ(sectors, 63);
  const int32_t expected[] = {0, 1, 2, 3, 9};
  for (int r = 0; r < 5; ++r) {
    int32_t index;
    std::memcpy(&index, scd.data() + r * (4 + kCluster), 4);
    EXPECT_EQ(index, expected[r]);
    const uint8_t* c = reinterpret_cast<const uint8_t*>(scd.data()) + r * (4 + kCluster) + 4;
    EXPECT_EQ(c[0], 0xF1);
    EXPECT_EQ(GetBE32(c + 8), uint32_t(expected[r]));
  }
}

TEST(DiskImageModel, RefusesInconsistentSetUps) {
  DiskImage disk;
  EXPECT_THROW(disk.AddFolder("\\Missing\\Sub"), std::runtime_error);
  EXPECT_THROW(disk.AddFolder("\\DataFiles"), std::runtime_error);
  FileSpec f;
  f.Path = "\\DataFiles\\x.rec";
  f.Size = 10;
  f.StartIndex = 2;               // DataFiles' own cluster
  EXPECT_THROW(disk.AddFile(f), std::runtime_error);
  f.StartIndex = 0;
  f.Chain = {10, 11};             // one cluster is needed
  EXPECT_THROW(disk.AddFile(f), std::runtime_error);
  f.Chain.clear();
  f.Size.reset();                 // a pattern needs a size
  EXPECT_THROW(disk.AddFile(f), std::runtime_error);
  f.Size = 10;
  f.StartIndex = uint32_t(disk.LastCluster()) + 1;
  EXPECT_THROW(disk.AddFile(f), std::runtime_error);
}

TEST(DiskImageModel, SampleStreamAndErasedSlots) {
  TempDir dir;
  DiskImage disk;
  const std::string ts = ReadWholeFile(TestDataPath("sample.ts"));
  FileSpec f;
  f.Path = "\\DataFiles\\news.rec";
  f.Data = Content::SampleTs();
  f.SampleTsRepeat = 2;
  f.Header = RecHeader{};
  disk.AddErasedSlot("\\DataFiles");            // slot 2
  disk.AddFile(f);                              // slot 3
  const ModelEntry& e = disk.Entry("\\DataFiles\\news.rec");
  EXPECT_EQ(e.Size, 1656 + 2 * ts.size());
  EXPECT_EQ(e.Slot, 3);
  EXPECT_EQ(disk.FileBytes(e.Path, 1656, ts.size()), ts);
  EXPECT_EQ(disk.FileBytes(e.Path, 1656 + ts.size(), 188), ts.substr(0, 188));

  std::vector<uint8_t> view = disk.FolderClusterView("\\DataFiles");
  EXPECT_EQ(GetBE32(view.data() + 16), kCluster - 4 * 128);
  for (int i = 0; i < 128; ++i) ASSERT_EQ(view[2 * 128 + i], 0xFF);
  auto entries = DecodeDirectory(view);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].first, 3);
  EXPECT_EQ(entries[2].second.Attribute, 0xD1);
}

TEST(DiskImageModel, GivenSizeFixesLastClusterByTheRoundingRule) {
  ImageSpec spec;
  spec.SizeBytes = 250000000ull * 512;
  DiskImage disk(spec);
  // 15,561 whole cylinders = 249,987,465 sectors / 2068 = 120,883.6 -> 120,884 clusters.
  EXPECT_EQ(disk.LastCluster(), 120883);
  EXPECT_EQ(disk.SizeBytes(), 250000000ull * 512);
}

TEST(DiskImageModel, CopiesAreIndependent) {
  DiskImage a;
  DiskImage b = a;
  b.AddFolder("\\DataFiles\\OnlyInB");
  EXPECT_FALSE(a.Has("\\DataFiles\\OnlyInB"));
  EXPECT_EQ(DecodeDirectory(a.FolderClusterView("\\DataFiles")).size(), 2u);
  EXPECT_EQ(DecodeDirectory(b.FolderClusterView("\\DataFiles")).size(), 3u);
}
