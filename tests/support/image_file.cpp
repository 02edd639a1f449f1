// Raw access to an image file, and decoding of directory entries.
#include "tests/support/image_builder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace imagebuilder {

namespace {

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error("image file: " + what); }

}  // namespace

ImageFile::ImageFile(const std::string& path, uint32_t sectorsPerCluster) : spc_(sectorsPerCluster) {
  fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) Fail("cannot open " + path + ": " + std::strerror(errno));
  if (spc_ == 0) {
    spc_ = SuperU16(kSbSectorsPerCluster);
    if (spc_ == 0) spc_ = 1;
  }
}

ImageFile::~ImageFile() {
  if (fd_ >= 0) close(fd_);
}

uint64_t ImageFile::Size() const {
  struct stat st;
  if (fstat(fd_, &st) != 0) Fail("fstat");
  return static_cast<uint64_t>(st.st_size);
}

std::vector<uint8_t> ImageFile::ReadRaw(uint64_t offset, size_t length) const {
  std::vector<uint8_t> bytes(length);
  size_t done = 0;
  while (done < length) {
    ssize_t n = pread(fd_, bytes.data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("read past the end or failed at " + std::to_string(offset + done));
    done += static_cast<size_t>(n);
  }
  return bytes;
}

void ImageFile::WriteRaw(uint64_t offset, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write failed at " + std::to_string(offset + done));
    done += static_cast<size_t>(n);
  }
}

std::vector<uint8_t> ImageFile::ReadView(uint64_t offset, size_t length) const {
  const uint64_t begin = offset & ~uint64_t(3);
  const uint64_t end = (offset + length + 3) & ~uint64_t(3);
  std::vector<uint8_t> words = ReadRaw(begin, static_cast<size_t>(end - begin));
  SwapWords(words.data(), words.size());
  return std::vector<uint8_t>(words.begin() + static_cast<long>(offset - begin),
                              words.begin() + static_cast<long>(offset - begin + length));
}

void ImageFile::WriteView(uint64_t offset, const std::vector<uint8_t>& bytes) {
  const uint64_t begin = offset & ~uint64_t(3);
  const uint64_t end = (offset + bytes.size() + 3) & ~uint64_t(3);
  std::vector<uint8_t> words = ReadRaw(begin, static_cast<size_t>(end - begin));
  SwapWords(words.data(), words.size());
  std::memcpy(words.data() + (offset - begin), bytes.data(), bytes.size());
  SwapWords(words.data(), words.size());
  WriteRaw(begin, words);
}

std::vector<uint8_t> ImageFile::ReadClusterView(uint32_t diskCluster) const {
  return ReadView(uint64_t(diskCluster) * ClusterBytes(), ClusterBytes());
}

void ImageFile::WriteClusterView(uint32_t diskCluster, const std::vector<uint8_t>& view) {
  if (view.size() != ClusterBytes()) Fail("a cluster has " + std::to_string(ClusterBytes()) + " bytes");
  std::vector<uint8_t> raw = view;
  SwapWords(raw.data(), raw.size());
  WriteRaw(uint64_t(diskCluster) * ClusterBytes(), raw);
}

std::vector<uint8_t> ImageFile::ReadClusterRaw(uint32_t diskCluster) const {
  return ReadRaw(uint64_t(diskCluster) * ClusterBytes(), ClusterBytes());
}

void ImageFile::WriteClusterRaw(uint32_t diskCluster, const std::vector<uint8_t>& raw) {
  if (raw.size() != ClusterBytes()) Fail("a cluster has " + std::to_string(ClusterBytes()) + " bytes");
  WriteRaw(uint64_t(diskCluster) * ClusterBytes(), raw);
}

uint32_t ImageFile::FatEntry(uint32_t index, int fat) const {
  if (index >= kFatEntries) Fail("FAT index out of range");
  const uint32_t base = fat == 2 ? kFat2Offset : kFat1Offset;
  return GetBE24(ReadView(base + 3ull * index, 3).data());
}

