// Recorder files for the job and write-cut tests: the recorder's usual
// cluster size, a file spec filled with a seeded pattern, and the bytes that
// pattern gives.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/image_builder.h"

namespace jobtest {

constexpr uint32_t kSpc = 2068;                  // the recorder's usual cluster size
constexpr uint64_t kCluster = kSpc * 512;

inline imagebuilder::FileSpec File(const std::string& path, uint64_t size, uint32_t seed) {
  imagebuilder::FileSpec f;
  f.Path = path;
  f.Size = size;
  f.Data = imagebuilder::Content::Pattern(seed);
  return f;
}

inline std::string PatternBytes(uint32_t seed, uint64_t size) {
  std::string s(size_t(size), '\0');
  for (uint64_t o = 0; o < size; ++o) s[size_t(o)] = char(imagebuilder::PatternByte(seed, o));
  return s;
}

}  // namespace jobtest
