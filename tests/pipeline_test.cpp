// End to end: standard input and output as data, passwords for scripts, quiet runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "expected_bytes.h"
#include "pty_session.h"
#include "report_text.h"
#include "run_program.h"

namespace {

std::string Report(const char* header, const std::string& input, const std::string& target) {
  return SerialReport(header, input, target);
}

// Runs a shell command line in `directory`, with `quillfort` standing for the program.
int Shell(const std::string& directory, const std::string& command) {
  std::string line = "cd '" + directory + "' && quillfort() { '" QUILLFORT_BINARY "' \"$@\"; } && " + command;
  int status = std::system(("bash -c '" +
                            [&] {
                              std::string quoted;
                              for (char c : line)
                                quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
                              return quoted;
                            }() +
                            "'")
                               .c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Data through standard input and output: the bytes of the file engines, the report
// on standard error, nothing left in the folder.
TEST(Pipeline, StandardInputAndOutputCarryTheData) {
  ScratchFolder dir;
  const std::string plain = PatternBytes(700000);
  const std::string cipher = Encrypted(plain, "pw");
  WriteFile(dir / "f", plain);
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    std::string input, out, err;
  };
  const Case cases[] = {
      {"encrypt a stream", {"e", "-p", "pw", "-i", "-"}, plain, cipher, Report("ENCRYPTING", "-", "-")},
      {"decrypt a stream", {"d", "-p", "pw", "-i", "-"}, cipher, plain, Report("DECRYPTING", "-", "-")},
      {"an empty stream", {"e", "-p", "pw", "-i", "-"}, "", "", Report("ENCRYPTING", "-", "-")},
      {"a file to standard output",
       {"e", "-p", "pw", "-i", "f", "-o", "-"},
       "",
       cipher,
       "will write to: -\n" + Report("ENCRYPTING", "f", "-")},
      {"a stream among other inputs' words", {"-p", "pw", "e", "-i", "-", "-q"}, plain, cipher, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult result = RunProgram(c.arguments, dir.path, c.input);
    EXPECT_TRUE(result.out == c.out) << result.out.size() << " bytes";
    EXPECT_EQ(WithoutFigures(result.err), c.err);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"f"});
  }
  // A stream into a file goes through the same commit path as any output.
  ProgramResult toFile = RunProgram({"e", "-p", "pw", "-i", "-", "-o", "g"}, dir.path, plain);
  EXPECT_EQ(WithoutFigures(toFile.out), "will write to: g\n" + Report("ENCRYPTING", "-", "g"));
  EXPECT_EQ(toFile.status, 0);
  EXPECT_TRUE(ReadFile(dir / "g") == cipher);
}

TEST(Pipeline, MisplacedStreamsAreRefused) {
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  WriteFile(dir / "-", "a file named like standard input");
  mkdir((dir / "out").c_str(), 0755);
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    std::string out, err;
  };
  const Case cases[] = {
      {"standard input into a folder",
       {"e", "-p", "pw", "-i", "-", "-o", "out"},
       "standard input needs an output file name: use -o FILE or -o -\n",
       ""},
      {"standard input in a batch",
       {"e", "-p", "pw", "-i", "-", "a", "-o", "out"},
       "Input file missing: -\n" + Report("ENCRYPTING", "a", "out/a.quillforted"),
       "quillfort: -: standard input takes a single input\n"},
      {"a batch to standard output",
       {"e", "-p", "pw", "-i", "a", "a", "-o", "-"},
       "output directory is unavailable!\n",
       "quillfort: -: Not a directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult result = RunProgram(c.arguments, dir.path, "data");
    EXPECT_EQ(WithoutFigures(result.out), c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ReadFile(dir / "-"), "a file named like standard input");
  }
}

// -o naming a descriptor writes to it as it is: no temporary, no truncation, and an
// append stays an append.
TEST(Pipeline, DescriptorOutputsAreWrittenInPlace) {
  ScratchFolder dir;
  const std::string plain = PatternBytes(30000);
  WriteFile(dir / "f", plain);
  const std::string cipher = Encrypted(plain, "pw");
  struct Case {
    std::string command;
    std::string file;
  };
  const Case cases[] = {
      {"quillfort e -p pw -i f -o /dev/stdout >>log 2>/dev/null", "log"},
      {"quillfort e -p pw -i f -o /dev/fd/3 3>>log", "log"},
      {"quillfort e -p pw -i f -o /proc/self/fd/4 4>>log >/dev/null", "log"},
      {"quillfort e -p pw -i f -o /dev/stderr 2>>log >/dev/null", "log"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    WriteFile(dir / "log", "earlier lines\n");
    ASSERT_EQ(Shell(dir.path, c.command), 0);
    EXPECT_TRUE(ReadFile(dir / c.file) == "earlier lines\n" + cipher);
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"f", "log"}));
  }
}

