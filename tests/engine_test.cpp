#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "cipher/cipher.h"
#include "engine/console.h"
#include "engine/parallel_transform.h"
#include "engine/report.h"
#include "engine/serial_transform.h"
#include "expected_bytes.h"
#include "run/transform_file.h"
#include "run_program.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

Cipher Keyed(std::string_view password) {
  Cipher cipher;
  EXPECT_TRUE(SetPassword(cipher, password));
  return cipher;
}

struct Captured {
  TransformOutcome outcome;
  std::string out;
};

// One engine on one file, the source opened as the run opens it; a source that
// cannot be opened goes the run's way too.
TransformOutcome RunEngine(bool parallel, const std::string& input, const std::string& target, Mode mode,
                           std::string_view password = "pw", unsigned workers = 2) {
  FileTask task{input, target, mode, {}};
  SourceFile source;
  Cause cause;
  if (!OpenSource(source, input, cause)) return TransformFile(task, Keyed(password));
  return parallel ? TransformFileParallel(task, source, Keyed(password), workers)
                  : TransformFileSerial(task, source, Keyed(password));
}

template <typename Run>
Captured Capture(Run run) {
  CaptureStdout();
  TransformOutcome outcome = run();
  FlushConsole();
  return {outcome, GetCapturedStdout()};
}

TEST(SpeedFigure, WholeMebibytesPerSecond) {
  EXPECT_EQ(SpeedFigure(1 << 20, 1000000000), "1");
  EXPECT_EQ(SpeedFigure(3 << 20, 2000000000), "1");
  EXPECT_EQ(SpeedFigure(0, 5), "0");
  EXPECT_EQ(SpeedFigure(100, 0), "-");
  // 40 GB in 1 s does not overflow.
  EXPECT_EQ(SpeedFigure(40000000000ull, 1000000000), "38146");
}

TEST(SerialEngine, WritesTheCipherBytesAndTheFourReportLines) {
  ScratchFolder dir;
  for (size_t size : {size_t(0), size_t(1), size_t(65536), size_t(65537), size_t(262144 * 2 + 3)}) {
    SCOPED_TRACE(size);
    std::string plain = PatternBytes(size, size);
    WriteFile(dir / "in", plain);
    for (Mode mode : {Mode::encrypt, Mode::decrypt}) {
      Captured run = Capture([&] { return RunEngine(false, dir / "in", dir / "out", mode); });
      EXPECT_EQ(run.outcome, TransformOutcome::done);
      EXPECT_EQ(ReadFile(dir / "out"), Transformed(plain, mode, "pw"));
      std::regex report(std::string(mode == Mode::decrypt ? "DECRYPTING" : "ENCRYPTING") +
                        "\ninput file: " + dir.path + "/in\noutput file:" + dir.path +
                        "/out\nencryption speed:([0-9]+|-)MB/s\neffective speed:([0-9]+|-)MB/s\n");
      EXPECT_TRUE(std::regex_match(run.out, report)) << run.out;
    }
  }
  EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"in", "out"}));
}

// The parallel engine must write exactly what the serial one does, whatever the
// number of workers and the order in which chunks finish.
TEST(ParallelEngine, MatchesTheSerialEngineForAnyWorkerCount) {
  ScratchFolder dir;
  for (size_t size : {kChunkSize * 3 + 12345, kChunkSize * 4, size_t(100)}) {
    std::string plain = PatternBytes(size, 3);
    WriteFile(dir / "in", plain);
    for (Mode mode : {Mode::encrypt, Mode::decrypt}) {
      std::string expected = Transformed(plain, mode, "workers");
      for (unsigned workers : {1u, 2u, 7u}) {
        SCOPED_TRACE(::testing::Message()
                     << size << " bytes, mode " << int(mode) << ", " << workers << " workers");
        Captured run =
            Capture([&] { return RunEngine(true, dir / "in", dir / "out", mode, "workers", workers); });
        EXPECT_EQ(run.outcome, TransformOutcome::done);
        EXPECT_TRUE(ReadFile(dir / "out") == expected);
        std::regex report(std::string(mode == Mode::decrypt ? "DECRYPTING" : "ENCRYPTING") +
                          "\ninput file: " + dir.path + "/in\noutput file:" + dir.path +
                          "/out\neffective speed:([0-9]+|-)MB/s\n");
        EXPECT_TRUE(std::regex_match(run.out, report)) << run.out;
      }
    }
  }
}

// Both engines share the failure paths: a message after the header, no report,
// and an existing target keeps its content.
TEST(Engines, FailuresLeaveTheTargetAlone) {
  ScratchFolder dir;
  WriteFile(dir / "in", PatternBytes(5000));
  WriteFile(dir / "old", "precious");
  mkdir((dir / "folder").c_str(), 0755);
  struct Case {
    std::string input, target, message;
  };
  const Case cases[] = {
      {dir / "missing", dir / "old", "source could not be opened!\n"},
      {dir / "folder", dir / "old", "source could not be opened!\n"},
      {"/dev/zero", dir / "old", "source could not be opened!\n"},
      {dir / "in", dir / "folder", "target could not be opened!\n"},
      {dir / "in", dir / "folder/", "target could not be opened!\n"},
      {dir / "in", dir / "no/such/folder/x", "target could not be opened!\n"},
      {dir / "in", "", "target could not be opened!\n"},
      {dir / "in", "/dev/full", "target could not be written!\n"},
  };
  for (const Case& c : cases) {
    for (bool parallel : {false, true}) {
      SCOPED_TRACE(c.input + " -> " + c.target + (parallel ? " parallel" : " serial"));
      Captured run = Capture([&] { return RunEngine(parallel, c.input, c.target, Mode::encrypt); });
      EXPECT_EQ(run.outcome, TransformOutcome::failed);
      EXPECT_EQ(run.out, "ENCRYPTING\n" + c.message);
      EXPECT_EQ(ReadFile(dir / "old"), "precious");
      EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"folder", "in", "old"}));
    }
  }
}

TEST(Engines, OutputTakesPermissionsAndReplacesThroughSymlinks) {
  ScratchFolder dir;
  WriteFile(dir / "in", "hello");
  chmod((dir / "in").c_str(), 0640);
  WriteFile(dir / "real", "old content");
  ASSERT_EQ(symlink("real", (dir / "link").c_str()), 0);
  for (bool parallel : {false, true}) {
    Captured run = Capture([&] { return RunEngine(parallel, dir / "in", dir / "link", Mode::encrypt); });
    ASSERT_EQ(run.outcome, TransformOutcome::done);
    struct stat link {};
    struct stat real {};
    ASSERT_EQ(lstat((dir / "link").c_str(), &link), 0);
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    ASSERT_EQ(stat((dir / "real").c_str(), &real), 0);
    EXPECT_EQ(real.st_mode & 0777, 0640u);
    EXPECT_EQ(ReadFile(dir / "real"), Transformed("hello", Mode::encrypt, "pw"));
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"in", "link", "real"}));
  }
}

TEST(Engines, WriteDevicesDirectly) {
  ScratchFolder dir;
  WriteFile(dir / "in", PatternBytes(3 * kChunkSize + 5));
  for (bool parallel : {false, true}) {
    Captured run = Capture([&] { return RunEngine(parallel, dir / "in", "/dev/null", Mode::decrypt); });
    EXPECT_EQ(run.outcome, TransformOutcome::done) << run.out;
  }
}

}  // namespace
