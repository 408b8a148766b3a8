// End to end: folders walked with -r, many files at once, the metadata outputs keep,
// and --rm.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "background_program.h"
#include "expected_bytes.h"
#include "report_text.h"
#include "run_program.h"

namespace {

std::string Enc(const std::string& input, const std::string& target) {
  return SerialReport("ENCRYPTING", input, target);
}
std::string Dec(const std::string& input, const std::string& target) {
  return SerialReport("DECRYPTING", input, target);
}

void Make(const ScratchFolder& dir, const std::string& file, const std::string& content) {
  std::filesystem::create_directories(std::filesystem::path(dir / file).parent_path());
  WriteFile(dir / file, content);
}

// "f" and the number (appended, as GCC 12 misreads the concatenation as an overlap).
std::string Numbered(int i) {
  std::string name = "f";
  name += std::to_string(i);
  return name;
}

mode_t Bits(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A walk takes every regular file in byte order of the names, depth first, and notes
// what it passes over; without -o each output goes beside its file.
TEST(Walk, EveryFileInOrderBesideItself) {
  ScratchFolder dir;
  for (const char* file :
       {"t/b.txt", "t/B.txt", "t/a/z.txt", "t/a-b.txt", "t/a/deep/y.txt", "t/old.quillforted"}) {
    Make(dir, file, file);
  }
  ASSERT_EQ(symlink("b.txt", (dir / "t/link").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "t/fifo").c_str(), 0644), 0);
  ProgramResult result = RunProgram({"e", "-p", "pw", "-r", "-i", "t"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out),
            Enc("t/B.txt", "t/B.txt.quillforted") + Enc("t/a/deep/y.txt", "t/a/deep/y.txt.quillforted") +
                Enc("t/a/z.txt", "t/a/z.txt.quillforted") + Enc("t/a-b.txt", "t/a-b.txt.quillforted") +
                Enc("t/b.txt", "t/b.txt.quillforted"));
  EXPECT_EQ(result.err,
            "quillfort: skipping special file: t/fifo\n"
            "quillfort: skipping symbolic link: t/link\n"
            "quillfort: skipping, already encrypted: t/old.quillforted\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(dir / "t/a/deep/y.txt.quillforted"), Encrypted("t/a/deep/y.txt", "pw"));

  // Decrypting takes only encrypted files, and passes over the rest without a word.
  for (const char* file : {"t/B.txt", "t/a/deep/y.txt", "t/a/z.txt", "t/a-b.txt", "t/b.txt"}) {
    unlink((dir / file).c_str());
  }
  unlink((dir / "t/old.quillforted").c_str());
  result = RunProgram({"d", "-p", "pw", "--recursive", "-i", "t/"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out),
            Dec("t/B.txt.quillforted", "t/B.txt") + Dec("t/a/deep/y.txt.quillforted", "t/a/deep/y.txt") +
                Dec("t/a/z.txt.quillforted", "t/a/z.txt") + Dec("t/a-b.txt.quillforted", "t/a-b.txt") +
                Dec("t/b.txt.quillforted", "t/b.txt"));
  EXPECT_EQ(result.err,
            "quillfort: skipping special file: t/fifo\nquillfort: skipping symbolic link: t/link\n");
  EXPECT_EQ(ReadFile(dir / "t/a/deep/y.txt"), "t/a/deep/y.txt");

  // Without -r a folder is refused as always.
  result = RunProgram({"e", "-p", "pw", "-i", "t"}, dir.path);
  EXPECT_EQ(result.out, "Folders cannot be input: t\n");
  EXPECT_EQ(result.status, 1);
}

// With -o the tree is mirrored, its folders made with the bits of the ones they mirror.
TEST(Walk, MirroredIntoAFolder) {
  ScratchFolder dir;
  Make(dir, "photos/2024/a.jpg", "a");
  Make(dir, "photos/b.jpg", "b");
  Make(dir, "notes.txt", "notes");
  chmod((dir / "photos/2024").c_str(), 0750);
  chmod((dir / "photos").c_str(), 0711);
  mkdir((dir / "vault").c_str(), 0755);
  ProgramResult result =
      RunProgram({"e", "-p", "pw", "-r", "-i", "photos", "notes.txt", "-o", "vault"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), Enc("photos/2024/a.jpg", "vault/photos/2024/a.jpg.quillforted") +
                                            Enc("photos/b.jpg", "vault/photos/b.jpg.quillforted") +
                                            Enc("notes.txt", "vault/notes.txt.quillforted"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(FolderTree(dir / "vault"),
            (std::vector<std::string>{"notes.txt.quillforted", "photos/", "photos/2024/",
                                      "photos/2024/a.jpg.quillforted", "photos/b.jpg.quillforted"}));
  EXPECT_EQ(Bits(dir / "vault/photos"), 0711u);
  EXPECT_EQ(Bits(dir / "vault/photos/2024"), 0750u);
  EXPECT_EQ(ReadFile(dir / "vault/photos/2024/a.jpg.quillforted"), Encrypted("a", "pw"));

  // Back again, into another folder; the mirror of the mirror names the same files.
  mkdir((dir / "back").c_str(), 0755);
  result = RunProgram({"d", "-p", "pw", "-r", "-i", "vault/photos", "-o", "back"}, dir.path);
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(FolderTree(dir / "back"),
            (std::vector<std::string>{"photos/", "photos/2024/", "photos/2024/a.jpg", "photos/b.jpg"}));
  EXPECT_EQ(ReadFile(dir / "back/photos/b.jpg"), "b");

  // The folder must exist, as for a batch.
  result = RunProgram({"e", "-p", "pw", "-r", "-i", "photos", "-o", "nowhere"}, dir.path);
  EXPECT_EQ(result.out, "output directory is unavailable!\n");
  EXPECT_EQ(result.status, 1);
}

// The run's plan holds for walked files too: two trees with one name collide.
TEST(Walk, PlanRulesHoldForWalkedFiles) {
  ScratchFolder dir;
  Make(dir, "a/photos/x.jpg", "first");
  Make(dir, "b/photos/x.jpg", "second");
  mkdir((dir / "vault").c_str(), 0755);
  ProgramResult result =
      RunProgram({"e", "-p", "pw", "-r", "-i", "a/photos", "b/photos", "-o", "vault"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), Enc("a/photos/x.jpg", "vault/photos/x.jpg.quillforted") +
                                            "two inputs would be written to the same output: "
                                            "vault/photos/x.jpg.quillforted\n");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadFile(dir / "vault/photos/x.jpg.quillforted"), Encrypted("first", "pw"));
}

TEST(Walk, UnreadableFolderIsReportedAndPassedOver) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  ScratchFolder dir;
  chmod(dir.path.c_str(), 0777);
  Make(dir, "t/a.txt", "a");
  Make(dir, "t/closed/b.txt", "b");
  Make(dir, "t/z.txt", "z");
  chmod((dir / "t").c_str(), 0777);
  chmod((dir / "t/closed").c_str(), 0);
  ProgramResult result = RunProgram({"e", "-p", "pw", "-r", "-i", "t"}, dir.path, "", {.user = 65534});
  EXPECT_EQ(WithoutFigures(result.out), Enc("t/a.txt", "t/a.txt.quillforted") +
                                            "ENCRYPTING\nsource could not be opened!\n" +
                                            Enc("t/z.txt", "t/z.txt.quillforted"));
  EXPECT_EQ(result.err, "quillfort: t/closed: Permission denied\n");
  EXPECT_EQ(result.status, 1);
}

// Many small files at once, a large one among them, and failures in between: the
// lines come out exactly as one file after another would print them.
TEST(ManyFiles, PrintedInTheirOrder) {
  ScratchFolder dir;
  std::vector<std::string> arguments{"e", "-p", "pw", "-i"};
  std::string expected;
  for (int i = 0; i < 120; ++i) {
    std::string name = Numbered(i);
    // Sizes that finish in another order than they start.
    Make(dir, name, PatternBytes(size_t(i % 7) * 150000 + size_t(i), uint64_t(i)));
    arguments.push_back(name);
    expected += Enc(name, "out/" + name + ".quillforted");
    if (i == 40) {
      MakeSparseFile(dir / "big", 26000000);
      arguments.push_back("big");
      expected += ParallelReport("ENCRYPTING", "big", "out/big.quillforted");
    }
    if (i == 80) {
      arguments.push_back("missing");
      expected += "Input file missing: missing\n";
    }
  }
  mkdir((dir / "out").c_str(), 0755);
  arguments.insert(arguments.end(), {"-o", "out"});
  ProgramResult result = RunProgram(arguments, dir.path);
  EXPECT_TRUE(WithoutFigures(result.out) == expected) << WithoutFigures(result.out).substr(0, 2000);
  EXPECT_EQ(result.err, "quillfort: missing: No such file or directory\n");
  EXPECT_EQ(result.status, 1);
  for (int i = 0; i < 120; i += 17) {
    std::string name = Numbered(i);
    EXPECT_TRUE(ReadFile(dir / ("out/" + name + ".quillforted")) == Encrypted(ReadFile(dir / name), "pw"))
        << name;
  }
  EXPECT_TRUE(ReadFile(dir / "out/big.quillforted") == Encrypted(SparseFileContent(26000000), "pw"));
}

// Ctrl-C in the middle of many files: those done stay whole, nothing unfinished is left.
TEST(ManyFiles, InterruptLeavesOnlyCompleteOutputs) {
  for (bool named : {false, true}) {
    SCOPED_TRACE(named ? "named temporaries" : "unnamed outputs");
    ScratchFolder dir;
    mkdir((dir / "out").c_str(), 0755);
    std::vector<std::string> arguments{"e", "-p", "pw", "-o", "out", "-i"};
    for (int i = 0; i < 200; ++i) {
      MakeSparseFile(dir / (Numbered(i)), 6000000);
      arguments.push_back(Numbered(i));
    }
    BackgroundProgram program;
    StartProgram(program, arguments, dir.path, {.withoutUnnamedFiles = named});
    // Some outputs are done, most are not.
    for (int wait = 0; wait < 10000 && ListFolder(dir / "out").size() < 5; ++wait) usleep(500);
    SignalProgram(program, SIGINT);
    ProgramResult result = FinishProgram(program);
    ASSERT_EQ(result.status, 128 + SIGINT) << "the run ended before the interrupt";
    const std::string content = SparseFileContent(6000000);
    std::vector<std::string> left = ListFolder(dir / "out");
    EXPECT_LT(left.size(), 200u);
    for (const std::string& name : left) {
      EXPECT_NE(name[0], '.') << name;
      EXPECT_TRUE(ReadFile(dir / ("out/" + name)) == Encrypted(content, "pw")) << name;
    }
  }
}

// Every output keeps its source's times to the nanosecond and, for root, its owner.
TEST(Metadata, OutputsKeepTimesAndOwners) {
  ScratchFolder dir;
  Make(dir, "small", "text");
  MakeSparseFile(dir / "big", 26000000);
  WriteFile(dir / "big.quillforted", "replaced, and takes the times too");
  const timespec times[2] = {{1500000000, 123456789}, {1600000000, 987654321}};
  bool root = geteuid() == 0;
  for (const char* name : {"small", "big"}) {
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / name).c_str(), times, 0), 0);
    if (root) {
      ASSERT_EQ(chown((dir / name).c_str(), 4321, 8765), 0);
    }
  }
  ASSERT_EQ(RunProgram({"e", "-p", "pw", "-i", "small", "big"}, dir.path).status, 0);
  for (const char* name : {"small.quillforted", "big.quillforted"}) {
    SCOPED_TRACE(name);
    struct stat status {};
    ASSERT_EQ(stat((dir / name).c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, times[1].tv_sec);
    EXPECT_EQ(status.st_mtim.tv_nsec, times[1].tv_nsec);
    EXPECT_EQ(status.st_atim.tv_sec, times[0].tv_sec);
    EXPECT_EQ(status.st_atim.tv_nsec, times[0].tv_nsec);
    // A new output takes the source's owner; the replaced one keeps its own (root's here).
    if (root) {
      bool fresh = std::string(name) == "small.quillforted";
      EXPECT_EQ(status.st_uid, fresh ? 4321u : 0u);
      EXPECT_EQ(status.st_gid, fresh ? 8765u : 0u);
    }
  }
}

