#include "background_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "run_program.h"

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = pread(fd, buffer, sizeof buffer, off_t(text.size()))) > 0) text.append(buffer, size_t(n));
  return text;
}

// Reaps the program if it has ended (or stopped, with WUNTRACED); true when it ended.
bool Reap(BackgroundProgram& program, int options) {
  if (program.ended) return true;
  int status = 0;
  pid_t done = waitpid(program.pid, &status, options);
  if (done != program.pid || WIFSTOPPED(status)) return false;
  program.ended = true;
  program.waitStatus = status;
  return true;
}

}  // namespace

BackgroundProgram::~BackgroundProgram() {
  if (pid > 0 && !ended) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  if (outFd >= 0) close(outFd);
  if (errFd >= 0) close(errFd);
}

void StartProgram(BackgroundProgram& program, const std::vector<std::string>& arguments,
                  const std::string& directory, rlim_t fileSizeLimit) {
  program.outFd = memfd_create("quillfort-out", MFD_CLOEXEC);
  program.errFd = memfd_create("quillfort-err", MFD_CLOEXEC);
  if (program.outFd < 0 || program.errFd < 0) throw std::runtime_error("memfd_create");
  std::vector<char*> argv = ProgramArgv(arguments);
  program.pid = fork();
  if (program.pid < 0) throw std::runtime_error("fork");
  if (program.pid == 0) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(program.outFd, 1);
    dup2(program.errFd, 2);
    // The test process may ignore or block signals (SIGPIPE above all); the program must not inherit that.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    rlimit fileSize{fileSizeLimit, fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &fileSize);
    ExecProgram(directory, argv);
  }
}

ProgramResult FinishProgram(BackgroundProgram& program) {
  while (!Reap(program, 0)) {
  }
  ProgramResult result;
  result.out = ReadAll(program.outFd);
  result.err = ReadAll(program.errFd);
  int status = program.waitStatus;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

TemporaryWatch::TemporaryWatch(const std::string& watchedFolder) : folder(watchedFolder) {
  fd = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd < 0 || inotify_add_watch(fd, folder.c_str(), IN_MODIFY) < 0) throw std::runtime_error("inotify");
}

TemporaryWatch::~TemporaryWatch() { close(fd); }

std::string StopAtTemporaryData(TemporaryWatch& watch, BackgroundProgram& program) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{watch.fd, POLLIN, 0};
    poll(&ready, 1, 20);
    alignas(inotify_event) char buffer[8192];
    ssize_t length = read(watch.fd, buffer, sizeof buffer);
    for (ssize_t at = 0; at < length;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += ssize_t(sizeof(inotify_event) + event->len);
      std::string name = event->len ? event->name : "";
      struct stat status {};
      // Blocks are allocated only for written data, not for a length set in advance.
      if (name.empty() || name[0] != '.' || stat((watch.folder + "/" + name).c_str(), &status) != 0 ||
          status.st_blocks == 0) {
        continue;
      }
      kill(program.pid, SIGSTOP);
      return Reap(program, WUNTRACED) ? "" : name;
    }
    if (Reap(program, WNOHANG)) return "";
  }
  return "";
}

std::unique_ptr<BackgroundProgram> StartStoppedMidRun(const std::vector<std::string>& arguments,
                                                      const std::string& directory,
                                                      const std::string& watchFolder,
                                                      const std::function<void()>& prepare,
                                                      std::string& temporary) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    prepare();
    TemporaryWatch watch(watchFolder);
    auto program = std::make_unique<BackgroundProgram>();
    StartProgram(*program, arguments, directory);
    temporary = StopAtTemporaryData(watch, *program);
    if (!temporary.empty() && Exists(watchFolder + "/" + temporary)) return program;
    kill(program->pid, SIGCONT);
    FinishProgram(*program);
  }
  return nullptr;
}

void SignalProgram(const BackgroundProgram& program, int signal) { kill(program.pid, signal); }

std::string SparseFileContent(uint64_t size) {
  std::string content(size, '\0');
  const uint64_t marker = std::min<uint64_t>(4096, size);
  for (uint64_t at : {uint64_t(0), size / 2, size - marker}) {
    if (at + marker <= size) content.replace(at, marker, PatternBytes(marker, at + 1));
  }
  return content;
}

void MakeSparseFile(const std::string& path, uint64_t size) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 || ftruncate(fd, off_t(size)) != 0) throw std::runtime_error("cannot make " + path);
  const uint64_t marker = std::min<uint64_t>(4096, size);
  for (uint64_t at : {uint64_t(0), size / 2, size - marker}) {
    std::string bytes = PatternBytes(marker, at + 1);
    if (pwrite(fd, bytes.data(), bytes.size(), off_t(at)) != ssize_t(bytes.size())) {
      throw std::runtime_error("cannot write " + path);
    }
  }
  close(fd);
}