// A reader that goes away ends the run at once, whether the program dies of SIGPIPE
// or (with SIGPIPE ignored) sees the failed write.
TEST(Pipeline, ClosedReaderEndsTheRun) {
  ScratchFolder dir;
  WriteFile(dir / "big", PatternBytes(20000000));
  for (bool ignored : {false, true}) {
    SCOPED_TRACE(ignored ? "SIGPIPE ignored" : "SIGPIPE");
    int out[2], err[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(err), 0);
    std::vector<std::string> arguments{"e", "-p", "pw", "-i", "big", "-o", "-"};
    std::vector<char*> argv = ProgramArgv(arguments);
    pid_t pid = fork();
    if (pid == 0) {
      signal(SIGPIPE, ignored ? SIG_IGN : SIG_DFL);
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      ExecProgram(dir.path, argv);
    }
    close(out[1]);
    close(err[1]);
    char first[10];
    ASSERT_EQ(read(out[0], first, sizeof first), ssize_t(sizeof first));
    close(out[0]);
    std::string printed;
    char buffer[4096];
    for (ssize_t n; (n = read(err[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, size_t(n));
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (ignored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
      EXPECT_NE(printed.find("target could not be written!\n"), std::string::npos) << printed;
    } else {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE);
    }
    EXPECT_EQ(ListFolder(dir.path), std::vector<std::string>{"big"});
  }
}

TEST(Pipeline, TerminalGetsNoEncryptedData) {
  ScratchFolder dir;
  WriteFile(dir / "f", "secret plans");
  WriteFile(dir / "f.quillforted", Encrypted("secret plans", "pw"));
  {
    PtySession session({"e", "-p", "pw", "-i", "f", "-o", "-"}, dir.path);
    EXPECT_EQ(WaitForExit(session), 1);
    EXPECT_EQ(session.screen, "refusing to write encrypted data to a terminal\n");
  }
  {
    PtySession session({"d", "-p", "pw", "-i", "f.quillforted", "-o", "-", "-q"}, dir.path);
    EXPECT_EQ(WaitForExit(session), 0);
    EXPECT_EQ(session.screen, "secret plans");
  }
  EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"f", "f.quillforted"}));
}

// Passwords for scripts: read once, never confirmed, and keying exactly as -p does.
TEST(PasswordSources, ReadOnceLikeDashP) {
  ScratchFolder dir;
  const std::string plain = PatternBytes(5000);
  WriteFile(dir / "a", plain);
  const std::string cipher = Encrypted(plain, "open sesame");
  WriteFile(dir / "key", "open sesame\nsecond line\n");
  WriteFile(dir / "key-crlf", "open sesame\r\n");
  WriteFile(dir / "key-bare", "open sesame");
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    RunSetup setup;
  };
  const Case cases[] = {
      {"a file", {"--password-file", "key"}, {}},
      {"a file with CR LF", {"--password-file", "key-crlf"}, {}},
      {"a file without a line end", {"--password-file", "key-bare"}, {}},
      {"a descriptor", {"--password-fd", "3"}, {.descriptors = {{3, "open sesame\nrest\n"}}}},
      {"the environment", {"--password-env", "QF_SECRET"}, {.environment = {"QF_SECRET=open sesame"}}},
      {"a later source replaces an earlier one",
       {"--password-file", "nothing", "--password-file", "key"},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments{"e", "-q", "-i", "a", "-o", "out"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ProgramResult result = RunProgram(arguments, dir.path, "", c.setup);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(dir / "out"), cipher);
    unlink((dir / "out").c_str());
  }
}

TEST(PasswordSources, FailuresEndTheRunBeforeAnyFile) {
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  WriteFile(dir / "empty", "\n");
  WriteFile(dir / "zero", std::string("ab\0cd\n", 6));
  struct Case {
    std::vector<std::string> arguments;
    std::string out;
    RunSetup setup{};
  };
  const Case cases[] = {
      {{"--password-file"}, "missing argument for --password-file!\n"},
      {{"--password-fd"}, "missing argument for --password-fd!\n"},
      {{"--password-env"}, "missing argument for --password-env!\n"},
      {{"--password-file", "missing"}, "password could not be read from --password-file missing\n"},
      {{"--password-file", "."}, "password could not be read from --password-file .\n"},
      {{"--password-fd", "9"}, "password could not be read from --password-fd 9\n"},
      {{"--password-fd", "x"}, "password could not be read from --password-fd x\n"},
      {{"--password-env", "QF_UNSET"}, "password could not be read from --password-env QF_UNSET\n"},
      {{"--password-file", "empty"}, "password from --password-file empty is empty\n"},
      {{"--password-env", "QF_EMPTY"},
       "password from --password-env QF_EMPTY is empty\n",
       {.environment = {"QF_EMPTY="}}},
      {{"--password-file", "zero"}, "password from --password-file zero contains a zero byte\n"},
      {{"--password-file", "/dev/zero"}, "password could not be read from --password-file /dev/zero\n"},
      {{"-p", "pw", "--password-file", "empty"}, "give the password only one way\n"},
      {{"--password-env", "X", "--password-file", "empty"}, "give the password only one way\n"},
  };
  for (const Case& c : cases) {
    std::string typed;
    for (const std::string& word : c.arguments) typed += "[" + word + "]";
    SCOPED_TRACE(typed);
    std::vector<std::string> arguments{"e", "-i", "a"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    ProgramResult result = RunProgram(arguments, dir.path, "pw\npw\n", c.setup);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"a", "empty", "zero"}));
  }
}

