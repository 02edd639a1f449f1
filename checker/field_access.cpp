#include "checker/field_access.h"

#include <cmath>
#include <ctime>

#include "checker/disk_layer.h"
#include "core/disk_format.h"
#include "core/error_handler.h"

namespace checker {

namespace {

// The field [offset, offset + length) must lie inside ClusterBuffer.
uint8_t* Field(int32_t offset, int32_t length) {
  if (offset < 0 || length < 0 || int64_t(offset) + length > int64_t(ClusterBuffer.size()))
    core::Raise(9, "Subscript out of range");
  return ClusterBuffer.data() + offset;
}

// Days from 30 December 1899 to the given civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468 + 25569;   // 1970-01-01 is day 25569
}

}  // namespace

int16_t GetTopfWord(int32_t offset) {
  return int16_t(core::GetBE16(Field(offset, 2)));
}

int32_t GetTopfLong(int32_t offset) { return int32_t(core::GetBE32(Field(offset, 4))); }

void SetTopfWord(int32_t offset, int32_t value) { core::PutBE16(Field(offset, 2), uint16_t(value)); }

void SetTopfLong(int32_t offset, int32_t value) { core::PutBE32(Field(offset, 4), uint32_t(value)); }

std::string GetTopfString(int32_t offset) {
  const uint8_t* p = Field(offset, 0);
  const uint8_t* end = ClusterBuffer.data() + ClusterBuffer.size();
  const uint8_t* q = p;
  while (q < end && *q != 0) ++q;
  return std::string(reinterpret_cast<const char*>(p), size_t(q - p));
}

void SetTopfString(int32_t offset, const std::string& text) {
  std::string bytes = text;
  if (bytes.empty() || bytes.back() != '\0') bytes.push_back('\0');
  uint8_t* p = Field(offset, int32_t(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), p);
}

double GetTopfDate(int32_t offset) {
  const uint8_t* p = Field(offset, 5);
  const int32_t mjd = p[0] << 8 | p[1];
  return double(mjd - core::kMjdOffset) + p[2] / 24.0 + p[3] / 1440.0 + p[4] / 86400.0;
}

void SetTopfDate(int32_t offset, double when) {
  uint8_t* p = Field(offset, 5);
  const double days = std::floor(when);
  const int64_t mjd = int64_t(days) + core::kMjdOffset;
  int64_t seconds = int64_t(std::llround((when - days) * 86400.0));
  if (seconds >= 86400) seconds = 86399;
  if (seconds < 0) seconds = 0;
  p[0] = uint8_t(uint64_t(mjd) >> 8);
  p[1] = uint8_t(mjd);
  p[2] = uint8_t(seconds / 3600);
  p[3] = uint8_t(seconds / 60 % 60);
  p[4] = uint8_t(seconds % 60);
}

double NowDateValue() {
  const std::tm now = core::LocalNow();
  return double(DaysFromCivil(now.tm_year + 1900, unsigned(now.tm_mon + 1), unsigned(now.tm_mday))) +
         (now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec) / 86400.0;
}

}  // namespace checker
