#pragma once
// Helpers of the end-to-end tests: run the built program in a scratch folder and
// look at what it printed and left behind.
#include <cstdint>
#include <string>
#include <vector>

struct ProgramResult {
  std::string out;  // standard output
  std::string err;  // standard error
  int status = -1;  // exit status, or 128 + signal number
};

// The argument vector of quillfort with these arguments; the strings must outlive it.
// Built before fork, so the child allocates nothing.
std::vector<char*> ProgramArgv(const std::vector<std::string>& arguments);
// In a forked child: enter `directory` and become quillfort (exit 126 or 127 on failure).
[[noreturn]] void ExecProgram(const std::string& directory, std::vector<char*>& argv);

// What a run finds besides its arguments and standard input.
struct RunSetup {
  bool withoutTerminal = false;            // a session of its own, so /dev/tty cannot be opened
  std::vector<std::string> environment{};  // NAME=value entries added to the environment
  std::vector<std::pair<int, std::string>> descriptors{};  // descriptor N reads these bytes from a pipe
  unsigned user = 0;  // run as this user and group (needs root); 0 leaves them
};

// Runs quillfort with `arguments` in `directory`, feeding `input` on standard input.
ProgramResult RunProgram(const std::vector<std::string>& arguments, const std::string& directory,
                         const std::string& input = "", const RunSetup& setup = {});

// A fresh folder, removed with everything in it when the test ends.
struct ScratchFolder {
  std::string path;
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);
// Everything below a folder as sorted relative paths: folders end with "/", symbolic
// links with "@", other files that are not regular with "|".
std::vector<std::string> FolderTree(const std::string& root);
// Names in a folder, sorted, "." and ".." left out.
std::vector<std::string> ListFolder(const std::string& path);
// Deterministic pseudo-random bytes.
std::string PatternBytes(size_t size, uint64_t seed = 1);
