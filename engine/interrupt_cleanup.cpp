#include "engine/interrupt_cleanup.h"

#include <limits.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// Every signal that ends the process by default and can reach it mid-run: from the
// user, the terminal, a reader that went away (SIGPIPE), or a processor time limit.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU};

char temporaryPath[PATH_MAX + 1];
std::atomic<bool> temporaryRegistered{false};
std::atomic<bool> echoRestorePending{false};
std::atomic<bool> progressLineShown{false};

sigset_t CleanupSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kCleanupSignals) sigaddset(&set, sig);
  return set;
}

void OnInterrupt(int sig) {
  int savedErrno = errno;
  if (temporaryRegistered.load()) unlink(temporaryPath);
  if (progressLineShown.load()) {
    static const char kErase[] = "\r\033[K";
    ssize_t ignored = write(STDERR_FILENO, kErase, sizeof kErase - 1);
    (void)ignored;
  }
  if (echoRestorePending.load()) {
    termios settings{};
    if (tcgetattr(STDIN_FILENO, &settings) == 0) {
      settings.c_lflag |= ECHO;
      tcsetattr(STDIN_FILENO, TCSANOW, &settings);
    }
  }
  // End the process the way the signal would have, so callers see the usual status.
  signal(sig, SIG_DFL);
  raise(sig);
  errno = savedErrno;
}

}  // namespace

void InstallInterruptCleanup() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_mask = CleanupSignalSet();
  for (int sig : kCleanupSignals) {
    struct sigaction old {};
    // A signal ignored by the caller (nohup, a shell's background job) stays ignored.
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(sig, &action, nullptr);
  }
}

InterruptsHeld::InterruptsHeld() {
  sigset_t set = CleanupSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, &previous);
}

InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

void RegisterTemporary(const char* path) {
  size_t length = std::strlen(path);
  if (length > PATH_MAX) return;  // such a path cannot have been created
  std::memcpy(temporaryPath, path, length + 1);
  temporaryRegistered.store(true);
}

void ForgetTemporary() { temporaryRegistered.store(false); }

void SetEchoRestorePending(bool pending) { echoRestorePending.store(pending); }

void SetProgressLineShown(bool shown) { progressLineShown.store(shown); }
