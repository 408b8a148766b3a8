// End to end: what a run may replace, create, read and leave behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

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

const std::string kOverwrite = "output would overwrite another input of this run: ";
const std::string kCollision = "two inputs would be written to the same output: ";

// A run over files holding their own names: what it prints, its status, and every
// file's content afterwards ("enc:x" is x's content encrypted, "dec:x" decrypted).
struct PlanCase {
  std::string name;
  std::vector<std::string> files;
  std::vector<std::string> arguments;
  std::string out;
  int status;
  std::map<std::string, std::string> after;
};

std::string Expected(const std::string& content) {
  if (content.starts_with("enc:")) return Transformed(content.substr(4), Mode::encrypt, "pw");
  if (content.starts_with("dec:")) return Transformed(content.substr(4), Mode::decrypt, "pw");
  return content;
}

TEST(RunPlan, NoInputIsLostToAnotherInputsOutput) {
  const PlanCase cases[] = {
      {"encrypting overwrites a later input",
       {"k", "k.quillforted"},
       {"e", "-p", "pw", "-i", "k", "k.quillforted"},
       kOverwrite + "./k.quillforted\n" + Enc("k.quillforted", "./k.quillforted.quillforted"),
       1,
       {{"k", "k"}, {"k.quillforted", "k.quillforted"}, {"k.quillforted.quillforted", "enc:k.quillforted"}}},
      {"decrypting overwrites a later input",
       {"x.quillforted.quillforted", "x.quillforted"},
       {"d", "-p", "pw", "-i", "x.quillforted.quillforted", "x.quillforted"},
       kOverwrite + "./x.quillforted\n" + Dec("x.quillforted", "./x"),
       1,
       {{"x.quillforted.quillforted", "x.quillforted.quillforted"},
        {"x.quillforted", "x.quillforted"},
        {"x", "dec:x.quillforted"}}},
      {"an earlier input is overwritten too",
       {"x", "x.quillforted"},
       {"d", "-p", "pw", "-i", "x", "x.quillforted"},
       "input and output are the same file: x\n" + kOverwrite + "./x\n",
       1,
       {{"x", "x"}, {"x.quillforted", "x.quillforted"}}},
      {"two files with one name",
       {"a/x.txt", "b/x.txt", "c/y.txt"},
       {"e", "-p", "pw", "-i", "a/x.txt", "b/x.txt", "c/y.txt", "-o", "out"},
       Enc("a/x.txt", "out/x.txt.quillforted") + kCollision + "out/x.txt.quillforted\n" +
           Enc("c/y.txt", "out/y.txt.quillforted"),
       1,
       {{"out/x.txt.quillforted", "enc:a/x.txt"}, {"out/y.txt.quillforted", "enc:c/y.txt"}}},
      {"one file named twice is transformed twice",
       {"a"},
       {"e", "-p", "pw", "-i", "a", "./a"},
       Enc("a", "./a.quillforted") + Enc("./a", "./a.quillforted"),
       0,
       {{"a", "a"}, {"a.quillforted", "enc:a"}}},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder dir;
    mkdir((dir / "out").c_str(), 0755);
    for (const std::string& file : c.files) {
      if (file.find('/') != std::string::npos) mkdir((dir / file.substr(0, file.find('/'))).c_str(), 0755);
      WriteFile(dir / file, file);
    }
    ProgramResult result = RunProgram(c.arguments, dir.path);
    EXPECT_EQ(WithoutFigures(result.out), c.out);
    EXPECT_EQ(result.status, c.status);
    for (const auto& [file, content] : c.after) EXPECT_EQ(ReadFile(dir / file), Expected(content)) << file;
  }
}