void ImageFile::SetFatEntry(uint32_t index, uint32_t value, bool fat1, bool fat2) {
  if (index >= kFatEntries) Fail("FAT index out of range");
  std::vector<uint8_t> b(3);
  PutBE24(b.data(), value);
  if (fat1) WriteView(kFat1Offset + 3ull * index, b);
  if (fat2) WriteView(kFat2Offset + 3ull * index, b);
}

uint32_t ImageFile::SuperU32(uint32_t offset, bool backup) const {
  return GetBE32(ReadView(offset + (backup ? kBackupSuperblock : 0), 4).data());
}

uint16_t ImageFile::SuperU16(uint32_t offset, bool backup) const {
  return GetBE16(ReadView(offset + (backup ? kBackupSuperblock : 0), 2).data());
}

void ImageFile::SetSuperU32(uint32_t offset, uint32_t value, bool main, bool backup) {
  std::vector<uint8_t> b(4);
  PutBE32(b.data(), value);
  if (main) WriteView(offset, b);
  if (backup) WriteView(offset + kBackupSuperblock, b);
}

void ImageFile::SetSuperU16(uint32_t offset, uint16_t value, bool main, bool backup) {
  std::vector<uint8_t> b(2);
  PutBE16(b.data(), value);
  if (main) WriteView(offset, b);
  if (backup) WriteView(offset + kBackupSuperblock, b);
}

std::string ImageFile::IdString(bool backup) const {
  std::vector<uint8_t> b = ReadView(kSbIdString + (backup ? kBackupSuperblock : 0), 28);
  std::string s;
  for (uint8_t c : b) {
    if (c == 0) break;
    s += static_cast<char>(c);
  }
  return s;
}

uint32_t ImageFile::ComputeFatCrc(uint32_t n) const {
  std::vector<uint8_t> fat = ReadView(kFat1Offset, FatCrcLength(n));
  return Crc32Mpeg2(fat.data(), fat.size());
}

uint32_t ImageFile::RecomputeFatCrc(uint32_t n) {
  const uint32_t crc = ComputeFatCrc(n);
  SetSuperU32(kSbFatCrc, crc);
  return crc;
}

std::vector<uint8_t> ImageFile::ReadSlot(uint32_t fatIndex, int slot) const {
  return ReadView((uint64_t(fatIndex) + 1) * ClusterBytes() + uint64_t(kSlotBytes) * slot, kSlotBytes);
}

void ImageFile::WriteSlot(uint32_t fatIndex, int slot, const std::vector<uint8_t>& bytes) {
  if (bytes.size() != kSlotBytes) Fail("a slot has 128 bytes");
  WriteView((uint64_t(fatIndex) + 1) * ClusterBytes() + uint64_t(kSlotBytes) * slot, bytes);
}

DecodedEntry DecodeEntry(const uint8_t* s) {
  DecodedEntry e;
  e.Attribute = s[0];
  e.Mjd = GetBE16(s + 1);
  e.Hour = s[3];
  e.Minute = s[4];
  e.Second = s[5];
  e.StartCluster = GetBE32(s + 8);
  e.ClusterCount = GetBE32(s + 12);
  e.FreeBytes = GetBE32(s + 16);
  for (int i = 20; i < 120 && s[i] != 0; ++i) e.Name += static_cast<char>(s[i]);
  e.CryptFlags = s[120];
  e.CryptValue = s[121];
  e.SkipByte = s[123];
  e.CheckByte = s[125];
  e.LastSectorBytes = GetBE16(s + 126);
  return e;
}

std::vector<std::pair<int, DecodedEntry>> DecodeDirectory(const std::vector<uint8_t>& view,
                                                          bool honourFreeBytes) {
  std::vector<std::pair<int, DecodedEntry>> out;
  if (view.size() < kSlotBytes) return out;
  uint64_t used = view.size();
  if (honourFreeBytes) {
    const uint32_t freeBytes = GetBE32(view.data() + 16);
    used = freeBytes <= view.size() ? view.size() - freeBytes : 0;
  }
  for (uint64_t o = 0; o + kSlotBytes <= view.size() && o < used; o += kSlotBytes)
    if (view[o] != kAttrUnused) out.emplace_back(static_cast<int>(o / kSlotBytes), DecodeEntry(view.data() + o));
  return out;
}

}  // namespace imagebuilder