// --rm: the source goes once its output is on the disk, and only then.
TEST(RemoveSources, OnlyAfterAnOutputIsComplete) {
  ScratchFolder dir;
  Make(dir, "t/a", "a");
  Make(dir, "t/sub/b", "b");
  Make(dir, "t/linked", "two names");
  ASSERT_EQ(link((dir / "t/linked").c_str(), (dir / "other-name").c_str()), 0);
  ProgramResult result = RunProgram({"e", "-p", "pw", "-r", "--rm", "-i", "t"}, dir.path);
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_EQ(result.err, "quillfort: has other links, kept: t/linked\n");
  EXPECT_EQ(FolderTree(dir / "t"), (std::vector<std::string>{"a.quillforted", "linked", "linked.quillforted",
                                                             "sub/", "sub/b.quillforted"}));
  EXPECT_EQ(ReadFile(dir / "t/sub/b.quillforted"), Encrypted("b", "pw"));

  // Never when the output failed, was not made, or went to standard output.
  Make(dir, "c", "c");
  Make(dir, "d", "d");
  Make(dir, "d.quillforted", "kept");
  const std::vector<std::vector<std::string>> kept = {
      {"e", "-p", "pw", "--rm", "-i", "c", "-o", "no/such/folder/c"},
      {"e", "-p", "pw", "--rm", "-i", "c", "-o", "-"},
      {"e", "-p", "pw", "--rm", "-n", "-i", "d"},
      {"e", "-p", "pw", "--rm", "-i", "c", "-o", "/dev/null"},
  };
  for (const auto& arguments : kept) {
    RunProgram(arguments, dir.path);
    EXPECT_EQ(ReadFile(dir / "c"), "c");
    EXPECT_EQ(ReadFile(dir / "d"), "d");
  }
  EXPECT_EQ(ReadFile(dir / "d.quillforted"), "kept");
}

