#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "background_program.h"
#include "cipher/cipher.h"
#include "expected_bytes.h"
#include "report_text.h"
#include "run_program.h"
#include "test_mount.h"

namespace {

constexpr uint64_t kSerialSize = 200000;      // a file for the serial engine
constexpr uint64_t kParallelSize = 26000000;  // and one for the parallel engine

// A failure case run end to end: what is printed, the status, and that the folder
// and the old target are as they were.
struct FaultCase {
  std::string name;
  std::vector<std::string> arguments;
  std::string out;
  std::string err = "";  // the cause, on standard error
};

void ExpectFailsCleanly(const ScratchFolder& dir, const FaultCase& c, const std::string& oldTarget) {
  SCOPED_TRACE(c.name);
  std::vector<std::string> before = ListFolder(dir.path);
  ProgramResult result = RunProgram(c.arguments, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), c.out);
  EXPECT_EQ(result.err, c.err);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ListFolder(dir.path), before);
  EXPECT_TRUE(ReadFile(oldTarget) == "precious");
}

TEST(Fault, FullDevice) {
  ScratchFolder dir;
  WriteFile(dir / "small", PatternBytes(kSerialSize));
  MakeSparseFile(dir / "big", kParallelSize);
  WriteFile(dir / "old", "precious");
  for (const char* input : {"small", "big"}) {
    ExpectFailsCleanly(dir,
                       {input,
                        {"encrypt", "-p", "pw", "-i", input, "-o", "/dev/full"},
                        "will write to: /dev/full\nENCRYPTING\ntarget could not be written!\n",
                        "quillfort: /dev/full: No space left on device\n"},
                       dir / "old");
  }
}

// A filesystem that fills up in the middle of the file: the temporary goes, the old
// target stays, and a batch goes on with the next file.
TEST(Fault, FullFilesystem) {
  ScratchFolder dir;
  mkdir((dir / "tiny").c_str(), 0755);
  TestMount tiny;
  if (!MountTinyTmpfs(tiny, dir / "tiny", 64 * 1024)) GTEST_SKIP() << tiny.error;
  WriteFile(dir / "small", PatternBytes(kSerialSize));
  MakeSparseFile(dir / "big", kParallelSize);
  WriteFile(dir / "note", "fits");
  WriteFile(dir / "tiny/old", "precious");
  for (const char* input : {"small", "big"}) {
    ExpectFailsCleanly(dir,
                       {input,
                        {"encrypt", "-p", "pw", "-i", input, "-o", "tiny/old"},
                        "will write to: tiny/old\nENCRYPTING\ntarget could not be written!\n",
                        "quillfort: tiny/old: No space left on device\n"},
                       dir / "tiny/old");
    EXPECT_EQ(ListFolder(dir / "tiny"), (std::vector<std::string>{"old"}));
  }
  ProgramResult batch =
      RunProgram({"encrypt", "-p", "pw", "-i", "big", "small", "note", "-o", "tiny"}, dir.path);
  EXPECT_EQ(WithoutFigures(batch.out),
            "ENCRYPTING\ntarget could not be written!\n"
            "ENCRYPTING\ntarget could not be written!\n" +
                SerialReport("ENCRYPTING", "note", "tiny/note.quillforted"));
  EXPECT_EQ(batch.status, 1);
  EXPECT_EQ(ListFolder(dir / "tiny"), (std::vector<std::string>{"note.quillforted", "old"}));
  EXPECT_EQ(ReadFile(dir / "tiny/note.quillforted"), Encrypted("fits", "pw"));
}