// The same, with a hard link: the other input is known by its inode, not its name.
TEST(RunPlan, AnotherInputUnderAnotherName) {
  ScratchFolder dir;
  WriteFile(dir / "k", "plain");
  WriteFile(dir / "old", "only copy");
  ASSERT_EQ(link((dir / "old").c_str(), (dir / "k.quillforted").c_str()), 0);
  ProgramResult result = RunProgram({"e", "-p", "pw", "-i", "k", "old"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), kOverwrite + "./k.quillforted\n" + Enc("old", "./old.quillforted"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ReadFile(dir / "old"), "only copy");
}

mode_t Permissions(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A new output takes its source's bits; replacing a file never widens what it had.
TEST(Replacing, NeverWidensPermissions) {
  struct Case {
    mode_t source, replaced, expected;
  };
  for (const Case& c : {Case{0644, 0600, 0600}, Case{0600, 0644, 0600}, Case{0755, 0640, 0640}}) {
    for (uint64_t size : {uint64_t(1000), uint64_t(26000000)}) {
      SCOPED_TRACE(::testing::Message() << std::oct << c.source << " over " << c.replaced << ", " << size);
      ScratchFolder dir;
      MakeSparseFile(dir / "plain.quillforted", size);
      chmod((dir / "plain.quillforted").c_str(), c.source);
      WriteFile(dir / "plain", "the old plain text");
      chmod((dir / "plain").c_str(), c.replaced);
      ASSERT_EQ(RunProgram({"d", "-p", "pw", "-i", "plain.quillforted"}, dir.path).status, 0);
      EXPECT_EQ(Permissions(dir / "plain"), c.expected);
      EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"plain", "plain.quillforted"}));
    }
  }
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  chmod((dir / "a").c_str(), 0604);
  ASSERT_EQ(RunProgram({"e", "-p", "pw", "-i", "a"}, dir.path).status, 0);
  EXPECT_EQ(Permissions(dir / "a.quillforted"), 0604u);
}

TEST(Replacing, AsRootKeepsTheOwnerAndGroup) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give files to other users";
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  WriteFile(dir / "a.quillforted", "older copy");
  ASSERT_EQ(chown((dir / "a.quillforted").c_str(), 1234, 5678), 0);
  ASSERT_EQ(RunProgram({"e", "-p", "pw", "-i", "a"}, dir.path).status, 0);
  struct stat status {};
  ASSERT_EQ(stat((dir / "a.quillforted").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, 1234u);
  EXPECT_EQ(status.st_gid, 5678u);
  EXPECT_EQ(ReadFile(dir / "a.quillforted"), Encrypted("text", "pw"));
}

// In a shared sticky folder, a link, FIFO or device another user put at the target's
// name is refused: it could send our output to a file or a reader of theirs.
TEST(Replacing, StickyFolderRefusesNamesPlantedByOthers) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ScratchFolder dir;
  const std::string shared = dir / "shared";
  ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  WriteFile(dir / "victim", "the victim's file");
  WriteFile(shared + "/a", "text");
  struct Plant {
    std::string name;
    std::function<void(const std::string&)> make;
  };
  const Plant plants[] = {
      {"symlink",
       [&](const std::string& at) { ASSERT_EQ(symlink((dir / "victim").c_str(), at.c_str()), 0); }},
      {"FIFO", [](const std::string& at) { ASSERT_EQ(mkfifo(at.c_str(), 0666), 0); }},
      {"dangling symlink",
       [&](const std::string& at) { ASSERT_EQ(symlink((dir / "none").c_str(), at.c_str()), 0); }},
  };
  const std::string target = shared + "/a.quillforted";
  for (const Plant& plant : plants) {
    for (uid_t owner : {uid_t(1234), uid_t(0)}) {
      SCOPED_TRACE(plant.name + " owned by " + std::to_string(owner));
      plant.make(target);
      ASSERT_EQ(lchown(target.c_str(), owner, owner), 0);
      bool refused = owner != 0;
      if (plant.name == "FIFO" && !refused) {
        unlink(target.c_str());
        continue;  // our own FIFO would wait for a reader
      }
      ProgramResult result = RunProgram({"e", "-p", "pw", "-i", "a"}, shared);
      EXPECT_EQ(result.status, refused ? 1 : 0);
      if (refused) {
        EXPECT_EQ(result.out, "ENCRYPTING\ntarget could not be opened!\n");
      }
      EXPECT_EQ(ReadFile(dir / "victim"),
                plant.name == "symlink" && !refused ? Encrypted("text", "pw") : "the victim's file");
      unlink(target.c_str());
      WriteFile(dir / "victim", "the victim's file");
      EXPECT_EQ(HiddenNames(shared), std::vector<std::string>{});
    }
  }
}

// A source swapped for a FIFO or a link to an endless device after the run's plan
// saw a regular file: the open neither blocks nor reads without end.
TEST(Sources, SwappedForAFifoOrADeviceNeverBlock) {
  for (std::string swap : {"fifo", "/dev/zero"}) {
    SCOPED_TRACE(swap);
    ScratchFolder dir;
    auto program = StartStoppedMidRun({"e", "-p", "pw", "-i", "big", "next"}, dir.path, dir / "big", [&] {
      MakeSparseFile(dir / "big", 26000000);
      WriteFile(dir / "next", "a regular file while planned");
    });
    ASSERT_TRUE(program);
    unlink((dir / "next").c_str());
    if (swap == "fifo") {
      ASSERT_EQ(mkfifo((dir / "next").c_str(), 0644), 0);
    } else {
      ASSERT_EQ(symlink(swap.c_str(), (dir / "next").c_str()), 0);
    }
    SignalProgram(*program, SIGCONT);
    ProgramResult result = FinishProgram(*program);
    EXPECT_EQ(WithoutFigures(result.out), ParallelReport("ENCRYPTING", "big", "./big.quillforted") +
                                              "ENCRYPTING\nsource could not be opened!\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big", "big.quillforted", "next"}));
  }
}

