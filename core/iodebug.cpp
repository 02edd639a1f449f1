#include "core/iodebug.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "core/error_handler.h"
#include "core/settings.h"

namespace core {

bool IODebug = false;

std::string IODebugHead(std::string_view name, int width) {
  std::string head(name);
  if (width > static_cast<int>(head.size())) head.append(static_cast<size_t>(width) - head.size(), ' ');
  return head;
}

std::string IODebugLogFile() { return AppDir() + "IODebug.log"; }

void AddIODebugLog(const std::string& text) {
  if (!IODebug) return;
  ProcScope scope("AddIODebugLog");
  const std::tm now = LocalNow();
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d %02d%02d%02d ", now.tm_year + 1900,
                now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
  const std::string line = stamp + text + "\r\n";
  // Opened and closed per line, so the log is complete whatever happens next.
  TRY_STATEMENT({
    const std::string file = IODebugLogFile();
    std::FILE* log = std::fopen(file.c_str(), "ab");
    if (!log) RaiseSystemError(errno, file);
    const bool written = std::fwrite(line.data(), 1, line.size(), log) == line.size();
    const int writeError = errno;
    const bool closed = std::fclose(log) == 0;
    if (!written || !closed) RaiseSystemError(written ? errno : writeError, file);
  });
}

}  // namespace core
