#include "mainwindow/app_start.h"

#include "core/error_handler.h"
#include "core/settings.h"

namespace mainwindow {

std::string StartProgram(int argc, char** argv, const char* title,
                         bool settingsInCurrentFolder) {
  QApplication::setApplicationName(title);

  core::ProgramIdentity identity;
  identity.Title = title;
  identity.Major = 0;
  identity.Minor = 1;
  identity.Revision = 0;
  core::SetProgramIdentity(identity);
  if (settingsInCurrentFolder) core::SetSettingsInCurrentFolder(true);
  core::InstallLibraryFailureHandler();
  core::ErrorHandlerInit();

  InstallUi();

  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (!arguments.empty()) arguments += ' ';
    arguments += argv[i];
  }
  return arguments;
}

}  // namespace mainwindow