// A --rm run cut off after an output was complete but before its source was removed,
// started again: the output is recognised, not transformed again; the source goes.
TEST(RemoveSources, RestartFinishesWithoutTransformingTwice) {
  ScratchFolder dir;
  Make(dir, "t/done", "already encrypted");
  Make(dir, "t/left", "not yet");
  ASSERT_EQ(RunProgram({"e", "-p", "pw", "-i", "t/done"}, dir.path).status, 0);  // the cut-off run's output
  struct stat before {};
  ASSERT_EQ(stat((dir / "t/done.quillforted").c_str(), &before), 0);
  ProgramResult result = RunProgram({"e", "-p", "pw", "-r", "--rm", "-i", "t"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), Enc("t/left", "t/left.quillforted"));
  EXPECT_EQ(result.err,
            "quillfort: already written, source removed: t/done\n"
            "quillfort: skipping, already encrypted: t/done.quillforted\n");
  EXPECT_EQ(result.status, 0);
  struct stat after {};
  ASSERT_EQ(stat((dir / "t/done.quillforted").c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(FolderTree(dir / "t"), (std::vector<std::string>{"done.quillforted", "left.quillforted"}));

  // Another password's output is no output of this run: it is replaced as any file is.
  Make(dir, "u/f", "text");
  ASSERT_EQ(RunProgram({"e", "-p", "other", "-i", "u/f"}, dir.path).status, 0);
  result = RunProgram({"e", "-p", "pw", "-r", "--rm", "-i", "u"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), Enc("u/f", "u/f.quillforted"));
  EXPECT_EQ(ReadFile(dir / "u/f.quillforted"), Encrypted("text", "pw"));
  EXPECT_EQ(FolderTree(dir / "u"), std::vector<std::string>{"f.quillforted"});
}

}  // namespace
