#include "core/error_handler.h"

#include <cctype>
#include <cerrno>
#include <ctime>
#include <new>
#include <set>
#include <stdexcept>
#include <system_error>

#include "core/settings.h"
#include "library/loader.h"
#include "platform/platform.h"

#include <unistd.h>

namespace core {

// ------------------------------------------------------------ identity

namespace {
ProgramIdentity& IdentityStore() {
  static ProgramIdentity identity;
  return identity;
}
std::function<std::tm()>& NowHook() {
  static std::function<std::tm()> hook;
  return hook;
}

// The procedure that was left by the exception now in flight (set by the
// innermost ProcScope that unwinds, taken by the trap that catches it).
std::string g_failingProcedure;
bool g_failingSet = false;

const char* const kHandlerTitle = "External Error Handler";

// The configuration files the error log has named as ignored in this run.
std::set<std::string>& NotedConfigFiles() {
  static std::set<std::string> noted;
  return noted;
}
}  // namespace

void SetProgramIdentity(const ProgramIdentity& identity) {
  IdentityStore() = identity;
  ui::SetDefaultTitle(identity.Title);
}

const ProgramIdentity& Program() { return IdentityStore(); }

std::tm LocalNow() {
  if (NowHook()) return NowHook()();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::function<std::tm()> SetNowHook(std::function<std::tm()> hook) {
  auto previous = std::move(NowHook());
  NowHook() = std::move(hook);
  return previous;
}

// ------------------------------------------------------------ state

std::string CurrentProcedure;
bool ErrorHandlerReady = false;
bool AutoAbort = false;
bool AutoRestart = false;
std::string AutoRestartEXE;
std::string LogPath;

void ResetErrorState() {
  CurrentProcedure.clear();
  ErrorHandlerReady = false;
  AutoAbort = false;
  AutoRestart = false;
  AutoRestartEXE.clear();
  LogPath.clear();
  g_failingProcedure.clear();
  g_failingSet = false;
  NotedConfigFiles().clear();
}

// ------------------------------------------------------------ errors

RuntimeError::RuntimeError(int number, std::string description, std::string source,
                           int lastDllError)
    : Number(number),
      Description(std::move(description)),
      Source(std::move(source)),
      LastDllError(lastDllError) {}

void Raise(int number, const std::string& description, const std::string& source) {
  RuntimeError error(number, description, source);
  error.Procedure = CurrentProcedure;
  throw error;
}

namespace {
struct ErrnoMapping {
  int Number;
  const char* Description;
};

ErrnoMapping MapErrno(int code) {
  switch (code) {
    case ENOENT: return {53, "File not found"};
    case ENOTDIR: return {76, "Path not found"};
    case EACCES:
    case EPERM:
    case EROFS: return {70, "Permission denied"};
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return {61, "Disk full"};
    case EIO:
    case ENXIO:
    case ENODEV: return {57, "Device I/O error"};
    case EEXIST: return {58, "File already exists"};
    case EMFILE:
    case ENFILE: return {67, "Too many files"};
    case ENAMETOOLONG:
    case EINVAL: return {52, "Bad file name or number"};
    case ENOMEM: return {7, "Out of memory"};
    default: return {75, "Path/File access error"};
  }
}
}  // namespace

void RaiseSystemError(int errorCode, const std::string& what) {
  ErrnoMapping m = MapErrno(errorCode);
  std::string description = m.Description;
  if (!what.empty()) description += ": " + what;
  RuntimeError error(m.Number, description, "", errorCode);
  error.Procedure = CurrentProcedure;
  throw error;
}

void RaisePcFileError(const std::string& path, int error) {
  const int code = error != 0 ? error : platform::LastError() != 0 ? platform::LastError() : EIO;
  ErrnoMapping m = MapErrno(code);
  RuntimeError failure(m.Number,
                       std::string(m.Description) + ": " + path + " (" +
                           platform::PcFileErrorText(code) + ")",
                       "", code);
  failure.Procedure = CurrentProcedure;
  throw failure;
}

RuntimeError ToRuntimeError(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const RuntimeError& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return RuntimeError(7, "Out of memory");
  } catch (const std::out_of_range& e) {
    return RuntimeError(9, std::string("Subscript out of range: ") + e.what());
  } catch (const std::invalid_argument& e) {
    return RuntimeError(5, std::string("Invalid procedure call or argument: ") + e.what());
  } catch (const std::length_error& e) {
    return RuntimeError(5, std::string("Invalid procedure call or argument: ") + e.what());
  } catch (const std::system_error& e) {
    ErrnoMapping m = MapErrno(e.code().value());
    return RuntimeError(m.Number, std::string(m.Description) + ": " + e.what(), "",
                        e.code().value());
  } catch (const std::exception& e) {
    return RuntimeError(51, std::string("Internal error: ") + e.what());
  } catch (...) {
    return RuntimeError(51, "Internal error");
  }
}

// ------------------------------------------------------------ settings

namespace {
// "0" false; any other number, or True, true; False and other texts false.
bool ReadBoolean(const std::string& text) {
  std::string value = text.empty() ? "0" : text;
  std::string lower;
  for (unsigned char c : value) lower.push_back(static_cast<char>(std::tolower(c)));
  if (lower == "true") return true;
  if (lower == "false") return false;
  size_t i = 0;
  while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t')) ++i;
  if (i < lower.size() && (lower[i] == '+' || lower[i] == '-')) ++i;
  if (i >= lower.size() || !(std::isdigit(static_cast<unsigned char>(lower[i])) ||
                             lower[i] == '.' || lower[i] == '&'))
    return false;   // not a number: stay attended
  return NumericValue(value) != 0.0;
}

std::string CurrentFolder() {
  char buffer[4096];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  std::string folder = buffer;
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// A configured LogPath with "/" ending it, fixed to the folder it names now
// (a relative one against the current folder, which later changes); an
// empty one is the program folder, never a folder the user browses.
std::string NormaliseLogPath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  if (path.empty()) return AppDir();
  if (path.front() != '/') path = CurrentFolder() + (path.rfind("./", 0) == 0 ? path.substr(2) : path);
  if (path.back() != '/') path += '/';
  return path;
}

std::string DateLine(const std::tm& when) {
  char date[64];
  if (std::strftime(date, sizeof date, "%a %d.%m.%Y %H:%M:%S", &when) == 0) date[0] = '\0';
  return "Date\t\t: " + std::string(date) + "\r\n";
}

// Appends to the error log; any failure only skips the entry. The log is
// the user's own regular file or a new one, never something planted there.
void AppendToErrorLog(const std::string& entry) {
  platform::MakePath((LogPath.empty() ? AppDir() : LogPath) + "Error Debug");
  const int log = platform::PcFileAppend(ErrorLogFile());
  if (log < 0) return;
  platform::PcFileWriteAll(log, entry.data(), entry.size());
  platform::PcFileClose(log);
}

void NoteIgnoredConfig(const std::string& path, const std::string& why) {
  std::string shown = path;
  if (shown.front() != '/') shown = CurrentFolder() + (shown.rfind("./", 0) == 0 ? shown.substr(2) : shown);
  if (!NotedConfigFiles().insert(shown).second) return;
  AppendToErrorLog(DateLine(LocalNow()) + "---Ignored '" + shown + "': " + why +
                   "; only a file of this user or root that nobody else can change is read---" +
                   "\r\n\r\n\r\n");
}
}  // namespace

bool IgnoredConfigFile(const std::string& path) {
  std::string why;
  if (platform::CheckConfigFile(path, &why) != platform::ConfigTrust::Untrusted) return false;
  NoteIgnoredConfig(path, why);
  return true;
}

bool ReadTrustedConfig(const std::string& path, std::string& text) {
  std::string why;
  if (platform::ReadConfigFile(path, &text, &why) != platform::ConfigTrust::Untrusted) return true;
  text.clear();
  NoteIgnoredConfig(path, why);
  return false;
}

void ErrorHandlerInitFrom(const std::string& iniFile) {
  // A file another user could have put or changed is read as absent; what
  // is read is the very file judged.
  std::string why, text;
  const bool use = platform::ReadConfigFile(iniFile, &text, &why) == platform::ConfigTrust::Trusted;
  auto value = [&](const char* key) {
    return use ? platform::IniValue(text, "ErrorHandler", key) : std::string();
  };
  AutoAbort = ReadBoolean(value("AutoAbort"));
  AutoRestart = ReadBoolean(value("AutoRestart"));
  AutoRestartEXE = value("AutoRestartEXE");
  LogPath = NormaliseLogPath(value("LogPath"));
  ErrorHandlerReady = true;
  if (!why.empty()) NoteIgnoredConfig(iniFile, why);
}

void ErrorHandlerInit() { ErrorHandlerInitFrom("./ErrorHandler.ini"); }

std::string ErrorLogFile() { return (LogPath.empty() ? AppDir() : LogPath) + "Error Debug/debug.log"; }

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;   // "" is an empty word
    } else if (!quoted && (c == ' ' || c == '\t')) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

