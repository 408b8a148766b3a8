// Argument vectors of any shape through the parser and the target planning, in a
// scratch folder with files, a folder and links for the words to name. Each input is
// split at zero bytes into words, as no argument can hold one.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "engine/descriptor_paths.h"
#include "plan/path_names.h"
#include "plan/target_naming.h"

namespace {

std::string scratchFolder;
int scratchFd = -1;
int startFd = -1;  // libFuzzer reads and writes its corpus relative to where it started

void RemoveScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(scratchFolder, ignored);
}

void Touch(const char* path) {
  if (FILE* file = std::fopen(path, "w")) std::fclose(file);
}

void MakeScratchFolder() {
  char pattern[] = "/tmp/quillfort-fuzz-XXXXXX";
  startFd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (startFd < 0 || !mkdtemp(pattern) || chdir(pattern) != 0) abort();
  scratchFolder = pattern;
  scratchFd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  std::atexit(RemoveScratchFolder);
  Touch("a");
  Touch("a.quillforted");
  Touch(".quillforted");
  mkdir("d", 0755);
  mkdir("d.quillforted", 0755);
  Touch("d/a");
  if (symlink("a", "l") != 0 || link("a", "h") != 0 || symlink("d", "dl") != 0 || symlink("none", "x") != 0)
    abort();
  if (fchdir(startFd) != 0) abort();
}

// Runs inside the scratch folder for the time of one input.
struct InScratchFolder {
  InScratchFolder() {
    if (fchdir(scratchFd) != 0) abort();
  }
  ~InScratchFolder() {
    if (fchdir(startFd) != 0) abort();
  }
};

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "does not hold: %s\n", what);
    abort();
  }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The parser's notices are key file notices; a missing argument ends it with its message.
void CheckParserMessages(const ParseMessages& messages, ParseOutcome outcome) {
  const std::string notice = "key file does not exist! Will use 'quillfort.key' instead.\n";
  for (size_t at = 0; at < messages.notices.size(); at += notice.size()) {
    Check(messages.notices.compare(at, notice.size(), notice) == 0, "only key file notices");
  }
  if (outcome == ParseOutcome::missingArgument) {
    const std::string& failure = messages.failure;
    Check(failure == "missing argument for -o!\n" || failure == "missing argument for -p!\n" ||
              failure == "missing argument for -k!\n" ||
              failure == "missing argument for --password-file!\n" ||
              failure == "missing argument for --password-fd!\n" ||
              failure == "missing argument for --password-env!\n",
          "a missing argument ends with its message");
  } else {
    Check(messages.failure.empty(), "only a missing argument fails parsing");
  }
  // Help and version print only their own text, whatever parsing had to say.
}

// Inputs are words of the command line, in their order.
void CheckInputsAreWords(const std::vector<std::string>& words, const RunOptions& options) {
  size_t w = 0;
  for (const std::string& input : options.inputs) {
    while (w < words.size() && words[w] != input) ++w;
    Check(w < words.size(), "every input is a word, in order");
    ++w;
  }
}

void CheckPlan(const RunOptions& options, const std::string& input, bool batch, const TargetPlan& plan) {
  const std::string suffix(kSuffix);
  const std::string same = "input and output are the same file: " + input + "\n";
  const std::string willWrite = "will write to: " + options.output + "\n";
  Check(plan.notice.empty() || plan.notice == willWrite, "the only notice says where the output goes");
  if (!plan.usable) {
    Check(plan.printed == "Folders cannot be input: " + input + "\n" ||
              plan.printed == "Input file missing: " + input + "\n" ||
              plan.printed == "input does not end with .quillforted, use '-o' to name the output!\n" ||
              plan.printed == "standard input needs an output file name: use -o FILE or -o -\n" ||
              plan.printed == same,
          "a skipped input says why, in one known message");
    return;
  }
  Check(plan.printed.empty(), "a usable input prints no failure");
  if (!batch && StreamInputDescriptor(input) >= 0) {
    Check(plan.target == (options.output.empty() ? "-" : options.output), "a stream goes to -o or out");
    return;
  }
  // Decrypting a name that is only the suffix leaves no name; the engine then refuses the target.
  Check(!plan.target.empty() || (options.mode == Mode::decrypt && FileNamePart(input) == kSuffix),
        "a usable input has a target");
  Check(IsRegularFile(input), "only regular files are transformed");
  Check(!SameFile(input, plan.target), "the input is never its own target");
  if (batch) Check(StartsWith(plan.target, options.output), "a batch writes into its folder");
  if (options.mode == Mode::encrypt && plan.notice.empty()) {
    Check(EndsWithSuffix(plan.target), "an encrypted copy gets the suffix");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MakeScratchFolder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> words(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.emplace_back();
    } else {
      words.back() += char(data[i]);
    }
  }
  if (size == 0) words.clear();

  InScratchFolder inScratch;
  RunOptions options;
  ParseMessages messages;
  ParseOutcome outcome = ParseCommandLine(words, options, messages);
  CheckParserMessages(messages, outcome);
  CheckInputsAreWords(words, options);
  Check(options.mode == Mode::encrypt || options.mode == Mode::decrypt, "the mode is 0 or 1");
  if (outcome != ParseOutcome::run || options.inputs.empty()) return 0;

  const bool batch = options.inputs.size() > 1;
  if (batch && !PrepareBatchFolder(options)) return 0;
  if (batch) Check(options.output.back() == '/' && IsFolder(options.output), "a batch folder ends with /");
  for (const std::string& input : options.inputs) {
    CheckPlan(options, input, batch, PlanTarget(options, input, batch));
  }
  return 0;
}
