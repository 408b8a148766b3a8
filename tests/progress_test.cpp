#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "cipher/cipher.h"
#include "engine/progress.h"
#include "expected_bytes.h"
#include "run_program.h"

namespace {

using namespace std::chrono_literals;

TEST(ProgressLine, ShowsPercentSpeedAndTimeLeft) {
  constexpr uint64_t kMiB = 1 << 20;
  constexpr uint64_t kSecond = 1000000000;
  struct Case {
    std::string file;
    uint64_t done, total, elapsed;
    size_t width;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"big.iso", 512 * kMiB, 1024 * kMiB, 2 * kSecond, 80, "big.iso  50% 256 MB/s ETA 0:02"},
      {"big.iso", 0, 1024 * kMiB, kSecond, 80, "big.iso   0% 0.0 MB/s ETA --:--"},
      {"big.iso", 2 * kMiB, 2 * kMiB, 0, 80, "big.iso 100% 0.0 MB/s ETA --:--"},
      // A source that grew underneath never shows more than 100%.
      {"big.iso", 3 * kMiB, 2 * kMiB, kSecond, 80, "big.iso 100% 2.0 MB/s ETA 0:00"},
      {"slow", kMiB, 4001 * kMiB, kSecond, 80, "slow   0% 1.0 MB/s ETA 1:06:40"},
      {"tape", kMiB / 2, 91 * kMiB, kSecond, 80, "tape   0% 0.5 MB/s ETA 3:01"},
      {"stuck", 1, 1ull << 50, 1000 * kSecond, 80, "stuck   0% 0.0 MB/s ETA --:--"},
      // Long names keep their end and leave the last column free.
      {"folder/sub/a-rather-long-file-name.bin", kMiB, 2 * kMiB, kSecond, 40,
       "...file-name.bin  50% 1.0 MB/s ETA 0:01"},
      {"folder/ünïcödé-näme.bin", kMiB, 2 * kMiB, kSecond, 35, "...näme.bin  50% 1.0 MB/s ETA 0:01"},
      {"name", kMiB, 2 * kMiB, kSecond, 10, "  50% 1.0 MB/s ETA 0:01"},
      // Control bytes in a name never reach the terminal.
      {"a\033[2J\rb\x7f", kMiB, 2 * kMiB, kSecond, 80, "a?[2J?b?  50% 1.0 MB/s ETA 0:01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string line = ProgressLine(c.file, c.done, c.total, c.elapsed, c.width);
    EXPECT_EQ(line, c.expected);
  }
}

struct SlowRun {
  std::string out;
  std::string err;
  std::string written;  // what reached the FIFO
  int status = -1;
};

void SetCloseOnExec(int fd) { fcntl(fd, F_SETFD, FD_CLOEXEC); }

// Runs the program with standard error on a pseudo-terminal (80 columns) or a pipe,
// writing as the arguments say. When the folder holds the FIFO "slow", nothing is
// drained from it for `stall`, so a transform into it takes at least that long.
SlowRun RunWithStderr(bool onTerminal, const std::vector<std::string>& arguments, const ScratchFolder& dir,
                      std::chrono::milliseconds stall) {
  int fifo = -1;
  if (Exists(dir / "slow")) fifo = open((dir / "slow").c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  if (onTerminal) {
    winsize size{};
    size.ws_col = 80;
    size.ws_row = 24;
    if (openpty(&err[0], &err[1], nullptr, nullptr, &size) != 0) throw std::runtime_error("openpty");
    SetCloseOnExec(err[0]);
    SetCloseOnExec(err[1]);
  } else if (pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  std::vector<char*> argv = ProgramArgv(arguments);
  pid_t pid = fork();
  if (pid == 0) {
    int nothing = open("/dev/null", O_RDONLY);
    dup2(nothing, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    ExecProgram(dir.path, argv);
  }
  close(out[1]);
  close(err[1]);
  // The stall counts from the first bytes in the FIFO: the file is in work by then,
  // however long the program took to start on a busy machine.
  pollfd first = {fifo, POLLIN, 0};
  if (fifo >= 0) poll(&first, 1, 30000);
  std::this_thread::sleep_for(stall);
  SlowRun run;
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {fifo, POLLIN, 0}};
  std::string* sinks[3] = {&run.out, &run.err, &run.written};
  auto deadline = std::chrono::steady_clock::now() + 60s;
  int open = 2;  // the FIFO never ends: this end can write too
  while (open > 0 && std::chrono::steady_clock::now() < deadline) {
    poll(fds, 3, 100);
    for (int i = 0; i < 3; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, size_t(n));
      } else if (i < 2) {  // end of file, or EIO once the terminal's last user is gone
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  if (open > 0) kill(pid, SIGKILL);
  for (char buffer[65536];;) {
    ssize_t n = fifo < 0 ? 0 : read(fifo, buffer, sizeof buffer);
    if (n <= 0) break;
    run.written.append(buffer, size_t(n));
  }
  for (int i = 0; i < 3; ++i) {
    if (fds[i].fd >= 0) close(fds[i].fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// A file that takes longer than half a second shows the line on a terminal and
// erases it at the end; standard output and the data are exactly as without it.
TEST(ProgressLine, AppearsOnTerminalOnlyForSlowFiles) {
  struct Case {
    const char* name;
    size_t size;
    bool onTerminal;
    bool expectLine;
  };
  const Case cases[] = {
      {"serial engine, terminal", 4 << 20, true, true},
      {"parallel engine, terminal", 25000000, true, true},
      {"serial engine, pipe", 4 << 20, false, false},
      {"parallel engine, pipe", 25000000, false, false},
  };
  const std::regex line("(\rin +[0-9]+% [0-9.]+ MB/s ETA [0-9:-]+\033\\[K)+\r\033\\[K");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    std::string plain = PatternBytes(c.size, 7);
    WriteFile(dir / "in", plain);
    ASSERT_EQ(mkfifo((dir / "slow").c_str(), 0600), 0);
    SlowRun run = RunWithStderr(c.onTerminal, {"-p", "pw", "-i", "in", "-o", "slow"}, dir, 800ms);
    EXPECT_EQ(run.status, 0);
    std::string speeds = c.size < 25000000
                             ? "encryption speed:([0-9]+|-)MB/s\neffective speed:([0-9]+|-)MB/s\n"
                             : "effective speed:([0-9]+|-)MB/s\n";
    EXPECT_TRUE(std::regex_match(
        run.out, std::regex("will write to: slow\nENCRYPTING\ninput file: in\noutput file:slow\n" + speeds)))
        << run.out;
    EXPECT_TRUE(run.written == Encrypted(plain, "pw")) << run.written.size() << " bytes written";
    if (c.expectLine) {
      EXPECT_TRUE(std::regex_match(run.err, line)) << testing::PrintToString(run.err);
    } else {
      EXPECT_EQ(run.err, "");
    }
  }
}

TEST(ProgressLine, QuickFilesShowNothingEvenOnTerminal) {
  ScratchFolder dir;
  WriteFile(dir / "a", PatternBytes(300000));
  WriteFile(dir / "b", PatternBytes(1000));
  SlowRun run = RunWithStderr(true, {"-p", "pw", "-i", "a", "b", "missing"}, dir, 0ms);
  EXPECT_EQ(run.status, 1);                                                 // the missing input
  EXPECT_EQ(run.err, "quillfort: missing: No such file or directory\r\n");  // and its cause: no progress line
  EXPECT_TRUE(Exists(dir / "a.quillforted"));
  EXPECT_TRUE(Exists(dir / "b.quillforted"));
}

}  // namespace