// ------------------------------------------------------------ handler

std::string BuildErrorReport(int lineNumber, int number, const std::string& description,
                             const std::string& source, const std::string& procedure,
                             int lastDllError) {
  const ProgramIdentity& p = Program();
  std::string r;
  r += "Application\t: " + p.Title + "\r\n";
  r += "Version\t\t: V" + std::to_string(p.Major) + "." + std::to_string(p.Minor) + "." +
       std::to_string(p.Revision) + "\r\n";
  r += "Error\t\t: " + std::to_string(number) + "\r\n";
  r += "Description\t: " + description + "\r\n";
  r += "Source\t\t: " + source + "\r\n";
  r += "Procedure\t: " + procedure + "\r\n";
  if (lineNumber != 0) r += "LineNumber\t: " + std::to_string(lineNumber) + "\r\n";
  if (lastDllError != 0) r += "Last DLL\t: " + std::to_string(lastDllError);
  return r;
}

namespace {

int HandleError(int lineNumber, int number, const std::string& description,
                const std::string& source, const std::string& procedure, int lastDllError) {
  if (!ErrorHandlerReady) ErrorHandlerInit();
  const std::string report = BuildErrorReport(
      lineNumber, number, description, source.empty() ? Program().Title : source, procedure,
      lastDllError);
  const std::tm when = LocalNow();

  int result = kErrorEnd;
  std::string lastAction;
  ui::Answer button = ui::Answer::Abort;
  if (!AutoAbort && !AutoRestart) {
    button = ui::Current().MsgBox(report, ui::Buttons::AbortRetryIgnore, ui::Icon::Critical,
                                  kHandlerTitle);
    if (button == ui::Answer::Retry)
      result = kErrorRetry;
    else if (button == ui::Answer::Ignore)
      result = kErrorContinue;
    else {
      button = ui::Answer::Abort;
      result = kErrorEnd;
    }
    lastAction = ui::Current().InputBox("Last action before error?", kHandlerTitle);
  }

  // The log; any failure here only skips the entry.
  {
    std::string entry = DateLine(when);
    entry += report + "\r\n";
    if (!lastAction.empty()) entry += "Last Action\t: " + lastAction + "\r\n";
    if (AutoAbort)
      entry += "---Automatic ABORT issued---";
    else if (AutoRestart)
      entry += "---Automatic restart of '" + AutoRestartEXE + "' issued---";
    else if (button == ui::Answer::Retry)
      entry += "---RETRY pressed---";
    else if (button == ui::Answer::Ignore)
      entry += "---IGNORE pressed---";
    else
      entry += "---ABORT pressed---";
    entry += "\r\n\r\n\r\n";
    AppendToErrorLog(entry);
  }

  if (AutoRestart) {
    std::vector<std::string> words = SplitCommandLine(AutoRestartEXE);
    if (!words.empty()) {
      std::string program = words.front();
      words.erase(words.begin());
      platform::StartProgram(program, words);
    }
    ui::Current().EndProgram(ui::kExitAbort);
  }
  return result;
}

}  // namespace

