// Starting programs (never through a shell), shell open, own priority.
#include "platform/internal.h"
#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform {

using detail::SetLastError;

bool StartProgram(const std::string& program, const std::vector<std::string>& args,
                  const std::string& folder) {
  if (program.empty()) {
    SetLastError(ENOENT);
    return false;
  }
  // Everything the child needs is prepared before the fork: after it only
  // async-signal-safe calls are allowed.
  std::vector<std::string> storage;
  storage.reserve(args.size() + 1);
  storage.push_back(program);
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  // The pipe tells the parent whether exec worked: it closes on a successful
  // exec (close-on-exec) and carries errno when exec failed.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    SetLastError(errno);
    return false;
  }
  pid_t child = fork();
  if (child < 0) {
    SetLastError(errno);
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) {
    // Middle process: start the program in a grandchild and leave at once,
    // so the program is not our child and leaves no zombie behind.
    close(fds[0]);
    pid_t grandchild = fork();
    if (grandchild < 0) {
      int e = errno;
      (void)!write(fds[1], &e, sizeof e);
      _exit(127);
    }
    if (grandchild == 0) {
      setsid();
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      if (!folder.empty() && chdir(folder.c_str()) != 0) {
        int e = errno;
        (void)!write(fds[1], &e, sizeof e);
        _exit(127);
      }
      execvp(argv[0], argv.data());
      int e = errno;
      (void)!write(fds[1], &e, sizeof e);
      _exit(127);
    }
    _exit(0);
  }
  close(fds[1]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  int error = 0;
  ssize_t n;
  do {
    n = read(fds[0], &error, sizeof error);
  } while (n < 0 && errno == EINTR);
  close(fds[0]);
  if (n > 0) {
    SetLastError(error ? error : ENOEXEC);
    return false;
  }
  return true;
}

bool ShellOpen(const std::string& path) {
  // xdg-open fails within moments when the desktop has no program for the
  // file; a program it starts may run for long (and xdg-open with it). A
  // middle process waits up to half a second and reports the failure in
  // its exit status; what still runs then is left to itself.
  std::string file = path;
  char program[] = "xdg-open";
  char* argv[] = {program, file.data(), nullptr};
  pid_t middle = fork();
  if (middle < 0) {
    SetLastError(errno);
    return false;
  }
  if (middle == 0) {
    pid_t opener = fork();
    if (opener < 0) _exit(1);
    if (opener == 0) {
      setsid();
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execvp(argv[0], argv);
      _exit(127);
    }
    for (int waited = 0; waited < 500; waited += 10) {
      int status = 0;
      pid_t done = waitpid(opener, &status, WNOHANG);
      if (done == opener) _exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1);
      if (done < 0 && errno != EINTR) _exit(0);
      struct timespec tick = {0, 10 * 1000000L};
      nanosleep(&tick, nullptr);
    }
    _exit(0);
  }
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  SetLastError(ENOENT);
  return false;
}

void SetOwnPriority(int priorityClass) {
  int nice;
  switch (priorityClass) {
    case 0: nice = 19; break;     // idle
    case 1: nice = 10; break;     // below normal
    case 2: nice = 0; break;      // normal
    case 4: nice = -5; break;     // above normal
    case 5: nice = -10; break;    // high
    default: return;
  }
  // On Linux every thread has its own nice value: set it for all of them.
  bool any = false;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
      id_t tid = static_cast<id_t>(std::strtol(e->d_name, nullptr, 10));
      // A refused raise (no privilege) is ignored: the job runs as it is.
      if (setpriority(PRIO_PROCESS, tid, nice) != 0) SetLastError(errno);
      any = true;
    }
    closedir(dir);
  }
  if (!any && setpriority(PRIO_PROCESS, 0, nice) != 0) SetLastError(errno);
}

}  // namespace platform