// Files under /proc report no size and still have content.
TEST(Sources, FilesReportingNoSizeAreReadToTheEnd) {
  ScratchFolder dir;
  const std::string content = ReadFile("/proc/version");
  ASSERT_FALSE(content.empty());
  ProgramResult result = RunProgram({"e", "-p", "pw", "-i", "/proc/version", "-o", "v"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), "will write to: v\n" + Enc("/proc/version", "v"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(dir / "v"), Encrypted(content, "pw"));
}

// --sync changes when the data reaches the disk, not what is written or printed.
TEST(Replacing, SyncWritesTheSameFiles) {
  ScratchFolder dir;
  WriteFile(dir / "a", "text");
  MakeSparseFile(dir / "big", 26000000);
  WriteFile(dir / "a.quillforted", "older copy");
  ProgramResult result = RunProgram({"e", "--sync", "-p", "pw", "-i", "a", "big"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out),
            Enc("a", "./a.quillforted") + ParallelReport("ENCRYPTING", "big", "./big.quillforted"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(dir / "a.quillforted"), Encrypted("text", "pw"));
  EXPECT_TRUE(ReadFile(dir / "big.quillforted") == Encrypted(SparseFileContent(26000000), "pw"));
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct LimitedRun {
  bool exited = false;
  int status = -1;
  std::string printed;  // standard output and error together
};

// Runs the program with its address space limited to `megabytes`.
LimitedRun RunWithinMemory(const std::string& directory, const std::vector<std::string>& arguments,
                           rlim_t megabytes) {
  std::vector<char*> argv = ProgramArgv(arguments);
  int out[2];
  if (pipe(out) != 0) return {};
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(out[1], 2);
    rlimit limit{megabytes << 20, megabytes << 20};
    setrlimit(RLIMIT_AS, &limit);
    ExecProgram(directory, argv);
  }
  close(out[1]);
  LimitedRun run;
  char buffer[4096];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) run.printed.append(buffer, size_t(n));
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  run.exited = WIFEXITED(status);
  run.status = run.exited ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Memory that runs out anywhere in a run (a limit on the address space): one clear
// line, status 1, the old target as it was and nothing left behind; never an abort.
TEST(OutOfMemory, EndsTheRunCleanly) {
  if (kSanitized) GTEST_SKIP() << "sanitizers reserve more address space than any limit here allows";
  ScratchFolder dir;
  MakeSparseFile(dir / "big", 26000000);
  WriteFile(dir / "small", PatternBytes(300000));
  WriteFile(dir / "old", "precious");
  int ranOut = 0;
  for (rlim_t megabytes = 2; megabytes <= 64; megabytes += 2) {
    // Below some limit the program cannot even be loaded; that is not ours to handle.
    if (RunWithinMemory(dir.path, {"--version"}, megabytes).status != 0) continue;
    for (std::string input : {"small", "big"}) {
      SCOPED_TRACE(::testing::Message() << input << " within " << megabytes << " MiB");
      LimitedRun run = RunWithinMemory(dir.path, {"e", "-p", "pw", "-i", input, "-o", "old"}, megabytes);
      ASSERT_TRUE(run.exited) << run.status << " " << run.printed;
      if (run.status == 0) {
        std::string plain = input == "big" ? SparseFileContent(26000000) : PatternBytes(300000);
        EXPECT_TRUE(ReadFile(dir / "old") == Encrypted(plain, "pw"));
        WriteFile(dir / "old", "precious");
      } else {
        EXPECT_EQ(run.status, 1) << run.printed;
        EXPECT_TRUE(run.printed.ends_with("not enough memory: the run was stopped!\n")) << run.printed;
        EXPECT_EQ(ReadFile(dir / "old"), "precious");
        ++ranOut;
      }
      EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"big", "old", "small"}));
    }
  }
  EXPECT_GT(ranOut, 0) << "no limit made memory run out";
}

}  // namespace
