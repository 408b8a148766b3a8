#include "run_program.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

std::vector<char*> ProgramArgv(const std::vector<std::string>& arguments) {
  std::vector<char*> argv{const_cast<char*>(QUILLFORT_BINARY)};
  for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

void ExecProgram(const std::string& directory, std::vector<char*>& argv) {
  if (chdir(directory.c_str()) != 0) _exit(126);
  execve(QUILLFORT_BINARY, argv.data(), environ);
  _exit(127);
}

ProgramResult RunProgram(const std::vector<std::string>& arguments, const std::string& directory,
                         const std::string& input, const RunSetup& setup) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  // Extra descriptors hold their bytes in a pipe, small enough to be written before the start.
  std::vector<std::pair<int, int>> extra;
  for (const auto& [number, bytes] : setup.descriptors) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0 || write(ends[1], bytes.data(), bytes.size()) != ssize_t(bytes.size()))
      throw std::runtime_error("descriptor pipe");
    close(ends[1]);
    extra.emplace_back(number, ends[0]);
  }
  std::vector<char*> argv = ProgramArgv(arguments);
  std::vector<std::string> environment = setup.environment;
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  envp.reserve(environment.size() + 1);
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (auto [number, fd] : extra) dup2(fd, number);
    if (setup.withoutTerminal) setsid();
    if (setup.user != 0 &&
        (setgroups(0, nullptr) != 0 || setgid(setup.user) != 0 || setuid(setup.user) != 0)) {
      _exit(125);
    }
    environ = envp.data();
    ExecProgram(directory, argv);
  }
  for (auto [number, fd] : extra) close(fd);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed standard input while reading what comes back, so a program that writes as
  // it reads never waits on us; close it at its end so the program sees the end.
  signal(SIGPIPE, SIG_IGN);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  ProgramResult result;
  size_t fed = 0;
  if (input.empty()) close(in[1]);
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {input.empty() ? -1 : in[1], POLLOUT, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0 || fds[2].fd >= 0) {
    poll(fds, 3, -1);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, size_t(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (fds[2].fd >= 0 && fds[2].revents) {
      ssize_t n = write(in[1], input.data() + fed, input.size() - fed);
      if (n > 0) fed += size_t(n);
      if ((n < 0 && errno != EAGAIN) || fed == input.size()) {
        close(in[1]);
        fds[2].fd = -1;
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quillfort-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
  path = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  // Folders a test made read-only must be writable again to be removed.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
    if (entry.is_directory(ignored)) chmod(entry.path().c_str(), 0700);
  }
  chmod(path.c_str(), 0700);
  std::filesystem::remove_all(path, ignored);
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), std::streamsize(bytes.size()));
  if (!file) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream content;
  content << file.rdbuf();
  return content.str();
}

bool Exists(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0;
}

std::vector<std::string> FolderTree(const std::string& root) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string name = std::filesystem::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      name += "@";
    } else if (entry.is_directory()) {
      name += "/";
    } else if (!entry.is_regular_file()) {
      name += "|";
    }
    names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string PatternBytes(size_t size, uint64_t seed) {
  std::string bytes(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (auto& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = char(state >> 24);
  }
  return bytes;
}
