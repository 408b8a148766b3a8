#include "password/terminal_echo.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

#include "engine/signal_cleanup.h"

namespace {

constexpr int kStopSignals[] = {SIGTSTP, SIGTTIN, SIGTTOU};

std::atomic<int> echoFd{-1};
termios echoOn;  // the settings to give back: as found, with echo on
struct sigaction previousStop[3];
struct sigaction previousContinue;
bool stopIgnored[3];  // a caller without job control may ignore stops: they stay ignored

bool InForeground(int fd) { return ::tcgetpgrp(fd) == ::getpgrp(); }

// Only ECHO changes; each call reads the attributes afresh.
void SetEcho(int fd, bool on) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return;
  if (on) {
    settings.c_lflag |= ECHO;
  } else {
    settings.c_lflag &= ~tcflag_t(ECHO);
  }
  ::tcsetattr(fd, TCSANOW, &settings);
}

void OnContinue(int) {
  int savedErrno = errno;
  int fd = echoFd.load();
  if (fd >= 0 && InForeground(fd)) SetEcho(fd, false);
  errno = savedErrno;
}

void OnStop(int sig);

void InstallHandlers() {
  struct sigaction action {};
  sigfillset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // the entry's read goes on after a stop
  action.sa_handler = OnStop;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (!stopIgnored[i]) sigaction(kStopSignals[i], &action, nullptr);
  }
  action.sa_handler = OnContinue;
  sigaction(SIGCONT, &action, nullptr);
}

// Echo on, stop the way the signal would have, and take over again on continuing.
void OnStop(int sig) {
  int savedErrno = errno;
  int fd = echoFd.load();
  if (fd >= 0 && InForeground(fd)) SetEcho(fd, true);
  signal(sig, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, sig);
  raise(sig);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);  // the stop takes effect here
  InstallHandlers();
  if (fd >= 0 && InForeground(fd)) SetEcho(fd, false);
  errno = savedErrno;
}

}  // namespace

EchoOff::EchoOff(int fd) {
  termios settings{};
  if (::tcgetattr(fd, &settings) != 0) return;
  echoOn = settings;
  echoOn.c_lflag |= ECHO;
  SetTerminalToRestore(fd, &echoOn);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    sigaction(kStopSignals[i], nullptr, &previousStop[i]);
    stopIgnored[i] = previousStop[i].sa_handler == SIG_IGN;
  }
  sigaction(SIGCONT, nullptr, &previousContinue);
  echoFd.store(fd);
  InstallHandlers();
  SetEcho(fd, false);
}

EchoOff::~EchoOff() {
  int fd = echoFd.exchange(-1);
  if (fd < 0) return;
  for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previousStop[i], nullptr);
  sigaction(SIGCONT, &previousContinue, nullptr);
  SetEcho(fd, true);
  SetTerminalToRestore(-1, nullptr);
}
