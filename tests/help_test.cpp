#include <gtest/gtest.h>

#include <sstream>

#include "cli/command_line.h"
#include "cli/help_text.h"
#include "run_program.h"

namespace {

struct HelpCase {
  std::vector<std::string> arguments;
  std::string expected;
};

// -h, --help and --version wherever an option may stand: the text and nothing else,
// no prompt (a password waits on standard input), no message, no file.
TEST(Help, AnswersAndDoesNothingElse) {
  const std::string help = kHelpText;
  const std::string version = std::string("quillfort ") + QUILLFORT_VERSION + "\n";
  const std::vector<HelpCase> cases = {
      {{"-h"}, help},
      {{"--help"}, help},
      {{"--version"}, version},
      {{"encrypt", "-i", "a.txt", "-h"}, help},
      {{"-i", "a.txt", "b.txt", "--help", "-p", "pw"}, help},
      {{"-p", "pw", "-i", "a.txt", "--version"}, version},
      {{"decrypt", "-i", "a.txt", "-o", "out", "--help"}, help},
      {{"-k", "nokey", "-h"}, help},            // no key file notice
      {{"-k", "-h", "-i", "a.txt"}, help},      // -h is not a key file, so read as an option
      {{"-h", "-p"}, help},                     // no missing argument message
      {{"--version", "--help"}, version},       // the first one answers
      {{"-i", "missing.txt", "--help"}, help},  // no missing input message
  };
  for (const HelpCase& c : cases) {
    ScratchFolder dir;
    WriteFile(dir / "a.txt", "plain");
    WriteFile(dir / "b.txt", "text");
    std::ostringstream trace;
    for (const auto& word : c.arguments) trace << '[' << word << ']';
    SCOPED_TRACE(trace.str());
    ProgramResult run = RunProgram(c.arguments, dir.path, "pw\npw\n");
    EXPECT_EQ(run.out, c.expected);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(ReadFile(dir / "a.txt"), "plain");
  }
}

// The word after -o or -p is a value, whatever it looks like; other words that
// merely resemble the options are ignored like any unknown word.
TEST(Help, OnlyWordsInOptionPlaceCount) {
  ScratchFolder dir;
  WriteFile(dir / "a.txt", "plain");
  ProgramResult asPassword = RunProgram({"-p", "-h", "-i", "a.txt"}, dir.path);
  EXPECT_EQ(asPassword.status, 0) << asPassword.out;
  EXPECT_EQ(asPassword.out.rfind("ENCRYPTING\ninput file: a.txt\n", 0), 0u) << asPassword.out;
  EXPECT_TRUE(Exists(dir / "a.txt.quillforted"));

  ProgramResult asOutput = RunProgram({"-p", "pw", "-o", "--help", "-i", "a.txt"}, dir.path);
  EXPECT_EQ(asOutput.status, 0) << asOutput.out;
  EXPECT_EQ(asOutput.out.rfind("will write to: --help\nENCRYPTING\n", 0), 0u) << asOutput.out;
  EXPECT_TRUE(Exists(dir / "--help"));

  ProgramResult lookalikes = RunProgram({"-help", "--h", "-H", "-version", "-p", "pw"}, dir.path);
  EXPECT_EQ(lookalikes.out, "you must specify some input files via '-i'!\n");
  EXPECT_EQ(lookalikes.status, 1);
}

TEST(Help, EmptyCommandLineStillPrintsTheNineUsageLines) {
  ScratchFolder dir;
  ProgramResult run = RunProgram({}, dir.path);
  EXPECT_EQ(run.out, kUsageText);
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 9);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(ListFolder(dir.path).empty());
}

// Every word the parser knows is documented, and the text fits an 80-column terminal.
TEST(Help, NamesEveryOptionAndFitsEightyColumns) {
  const std::string help = kHelpText;
  for (const char* word : {"-i ",
                           "-o ",
                           "-p ",
                           "-k ",
                           "-h",
                           "--help",
                           "--version",
                           "--sync",
                           "--password-file",
                           "--password-fd",
                           "--password-env",
                           "--quiet",
                           "-q,",
                           " e,",
                           " enc,",
                           "encrypt",
                           " d,",
                           " dec,",
                           "decrypt",
                           "Exit status",
                           "128+"}) {
    EXPECT_NE(help.find(word), std::string::npos) << word;
  }
  std::istringstream lines(help);
  for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 80u) << line;
}

}  // namespace
