#pragma once
#include <string>
#include <vector>

#include "app/run_options.h"
#include "engine/cause.h"

// What the run does with one input, worked out before the first file is transformed.
struct PlannedInput {
  std::string input;
  std::string target;
  std::string notice;     // "will write to:", printed first unless the run is quiet
  std::string printed;    // why the input is skipped
  std::string causePath;  // with `cause`, the line on standard error that follows `printed`
  Cause cause;
  bool usable = false;
};

// Plans every input in order: its target by the naming rules, then the rules of the
// whole run. An input whose target is another input of the run is skipped, and so
// is every later input whose target an earlier, different file already writes; the
// same file named twice is simply transformed again. `batch` inputs go into the
// folder PrepareBatchFolder left in `options.output`.
std::vector<PlannedInput> PlanRun(const RunOptions& options, bool batch);
