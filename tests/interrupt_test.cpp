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

// Stops `encrypt big` once its temporary holds data; `target` names an existing
// file to replace, or is empty for a new target.
std::unique_ptr<BackgroundProgram> StopMidRun(const ScratchFolder& dir, const Engine& engine,
                                              const std::string& target, std::string& temporary) {
  std::vector<std::string> arguments{"encrypt", "-p", "pw", "-i", "big"};
  if (!target.empty()) arguments.insert(arguments.end(), {"-o", target});
  return StartStoppedMidRun(
      arguments, dir.path, dir.path,
      [&] {
        MakeSparseFile(dir / "big", engine.size);
        if (!target.empty()) WriteFile(dir / target, "precious");
      },
      temporary);
}

// Every signal that ends the program by default and that a user, a terminal, a
// closed pipe or a limit can send: the temporary goes, the old target stays, and
// the status is the signal's own.
TEST(Interrupt, SignalRemovesTheTemporaryAndKeepsTheTarget) {
  for (const Engine& engine : kEngines) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXCPU}) {
      SCOPED_TRACE(std::string(engine.name) + " engine, " + sigabbrev_np(signal));
      ScratchFolder dir;
      std::string temporary;
      auto program = StopMidRun(dir, engine, "old", temporary);
      ASSERT_TRUE(program) << "the run always ended before it could be stopped";
      EXPECT_TRUE(std::regex_match(temporary, std::regex(R"(\.old\.[A-Za-z0-9]{6})"))) << temporary;
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

TEST(Interrupt, NewTargetNeverAppears) {
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    ScratchFolder dir;
    std::string temporary;
    auto program = StopMidRun(dir, engine, "", temporary);
    ASSERT_TRUE(program);
    EXPECT_TRUE(std::regex_match(temporary, std::regex(R"(\.big\.quillforted\.[A-Za-z0-9]{6})")))
        << temporary;
    SignalProgram(*program, SIGINT);
    SignalProgram(*program, SIGCONT);
    EXPECT_EQ(FinishProgram(*program).status, 128 + SIGINT);
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big"}));
  }
}

// SIGKILL cannot be caught: only the temporary may remain, under a name that tells
// the user what it was for.
TEST(Interrupt, KillLeavesOnlyARecognisableTemporary) {
  for (const Engine& engine : kEngines) {
    SCOPED_TRACE(engine.name);
    ScratchFolder dir;
    std::string temporary;
    auto program = StopMidRun(dir, engine, "old", temporary);
    ASSERT_TRUE(program);
    SignalProgram(*program, SIGKILL);
    EXPECT_EQ(FinishProgram(*program).status, 128 + SIGKILL);
    EXPECT_EQ(ReadFile(dir / "old"), "precious");
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{temporary, "big", "old"}));
    EXPECT_TRUE(std::regex_match(temporary, std::regex(R"(\.old\.[A-Za-z0-9]{6})"))) << temporary;
  }
}

}  // namespace
