// Error handling shared by both programs: the current-procedure name, the one
// run-time error type, the central handler with its report, debug log and
// unattended modes (ErrorHandler.ini), the statement guard and procedure trap,
// emergency stops, and the program's identity used in the report.
//
// Convention for every procedure:
//
//   void ReadSomething(int side) {
//     core::ProcScope scope("ReadSomething");   // sets CurrentProcedure, inits the handler
//     ...
//     core::Guard([&] { WriteTheFile(path); });  // a statement that can fail from outside:
//                                                //   Retry runs it again, Ignore goes on
//     ...
//   }
//
// Event handlers are the traps at the procedure boundary:
//
//   void MainWindow::Menu_Disk_FSCK_Click() {
//     core::TrapProcedure("Menu_Disk_FSCK_Click", [&] { ... });
//   }
//
// A failure is thrown as core::RuntimeError (or any std::exception, which the
// traps map to a RuntimeError). Abort ends the program through the Ui with
// ui::kExitAbort; nothing throws across a trap except the test stops of ui.h.
#pragma once

#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ui/ui.h"

namespace core {

// ------------------------------------------------------------ identity

// The running program as the report and the message boxes name it.
struct ProgramIdentity {
  std::string Title = "Quenbrix";   // the program's title
  int Major = 0;
  int Minor = 1;
  int Revision = 0;
};
// Sets the identity (and the Ui's default title). Call once at start-up.
void SetProgramIdentity(const ProgramIdentity& identity);
const ProgramIdentity& Program();

// The local date and time the logs stamp their lines with. Tests can fix it.
std::tm LocalNow();
// Replaces the clock (nullptr: the system clock); returns the previous one.
std::function<std::tm()> SetNowHook(std::function<std::tm()> hook);

// ------------------------------------------------------------ error state

// Name of the innermost running procedure.
extern std::string CurrentProcedure;
// False at start; true once ErrorHandlerInit has run.
extern bool ErrorHandlerReady;
// [ErrorHandler] settings, fixed after ErrorHandlerInit.
extern bool AutoAbort;
extern bool AutoRestart;
extern std::string AutoRestartEXE;   // command line of the program started on an automatic restart
extern std::string LogPath;          // always ends in "/" after ErrorHandlerInit (AppDir when not set)

// The one run-time error type. Number and description follow the classic
// run-time error numbers (5 invalid argument, 7 out of memory, 9 subscript
// out of range, 52 bad file name, 53 file not found, 57 device I/O error,
// 61 disk full, 70 permission denied, 75 path/file access error, 76 path not
// found). Source is the program's title unless the raiser names another.
class RuntimeError : public std::exception {
 public:
  RuntimeError() = default;
  RuntimeError(int number, std::string description, std::string source = "",
               int lastDllError = 0);
  const char* what() const noexcept override { return Description.c_str(); }

