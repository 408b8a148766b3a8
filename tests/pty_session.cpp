#include "pty_session.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "run_program.h"

namespace {

constexpr auto kPatience = std::chrono::seconds(10);

// Appends what the terminal has for us within `timeoutMs`; false when nothing came.
bool ReadScreen(PtySession& session, int timeoutMs) {
  pollfd fd{session.master, POLLIN, 0};
  if (poll(&fd, 1, timeoutMs) <= 0) return false;
  char buffer[4096];
  ssize_t n = read(session.master, buffer, sizeof buffer);
  if (n <= 0) return false;
  session.screen.append(buffer, size_t(n));
  return true;
}

int Occurrences(const std::string& haystack, const std::string& needle) {
  int count = 0;
  for (size_t at = haystack.find(needle); at != std::string::npos;
       at = haystack.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// The leader of a job-control session: puts the program in the foreground and ends
// with its status once it ends, as a shell would.
[[noreturn]] void LeadJob(int slave, const std::string& directory, std::vector<char*>& argv) {
  pid_t job = fork();
  if (job == 0) {
    setpgid(0, 0);
    signal(SIGTTOU, SIG_IGN);  // taking the foreground from the background is allowed then
    tcsetpgrp(slave, getpgrp());
    signal(SIGTTOU, SIG_DFL);
    close(slave);
    ExecProgram(directory, argv);
  }
  setpgid(job, job);
  close(slave);
  int status = 0;
  while (waitpid(job, &status, WUNTRACED) == job && WIFSTOPPED(status)) {
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

}  // namespace

PtySession::PtySession(const std::vector<std::string>& arguments, const std::string& directory,
                       const PtySetup& setup) {
  const bool echo = setup.echo;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  termios settings{};
  tcgetattr(slave, &settings);
  settings.c_oflag &= ~tcflag_t(ONLCR);  // keep "\n" as the program wrote it
  if (echo) {
    settings.c_lflag |= ECHO;
  } else {
    settings.c_lflag &= ~tcflag_t(ECHO);
  }
  tcsetattr(slave, TCSANOW, &settings);
  initial = settings;
  std::vector<char*> argv = ProgramArgv(arguments);
  int input = -1;
  if (setup.inputFromPipe) {
    // A file removed at once reads like a pipe that holds everything and then ends.
    char name[] = "/tmp/quillfort-pty-input-XXXXXX";
    input = mkstemp(name);
    if (input < 0 || write(input, setup.input.data(), setup.input.size()) != ssize_t(setup.input.size()))
      throw std::runtime_error("pty input");
    unlink(name);
    lseek(input, 0, SEEK_SET);
  }
  int output = -1;
  if (!setup.outputPath.empty())
    output = open(setup.outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid = fork();
  if (pid == 0) {
    // The program must meet the signals the way it would from a shell.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    dup2(input >= 0 ? input : slave, 0);
    dup2(output >= 0 ? output : slave, 1);
    dup2(slave, 2);
    close(master);
    if (setup.jobControl) LeadJob(slave, directory, argv);
    close(slave);
    ExecProgram(directory, argv);
  }
  close(slave);
  if (input >= 0) close(input);
  if (output >= 0) close(output);
}

pid_t ProgramPid(const PtySession& session) {
  std::string children =
      ReadFile("/proc/" + std::to_string(session.pid) + "/task/" + std::to_string(session.pid) + "/children");
  return children.empty() ? session.pid : pid_t(std::stol(children));
}

bool WaitForStopped(const PtySession& session, bool stopped) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string stat = ReadFile("/proc/" + std::to_string(ProgramPid(session)) + "/stat");
    size_t state = stat.rfind(')');
    if (state != std::string::npos && state + 2 < stat.size() && (stat[state + 2] == 'T') == stopped)
      return true;
    usleep(10000);
  }
  return false;
}

PtySession::~PtySession() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  if (master >= 0) close(master);
}

bool WaitForScreen(PtySession& session, const std::string& text, int count) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (Occurrences(session.screen, text) < count) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ReadScreen(session, 50);
  }
  return true;
}

void Type(PtySession& session, const std::string& keys) {
  if (write(session.master, keys.data(), keys.size()) != ssize_t(keys.size()))
    throw std::runtime_error("type");
}

termios TerminalSettings(const PtySession& session) {
  termios settings{};
  tcgetattr(session.master, &settings);
  return settings;
}

int WaitForExit(PtySession& session) {
  auto deadline = std::chrono::steady_clock::now() + kPatience;
  int status = 0;
  pid_t done = 0;
  while ((done = waitpid(session.pid, &status, WNOHANG)) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(session.pid, SIGKILL);
      waitpid(session.pid, &status, 0);
      break;
    }
    ReadScreen(session, 20);
  }
  session.pid = -1;
  // With the program gone the terminal hands over what it still holds, then reports its end.
  while (ReadScreen(session, 1000)) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
