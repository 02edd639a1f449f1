// The transport-stream scans: video time stamps of a cluster, and the PIDs of
// a recording. Synthetic packets for every rule, and a real stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "library/quenbrix.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kPacket = 188;

// One packet: header, an optional adaptation field of `adaptation` bytes
// (-1: none), the payload, stuffing up to 188 bytes.
Bytes MakePacket(unsigned pid, bool unitStart, const Bytes& payload, int adaptation = -1,
                 uint8_t extraHeaderBits = 0) {
  Bytes p;
  p.push_back(0x47);
  p.push_back(static_cast<uint8_t>((unitStart ? 0x40 : 0) | extraHeaderBits | ((pid >> 8) & 0x1F)));
  p.push_back(static_cast<uint8_t>(pid & 0xFF));
  if (adaptation >= 0) {
    p.push_back(0x30);
    p.push_back(static_cast<uint8_t>(adaptation));
    for (int i = 0; i < adaptation; ++i) p.push_back(i == 0 ? 0x00 : 0xFF);
  } else {
    p.push_back(0x10);
  }
  p.insert(p.end(), payload.begin(), payload.end());
  if (p.size() > kPacket) p.resize(kPacket);
  p.resize(kPacket, 0xFF);
  return p;
}

void Put33(Bytes& out, uint8_t prefix, uint64_t ts) {
  out.push_back(static_cast<uint8_t>(prefix | ((ts >> 29) & 0x0E) | 1));
  out.push_back(static_cast<uint8_t>(ts >> 22));
  out.push_back(static_cast<uint8_t>(((ts >> 14) & 0xFE) | 1));
  out.push_back(static_cast<uint8_t>(ts >> 7));
  out.push_back(static_cast<uint8_t>(((ts << 1) & 0xFE) | 1));
}

// A PES header: stream id, packet length, and PTS with DTS (flags 11), PTS
// only (10) or none (00).
enum class Stamps { Both, PtsOnly, None };
Bytes Pes(uint64_t pts, Stamps stamps = Stamps::Both, uint8_t stream = 0xE0,
          uint16_t length = 0) {
  Bytes b = {0x00, 0x00, 0x01, stream, static_cast<uint8_t>(length >> 8),
             static_cast<uint8_t>(length), 0x80};
  switch (stamps) {
    case Stamps::Both:
      b.push_back(0xC0), b.push_back(10), Put33(b, 0x30, pts), Put33(b, 0x10, pts - 3600);
      break;
    case Stamps::PtsOnly:
      b.push_back(0x80), b.push_back(5), Put33(b, 0x20, pts);
      break;
    case Stamps::None:
      b.push_back(0x00), b.push_back(0);
      break;
  }
  return b;
}

