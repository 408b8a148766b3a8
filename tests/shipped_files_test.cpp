// The files installed beside the program: the manual page and the bash completion.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "run_program.h"

namespace {

const std::string kManual = std::string(QUILLFORT_SOURCE_DIR) + "/doc/quillfort.1";
const std::string kCompletion = std::string(QUILLFORT_SOURCE_DIR) + "/completion/quillfort";

struct ShellResult {
  std::string out;
  int status = -1;
};

// Runs a command line with sh, returning its standard output.
ShellResult Shell(const std::string& command) {
  ShellResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool Installed(const std::string& program) {
  return Shell("command -v " + program + " >/dev/null").status == 0;
}

TEST(ManualPage, RendersWithoutWarnings) {
  bool checked = false;
  if (Installed("groff")) {
    ShellResult groff = Shell("groff -ww -z -man '" + kManual + "' 2>&1");
    EXPECT_EQ(groff.status, 0);
    EXPECT_EQ(groff.out, "");
    checked = true;
  }
  if (Installed("man")) {
    ShellResult man = Shell("MANWIDTH=80 man --warnings -l '" + kManual + "' 2>&1 >/dev/null");
    EXPECT_EQ(man.status, 0);
    EXPECT_EQ(man.out, "");
    checked = true;
  }
  if (!checked) GTEST_SKIP() << "neither groff nor man is installed";
}

TEST(ManualPage, CarriesTheProgramsVersion) {
  std::string page = ReadFile(kManual);
  size_t title = page.find("\n.TH QUILLFORT 1 ");
  ASSERT_NE(title, std::string::npos);
  std::string titleLine = page.substr(title + 1, page.find('\n', title + 1) - title - 1);
  EXPECT_NE(titleLine.find(std::string("\"quillfort ") + QUILLFORT_VERSION + "\""), std::string::npos)
      << titleLine;
}

// What the completion offers for the words typed so far (the last one is being
// completed), one candidate a line, sorted.
std::string Complete(const ScratchFolder& dir, const std::vector<std::string>& words) {
  std::ostringstream script;
  script << "cd '" << dir.path << "' && source '" << kCompletion << "' && COMP_WORDS=(";
  for (const auto& word : words) script << " '" << word << "'";
  script << ") && COMP_CWORD=" << words.size() - 1
         << " && _quillfort && for c in \"${COMPREPLY[@]}\"; do printf '%s\\n' \"$c\"; done | LC_ALL=C sort";
  std::string command = script.str();
  std::string quoted;
  for (char c : command) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return Shell("bash -c '" + quoted + "'").out;
}

TEST(BashCompletion, OffersWhatEachPlaceTakes) {
  if (!Installed("bash")) GTEST_SKIP() << "bash is not installed";
  setenv("QF_COMPLETION_TEST", "1", 1);  // for --password-env, which offers variable names
  ScratchFolder dir;
  WriteFile(dir / "a.txt", "");
  WriteFile(dir / "b file.txt", "");
  ASSERT_EQ(mkdir((dir / "dir").c_str(), 0700), 0);
  const std::string options =
      "--force\n--help\n--no-clobber\n--password-env\n--password-fd\n--password-file\n--quiet\n--recursive\n"
      "--rm\n--sync\n--version\n-f\n-h\n-i\n-k\n-n\n-o\n-p\n-q\n-r\n";
  const std::string files = "a.txt\nb file.txt\ndir\n";
  struct Case {
    std::vector<std::string> words;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{"quillfort", ""}, options + "decrypt\nencrypt\n"},
      {{"quillfort", "de"}, "decrypt\n"},
      {{"quillfort", "--v"}, "--version\n"},
      {{"quillfort", "e", ""}, options},
      {{"quillfort", "e", "-i", ""}, files},
      {{"quillfort", "e", "-i", "a.txt", "b"}, "b file.txt\n"},
      {{"quillfort", "-i", "a.txt", "-o", ""}, files},
      {{"quillfort", "-i", "a.txt", "-o", "dir", ""}, options + "decrypt\nencrypt\n"},
      {{"quillfort", "-p", ""}, ""},
      {{"quillfort", "-p", "-i", ""}, options + "decrypt\nencrypt\n"},  // "-i" is the password
      {{"quillfort", "-k", ""}, files},
      {{"quillfort", "--password-file", ""}, files},
      {{"quillfort", "--password-fd", ""}, ""},
      {{"quillfort", "--password-env", "QF_COMPLETION_"}, "QF_COMPLETION_TEST\n"},
  };
  for (const Case& c : cases) {
    std::string typed;
    for (const auto& word : c.words) typed += "[" + word + "]";
    SCOPED_TRACE(typed);
    EXPECT_EQ(Complete(dir, c.words), c.expected);
  }
}

}  // namespace