  int Number = 0;
  std::string Description;
  std::string Source;
  int LineNumber = 0;        // line of the failing statement, 0 when unknown
  int LastDllError = 0;      // last system error code (errno), 0 when none
  std::string Procedure;     // procedure running when it was raised ("" = unknown)
};

// Throws RuntimeError(number, description) from the current procedure.
[[noreturn]] void Raise(int number, const std::string& description,
                        const std::string& source = "");
// Throws RuntimeError for a failed system call: number and description from
// errno-style `errorCode` (ENOENT -> 53 "File not found", ...), LastDllError =
// errorCode; `what` (e.g. the file name) is appended to the description.
[[noreturn]] void RaiseSystemError(int errorCode, const std::string& what = "");
// Throws RuntimeError for a failed PC-file helper of platform/: number from
// `error` (0: platform::LastError()) as above, the description naming the
// file and the real reason ("Disk full: /x/list.txt (No space left on device)").
[[noreturn]] void RaisePcFileError(const std::string& path, int error = 0);
// Maps any exception to a RuntimeError (std::bad_alloc -> 7, std::out_of_range
// -> 9, std::invalid_argument/std::length_error -> 5, std::system_error -> by
// its code, others -> 51 "Internal error" with what()).
RuntimeError ToRuntimeError(std::exception_ptr error);

// ------------------------------------------------------------ the handler

// Results of ErrorHandler.
constexpr int kErrorEnd = 0;        // end the program at once
constexpr int kErrorRetry = 1;      // run the failing statement again
constexpr int kErrorContinue = 2;   // go on after the failing statement

// Reads "ErrorHandler.ini" in the current folder (section ErrorHandler:
// AutoAbort, AutoRestart, AutoRestartEXE, LogPath) and sets ErrorHandlerReady.
// A file that another user could have placed or changed is ignored as
// absent (platform::ReadConfigFile), and the error log says so once. A
// relative LogPath is fixed against the current folder now; without one
// the log goes into the program folder.
void ErrorHandlerInit();
// The same from another file (tests).
void ErrorHandlerInitFrom(const std::string& iniFile);

// The report text: Application, Version, Error, Description, Source,
// Procedure, [LineNumber], [Last DLL] lines, TAB-aligned, CR LF ended (the
// "Last DLL" line has no line end).
std::string BuildErrorReport(int lineNumber, int number, const std::string& description,
                             const std::string& source, const std::string& procedure,
                             int lastDllError);

// Shows the report (Abort/Retry/Ignore, "External Error Handler"), asks
// "Last action before error?", appends to LogPath + "Error Debug/debug.log",
// honours AutoAbort/AutoRestart (AutoRestart starts AutoRestartEXE and ends
// the program). Returns kErrorEnd, kErrorRetry or kErrorContinue.
// `CurrentProcedure` is reported.
int ErrorHandler(int lineNumber, int number, const std::string& description,
                 const std::string& source, int lastDllError);
// The same for a caught error; reports error.Procedure when it is set.
int ErrorHandler(const RuntimeError& error);

// Acts on a handler result: kErrorEnd ends the program (ui EndProgram with
// ui::kExitAbort); any value other than the three shows "Illegal value
// returned from ErrorHandler!" and ends the program. Returns true for
// kErrorRetry, false for kErrorContinue.
bool ObeyHandlerResult(int result);

// Log file of the handler: LogPath + "Error Debug/debug.log".
std::string ErrorLogFile();

// True when a configuration file read from the current folder must be
// ignored as absent (platform::CheckConfigFile); the error log names each
// such file once per run.
bool IgnoredConfigFile(const std::string& path);
// Reads such a file once (platform::ReadConfigFile): its text when it is
// trusted, "" when it is absent; false, noted as IgnoredConfigFile does,
// when it must be ignored.
bool ReadTrustedConfig(const std::string& path, std::string& text);

// Splits a configured command line into words: blanks separate words, double
// quotes group blanks into a word ("C:\Program Files\x.exe" /a -> 2 words),
// a quote inside a word is removed. No other shell syntax.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// ------------------------------------------------------------ scopes and traps

// Keeps CurrentProcedure for one procedure: sets it on entry (and runs
// ErrorHandlerInit once per program), restores the caller's name on every
// exit. When the procedure is left by an exception, the name is remembered
// as the failing procedure for the trap that catches it.
class ProcScope {
 public:
  explicit ProcScope(const char* name);
  ~ProcScope();
  ProcScope(const ProcScope&) = delete;
  ProcScope& operator=(const ProcScope&) = delete;

 private:
  std::string saved_;
  int uncaught_;
};

namespace detail {
// Hands the exception in flight to the handler and returns its result;
// rethrows ui::ProgramEnded and ui::UnexpectedPrompt. Call only inside catch.
int HandleCurrentException(int lineNumber);
// Clears the remembered failing procedure before a new attempt.
void ClearFailingProcedure();
}  // namespace detail

// Runs one statement under the error trap. When it throws, the handler runs:
// Retry runs the statement again, Ignore goes on (returns false), Abort ends
// the program. Returns true when the statement completed.
template <class Statement>
bool Guard(Statement&& statement, int lineNumber = 0) {
  for (;;) {
    detail::ClearFailingProcedure();
    int result;
    try {
      statement();
      return true;
    } catch (...) {
      result = detail::HandleCurrentException(lineNumber);
    }
    if (!ObeyHandlerResult(result)) return false;
  }
}

// Guard with the source line of the statement in the report.
#define TRY_STATEMENT(...) ::core::Guard([&] { __VA_ARGS__; }, __LINE__)

// The trap at a procedure boundary (event handlers, anything called from the
// event loop): runs `body` as procedure `name`; a failure inside goes to the
// handler, Retry runs the body again, Ignore leaves the procedure. Returns
// true when the body completed. No exception leaves it except ui's test stops.
template <class Body>
bool TrapProcedure(const char* name, Body&& body) {
  ProcScope scope(name);
  return Guard(body, 0);
}

// Hands failures of the library loader (missing libQuenbrix.so or function)
// to the error handler as run-time error 48 "Error in loading DLL" thrown
// from the calling procedure. Call once at start-up.
void InstallLibraryFailureHandler();

// ------------------------------------------------------------ emergency stop

// Shows `text` in a message box (OK, `icon`, default title), then ends the
// program on the spot with ui::kExitEmergency. Never returns.
[[noreturn]] void EmergencyStop(const std::string& text, ui::Icon icon = ui::Icon::Critical);

// Resets the error module to its start state (tests).
void ResetErrorState();

}  // namespace core