// A limit on file size (ulimit -f) is a write error like a full disk, not a crash.
TEST(Fault, FileSizeLimit) {
  ScratchFolder dir;
  WriteFile(dir / "small", PatternBytes(kSerialSize));
  MakeSparseFile(dir / "big", kParallelSize);
  WriteFile(dir / "old", "precious");
  for (const char* input : {"small", "big"}) {
    SCOPED_TRACE(input);
    BackgroundProgram program;
    StartProgram(program, {"encrypt", "-p", "pw", "-i", input, "-o", "old"}, dir.path, {65536});
    ProgramResult result = FinishProgram(program);
    EXPECT_EQ(result.out, "will write to: old\nENCRYPTING\ntarget could not be written!\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(ReadFile(dir / "old") == "precious");
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big", "old", "small"}));
  }
}

TEST(Fault, ReadOnlyTargetFolder) {
  ScratchFolder dir;
  mkdir((dir / "writable").c_str(), 0755);
  mkdir((dir / "ro").c_str(), 0755);
  WriteFile(dir / "writable/old", "precious");
  TestMount view;
  if (!MountReadOnlyView(view, dir / "writable", dir / "ro")) GTEST_SKIP() << view.error;
  WriteFile(dir / "small", PatternBytes(kSerialSize));
  MakeSparseFile(dir / "big", kParallelSize);
  const FaultCase cases[] = {
      {"replace a file",
       {"e", "-p", "pw", "-i", "small", "-o", "ro/old"},
       "will write to: ro/old\nENCRYPTING\ntarget could not be opened!\n",
       "quillfort: ro/old: Read-only file system\n"},
      {"replace a file, parallel",
       {"e", "-p", "pw", "-i", "big", "-o", "ro/old"},
       "will write to: ro/old\nENCRYPTING\ntarget could not be opened!\n",
       "quillfort: ro/old: Read-only file system\n"},
      {"into the folder",
       {"e", "-p", "pw", "-i", "small", "-o", "ro"},
       "ENCRYPTING\ntarget could not be opened!\n",
       "quillfort: ro/small.quillforted: Read-only file system\n"},
      {"a batch",
       {"e", "-p", "pw", "-i", "small", "big", "-o", "ro/"},
       "ENCRYPTING\ntarget could not be opened!\nENCRYPTING\ntarget could not be opened!\n",
       "quillfort: ro/small.quillforted: Read-only file system\nquillfort: ro/big.quillforted: Read-only "
       "file system\n"},
  };
  for (const FaultCase& c : cases) ExpectFailsCleanly(dir, c, dir / "ro/old");
  EXPECT_EQ(ListFolder(dir / "ro"), (std::vector<std::string>{"old"}));
}

TEST(Fault, TargetIsAFolder) {
  ScratchFolder dir;
  WriteFile(dir / "old", "precious");
  WriteFile(dir / "x.quillforted", "data");
  WriteFile(dir / ".quillforted", "data");
  mkdir((dir / "x").c_str(), 0755);
  mkdir((dir / "out").c_str(), 0755);
  const FaultCase cases[] = {
      {"decrypting beside a folder of the same name",
       {"d", "-p", "pw", "-i", "x.quillforted"},
       "DECRYPTING\ntarget could not be opened!\n",
       "quillfort: x: Is a directory\n"},
      {"a name that is only the suffix",
       {"d", "-p", "pw", "-i", ".quillforted", "-o", "out"},
       "DECRYPTING\ntarget could not be opened!\n",
       "quillfort: out/: Is a directory\n"},
      {"a folder that does not exist",
       {"e", "-p", "pw", "-i", "old", "-o", "nowhere/"},
       "will write to: nowhere/\nENCRYPTING\ntarget could not be opened!\n",
       "quillfort: nowhere/: No such file or directory\n"},
  };
  for (const FaultCase& c : cases) ExpectFailsCleanly(dir, c, dir / "old");
  EXPECT_EQ(ListFolder(dir / "x"), std::vector<std::string>{});
  EXPECT_EQ(ListFolder(dir / "out"), std::vector<std::string>{});
}

// However the target names the input, the input is never its own target.
TEST(Fault, SameFileUnderAnotherName) {
  ScratchFolder dir;
  WriteFile(dir / "data", "precious");
  WriteFile(dir / "old", "precious");
  ASSERT_EQ(symlink("data", (dir / "link").c_str()), 0);
  ASSERT_EQ(link((dir / "data").c_str(), (dir / "hard").c_str()), 0);
  ASSERT_EQ(symlink(".", (dir / "here").c_str()), 0);
  const std::string same = "input and output are the same file: ";
  const FaultCase cases[] = {
      {"symlink",
       {"e", "-p", "pw", "-i", "data", "-o", "link"},
       "will write to: link\n" + same + "data\n",
       "quillfort: link: is the input itself\n"},
      {"symlink as input",
       {"e", "-p", "pw", "-i", "link", "-o", "data"},
       "will write to: data\n" + same + "link\n",
       "quillfort: data: is the input itself\n"},
      {"hard link",
       {"e", "-p", "pw", "-i", "data", "-o", "hard"},
       "will write to: hard\n" + same + "data\n",
       "quillfort: hard: is the input itself\n"},
      {"./ spelling",
       {"e", "-p", "pw", "-i", "data", "-o", "./data"},
       "will write to: ./data\n" + same + "data\n",
       "quillfort: ./data: is the input itself\n"},
      {"full path",
       {"e", "-p", "pw", "-i", "data", "-o", dir / "data"},
       "will write to: " + dir / "data" + "\n" + same + "data\n",
       "quillfort: " + dir / "data" + ": is the input itself\n"},
      {"decrypting into its own folder",
       {"d", "-p", "pw", "-i", "data", "-o", "."},
       same + "data\n",
       "quillfort: ./data: is the input itself\n"},
      {"decrypting into a symlinked folder",
       {"d", "-p", "pw", "-i", "data", "-o", "here"},
       same + "data\n",
       "quillfort: here/data: is the input itself\n"},
      {"a batch into its own folder",
       {"d", "-p", "pw", "-i", "data", "hard"},
       same + "data\n" + same + "hard\n",
       "quillfort: ./data: is the input itself\nquillfort: ./hard: is the input itself\n"},
  };
  for (const FaultCase& c : cases) {
    ExpectFailsCleanly(dir, c, dir / "old");
    EXPECT_EQ(ReadFile(dir / "data"), "precious");
  }
}

TEST(Fault, SameInputTwiceInABatch) {
  ScratchFolder dir;
  WriteFile(dir / "a", "plain text");
  for (std::vector<std::string> inputs : {std::vector<std::string>{"a", "a"}, {"a", "./a"}}) {
    SCOPED_TRACE(inputs[1]);
    std::vector<std::string> arguments{"encrypt", "-p", "pw", "-i"};
    arguments.insert(arguments.end(), inputs.begin(), inputs.end());
    ProgramResult result = RunProgram(arguments, dir.path);
    EXPECT_EQ(WithoutFigures(result.out), SerialReport("ENCRYPTING", inputs[0], "./a.quillforted") +
                                              SerialReport("ENCRYPTING", inputs[1], "./a.quillforted"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(ReadFile(dir / "a.quillforted"), Encrypted("plain text", "pw"));
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"a", "a.quillforted"}));
  }
}

