#include "core/iodebug.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <unistd.h>

#include "core/error_handler.h"
#include "core/settings.h"
#include "platform/platform.h"

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
    const int log = platform::PcFileAppend(file);
    if (log < 0) RaisePcFileError(file);
    const bool written = platform::PcFileWriteAll(log, line.data(), line.size());
    const int writeError = platform::LastError();
    // Closed without a flush to the storage: a line per disk operation must
    // not wait for the disk each time; what was written survives the program.
    const bool closed = ::close(log) == 0;
    const int closeError = errno;
    if (!written || !closed) RaisePcFileError(file, written ? closeError : writeError);
  });
}

}  // namespace core
