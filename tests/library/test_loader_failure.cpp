// A missing library or function ends in the failure handler with a message
// that names it. Every case runs in a child process, because the library, once
// loaded, stays; this process never loads it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "library/loader.h"

namespace {

using ::testing::ExitedWithCode;

// Runs `call` with a handler that throws; prints what was caught and ends
// with status 7, or with 8 when nothing was thrown.
template <typename F>
void CatchFailure(F call) {
  qlib::SetFailureHandler([](const std::string& message) { throw std::runtime_error(message); });
  try {
    call();
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "caught: %s\n", e.what());
    std::fflush(stderr);
    std::_Exit(7);
  }
  std::_Exit(8);
}

TEST(LoaderFailureDeathTest, AMissingLibraryEndsTheProgramWithAClearMessage) {
  EXPECT_EXIT(
      {
        qlib::SetLibraryPath("/nonexistent/folder/libQuenbrix.so");
        qlib::Ceil(1.0);
        std::_Exit(9);
      },
      ExitedWithCode(1), "Cannot load the library libQuenbrix.so from /nonexistent/folder/libQuenbrix.so");
}

TEST(LoaderFailureDeathTest, AMissingLibraryGoesToTheInstalledHandler) {
  EXPECT_EXIT(
      {
        qlib::SetLibraryPath("/nonexistent/folder/libQuenbrix.so");
        CatchFailure([] { qlib::SwapOrderLong(1); });
      },
      ExitedWithCode(7), "caught: Cannot load the library libQuenbrix.so from /nonexistent/folder");
}

TEST(LoaderFailureDeathTest, TheEnvironmentNamesAnotherLibrary) {
  EXPECT_EXIT(
      {
        ::setenv("QUENBRIX_LIBRARY", "/nonexistent/from-env.so", 1);
        CatchFailure([] { qlib::Ceil(1.0); });
      },
      ExitedWithCode(7), "caught: .*/nonexistent/from-env.so");
}

TEST(LoaderFailureDeathTest, AMissingFunctionIsNamed) {
  EXPECT_EXIT(
      {
        qlib::SetLibraryPath(QUENBRIX_STUB_LIBRARY);
        if (qlib::Ceil(1.5) != 777) std::_Exit(5);  // the stub's Ceil, not the real one
        CatchFailure([] { qlib::Smart(-1, nullptr, nullptr, nullptr); });
      },
      ExitedWithCode(7), "caught: The library .*libQuenbrixStub.so has no function Smart");
}

TEST(LoaderFailureDeathTest, AHandlerThatReturnsStillEndsTheProgram) {
  EXPECT_EXIT(
      {
        qlib::SetLibraryPath(QUENBRIX_STUB_LIBRARY);
        qlib::SetFailureHandler([](const std::string&) {});
        qlib::TopfSwapDWORD(nullptr, 0);
        std::_Exit(9);
      },
      ExitedWithCode(1), "has no function TopfSwapDWORD");
}

TEST(LoaderFailureDeathTest, SetFailureHandlerGivesBackThePreviousOne) {
  EXPECT_EXIT(
      {
        int calls = 0;
        qlib::SetFailureHandler([&calls](const std::string&) { ++calls; throw 1; });
        auto previous = qlib::SetFailureHandler(nullptr);
        if (!previous) std::_Exit(5);
        try {
          previous("x");
        } catch (int) {
        }
        std::_Exit(calls == 1 ? 0 : 6);
      },
      ExitedWithCode(0), "");
}

}  // namespace
