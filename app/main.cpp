#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cipher/secret_text.h"
#include "engine/console.h"
#include "engine/signal_cleanup.h"
#include "run/run_command_line.h"

namespace {

// A caller may start us with standard input, output or error closed; the first
// file opened would then take that number, and messages would land in a data file.
void OccupyStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      // open() returns the lowest free number, which is this one.
      if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) != fd) _exit(1);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  OccupyStandardDescriptors();
  InstallSignalCleanup();
  // A file size limit (ulimit -f) then fails the write like a full disk, instead of
  // ending the process in the middle of a file.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  StringsWipe wipe{arguments};  // the password is among them
  int status;
  try {
    status = RunCommandLine(arguments);
  } catch (const std::bad_alloc&) {
    // Everything the run made is gone with the unwinding: its outputs are never committed.
    Print("not enough memory: the run was stopped!\n");
    status = 1;
  }
  // Messages that could not be written (a closed or full standard output) are a failure too.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  return status;
}
