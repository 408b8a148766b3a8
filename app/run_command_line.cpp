#include "app/run_command_line.h"

#include "app/command_line.h"
#include "app/help_text.h"
#include "app/password_confirmation.h"
#include "app/run_plan.h"
#include "app/secret_text.h"
#include "app/target_planning.h"
#include "app/transform_file.h"
#include "cipher/cipher.h"
#include "engine/console.h"
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

}  // namespace

int RunCommandLine(const std::vector<std::string>& arguments) {
  if (arguments.empty()) {
    Print(kUsageText);
    return kSuccess;
  }
  RunOptions options;
  StringsWipe wipe{{&options.password, 1}};  // overwritten before its memory goes back
  std::string printed;
  ParseOutcome parsed = ParseCommandLine(arguments, options, printed);
  // Help and version replace everything parsing would have printed.
  if (parsed == ParseOutcome::help || parsed == ParseOutcome::version) {
    Print(parsed == ParseOutcome::help ? kHelpText : kVersionText);
    return kSuccess;
  }
  Print(printed);
  if (parsed == ParseOutcome::missingArgument) return kFailure;
  if (options.password.empty() && !ConfirmPassword(options.password)) return kFailure;
  return TransformInputs(options);
}