// The value read from the environment is gone from what other users can read.
TEST(PasswordSources, EnvironmentValueIsWipedFromTheProcess) {
  ScratchFolder dir;
  int in[2];
  ASSERT_EQ(pipe(in), 0);
  std::vector<std::string> arguments{"e", "--password-env", "QF_SECRET", "-i", "-", "-o", "out"};
  std::vector<char*> argv = ProgramArgv(arguments);
  std::string entry = "QF_SECRET=do not show me";
  char* envp[] = {entry.data(), nullptr};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[1]);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    environ = envp;
    ExecProgram(dir.path, argv);
  }
  close(in[0]);
  // The program reads the password at its start, then waits for its data.
  ASSERT_EQ(write(in[1], "x", 1), 1);
  std::string environment;
  for (int i = 0; i < 200; ++i) {
    environment = ReadFile("/proc/" + std::to_string(pid) + "/environ");
    if (environment.starts_with("QF_SECRET=") && environment.find("do not show me") == std::string::npos)
      break;
    usleep(10000);
  }
  EXPECT_EQ(environment.find("do not show me"), std::string::npos);
  EXPECT_NE(environment.find("QF_SECRET="), std::string::npos);
  close(in[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(ReadFile(dir / "out"), Encrypted("x", "do not show me"));
}

// With standard input carrying the data, the dialogue takes place on the terminal.
TEST(PasswordSources, DialogueMovesToTheTerminal) {
  ScratchFolder dir;
  const std::string plain = PatternBytes(10000);
  PtySession session({"e", "-i", "-"}, dir.path,
                     {.inputFromPipe = true, .input = plain, .outputPath = dir / "out"});
  ASSERT_TRUE(WaitForScreen(session, "ENTER PASSWORD:"));
  Type(session, "typed\n");
  ASSERT_TRUE(WaitForScreen(session, "REPEAT PASSWORD:"));
  Type(session, "typed\n");
  EXPECT_EQ(WaitForExit(session), 0);
  EXPECT_EQ(
      WithoutFigures(session.screen),
      "ENTER PASSWORD:*****\nREPEAT PASSWORD:*****\npasswords match!\n" + Report("ENCRYPTING", "-", "-"));
  EXPECT_TRUE(ReadFile(dir / "out") == Encrypted(plain, "typed"));

  ProgramResult noTerminal = RunProgram({"e", "-i", "-"}, dir.path, "data", {.withoutTerminal = true});
  EXPECT_EQ(noTerminal.err,
            "no password: standard input carries the data; use -p, --password-file, --password-fd or "
            "--password-env\n");
  EXPECT_EQ(noTerminal.out, "");
  EXPECT_EQ(noTerminal.status, 1);
}

// -q: nothing when all goes well; every failure still; prompts still.
TEST(Quiet, OnlyFailuresAndPrompts) {
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    std::string input, out;
    int status;
    std::string err = "";
  };
  const Case cases[] = {
      {"a batch",
       {"-q", "-p", "pw", "-i", "a", "missing", "-k", "nokey"},
       "",
       "Input file missing: missing\n",
       1,
       "quillfort: ignoring unknown word: nokey\nquillfort: missing: No such file or directory\n"},
      {"a named output", {"--quiet", "-p", "pw", "-i", "a", "-o", "b"}, "", "", 0},
      {"a failing target",
       {"-q", "-p", "pw", "-i", "a", "-o", "no/b"},
       "",
       "target could not be opened!\n",
       1,
       "quillfort: no/b: No such file or directory\n"},
      {"the prompt", {"-q", "-i", "a", "-o", "c"}, "pw\npw\n", "ENTER PASSWORD:**\nREPEAT PASSWORD:**\n", 0},
      {"a refused entry",
       {"-q", "-i", "a"},
       "pw\npx\n",
       "ENTER PASSWORD:**\nREPEAT PASSWORD:**passwords do not match!\n",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult result = RunProgram(c.arguments, dir.path, c.input);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.status, c.status);
  }
  EXPECT_EQ(ReadFile(dir / "b"), Encrypted("text", "pw"));
}

}  // namespace
