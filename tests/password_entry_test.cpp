#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "expected_bytes.h"
#include "pty_session.h"
#include "run_program.h"

namespace {

const std::string kNoInputs = "you must specify some input files via '-i'!\n";
const std::string kMatch = "\npasswords match!\n" + kNoInputs;
const std::string kMismatch = "passwords do not match!\n";
const std::string kEmpty = "\npasswords cannot contain zero characters!\n";
const std::string kTooLong = "\npasswords cannot be longer than 103 characters!\n";

std::string Stars(size_t count) { return std::string(count, '*'); }

bool TerminalEchoes(const PtySession& session) { return TerminalSettings(session).c_lflag & ECHO; }

// Echo is the one setting the prompt may touch: line editing and input translation stay.
void ExpectSettingsBesideEcho(const PtySession& session, bool echo) {
  termios now = TerminalSettings(session);
  EXPECT_EQ(now.c_lflag, echo ? session.initial.c_lflag | ECHO : session.initial.c_lflag & ~tcflag_t(ECHO));
  EXPECT_EQ(now.c_iflag, session.initial.c_iflag);
}

// A person at the terminal: each line is typed once its prompt is on screen.
TEST(PasswordPrompt, TypedAtATerminal) {
  struct Case {
    const char* what;
    std::vector<std::string> lines;
    std::string screen;
    int status;
    bool echoBefore = true;
  };
  const std::string longLine(104, 'x');
  const Case cases[] = {
      {"stars, no echo", {"abc\n", "abc\n"}, "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMatch, 1},
      {"echo off beforehand",
       {"abc\n", "abc\n"},
       "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMatch,
       1,
       false},
      {"backspace and CR", {"ab\bc\r", "ac\r"}, "ENTER PASSWORD:**\b*\nREPEAT PASSWORD:**" + kMatch, 1},
      {"mismatch", {"abc\n", "abd\n"}, "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMismatch, 1},
      {"empty", {"\n", "\n"}, "ENTER PASSWORD:\nREPEAT PASSWORD:" + kEmpty, 1},
      {"too long", {longLine + "\n"}, "ENTER PASSWORD:" + Stars(104) + kTooLong, 1},
  };
  ScratchFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PtySession session({"encrypt"}, dir.path, {.echo = c.echoBefore});
    for (size_t i = 0; i < c.lines.size(); ++i) {
      ASSERT_TRUE(WaitForScreen(session, "PASSWORD:", int(i) + 1)) << session.screen;
      ExpectSettingsBesideEcho(session, false);
      Type(session, c.lines[i]);
    }
    EXPECT_EQ(WaitForExit(session), c.status);
    EXPECT_EQ(session.screen, c.screen);
    ExpectSettingsBesideEcho(session, true);
  }
  EXPECT_TRUE(ListFolder(dir.path).empty());
}

TEST(PasswordPrompt, InterruptTurnsEchoBackOn) {
  struct Case {
    const char* what;
    int signal;
    bool typed;  // ^C at the keyboard rather than a signal from elsewhere
  };
  const Case cases[] = {{"^C", SIGINT, true}, {"SIGTERM", SIGTERM, false}, {"SIGHUP", SIGHUP, false}};
  ScratchFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PtySession session({"encrypt", "-i", "a"}, dir.path);
    ASSERT_TRUE(WaitForScreen(session, "ENTER PASSWORD:"));
    Type(session, "half a secr");
    EXPECT_FALSE(TerminalEchoes(session));
    if (c.typed) {
      Type(session, "\x03");
    } else {
      kill(session.pid, c.signal);
    }
    EXPECT_EQ(WaitForExit(session), 128 + c.signal);
    EXPECT_TRUE(TerminalEchoes(session));
  }
}

// Ctrl-Z in the middle of an entry: echo is on while the program is stopped, off
// again when it continues, and the entry goes on. (The terminal drops the unfinished
// line on Ctrl-Z, so the entry is what is typed after it.)
TEST(PasswordPrompt, StoppedAndContinuedMidEntry) {
  ScratchFolder dir;
  WriteFile(dir / "a", "plain text");
  PtySession session({"encrypt", "-i", "a"}, dir.path, {.jobControl = true});
  ASSERT_TRUE(WaitForScreen(session, "ENTER PASSWORD:"));
  Type(session, "half");
  Type(session, "\x1a");
  ASSERT_TRUE(WaitForStopped(session, true));
  EXPECT_TRUE(TerminalEchoes(session));
  kill(ProgramPid(session), SIGCONT);  // fg
  ASSERT_TRUE(WaitForStopped(session, false));
  for (int i = 0; i < 500 && TerminalEchoes(session); ++i) usleep(10000);
  EXPECT_FALSE(TerminalEchoes(session));
  Type(session, "whole secret\n");
  ASSERT_TRUE(WaitForScreen(session, "REPEAT PASSWORD:"));
  Type(session, "whole secret\n");
  EXPECT_EQ(WaitForExit(session), 0);
  EXPECT_TRUE(session.screen.starts_with("ENTER PASSWORD:" + Stars(12) + "\nREPEAT PASSWORD:" + Stars(12) +
                                         "\npasswords match!\nENCRYPTING\n"))
      << session.screen;
  EXPECT_TRUE(TerminalEchoes(session));
  EXPECT_EQ(ReadFile(dir / "a.quillforted"), Encrypted("plain text", "whole secret"));
}

// Scripts pipe the password: one line per entry.
TEST(PasswordPrompt, ReadFromAPipe) {
  struct Case {
    const char* what;
    std::vector<std::string> arguments;
    std::string input;
    std::string out;
    int status;
    std::string err = "";  // the hint for a password given once
  };
  const std::string max(103, 'm');
  const std::string over(104, 'o');
  const Case cases[] = {
      {"two lines", {"encrypt"}, "abc\nabc\n", "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMatch, 1},
      {"empty -p asks",
       {"decrypt", "-p", ""},
       "abc\nabc\n",
       "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMatch,
       1},
      {"-p skips the prompt", {"-p", "pw"}, "abc\nabc\n", kNoInputs, 1},
      {"CR ends a line", {"e"}, "abc\rabc\r", "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMatch, 1},
      {"CR LF leaves an empty second",
       {"e"},
       "abc\r\nabc\r\n",
       "ENTER PASSWORD:***\nREPEAT PASSWORD:" + kMismatch,
       1},
      {"zero byte cuts",
       {"e"},
       std::string("ab\0cd\nab\n", 9),
       "ENTER PASSWORD:*****\nREPEAT PASSWORD:**" + kMatch,
       1},
      {"DEL is stored", {"e"}, "ab\x7f\nab\n", "ENTER PASSWORD:***\nREPEAT PASSWORD:**" + kMismatch, 1},
      {"backspace never below zero",
       {"e"},
       "\b\bab\b\bcd\ncd\n",
       "ENTER PASSWORD:\b\b**\b\b**\nREPEAT PASSWORD:**" + kMatch,
       1},
      {"end of input ends the entry",
       {"e"},
       "abc\nabc",
       "ENTER PASSWORD:***\nREPEAT PASSWORD:***" + kMatch,
       1},
      {"no second line",
       {"e"},
       "abc\n",
       "ENTER PASSWORD:***\nREPEAT PASSWORD:" + kMismatch,
       1,
       "quillfort: standard input ended after one line: give the password twice, or use --password-file\n"},
      {"empty first entry mismatches",
       {"e"},
       "\nabc\n",
       "ENTER PASSWORD:\nREPEAT PASSWORD:***" + kMismatch,
       1},
      {"no input at all", {"e"}, "", "ENTER PASSWORD:\nREPEAT PASSWORD:" + kEmpty, 1},
      {"103 characters",
       {"e"},
       max + "\n" + max + "\n",
       "ENTER PASSWORD:" + Stars(103) + "\nREPEAT PASSWORD:" + Stars(103) + kMatch,
       1},
      {"104 characters", {"e"}, over + "abc\n" + over + "\n", "ENTER PASSWORD:" + Stars(107) + kTooLong, 1},
      {"second entry too long",
       {"e"},
       "abc\n" + over + "\n",
       "ENTER PASSWORD:***\nREPEAT PASSWORD:" + Stars(104) + kTooLong,
       1},
      {"long line then backspaces",
       {"e"},
       over + "\b\b\n" + max + "\n",
       "ENTER PASSWORD:" + Stars(104) + "\b\b" + kTooLong,
       1},
  };
  ScratchFolder dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProgramResult run = RunProgram(c.arguments, dir.path, c.input);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
  }
  EXPECT_TRUE(ListFolder(dir.path).empty());
}

// The entered password, not some trimmed or truncated form of it, keys the cipher.
TEST(PasswordPrompt, EnteredPasswordEncryptsLikeDashP) {
  ScratchFolder typed, given;
  std::string plain = PatternBytes(5000);
  WriteFile(typed / "a", plain);
  WriteFile(given / "a", plain);
  std::string secret =
      "s3cr\x7f"
      "et with spaces " +
      std::string(80, 'k');
  ProgramResult run = RunProgram({"encrypt", "-i", "a"}, typed.path, secret + "\n" + secret + "\n");
  ASSERT_EQ(run.status, 0) << run.out;
  ASSERT_EQ(RunProgram({"encrypt", "-i", "a", "-p", secret}, given.path).status, 0);
  EXPECT_EQ(ReadFile(typed / "a.quillforted"), ReadFile(given / "a.quillforted"));
  EXPECT_NE(ReadFile(typed / "a.quillforted"), plain);
}

// CI runs without any standard input: the prompt must end the run, not wait.
TEST(PasswordPrompt, ClosedOrEmptyStandardInputEndsTheRun) {
  for (const char* redirect : {"<&-", "</dev/null"}) {
    SCOPED_TRACE(redirect);
    std::string command = std::string("'") + QUILLFORT_BINARY + "' encrypt -i a " + redirect;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buffer[256];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    int status = pclose(pipe);
    EXPECT_EQ(out, "ENTER PASSWORD:\nREPEAT PASSWORD:" + kEmpty);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  }
}

}  // namespace
