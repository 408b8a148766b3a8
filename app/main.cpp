#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "app/run_command_line.h"
#include "app/secret_text.h"
#include "engine/interrupt_cleanup.h"

int main(int argc, char** argv) {
  InstallInterruptCleanup();
  // A file size limit (ulimit -f) then fails the write like a full disk, instead of
  // ending the process in the middle of a file.
  std::signal(SIGXFSZ, SIG_IGN);
  std::vector<std::string> arguments(argv + 1, argv + argc);
  StringsWipe wipe{arguments};  // the password is among them
  int status = RunCommandLine(arguments);
  // Messages that could not be written (a closed or full standard output) are a failure too.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) status = 1;
  return status;
}
