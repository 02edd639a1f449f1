// Shared set-up of the recording-editor tests: the writer fixture (a
// temporary program and device folder, the scripted Ui, drive 0 loaded on
// side 0) with a disk that holds recordings made from the sample stream,
// with and without a header, and helpers to compare the whole image.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/core/writer_fixture.h"
#include "tests/mainwindow/test_app.h"

namespace editortest {

namespace ib = imagebuilder;

constexpr uint32_t kSpc = 2068;
constexpr uint64_t kClusterBytes = uint64_t(kSpc) * 512;

// \DataFiles\ holds: bare.rec (sample stream, no header, two clusters),
// UPPER.REC (the same, upper-case extension), good.rec (header with texts),
// zeros.rec (no header, no stream), note.txt (sample stream), a folder
// named dir.rec, and Sub\inner.rec (header).
inline ib::DiskImage EditorImage() {
  ib::DiskImage img(writertest::SmallSpec(30));
  img.AddFolder("\\DataFiles\\dir.rec");
  img.AddFolder("\\DataFiles\\Sub");
  ib::FileSpec bare;
  bare.Path = "\\DataFiles\\bare.rec";
  bare.Data = ib::Content::SampleTs();
  bare.Size = 2 * kClusterBytes - 1000;
  img.AddFile(bare);
  ib::FileSpec upper = bare;
  upper.Path = "\\DataFiles\\UPPER.REC";
  img.AddFile(upper);
  ib::FileSpec good;
  good.Path = "\\DataFiles\\good.rec";
  good.Header = ib::RecHeader{};
  good.Header->EventName = "News";
  good.Header->EventText = "Line one\r\nLine two";
  good.Data = ib::Content::SampleTs();
  good.Size = kClusterBytes + 5000;
  good.When.Second = 33;
  img.AddFile(good);
  ib::FileSpec zeros;
  zeros.Path = "\\DataFiles\\zeros.rec";
  zeros.Data = ib::Content::Zeros();
  zeros.Size = 50000;
  img.AddFile(zeros);
  ib::FileSpec note = bare;
  note.Path = "\\DataFiles\\note.txt";
  img.AddFile(note);
  ib::FileSpec inner = good;
  inner.Path = "\\DataFiles\\Sub\\inner.rec";
  img.AddFile(inner);
  return img;
}

class EditorTest : public writertest::WriterTest {
 protected:
  void SetUp() override {
    TestApp();
    WriterTest::SetUp();
  }

  // First view bytes of a disk cluster.
  std::vector<uint8_t> ClusterView(uint32_t diskCluster) {
    return Image().ReadClusterView(diskCluster);
  }
  // Disk cluster of a record's first cluster / of its directory cluster.
  uint32_t FirstCluster(const std::string& name) { return uint32_t(Rec(name).StartCluster) + 1; }
  uint32_t DirClusterOf(const std::string& name) { return uint32_t(Rec(name).DirCluster) + 1; }
  uint64_t SlotOffset(const std::string& name) { return uint64_t(Rec(name).Slot) * 128; }

  // Checks that the image changed exactly at the given view bytes (offsets
  // in the whole image) and nowhere else.
  void ExpectChangedOnly(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after,
                         const std::set<uint64_t>& allowed) {
    const std::set<uint64_t> changed = ChangedViewBytes(before, after);
    size_t unexpected = 0;
    uint64_t first = 0;
    for (uint64_t at : changed)
      if (!allowed.count(at) && unexpected++ == 0) first = at;
    EXPECT_EQ(unexpected, 0u) << "first unexpected change at cluster " << first / kClusterBytes
                              << " offset " << first % kClusterBytes;
  }
  // The allowed range [from, to) of disk cluster `c`.
  static void Allow(std::set<uint64_t>& set, uint32_t c, uint64_t from, uint64_t to) {
    for (uint64_t o = from; o < to; ++o) set.insert(uint64_t(c) * kClusterBytes + o);
  }
};

// The editor image loaded on the left side; names are those of \DataFiles.
class DataFilesTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    Load(EditorImage());
  }
  int Index(const std::string& name) { return IndexOf("\\DataFiles\\" + name); }
  core::FileRec& R(const std::string& name) { return Rec("\\DataFiles\\" + name); }
  // Offset in the whole image of byte `offset` of the file's directory entry.
  uint64_t EntryByte(const std::string& name, int offset) {
    return uint64_t(DirClusterOf("\\DataFiles\\" + name)) * kClusterBytes +
           SlotOffset("\\DataFiles\\" + name) + uint64_t(offset);
  }
};

}  // namespace editortest
