#include "background_program.h"

#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
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

// open and openat with O_TMPFILE fail with EOPNOTSUPP, as on a filesystem without it.
void RefuseUnnamedFiles() {
  constexpr uint32_t kTmpfileBit = 020000000;  // __O_TMPFILE
  auto flagsOf = [](int arg) { return uint32_t(offsetof(seccomp_data, args) + arg * sizeof(uint64_t)); };
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat, 2, 0),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_open, 4, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, flagsOf(2)),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kTmpfileBit, 3, 2),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, flagsOf(1)),
      BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kTmpfileBit, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EOPNOTSUPP),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{sizeof filter / sizeof filter[0], filter};
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
      prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
    _exit(125);
  }
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
                  const std::string& directory, const ProgramSetup& setup) {
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
    rlimit fileSize{setup.fileSizeLimit, setup.fileSizeLimit};
    setrlimit(RLIMIT_FSIZE, &fileSize);
    if (setup.withoutUnnamedFiles) RefuseUnnamedFiles();
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

namespace {

// Bytes the program has read so far, from any file.
uint64_t BytesRead(pid_t pid) {
  std::string io = ReadFile("/proc/" + std::to_string(pid) + "/io");
  size_t at = io.find("rchar: ");
  return at == std::string::npos ? UINT64_MAX : std::stoull(io.substr(at + 7));
}

// Stops the program once the watch reports a read. True when it is stopped, not
// ended, and a good part of `source` is still unread.
bool StopAtFirstRead(int watch, BackgroundProgram& program, const std::string& source) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{watch, POLLIN, 0};
    if (poll(&ready, 1, 20) > 0) {
      kill(program.pid, SIGSTOP);
      if (Reap(program, WUNTRACED)) return false;
      struct stat status {};
      return stat(source.c_str(), &status) == 0 &&
             BytesRead(program.pid) + (2 << 20) < uint64_t(status.st_size);
    }
    if (Reap(program, WNOHANG)) return false;
  }
  return false;
}

}  // namespace

std::unique_ptr<BackgroundProgram> StartStoppedMidRun(const std::vector<std::string>& arguments,
                                                      const std::string& directory, const std::string& source,
                                                      const std::function<void()>& prepare,
                                                      const ProgramSetup& setup) {
  for (int attempt = 0; attempt < 5; ++attempt) {
    // An attempt that ran to its end left its outputs behind.
    for (auto& entry : std::filesystem::directory_iterator(directory))
      std::filesystem::remove_all(entry.path());
    prepare();
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (watch < 0 || inotify_add_watch(watch, source.c_str(), IN_ACCESS) < 0)
      throw std::runtime_error("inotify");
    auto program = std::make_unique<BackgroundProgram>();
    StartProgram(*program, arguments, directory, setup);
    bool stopped = StopAtFirstRead(watch, *program, source);
    close(watch);
    if (stopped) return program;
    kill(program->pid, SIGCONT);
    FinishProgram(*program);
  }
  return nullptr;
}

std::vector<std::string> HiddenNames(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (name[0] == '.') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
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
