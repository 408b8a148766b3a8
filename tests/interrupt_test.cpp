#include <gtest/gtest.h>
#include <signal.h>

#include <regex>

#include "background_program.h"
#include "run_program.h"

namespace {

// Sizes that send a file to each engine: just below and above the parallel threshold.
struct Engine {
  const char* name;
  uint64_t size;
};
constexpr Engine kEngines[] = {{"serial", 24999999}, {"parallel", 30000000}};

// Stops `encrypt big` while it transforms; `target` names an existing file to
// replace, or is empty for a new target.
std::unique_ptr<BackgroundProgram> StopMidRun(const ScratchFolder& dir, const Engine& engine,
                                              const std::string& target, const ProgramSetup& setup = {}) {
  std::vector<std::string> arguments{"encrypt", "-p", "pw", "-i", "big"};
  if (!target.empty()) arguments.insert(arguments.end(), {"-o", target});
  return StartStoppedMidRun(
      arguments, dir.path, dir / "big",
      [&] {
        MakeSparseFile(dir / "big", engine.size);
        if (!target.empty()) WriteFile(dir / target, "precious");
      },
      setup);
}

// Every signal whose default is to end the program, from a user, a terminal, a
// closed pipe, a timer, a limit or another program: the unfinished output goes,
// the old target stays, and the status is the signal's own. Where the filesystem
// has no unnamed files, the named temporary is removed the same way.
TEST(Interrupt, EveryEndingSignalLeavesNothingAndKeepsTheTarget) {
  const int signals[] = {SIGINT,  SIGTERM,   SIGHUP,  SIGQUIT, SIGPIPE, SIGXCPU,   SIGUSR1,  SIGUSR2, SIGALRM,
                         SIGABRT, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT, SIGRTMIN, SIGRTMAX};
  for (bool named : {false, true}) {
    for (const Engine& engine : kEngines) {
      for (int signal : signals) {
        SCOPED_TRACE(std::string(engine.name) + (named ? " engine, named temporary, " : " engine, ") +
                     (sigabbrev_np(signal) ? sigabbrev_np(signal) : std::to_string(signal).c_str()));
        ScratchFolder dir;
        auto program = StopMidRun(dir, engine, "old", {.withoutUnnamedFiles = named});
        ASSERT_TRUE(program) << "the run always ended before it could be stopped";
        if (named) {
          auto temporaries = HiddenNames(dir.path);
          ASSERT_EQ(temporaries.size(), 1u);
          EXPECT_TRUE(std::regex_match(temporaries[0], std::regex(R"(\.old\.[A-Za-z0-9]{6})")))
              << temporaries[0];
        } else {
          EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big", "old"}));
        }
        SignalProgram(*program, signal);
        SignalProgram(*program, SIGCONT);
        ProgramResult result = FinishProgram(*program);
        EXPECT_EQ(result.status, 128 + signal);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(ReadFile(dir / "old"), "precious");
        EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big", "old"}));
      }
    }
  }
}

TEST(Interrupt, NewTargetNeverAppears) {
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    ScratchFolder dir;
    auto program = StopMidRun(dir, engine, "");
    ASSERT_TRUE(program);
    SignalProgram(*program, SIGINT);
    SignalProgram(*program, SIGCONT);
    EXPECT_EQ(FinishProgram(*program).status, 128 + SIGINT);
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big"}));
  }
}

// SIGKILL cannot be caught, yet the unnamed output dies with the process. Only
// where the filesystem lacks unnamed files may a temporary remain, under a name that
// tells the user what it was for.
TEST(Interrupt, KillLeavesNothingButAFallbackTemporary) {
  for (bool named : {false, true}) {
    for (const Engine& engine : kEngines) {
      SCOPED_TRACE(std::string(engine.name) + (named ? ", named temporary" : ""));
      ScratchFolder dir;
      auto program = StopMidRun(dir, engine, "old", {.withoutUnnamedFiles = named});
      ASSERT_TRUE(program);
      SignalProgram(*program, SIGKILL);
      EXPECT_EQ(FinishProgram(*program).status, 128 + SIGKILL);
      EXPECT_EQ(ReadFile(dir / "old"), "precious");
      std::vector<std::string> left = HiddenNames(dir.path);
      if (named) {
        ASSERT_EQ(left.size(), 1u);
        EXPECT_TRUE(std::regex_match(left[0], std::regex(R"(\.old\.[A-Za-z0-9]{6})"))) << left[0];
      } else {
        EXPECT_EQ(left, std::vector<std::string>{});
      }
    }
  }
}

}  // namespace