// A program map section (pointer field 0, table id 2).
Bytes Pmt(unsigned program, unsigned pcrPid) {
  return {0x00, 0x02, 0xB0, 0x17, static_cast<uint8_t>(program >> 8),
          static_cast<uint8_t>(program), 0xC1, 0x00, 0x00,
          static_cast<uint8_t>(0xE0 | (pcrPid >> 8)), static_cast<uint8_t>(pcrPid), 0xF0, 0x00};
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

struct PtsResult {
  int32_t firstHigh = -1, firstLow = -1, lastHigh = -1, lastLow = -1, pid = -1;
  uint8_t flag = 0xEE;
  uint64_t First() const { return uint64_t(firstHigh) * 65536 + uint64_t(firstLow); }
  uint64_t Last() const { return uint64_t(lastHigh) * 65536 + uint64_t(lastLow); }
};

// Scans an exact-size heap copy, so the sanitizer build sees any byte read
// past the end.
PtsResult Scan(const Bytes& data, int32_t length = -2) {
  PtsResult r;
  auto* copy = new uint8_t[data.size() > 0 ? data.size() : 1];
  std::memcpy(copy, data.data(), data.size());
  SearchPTS(copy, length == -2 ? static_cast<int32_t>(data.size()) : length, &r.firstHigh,
            &r.firstLow, &r.lastHigh, &r.lastLow, &r.pid, &r.flag);
  delete[] copy;
  return r;
}

struct Pids {
  int32_t program = 0, pmt = 0, video = 0, audio = 0, pcr = 0;
};

Pids Find(const Bytes& data, Pids start = {}, int32_t length = -2) {
  auto* copy = new uint8_t[data.size() > 0 ? data.size() : 1];
  std::memcpy(copy, data.data(), data.size());
  FindPIDs(copy, length == -2 ? static_cast<int32_t>(data.size()) : length, &start.program,
           &start.pmt, &start.video, &start.audio, &start.pcr);
  delete[] copy;
  return start;
}

// ------------------------------------------------------------- SearchPTS

TEST(SearchPts, RecordingHeaderWithoutVideoGivesTheFlagOnly) {
  Bytes cluster(kPacket * 10, 0x00);
  std::memcpy(cluster.data(), "TFrcP", 5);
  const auto r = Scan(cluster);
  EXPECT_EQ(r.flag, 1);
  EXPECT_EQ(r.pid, 0);
  EXPECT_EQ(r.firstHigh, 0);
  EXPECT_EQ(r.firstLow, 0);
  EXPECT_EQ(r.lastHigh, 0);
  EXPECT_EQ(r.lastLow, 0);

  std::memcpy(cluster.data(), "TFrcX", 5);
  EXPECT_EQ(Scan(cluster).flag, 0);
  // Shorter than the header: no flag, nothing read past the end.
  EXPECT_EQ(Scan(Bytes{'T', 'F', 'r', 'c'}).flag, 0);
}

TEST(SearchPts, FirstAndLastStampOfOneVideoPid) {
  const auto data = Join({MakePacket(0x100, true, Pes(0x123456789ull)),
                          MakePacket(0x100, false, {}),
                          MakePacket(0x101, true, Pes(0x55, Stamps::Both, 0xC0, 300)),  // audio
                          MakePacket(0x100, true, Pes(0x123458000ull))});
  const auto r = Scan(data);
  EXPECT_EQ(r.flag, 0);
  EXPECT_EQ(r.pid, 0x100);
  EXPECT_EQ(r.firstHigh, 0x12345);
  EXPECT_EQ(r.firstLow, 0x6789);
  EXPECT_EQ(r.lastHigh, 0x12345);
  EXPECT_EQ(r.lastLow, 0x8000);
}

TEST(SearchPts, EachLaterStampReplacesTheLastOne) {
  const auto data = Join({MakePacket(0x200, true, Pes(1000)), MakePacket(0x200, true, Pes(2000)),
                          MakePacket(0x200, true, Pes(0x1FFFFFFFFull))});
  const auto r = Scan(data);
  EXPECT_EQ(r.First(), 1000u);
  EXPECT_EQ(r.Last(), 0x1FFFFFFFFull);
  EXPECT_EQ(r.lastHigh, 0x1FFFF);
  EXPECT_EQ(r.lastLow, 0xFFFF);
}

TEST(SearchPts, ASecondVideoPidEndsTheScanWithoutAnAnswer) {
  const auto data = Join({MakePacket(0x100, true, Pes(5000)), MakePacket(0x100, true, Pes(6000)),
                          MakePacket(0x101, true, Pes(7000)), MakePacket(0x100, true, Pes(8000))});
  const auto r = Scan(data);
  EXPECT_EQ(r.pid, 0);
  EXPECT_EQ(r.First(), 5000u);
  EXPECT_EQ(r.Last(), 6000u);  // the packet after the second PID is not seen
}

TEST(SearchPts, AFirstStampOfZeroIsNotKept) {
  const auto data = Join({MakePacket(0x100, true, Pes(0)), MakePacket(0x100, true, Pes(900)),
                          MakePacket(0x100, true, Pes(1800))});
  const auto r = Scan(data);
  EXPECT_EQ(r.First(), 900u);
  EXPECT_EQ(r.Last(), 1800u);
}

TEST(SearchPts, PesStartIsFoundBehindTheAdaptationField) {
  // Adaptation field control 11 and length 7: the PES header starts at p+12.
  const auto packet = MakePacket(0x100, true, Pes(0x10000), 7);
  ASSERT_EQ(packet[12], 0x00);
  ASSERT_EQ(packet[14], 0x01);
  const auto r = Scan(Join({MakePacket(0x100, false, {}), packet}));
  EXPECT_EQ(r.pid, 0x100);
  EXPECT_EQ(r.First(), 0x10000u);
  EXPECT_EQ(r.Last(), 0u);
}

TEST(SearchPts, AStampOnlyHeaderSetsThePidButNoStamp) {
  const auto r = Scan(MakePacket(0x1FF, true, Pes(4444, Stamps::PtsOnly)));
  EXPECT_EQ(r.pid, 0x1FF);
  EXPECT_EQ(r.First(), 0u);
  // So it takes part in the PID check too.
  const auto two = Scan(Join({MakePacket(0x1FF, true, Pes(1, Stamps::None)),
                              MakePacket(0x1FE, true, Pes(4444))}));
  EXPECT_EQ(two.pid, 0);
  EXPECT_EQ(two.First(), 0u);
}

TEST(SearchPts, PacketsThatDoNotQualifyAreSkipped) {
  const auto r = Scan(Join({
      MakePacket(0x100, false, Pes(10)),                        // no unit start
      MakePacket(0x100, true, Pes(20), -1, 0x80),               // transport error
      MakePacket(0x100, true, Pes(30), -1, 0x20),               // transport priority
      MakePacket(0x100, true, Pes(40, Stamps::Both, 0xC0)),     // audio stream id
      MakePacket(0x100, true, Pes(50, Stamps::Both, 0xE0, 9)),  // bounded PES
      MakePacket(0x100, true, {0x00, 0x00, 0x02, 0xE0, 0, 0, 0x80, 0xC0}),  // no start code
  }));
  EXPECT_EQ(r.pid, 0);
  EXPECT_EQ(r.First(), 0u);
  // Stream ids 0xF0..0xFF count as video here.
  EXPECT_EQ(Scan(MakePacket(0x100, true, Pes(60, Stamps::Both, 0xFF))).First(), 60u);
}

TEST(SearchPts, OnlyPacketsOnTheGridAndWhollyInsideCount) {
  // One byte of offset: the sync byte is not at a multiple of 188.
  Bytes shifted = Join({Bytes{0x00}, MakePacket(0x100, true, Pes(77))});
  EXPECT_EQ(Scan(shifted).pid, 0);
  // A last packet cut short is not examined, even though its header is there.
  Bytes cut = Join({MakePacket(0x100, true, Pes(77)), MakePacket(0x100, true, Pes(88))});
  cut.resize(kPacket + 100);
  const auto r = Scan(cut);
  EXPECT_EQ(r.First(), 77u);
  EXPECT_EQ(r.Last(), 0u);
  // The length given counts, not the buffer behind it.
  EXPECT_EQ(Scan(Join({MakePacket(0x100, true, Pes(77))}), kPacket - 1).pid, 0);
}

TEST(SearchPts, NothingIsReadPastTheEndOfTheBuffer) {
  // Long adaptation fields in the last packet push the PES header to its end
  // and beyond: whatever would need a byte past the buffer does not match.
  for (int adaptation = 170; adaptation <= 255; ++adaptation) {
    Bytes packet = MakePacket(0x100, true, {}, adaptation);
    const size_t q = 4 + size_t(adaptation) + 1;
    const Bytes pes = Pes(1234);
    for (size_t i = 0; i < pes.size() && q + i < kPacket; ++i) packet[q + i] = pes[i];
    const auto r = Scan(packet);
    if (q + 5 < kPacket) {
      EXPECT_EQ(r.pid, 0x100) << adaptation;  // header complete up to its length
    } else {
      EXPECT_EQ(r.pid, 0) << adaptation;
    }
    EXPECT_EQ(r.First(), 0u) << adaptation;  // the stamp never fits
  }
}

TEST(SearchPts, ANegativeOrZeroLengthScansNothing) {
  const auto data = MakePacket(0x100, true, Pes(77));
  for (int32_t length : {0, -1, -188, INT32_MIN}) {
    const auto r = Scan(data, length);
    EXPECT_EQ(r.pid, 0);
    EXPECT_EQ(r.firstHigh, 0);
    EXPECT_EQ(r.lastLow, 0);
    EXPECT_EQ(r.flag, 0);
  }
}

// -------------------------------------------------------------- FindPIDs

TEST(FindPids, FindsPmtVideoAndAudio) {
  const auto data = Join({MakePacket(0x0000, true, {0x00, 0x00, 0xB0}),  // PAT: PID 0 ignored
                          MakePacket(0x1000, true, Pmt(42, 0x100)),
                          MakePacket(0x101, true, Pes(1, Stamps::PtsOnly, 0xC0, 200)),
                          MakePacket(0x100, true, Pes(1)), MakePacket(0x102, true, Pes(1))});
  const auto r = Find(data);
  EXPECT_EQ(r.program, 42);
  EXPECT_EQ(r.pmt, 0x1000);
  EXPECT_EQ(r.pcr, 0x100);
  EXPECT_EQ(r.video, 0x100);
  EXPECT_EQ(r.audio, 0x101);
}

TEST(FindPids, OnlyPidsAbove63Count) {
  const auto data = Join({MakePacket(0x20, true, Pes(1)), MakePacket(0x3F, true, Pmt(7, 0x3F)),
                          MakePacket(0x40, true, Pmt(9, 0x1FFF))});
  const auto r = Find(data);
  EXPECT_EQ(r.video, 0);
  EXPECT_EQ(r.pmt, 0x40);
  EXPECT_EQ(r.program, 9);
  EXPECT_EQ(r.pcr, 0x1FFF);
}

TEST(FindPids, StreamIdsOutsideAudioAndVideoSetNothing) {
  const auto data = Join({MakePacket(0x100, true, Pes(1, Stamps::None, 0xF0)),
                          MakePacket(0x101, true, Pes(1, Stamps::None, 0xBD)),
                          MakePacket(0x102, true, Pes(1, Stamps::None, 0xDF)),
                          MakePacket(0x103, true, Pes(1, Stamps::None, 0xEF))});
  const auto r = Find(data);
  EXPECT_EQ(r.audio, 0x102);
  EXPECT_EQ(r.video, 0x103);
}

TEST(FindPids, FirstOccurrencesWinAndLaterPmtsOverwrite) {
  const auto data = Join({MakePacket(0x100, true, Pes(1)), MakePacket(0x1000, true, Pmt(1, 0x100)),
                          MakePacket(0x200, true, Pes(1)), MakePacket(0x1001, true, Pmt(2, 0x200)),
                          MakePacket(0x101, true, Pes(1, Stamps::PtsOnly, 0xC0))});
  const auto r = Find(data);
  EXPECT_EQ(r.video, 0x100);
  EXPECT_EQ(r.pmt, 0x1001);
  EXPECT_EQ(r.program, 2);
  EXPECT_EQ(r.pcr, 0x200);
  EXPECT_EQ(r.audio, 0x101);
}

TEST(FindPids, StopsWhereTheLastOfTheThreeIsFound) {
  const auto data = Join({MakePacket(0x1000, true, Pmt(42, 0x100)), MakePacket(0x100, true, Pes(1)),
                          MakePacket(0x101, true, Pes(1, Stamps::PtsOnly, 0xC0)),
                          MakePacket(0x1001, true, Pmt(43, 0x200))});
  const auto r = Find(data);
  EXPECT_EQ(r.pmt, 0x1000);
  EXPECT_EQ(r.program, 42);
  EXPECT_EQ(r.pcr, 0x100);
}

TEST(FindPids, TheCallersValuesStayWhenNothingIsFound) {
  Pids start{1, 2, 0, 4, 5};
  const auto r = Find(Join({MakePacket(0x300, false, Pes(1))}), start);
  EXPECT_EQ(r.program, 1);
  EXPECT_EQ(r.pmt, 2);
  EXPECT_EQ(r.video, 0);
  EXPECT_EQ(r.audio, 4);
  EXPECT_EQ(r.pcr, 5);
  const auto none = Find(MakePacket(0x1000, true, Pmt(42, 0x100)), start, -1);
  EXPECT_EQ(none.program, 1);
}

TEST(FindPids, TheErrorIndicatorIsNotTested) {
  const auto r = Find(MakePacket(0x100, true, Pes(1), -1, 0x80));
  EXPECT_EQ(r.video, 0x100);
}

TEST(FindPids, PesStartBehindAnAdaptationFieldAndNothingPastTheEnd) {
  EXPECT_EQ(Find(MakePacket(0x100, true, Pes(1), 7)).video, 0x100);
  for (int adaptation = 170; adaptation <= 255; ++adaptation) {
    Bytes packet = MakePacket(0x1000, true, {}, adaptation);
    const size_t q = 4 + size_t(adaptation) + 1;
    const Bytes pmt = Pmt(42, 0x100);
    for (size_t i = 0; i < pmt.size() && q + i < kPacket; ++i) packet[q + i] = pmt[i];
    const auto r = Find(packet);
    EXPECT_EQ(r.pmt, q + 10 < kPacket ? 0x1000 : 0) << adaptation;
  }
}

// ------------------------------------------------------- a real stream

Bytes ReadSample() {
  std::ifstream in(std::string(QUENBRIX_TEST_DATA) + "/sample.ts", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Video PTS values (those of headers with PTS and DTS) of the packets that lie
// wholly inside data, parsed field by field.
std::vector<uint64_t> VideoStamps(const Bytes& data, unsigned videoPid) {
  std::vector<uint64_t> stamps;
  for (size_t p = 0; p + kPacket <= data.size(); p += kPacket) {
    const uint8_t* t = &data[p];
    if (t[0] != 0x47) continue;
    const bool unitStart = (t[1] & 0x40) != 0;
    const unsigned pid = ((t[1] & 0x1F) << 8) | t[2];
    const unsigned control = (t[3] >> 4) & 3;
    if (!unitStart || pid != videoPid || (control & 1) == 0) continue;
    size_t at = 4;
    if (control == 3) at += 1 + t[4];
    if (at + 14 > kPacket) continue;
    const uint8_t* pes = t + at;
    if (pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || (pes[3] & 0xF0) != 0xE0) continue;
    const unsigned flags = pes[7] >> 6;
    if (flags != 3) continue;
    const uint8_t* s = pes + 9;
    stamps.push_back((uint64_t((s[0] >> 1) & 7) << 30) | (uint64_t(s[1]) << 22) |
                     (uint64_t(s[2] >> 1) << 15) | (uint64_t(s[3]) << 7) | (s[4] >> 1));
  }
  return stamps;
}

TEST(RealStream, FindPidsGivesTheProgramOfTheSample) {
  const Bytes ts = ReadSample();
  ASSERT_GT(ts.size(), 100 * kPacket) << "missing " << QUENBRIX_TEST_DATA << "/sample.ts";
  const auto r = Find(ts);
  EXPECT_EQ(r.program, 42);
  EXPECT_EQ(r.pmt, 0x1000);
  EXPECT_EQ(r.video, 0x100);
  EXPECT_EQ(r.audio, 0x101);
  EXPECT_EQ(r.pcr, 0x100);
}

TEST(RealStream, SearchPtsGivesTheFirstAndLastVideoStampOfACluster) {
  const Bytes ts = ReadSample();
  // A cluster of 2068 sectors (5632 packets) from packet 300 on.
  const size_t start = 300 * kPacket, length = 2068 * 512;
  ASSERT_GE(ts.size(), start + length);
  const Bytes cluster(ts.begin() + start, ts.begin() + start + length);

  const auto stamps = VideoStamps(cluster, 0x100);
  ASSERT_GE(stamps.size(), 2u);
  const auto r = Scan(cluster);
  EXPECT_EQ(r.flag, 0);
  EXPECT_EQ(r.pid, 0x100);
  EXPECT_EQ(r.First(), stamps.front());
  EXPECT_EQ(r.Last(), stamps.back());
  // As a media player reads the same packets (90 kHz units): the I/P frame at
  // packet 300 has PTS 1.8 s, the last I/P frame starting in the cluster 9.12 s.
  EXPECT_EQ(r.First(), 162000u);
  EXPECT_EQ(r.Last(), 820800u);
}

}  // namespace