int ErrorHandler(int lineNumber, int number, const std::string& description,
                 const std::string& source, int lastDllError) {
  return HandleError(lineNumber, number, description, source, CurrentProcedure, lastDllError);
}

int ErrorHandler(const RuntimeError& error) {
  return HandleError(error.LineNumber, error.Number, error.Description, error.Source,
                     error.Procedure.empty() ? CurrentProcedure : error.Procedure,
                     error.LastDllError);
}

bool ObeyHandlerResult(int result) {
  switch (result) {
    case kErrorRetry: return true;
    case kErrorContinue: return false;
    case kErrorEnd: ui::Current().EndProgram(ui::kExitAbort);
    default:
      ui::Current().MsgBox("Illegal value returned from ErrorHandler!", ui::Buttons::OK);
      ui::Current().EndProgram(ui::kExitAbort);
  }
}

// ------------------------------------------------------------ scopes

ProcScope::ProcScope(const char* name)
    : saved_(std::move(CurrentProcedure)), uncaught_(std::uncaught_exceptions()) {
  CurrentProcedure = name;
  g_failingSet = false;
  if (!ErrorHandlerReady) ErrorHandlerInit();
}

ProcScope::~ProcScope() {
  if (std::uncaught_exceptions() > uncaught_ && !g_failingSet) {
    g_failingProcedure = CurrentProcedure;
    g_failingSet = true;
  }
  CurrentProcedure = std::move(saved_);
}

namespace detail {

void ClearFailingProcedure() { g_failingSet = false; }

int HandleCurrentException(int lineNumber) {
  RuntimeError error;
  try {
    throw;
  } catch (const ui::ProgramEnded&) {
    throw;
  } catch (const ui::UnexpectedPrompt&) {
    throw;
  } catch (const RuntimeError& e) {
    error = e;
  } catch (...) {
    error = ToRuntimeError(std::current_exception());
  }
  if (error.LineNumber == 0) error.LineNumber = lineNumber;
  if (error.Procedure.empty() && g_failingSet) error.Procedure = g_failingProcedure;
  g_failingSet = false;
  return ErrorHandler(error);
}

}  // namespace detail

void InstallLibraryFailureHandler() {
  qlib::SetFailureHandler([](const std::string& message) {
    Raise(48, "Error in loading DLL: " + message);
  });
}

// ------------------------------------------------------------ emergency stop

void EmergencyStop(const std::string& text, ui::Icon icon) {
  ui::Current().MsgBox(text, ui::Buttons::OK, icon);
  ui::Current().EndProgram(ui::kExitEmergency);
}

}  // namespace core
