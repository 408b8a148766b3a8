#include "run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  execv(QUILLFORT_BINARY, argv.data());
  _exit(127);
}

ProgramResult RunProgram(const std::vector<std::string>& arguments, const std::string& directory,
                         const std::string& input) {
  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
    throw std::runtime_error("pipe");
  std::vector<char*> argv = ProgramArgv(arguments);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    ExecProgram(directory, argv);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Feed standard input in full, then close it so the program sees its end.
  signal(SIGPIPE, SIG_IGN);
  size_t fed = 0;
  while (fed < input.size()) {
    ssize_t n = write(in[1], input.data() + fed, input.size() - fed);
    if (n <= 0) break;
    fed += size_t(n);
  }
  close(in[1]);
  ProgramResult result;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    poll(fds, 2, -1);
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, size_t(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
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
