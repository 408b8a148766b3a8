#include <gtest/gtest.h>
#include <sys/stat.h>

#include "background_program.h"
#include "cipher/cipher.h"
#include "expected_bytes.h"
#include "report_text.h"
#include "run_program.h"

namespace {

std::string AllHighBytes() {
  std::string bytes;
  for (int b = 0x80; b <= 0xFF; ++b) bytes += char(b);
  return bytes;
}

struct ArgumentCase {
  std::string name;
  std::vector<std::string> arguments;
  std::string out;  // speed figures shown as "#"
  int status;
  std::string err = "";  // warnings and causes
};

// Argument vectors of odd shapes get their messages and never a crash.
TEST(HostileInput, ArgumentVectorsOfAnyShape) {
  ScratchFolder dir;
  WriteFile(dir / "in", "some text");
  const std::string high = AllHighBytes();
  WriteFile(dir / high, "named in high bytes");
  const std::string longWord(100000, 'w');
  const std::string longName(250, 'n');
  WriteFile(dir / longName, "a name with no room for the suffix");
  std::string deepPath;
  while (deepPath.size() < 5000) deepPath += "deep/";
  const std::string tooLong = ": File name too long\n";
  const std::string ignoring = "quillfort: ignoring unknown word: ";
  const std::string empty = "quillfort: ignoring an empty argument\n";
  const ArgumentCase cases[] = {
      {"empty words only",
       {"", "", "-p", "pw", ""},
       "you must specify some input files via '-i'!\n",
       1,
       empty + empty + empty},
      {"an empty input",
       {"-p", "pw", "-i", ""},
       "Folders cannot be input: \n",
       1,
       "quillfort: : is a folder\n"},
      {"empty inputs in a batch",
       {"-p", "pw", "-i", "", "", "in"},
       "Folders cannot be input: \nFolders cannot be input: \n" +
           SerialReport("ENCRYPTING", "in", "./in.quillforted"),
       1,
       "quillfort: : is a folder\nquillfort: : is a folder\n"},
      {"dashes and unknown options",
       {"-", "--", "-x", "-p", "pw", "-ii", "in", "-i"},
       "you must specify some input files via '-i'!\n",
       1,
       ignoring + "-\n" + ignoring + "--\n" + ignoring + "-x\n" + ignoring + "-ii (did you mean -i?)\n" +
           ignoring + "in\n"},
      {"a very long input",
       {"-p", "pw", "-i", longWord},
       "Input file missing: " + longWord + "\n",
       1,
       "quillfort: " + longWord + tooLong},
      {"a very long output",
       {"-p", "pw", "-i", "in", "-o", longWord},
       "will write to: " + longWord + "\nENCRYPTING\ntarget could not be opened!\n",
       1,
       "quillfort: " + longWord + tooLong},
      {"a path deeper than the system allows",
       {"-p", "pw", "-i", deepPath},
       "Input file missing: " + deepPath + "\n",
       1,
       "quillfort: " + deepPath + tooLong},
      {"a target name too long for the folder",
       {"-p", "pw", "-i", longName},
       "ENCRYPTING\ntarget could not be opened!\n",
       1,
       "quillfort: " + longName + ".quillforted" + tooLong},
      {"high bytes in words",
       {high, "-p", "pw", "-k", high + "k", "-i", "in", "-o", high + "out"},
       "key file does not exist! Will use 'quillfort.key' instead.\nwill write to: " + high + "out\n" +
           SerialReport("ENCRYPTING", "in", high + "out"),
       0,
       ignoring + high + "\n" + ignoring + high + "k\n"},
      {"high bytes in a file name",
       {"-p", "pw", "-i", high},
       SerialReport("ENCRYPTING", high, high + ".quillforted"),
       0},
  };
  for (const ArgumentCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramResult result = RunProgram(c.arguments, dir.path);
    EXPECT_EQ(WithoutFigures(result.out), c.out);
    EXPECT_TRUE(result.err == c.err) << result.err.substr(0, 300);
    EXPECT_EQ(result.status, c.status);
  }
  EXPECT_EQ(ReadFile(dir / (high + ".quillforted")), Encrypted("named in high bytes", "pw"));
  EXPECT_EQ(ReadFile(dir / (high + "out")), Encrypted("some text", "pw"));
  EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"in", "in.quillforted", longName, high,
                                                            high + ".quillforted", high + "out"}));
}

TEST(HostileInput, ThousandsOfInputs) {
  ScratchFolder dir;
  WriteFile(dir / "a", "first");
  WriteFile(dir / "b", "last");
  std::vector<std::string> arguments{"encrypt", "-p", "pw", "-i", "a"};
  std::string expected = SerialReport("ENCRYPTING", "a", "./a.quillforted");
  for (int i = 0; i < 5000; ++i) {
    arguments.push_back("missing" + std::to_string(i));
    expected += "Input file missing: missing" + std::to_string(i) + "\n";
  }
  arguments.push_back("b");
  expected += SerialReport("ENCRYPTING", "b", "./b.quillforted");
  ProgramResult result = RunProgram(arguments, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), expected);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"a", "a.quillforted", "b", "b.quillforted"}));
  EXPECT_EQ(ReadFile(dir / "b.quillforted"), Encrypted("last", "pw"));
}

