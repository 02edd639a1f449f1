// Run-time binding of libQuenbrix.so: loaded on the first call of any of its
// functions, each function resolved on its first use and kept.
#include "library/loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace qlib {
namespace {

constexpr const char* kLibraryName = "libQuenbrix.so";

std::mutex Lock;  // guards everything below
void* Library = nullptr;
std::string LibraryPath;  // empty: the default
FailureHandler Handler;

void DefaultFailure(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
  std::exit(1);
}

// Hands the message to the handler; a handler that returns ends the program.
[[noreturn]] void Fail(const std::string& message) {
  FailureHandler handler;
  {
    std::lock_guard<std::mutex> guard(Lock);
    handler = Handler;
  }
  if (handler) handler(message);
  DefaultFailure(message);
  std::abort();  // not reached
}

std::string ExeDir() {
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "./";
  std::string exe(path, static_cast<size_t>(n));
  const size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

// Caller holds Lock.
std::string PathToLoad() {
  if (!LibraryPath.empty()) return LibraryPath;
  if (const char* env = std::getenv("QUENBRIX_LIBRARY"); env != nullptr && *env != '\0')
    return env;
  return ExeDir() + kLibraryName;
}

// The function's address; reports a missing library or function.
void* Resolve(const char* name) {
  std::string message;
  {
    std::lock_guard<std::mutex> guard(Lock);
    if (Library == nullptr) {
      const std::string path = PathToLoad();
      Library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (Library == nullptr) {
        const char* why = ::dlerror();
        message = std::string("Cannot load the library ") + kLibraryName + " from " + path +
                  (why != nullptr ? std::string(": ") + why : std::string());
      } else {
        LibraryPath = path;
      }
    }
    if (Library != nullptr) {
      ::dlerror();
      if (void* f = ::dlsym(Library, name); f != nullptr) return f;
      message = std::string("The library ") + LibraryPath + " has no function " + name;
    }
  }
  Fail(message);
}

template <typename F>
F Bind(std::atomic<void*>& slot, const char* name) {
  void* f = slot.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = Resolve(name);
    slot.store(f, std::memory_order_release);
  }
  return reinterpret_cast<F>(f);
}

// The function `name` of the library, typed as the same function here.
#define QLIB_BIND(name)                          \
  static std::atomic<void*> slot_##name{nullptr}; \
  const auto fn_##name = Bind<decltype(&::qlib::name)>(slot_##name, #name)

}  // namespace

FailureHandler SetFailureHandler(FailureHandler handler) {
  std::lock_guard<std::mutex> guard(Lock);
  FailureHandler previous = std::move(Handler);
  Handler = std::move(handler);
  return previous;
}

void SetLibraryPath(const std::string& path) {
  std::lock_guard<std::mutex> guard(Lock);
  if (Library == nullptr) LibraryPath = path;
}

void Calc_CRC(uint8_t* buffer, int32_t entries) {
  QLIB_BIND(Calc_CRC);
  fn_Calc_CRC(buffer, entries);
}

void TruncateFile(const char* fileName, int32_t newSize) {
  QLIB_BIND(TruncateFile);
  fn_TruncateFile(fileName, newSize);
}

int32_t TruncateFile64(const char* fileName, int64_t newSize) {
  QLIB_BIND(TruncateFile64);
  return fn_TruncateFile64(fileName, newSize);
}

int32_t Smart(int32_t handle, uint8_t* identify, uint8_t* attributes, uint8_t* thresholds) {
  QLIB_BIND(Smart);
  return fn_Smart(handle, identify, attributes, thresholds);
}

void FindPIDs(const uint8_t* buffer, int32_t length, int32_t* programNumber, int32_t* pmtPid,
              int32_t* videoPid, int32_t* audioPid, int32_t* pcrPid) {
  QLIB_BIND(FindPIDs);
  fn_FindPIDs(buffer, length, programNumber, pmtPid, videoPid, audioPid, pcrPid);
}

int32_t Ceil(double value) {
  QLIB_BIND(Ceil);
  return fn_Ceil(value);
}

void SearchPTS(const uint8_t* buffer, int32_t length, int32_t* firstHigh, int32_t* firstLow,
               int32_t* lastHigh, int32_t* lastLow, int32_t* videoPid, uint8_t* headerFlag) {
  QLIB_BIND(SearchPTS);
  fn_SearchPTS(buffer, length, firstHigh, firstLow, lastHigh, lastLow, videoPid, headerFlag);
}

uint16_t SwapOrderWord(uint16_t value) {
  QLIB_BIND(SwapOrderWord);
  return fn_SwapOrderWord(value);
}

uint32_t SwapOrderLong(uint32_t value) {
  QLIB_BIND(SwapOrderLong);
  return fn_SwapOrderLong(value);
}

int32_t DiskIOWriteSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                           const void* buffer) {
  QLIB_BIND(DiskIOWriteSectors);
  return fn_DiskIOWriteSectors(handle, first, count, size, buffer);
}

int32_t DiskIOReadSectors(int32_t handle, uint32_t first, int32_t count, int32_t size,
                          void* buffer) {
  QLIB_BIND(DiskIOReadSectors);
  return fn_DiskIOReadSectors(handle, first, count, size, buffer);
}

void AdaptFilename(const char* source, char* destination) {
  QLIB_BIND(AdaptFilename);
  fn_AdaptFilename(source, destination);
}

void TopfFAT24ToLong(uint32_t* value) {
  QLIB_BIND(TopfFAT24ToLong);
  fn_TopfFAT24ToLong(value);
}

void TopfSwapDWORD(void* buffer, int32_t sectors) {
  QLIB_BIND(TopfSwapDWORD);
  fn_TopfSwapDWORD(buffer, sectors);
}

}  // namespace qlib
