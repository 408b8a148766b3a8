#include "app/run_command_line.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/command_line.h"
#include "app/help_text.h"
#include "app/password_confirmation.h"
#include "app/password_source.h"
#include "app/run_plan.h"
#include "app/secret_text.h"
#include "app/target_planning.h"
#include "app/transform_file.h"
#include "cipher/cipher.h"
#include "engine/console.h"
#include "engine/descriptor_paths.h"
#include "engine/report.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int TransformInputs(RunOptions& options) {
  if (options.inputs.empty()) {
    Print("you must specify some input files via '-i'!\n");
    return kFailure;
  }
  const bool batch = options.inputs.size() > 1;
  if (batch && !PrepareBatchFolder(options)) {
    Print("output directory is unavailable!\n");
    return kFailure;
  }
  int status = kSuccess;
  Cipher keyed;  // keyed once, when the first input reaches an engine
  for (PlannedInput& planned : PlanRun(options, batch)) {
    PrintNote(planned.notice);
    Print(planned.printed);
    if (!planned.usable) {
      status = kFailure;
      continue;
    }
    if (!keyed.key && !SetPassword(keyed, options.password)) {
      PrintHeader(options.mode);
      Print(kRefusalMessage);
      Print("\n");
      return kFailure;
    }
    FileTask task{std::move(planned.input), std::move(planned.target), options.mode, {options.sync}};
    if (TransformFile(task, keyed) != TransformOutcome::done) status = kFailure;
    FlushConsole();
  }
  return status;
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

// The password from -p, its source, or the two-entry dialogue: on standard input, or
// on the terminal itself while standard input carries the data.
bool ObtainPassword(RunOptions& options) {
  if (!options.passwordSource.empty()) return ReadPasswordSource(options, options.password);
  if (!options.password.empty()) return true;
  Dialogue dialogue{stdin, MessageStream(), STDIN_FILENO, options.quiet};
  if (!StandardInputCarriesData(options)) return ConfirmPassword(options.password, dialogue);
  int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) {
    Print(
        "no password: standard input carries the data; use -p, --password-file, --password-fd or "
        "--password-env\n");
    return false;
  }
  // Two streams on one terminal, so reading and writing never wait on each other.
  std::unique_ptr<FILE, decltype(&std::fclose)> in(::fdopen(terminal, "r"), &std::fclose);
  std::unique_ptr<FILE, decltype(&std::fclose)> out(::fdopen(::fcntl(terminal, F_DUPFD_CLOEXEC, 3), "w"),
                                                    &std::fclose);
  if (!in || !out) {
    if (!in) ::close(terminal);
    Print(
        "no password: standard input carries the data; use -p, --password-file, --password-fd or "
        "--password-env\n");
    return false;
  }
  dialogue = {in.get(), out.get(), terminal, options.quiet};
  return ConfirmPassword(options.password, dialogue);
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
  PrintNote(messages.notices);
  Print(messages.failure);
  if (parsed == ParseOutcome::missingArgument) return kFailure;
  if (options.passwordGivenTwoWays) {
    Print("give the password only one way\n");
    return kFailure;
  }
  if (output >= 0 && options.mode == kEncrypt && ::isatty(output)) {
    PrintToStandardError("refusing to write encrypted data to a terminal\n");
    return kFailure;
  }
  if (!ObtainPassword(options)) return kFailure;
  return TransformInputs(options);
}
