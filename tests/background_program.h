#pragma once
// The program run in the background, so that a test can act on it while a transform
// is under way: stop it at a known point, change its files, send it signals.
#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "run_program.h"

struct BackgroundProgram {
  pid_t pid = -1;
  int outFd = -1;  // standard output and error go to unnamed files, so the program never blocks
  int errFd = -1;
  bool ended = false;
  int waitStatus = 0;

  BackgroundProgram() = default;
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  ~BackgroundProgram();  // kills and reaps a program still running
};

// How the program is started beside its arguments.
struct ProgramSetup {
  rlim_t fileSizeLimit = RLIM_INFINITY;  // the limit on the size of any file it writes
  // The program finds no unnamed files (open with O_TMPFILE fails as on a filesystem
  // without them), so it falls back to named temporaries.
  bool withoutUnnamedFiles = false;
};

// Starts quillfort in `directory` with no standard input, default signal handling
// and no core files.
void StartProgram(BackgroundProgram& program, const std::vector<std::string>& arguments,
                  const std::string& directory, const ProgramSetup& setup = {});

// Waits for the end and collects what the program printed.
ProgramResult FinishProgram(BackgroundProgram& program);

// Starts the program and stops it (SIGSTOP) as soon as it has read from `source`:
// its output is open by then, and the transform under way. Before each start the
// folder `directory` is emptied and `prepare` fills it. A run that is done before the
// stop lands is started again, up to five times. Null when no run could be stopped.
std::unique_ptr<BackgroundProgram> StartStoppedMidRun(const std::vector<std::string>& arguments,
                                                      const std::string& directory, const std::string& source,
                                                      const std::function<void()>& prepare,
                                                      const ProgramSetup& setup = {});

// Names in a folder that start with "." (temporaries and hidden names), sorted.
std::vector<std::string> HiddenNames(const std::string& folder);

// Sends a signal; SIGCONT lets a stopped program go on.
void SignalProgram(const BackgroundProgram& program, int signal);

// A file of `size` bytes that takes almost no disk space and reads from the page
// cache: zeros, with pattern bytes at the start, in the middle and at the end.
void MakeSparseFile(const std::string& path, uint64_t size);
// What MakeSparseFile writes, in memory.
std::string SparseFileContent(uint64_t size);
