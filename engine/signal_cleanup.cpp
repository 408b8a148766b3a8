#include "engine/signal_cleanup.h"

#include <limits.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// Faults raised by the thread's own instruction: they cannot be held back (the
// kernel would end the process without a handler), so threads never block them.
constexpr int kFaultSignals[] = {SIGILL, SIGTRAP, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};
// Everything else whose default is to end the process. SIGXFSZ is left out on purpose.
constexpr int kAsyncSignals[] = {SIGHUP,  SIGINT,    SIGQUIT, SIGABRT,   SIGUSR1, SIGUSR2, SIGPIPE, SIGALRM,
                                 SIGTERM, SIGSTKFLT, SIGXCPU, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR};

enum SlotState : int { kFree, kMaking, kHeld };

// One more than the most files in work at once, each with at most one name.
constexpr int kSlots = 2 * 256 + 8;

struct NameSlot {
  std::atomic<int> state{kFree};
  char path[PATH_MAX + 1];
};

NameSlot slots[kSlots];
std::atomic<bool> ending{false};
std::atomic<int> terminalFd{-1};
termios terminalSettings;
std::atomic<bool> progressLineShown{false};

template <typename Visit>
void ForEachEndingSignal(Visit visit) {
  for (int sig : kFaultSignals) visit(sig);
  for (int sig : kAsyncSignals) visit(sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) visit(sig);
}

sigset_t AsyncSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : kAsyncSignals) sigaddset(&set, sig);
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) sigaddset(&set, sig);
  return set;
}

// A name being made on another thread is about to exist or not; wait for it, a bounded while.
void WaitWhileMaking(NameSlot& slot) {
  timespec pause{0, 1000000};
  for (int i = 0; i < 2000 && slot.state.load() == kMaking; ++i) nanosleep(&pause, nullptr);
}

void OnEndingSignal(int sig) {
  int savedErrno = errno;
  ending.store(true);
  for (NameSlot& slot : slots) {
    WaitWhileMaking(slot);
    if (slot.state.load() == kHeld) unlink(slot.path);
  }
  if (progressLineShown.load()) {
    static const char kErase[] = "\r\033[K";
    ssize_t ignored = write(STDERR_FILENO, kErase, sizeof kErase - 1);
    (void)ignored;
  }
  int fd = terminalFd.load();
  if (fd >= 0) tcsetattr(fd, TCSANOW, &terminalSettings);
  // End the process the way the signal would have, so callers see the usual status:
  // it is delivered again as soon as the handler returns and unblocks it.
  signal(sig, SIG_DFL);
  raise(sig);
  errno = savedErrno;
}

}  // namespace

void InstallSignalCleanup() {
  struct sigaction action {};
  action.sa_handler = OnEndingSignal;
  sigfillset(&action.sa_mask);
  ForEachEndingSignal([&](int sig) {
    struct sigaction old {};
    if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
    sigaction(sig, &action, nullptr);
  });
}

SignalsHeld::SignalsHeld() {
  sigset_t set = AsyncSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, &previous);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }

int MakeCleanupName(const std::string& path) {
  if (path.size() > PATH_MAX) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!slots[i].state.compare_exchange_strong(expected, kMaking)) continue;
    // Seen after the slot is marked, or the handler sees the mark and waits: either
    // way no name is made behind an ending process's back.
    if (ending.load()) {
      slots[i].state.store(kFree);
      return -1;
    }
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    return i;
  }
  return -1;
}

void AdoptCleanupName(int slot, bool made) { slots[slot].state.store(made ? kHeld : kFree); }

void ForgetCleanupName(int slot) {
  if (slot >= 0) slots[slot].state.store(kFree);
}

void SetTerminalToRestore(int fd, const termios* settings) {
  if (settings) terminalSettings = *settings;
  terminalFd.store(settings ? fd : -1);
}

void SetProgressLineShown(bool shown) { progressLineShown.store(shown); }