// Every byte an argument can hold works in a password: the program's result is the
// cipher's, and decrypting gives the file back; a refused password says so and
// writes nothing.
TEST(HostileInput, PasswordsOfEveryByte) {
  ScratchFolder dir;
  const std::string plain = PatternBytes(70000);
  WriteFile(dir / "plain", plain);
  std::string ascending, descending;
  for (int b = 1; b <= 255; ++b) ascending += char(b);
  descending.assign(ascending.rbegin(), ascending.rend());
  for (const std::string& password : {ascending, descending, std::string(100000, '\xff'), std::string("\x01"),
                                      std::string("\xff"), std::string(" "), std::string("-")}) {
    SCOPED_TRACE(password.size());
    ProgramResult encrypted = RunProgram({"e", "-p", password, "-i", "plain", "-o", "enc"}, dir.path);
    ASSERT_EQ(encrypted.status, 0) << encrypted.out;
    EXPECT_TRUE(ReadFile(dir / "enc") == Encrypted(plain, password));
    ProgramResult decrypted = RunProgram({"d", "-p", password, "-i", "enc", "-o", "dec"}, dir.path);
    ASSERT_EQ(decrypted.status, 0) << decrypted.out;
    EXPECT_TRUE(ReadFile(dir / "dec") == plain);
  }
  const std::string before = ReadFile(dir / "enc");
  ProgramResult refused = RunProgram({"e", "-p", "wrap790", "-i", "plain", "-o", "enc"}, dir.path);
  EXPECT_EQ(refused.out, "will write to: enc\nENCRYPTING\n" + std::string(kRefusalMessage) + "\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(ReadFile(dir / "enc") == before);
  EXPECT_EQ(ListFolder(dir.path), (std::vector<std::string>{"dec", "enc", "plain"}));
}

// Empty files and files far larger than their disk use (sparse) go through both
// engines; a size that is no multiple of the chunk size leaves a short last chunk.
TEST(HostileInput, EmptyAndSparseFiles) {
  ScratchFolder dir;
  WriteFile(dir / "empty", "");
  const uint64_t sparseSize = 24 * 1048576 + 3;
  MakeSparseFile(dir / "sparse", sparseSize);
  ProgramResult result = RunProgram({"e", "-p", "pw", "-i", "empty", "sparse"}, dir.path);
  EXPECT_EQ(WithoutFigures(result.out), SerialReport("ENCRYPTING", "empty", "./empty.quillforted") +
                                            ParallelReport("ENCRYPTING", "sparse", "./sparse.quillforted"));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(ReadFile(dir / "empty.quillforted"), "");
  EXPECT_TRUE(ReadFile(dir / "sparse.quillforted") == Encrypted(SparseFileContent(sparseSize), "pw"));
  result = RunProgram({"d", "-p", "pw", "-i", "sparse.quillforted", "-o", "back"}, dir.path);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(ReadFile(dir / "back") == SparseFileContent(sparseSize));
}

// The password appears in no message and no file, whatever the run ends with.
TEST(HostileInput, PasswordNeverLeavesTheProcess) {
  ScratchFolder dir;
  const std::string password = "Pw-marker-7c1e9";
  WriteFile(dir / "plain", "nothing secret here");
  MakeSparseFile(dir / "big", 26000000);
  const std::vector<std::vector<std::string>> runs = {
      {"e", "-p", password, "-i", "plain"},
      {"d", "-p", password, "-i", "plain.quillforted", "-o", "back"},
      {"e", "-p", password, "-i", "big", "missing", "", "plain"},
      {"e", "-p", password, "-i", "plain", "-o", "plain"},
      {"e", "-p", password, "-i", "plain", "-o", "/dev/full"},
      {"e", "-p", password, "-i", "plain", "-o"},
      {"e", "-k", "nofile", "-p", password, "-i"},
      {"e", "-p", "wrap790", "-p", password, "-i", "plain", "-o", "nowhere/"},
  };
  for (const auto& arguments : runs) {
    ProgramResult result = RunProgram(arguments, dir.path);
    EXPECT_EQ(result.out.find(password), std::string::npos) << result.out;
    EXPECT_EQ(result.err.find(password), std::string::npos) << result.err;
  }
  for (const std::string& name : ListFolder(dir.path)) {
    EXPECT_EQ(name.find(password), std::string::npos);
    EXPECT_EQ(ReadFile(dir / name).find(password), std::string::npos) << name;
  }
}

}  // namespace
