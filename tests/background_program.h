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

// Starts quillfort in `directory` with no standard input, default signal handling,
// no core files and the given limit on the size of any file it writes.
void StartProgram(BackgroundProgram& program, const std::vector<std::string>& arguments,
                  const std::string& directory, rlim_t fileSizeLimit = RLIM_INFINITY);

// Waits for the end and collects what the program printed.
ProgramResult FinishProgram(BackgroundProgram& program);

// Watches a folder for data written to a temporary (a name starting with ".").
// Create it before starting the program, so no write goes unseen.
struct TemporaryWatch {
  int fd = -1;
  std::string folder;
  explicit TemporaryWatch(const std::string& watchedFolder);
  ~TemporaryWatch();
  TemporaryWatch(const TemporaryWatch&) = delete;
  TemporaryWatch& operator=(const TemporaryWatch&) = delete;
};

// Stops the program (SIGSTOP) as soon as a temporary in the watched folder holds
// data. Returns the temporary's name, or "" when the program ended first or nothing
// was written within 30 seconds. The temporary may be gone when the program won the
// race and finished before the stop: check that it still exists.
std::string StopAtTemporaryData(TemporaryWatch& watch, BackgroundProgram& program);

// Starts the program and stops it once a temporary in `watchFolder` holds data, with
// `prepare` run before each start. A run that is done before the stop lands is
// started again, up to five times. Null when no run could be stopped; `temporary`
// gets the temporary's name.
std::unique_ptr<BackgroundProgram> StartStoppedMidRun(const std::vector<std::string>& arguments,
                                                      const std::string& directory,
                                                      const std::string& watchFolder,
                                                      const std::function<void()>& prepare,
                                                      std::string& temporary);

// Sends a signal; SIGCONT lets a stopped program go on.
void SignalProgram(const BackgroundProgram& program, int signal);

// A file of `size` bytes that takes almost no disk space and reads from the page
// cache: zeros, with pattern bytes at the start, in the middle and at the end.
void MakeSparseFile(const std::string& path, uint64_t size);
// What MakeSparseFile writes, in memory.
std::string SparseFileContent(uint64_t size);