// The source changes while the engine reads it: it shrinks, grows, is rewritten in
// place with the same length, or loses its name. The run fails, and no copy of the
// wrong bytes takes the target's place.
TEST(Fault, SourceChangesWhileRead) {
  struct Change {
    const char* name;
    std::function<void(const std::string& path, uint64_t size)> apply;
  };
  const Change changes[] = {
      {"shrinks",
       [](const std::string& path, uint64_t size) { ASSERT_EQ(truncate(path.c_str(), off_t(size / 3)), 0); }},
      {"grows", [](const std::string& path,
                   uint64_t size) { ASSERT_EQ(truncate(path.c_str(), off_t(size + 1000000)), 0); }},
      {"is rewritten in place",
       [](const std::string& path, uint64_t size) {
         std::string bytes = PatternBytes(4096, 99);
         int fd = open(path.c_str(), O_WRONLY);
         ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), off_t(size - bytes.size())), ssize_t(bytes.size()));
         close(fd);
       }},
      {"is removed", [](const std::string& path, uint64_t) { ASSERT_EQ(unlink(path.c_str()), 0); }},
  };
  for (uint64_t size : {uint64_t(24999999), kParallelSize}) {
    for (const Change& change : changes) {
      SCOPED_TRACE(::testing::Message() << size << " " << change.name);
      ScratchFolder dir;
      auto program =
          StartStoppedMidRun({"e", "-p", "pw", "-i", "source", "-o", "old"}, dir.path, dir / "source", [&] {
            MakeSparseFile(dir / "source", size);
            WriteFile(dir / "old", "precious");
          });
      ASSERT_TRUE(program);
      change.apply(dir / "source", size);
      SignalProgram(*program, SIGCONT);
      ProgramResult result = FinishProgram(*program);
      EXPECT_EQ(result.out, "will write to: old\nENCRYPTING\nsource could not be read!\n");
      EXPECT_EQ(result.status, 1);
      EXPECT_TRUE(ReadFile(dir / "old") == "precious");
      std::vector<std::string> left = ListFolder(dir.path);
      left.erase(std::remove(left.begin(), left.end(), "source"), left.end());
      EXPECT_EQ(left, std::vector<std::string>{"old"});
    }
  }
}

// Two runs write the same target in one folder at once: neither shows a partial
// file, and the target is always one whole result, the last one to finish.
TEST(Fault, TwoRunsAtOnceInOneFolder) {
  ScratchFolder dir;
  auto first = StartStoppedMidRun({"e", "-p", "first", "-i", "big"}, dir.path, dir / "big", [&] {
    WriteFile(dir / "small", "small file");
    MakeSparseFile(dir / "big", kParallelSize);
  });
  ASSERT_TRUE(first);
  ProgramResult second = RunProgram({"e", "-p", "second", "-i", "big", "small"}, dir.path);
  EXPECT_EQ(second.status, 0) << second.out;
  const std::string content = SparseFileContent(kParallelSize);
  EXPECT_TRUE(ReadFile(dir / "big.quillforted") == Encrypted(content, "second"));
  SignalProgram(*first, SIGCONT);
  ProgramResult result = FinishProgram(*first);
  EXPECT_EQ(WithoutFigures(result.out), ParallelReport("ENCRYPTING", "big", "big.quillforted"));
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(ReadFile(dir / "big.quillforted") == Encrypted(content, "first"));
  EXPECT_EQ(ReadFile(dir / "small.quillforted"), Encrypted("small file", "second"));
  EXPECT_EQ(ListFolder(dir.path),
            (std::vector<std::string>{"big", "big.quillforted", "small", "small.quillforted"}));
}

}  // namespace
