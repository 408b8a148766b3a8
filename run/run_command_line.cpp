#include "run/run_command_line.h"

#include <unistd.h>

#include <algorithm>

#include "cipher/cipher.h"
#include "cipher/secret_text.h"
#include "cli/command_line.h"
#include "cli/help_text.h"
#include "engine/console.h"
#include "engine/descriptor_paths.h"
#include "engine/report.h"
#include "password/obtain_password.h"
#include "plan/path_names.h"
#include "plan/run_plan.h"
#include "plan/target_naming.h"
#include "run/run_files.h"
#include "run/transform_file.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int TransformInputs(RunOptions& options, Conversation* conversation) {
  if (options.inputs.empty()) {
    Print("you must specify some input files via '-i'!\n");
    return kFailure;
  }
  const bool outputGiven = !options.output.empty();
  const bool batch = options.inputs.size() > 1;
  const bool walks =
      options.recursive && std::any_of(options.inputs.begin(), options.inputs.end(),
                                       [](const std::string& input) { return IsFolder(input); });
  // A batch writes into a folder, and so does a walk that mirrors its tree with -o.
  if ((batch || (walks && outputGiven)) && !PrepareBatchFolder(options)) {
    Cause cause = WhyNotFolder(options.output);
    PrintFailure("output directory is unavailable!\n", options.output,
                 cause.Known() ? cause : PhraseCause("not a folder"));
    return kFailure;
  }
  std::vector<PlannedInput> plan = PlanRun(options, batch, outputGiven);
  return RunFiles(options, plan, conversation);
}

// The descriptor a single input's output goes to directly, or -1 for a file.
int OutputDescriptor(const RunOptions& options) {
  if (options.inputs.size() != 1) return -1;
  if (options.output == "-") return STDOUT_FILENO;
  if (options.output.empty()) return StreamInputDescriptor(options.inputs[0]) >= 0 ? STDOUT_FILENO : -1;
  return DescriptorNamedBy(options.output);
}

bool StandardInputCarriesData(const RunOptions& options) {
  for (const std::string& input : options.inputs) {
    if (StreamInputDescriptor(input) == STDIN_FILENO) return true;
  }
  return false;
}

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    Print(kUsageText);
    return kSuccess;
  }
  RunOptions options;
  StringsWipe wipe{{&options.password, 1}};  // overwritten before its memory goes back
  ParseMessages messages;
  ParseOutcome parsed = ParseCommandLine(arguments, options, messages);
  // Help and version replace everything parsing would have printed.
  if (parsed == ParseOutcome::help || parsed == ParseOutcome::version) {
    Print(parsed == ParseOutcome::help ? kHelpText : kVersionText);
    return kSuccess;
  }
  SetQuiet(options.quiet);
  int output = OutputDescriptor(options);
  // Standard output carries the data: it gets nothing else.
  if (output == STDOUT_FILENO) SendMessagesToStandardError();
  PrintToStandardError(messages.warnings);
  PrintNote(messages.notices);
  Print(messages.failure);
  if (parsed == ParseOutcome::missingArgument) return kFailure;
  if (options.passwordGivenTwoWays) {
    Print("give the password only one way\n");
    return kFailure;
  }
  if (output >= 0 && options.mode == Mode::encrypt && ::isatty(output)) {
    PrintToStandardError("refusing to write encrypted data to a terminal\n");
    return kFailure;
  }
  // The person at the keyboard, for the password and the questions: on standard input,
  // or on the terminal itself while standard input carries the data.
  Conversation conversation;
  bool canTalk = true;
  if (StandardInputCarriesData(options)) {
    canTalk = TalkOnTerminal(conversation);
  } else {
    TalkOnStandardInput(conversation);
  }
  if (!ObtainPassword(options, canTalk ? &conversation : nullptr)) return kFailure;
  return TransformInputs(options, canTalk ? &conversation : nullptr);
}
