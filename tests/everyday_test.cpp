// End to end: the question before a file is replaced, the causes of failures, and
// the words a run ignores.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "background_program.h"
#include "expected_bytes.h"
#include "pty_session.h"
#include "report_text.h"
#include "run_program.h"

namespace {

std::string Enc(const std::string& input, const std::string& target) {
  return SerialReport("ENCRYPTING", input, target);
}

// A person at the terminal answers the question, or is never asked.
TEST(ReplaceQuestion, AskedOnATerminal) {
  struct Case {
    std::string name;
    std::vector<std::string> options;
    std::string answer;  // typed after the question; empty: no question is asked
    bool replaced;
    std::string screen;  // the speed figures shown as "#"
  };
  const std::string question = "replace a.quillforted? [y/N] ";
  const std::string refused = "not replaced: a.quillforted\n";
  const Case cases[] = {
      {"y", {}, "y\n", true, question + Enc("a", "a.quillforted")},
      {"YES in any case", {}, "YeS\n", true, question + Enc("a", "a.quillforted")},
      {"n", {}, "n\n", false, question + refused},
      {"Enter alone", {}, "\n", false, question + refused},
      {"something else", {}, "yess\n", false, question + refused},
      {"end of input", {}, "\x04", false, question + "\n" + refused},
      {"-f", {"-f"}, "", true, Enc("a", "a.quillforted")},
      {"-n", {"--no-clobber"}, "", false, refused},
      {"-f then -n", {"--force", "-n"}, "", false, refused},
      {"-n then -f", {"-n", "--force"}, "", true, Enc("a", "a.quillforted")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    WriteFile(dir / "a", "new text");
    WriteFile(dir / "a.quillforted", "the only copy");
    std::vector<std::string> arguments{"e", "-p", "pw", "-i", "a"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    PtySession session(arguments, dir.path);
    if (!c.answer.empty()) {
      ASSERT_TRUE(WaitForScreen(session, question)) << session.screen;
      Type(session, c.answer);
    }
    EXPECT_EQ(WaitForExit(session), c.replaced ? 0 : 1);
    // What the terminal echoed of the answer is the terminal's, not ours.
    std::string screen = session.screen;
    if (!c.answer.empty() && c.answer != "\x04") screen.erase(question.size(), c.answer.size());
    EXPECT_EQ(WithoutFigures(screen), c.screen);
    EXPECT_EQ(ReadFile(dir / "a.quillforted"), c.replaced ? Encrypted("new text", "pw") : "the only copy");
  }
}

// In a batch only the existing targets are asked about, each right before its
// header, and a refusal skips only that file.
TEST(ReplaceQuestion, OnlyExistingTargetsOfABatch) {
  ScratchFolder dir;
  for (const char* name : {"a", "b", "c"}) WriteFile(dir / name, name);
  mkdir((dir / "out").c_str(), 0755);
  WriteFile(dir / "out/b.quillforted", "old b");
  WriteFile(dir / "out/c.quillforted", "old c");
  PtySession session({"e", "-p", "pw", "-i", "a", "b", "c", "-o", "out"}, dir.path);
  ASSERT_TRUE(WaitForScreen(session, "replace out/b.quillforted? [y/N] ")) << session.screen;
  Type(session, "n\n");
  ASSERT_TRUE(WaitForScreen(session, "replace out/c.quillforted? [y/N] ")) << session.screen;
  Type(session, "y\n");
  EXPECT_EQ(WaitForExit(session), 1);
  EXPECT_EQ(WithoutFigures(session.screen), Enc("a", "out/a.quillforted") +
                                                "replace out/b.quillforted? [y/N] n\nnot replaced: "
                                                "out/b.quillforted\nreplace out/c.quillforted? [y/N] y\n" +
                                                Enc("c", "out/c.quillforted"));
  EXPECT_EQ(ReadFile(dir / "out/a.quillforted"), Encrypted("a", "pw"));
  EXPECT_EQ(ReadFile(dir / "out/b.quillforted"), "old b");
  EXPECT_EQ(ReadFile(dir / "out/c.quillforted"), Encrypted("c", "pw"));
}

// Scripts keep working: without a terminal the file is replaced as before, unless -n.
TEST(ReplaceQuestion, ScriptsAreNeverAsked) {
  ScratchFolder dir;
  WriteFile(dir / "a", "new text");
  WriteFile(dir / "a.quillforted", "old");
  ProgramResult noClobber = RunProgram({"e", "-p", "pw", "-i", "a", "-n"}, dir.path);
  EXPECT_EQ(noClobber.out, "not replaced: a.quillforted\n");
  EXPECT_EQ(noClobber.status, 1);
  EXPECT_EQ(ReadFile(dir / "a.quillforted"), "old");
  ProgramResult plain = RunProgram({"e", "-p", "pw", "-i", "a"}, dir.path);
  EXPECT_EQ(WithoutFigures(plain.out), Enc("a", "a.quillforted"));
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(ReadFile(dir / "a.quillforted"), Encrypted("new text", "pw"));
}

// The question comes after the password dialogue and before the file's header.
TEST(ReplaceQuestion, ComesAfterThePassword) {
  ScratchFolder dir;
  WriteFile(dir / "a", "new text");
  WriteFile(dir / "a.quillforted", "old");
  PtySession session({"e", "-i", "a"}, dir.path);
  ASSERT_TRUE(WaitForScreen(session, "ENTER PASSWORD:"));
  Type(session, "pw\n");
  ASSERT_TRUE(WaitForScreen(session, "REPEAT PASSWORD:"));
  Type(session, "pw\n");
  ASSERT_TRUE(WaitForScreen(session, "? [y/N] "));
  Type(session, "y\n");
  EXPECT_EQ(WaitForExit(session), 0);
  EXPECT_EQ(WithoutFigures(session.screen),
            "ENTER PASSWORD:**\nREPEAT PASSWORD:**\npasswords match!\nreplace a.quillforted? [y/N] y\n" +
                Enc("a", "a.quillforted"));
}

// Standard input carries the data: the question goes to the terminal itself.
TEST(ReplaceQuestion, AskedOnTheTerminalWhileStandardInputCarriesData) {
  ScratchFolder dir;
  WriteFile(dir / "out", "the only copy");
  PtySession session({"e", "-p", "pw", "-i", "-", "-o", "out"}, dir.path,
                     {.inputFromPipe = true, .input = "piped data", .outputPath = dir / "log"});
  ASSERT_TRUE(WaitForScreen(session, "replace out? [y/N] ")) << session.screen;
  Type(session, "n\n");
  EXPECT_EQ(WaitForExit(session), 1);
  EXPECT_EQ(ReadFile(dir / "out"), "the only copy");
  EXPECT_EQ(ReadFile(dir / "log"), "will write to: out\nnot replaced: out\n");
}

// Every failure about a file names it and says why, on standard error only.
TEST(Causes, SaidOnStandardError) {
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  WriteFile(dir / "b", "text");
  mkdir((dir / "locked").c_str(), 0755);
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    std::string out, err;
  };
  const Case cases[] = {
      {"a FIFO as input",
       {"e", "-p", "pw", "-i", "fifo", "a"},
       "Input file missing: fifo\n" + Enc("a", "./a.quillforted"),
       "quillfort: fifo: not a regular file\n"},
      {"a file where a folder is needed",
       {"e", "-p", "pw", "-i", "a", "-o", "a/x"},
       "will write to: a/x\nENCRYPTING\ntarget could not be opened!\n",
       "quillfort: a/x: Not a directory\n"},
      {"one file twice, and a missing one",
       {"e", "-p", "pw", "-i", "a", "./a", "locked/a", "-o", "locked"},
       Enc("a", "locked/a.quillforted") + Enc("./a", "locked/a.quillforted") +
           "Input file missing: locked/a\n",
       "quillfort: locked/a: No such file or directory\n"},
      {"another input's output",
       {"e", "-p", "pw", "-i", "b", "b.quillforted"},
       "output would overwrite another input of this run: ./b.quillforted\n" +
           Enc("b.quillforted", "./b.quillforted.quillforted"),
       "quillfort: ./b.quillforted: is another input of this run\n"},
  };
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  WriteFile(dir / "b.quillforted", "text");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult result = RunProgram(c.arguments, dir.path);
    EXPECT_EQ(WithoutFigures(result.out), c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, 1);
  }
  WriteFile(dir / "locked/a", "another file named a");
  ProgramResult collision = RunProgram({"e", "-p", "pw", "-i", "a", "locked/a", "-o", "."}, dir.path);
  EXPECT_EQ(
      WithoutFigures(collision.out),
      Enc("a", "./a.quillforted") + "two inputs would be written to the same output: ./a.quillforted\n");
  EXPECT_EQ(collision.err, "quillfort: ./a.quillforted: an earlier input of this run is written there\n");
}

// A source that changes while it is read, or turns into a FIFO after the plan saw a
// file, is named with its cause.
TEST(Causes, ForSourcesThatChangeUnderTheRun) {
  ScratchFolder dir;
  auto program = StartStoppedMidRun({"e", "-p", "pw", "-i", "big", "next"}, dir.path, dir / "big", [&] {
    MakeSparseFile(dir / "big", 26000000);
    WriteFile(dir / "next", "a file while planned");
  });
  ASSERT_TRUE(program);
  ASSERT_EQ(truncate((dir / "big").c_str(), 1000), 0);
  unlink((dir / "next").c_str());
  ASSERT_EQ(mkfifo((dir / "next").c_str(), 0644), 0);
  SignalProgram(*program, SIGCONT);
  ProgramResult result = FinishProgram(*program);
  EXPECT_EQ(result.out, "ENCRYPTING\nsource could not be read!\nENCRYPTING\nsource could not be opened!\n");
  EXPECT_EQ(result.err, "quillfort: big: changed while it was read\nquillfort: next: not a regular file\n");
  EXPECT_EQ(result.status, 1);
}

// Ignored words are named, with the word that was likely meant; the run itself is
// exactly what it was.
TEST(IgnoredWords, NamedWithASuggestion) {
  ScratchFolder dir;
  WriteFile(dir / "f.quillforted", "text");
  const std::string ignoring = "quillfort: ignoring unknown word: ";
  struct Case {
    std::vector<std::string> arguments;
    std::string err;
  };
  const Case cases[] = {
      {{"decrpyt", "-p", "x", "-i", "f.quillforted"}, ignoring + "decrpyt (did you mean decrypt?)\n"},
      {{"--pasword-file", "k", "-p", "x", "-i", "f.quillforted"},
       ignoring + "--pasword-file (did you mean --password-file?)\n" + ignoring + "k\n"},
      {{"--output", "x", "-p", "x", "-i", "f.quillforted"}, ignoring + "--output\n" + ignoring + "x\n"},
      {{"ENCRYPT", "-p", "x", "-i", "f.quillforted", "--Force"},
       ignoring + "ENCRYPT (did you mean encrypt?)\n" + ignoring + "--Force (did you mean --force?)\n"},
      {{"-p", "x", "", "-i", "f.quillforted"}, "quillfort: ignoring an empty argument\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    ProgramResult result = RunProgram(c.arguments, dir.path);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(WithoutFigures(result.out), Enc("f.quillforted", "f.quillforted.quillforted"));
    EXPECT_EQ(result.status, 0);
    unlink((dir / "f.quillforted.quillforted").c_str());
  }
}

}  // namespace
