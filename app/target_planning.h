#pragma once
#include <string>

#include "app/run_options.h"

// Where one input goes, or why it is skipped.
struct TargetPlan {
  bool usable = false;
  std::string target;
  std::string printed;  // messages to print before the input is handed on (or skipped)
};

// A batch writes into a folder: `-o`, or "./" without it. False when that is not a
// usable folder; otherwise `output` ends with "/".
bool PrepareBatchFolder(RunOptions& options);

// Applies the input tests and the naming rules for a single input (batch false)
// or one input of a batch (after PrepareBatchFolder). Never plans the input itself
// as its own target.
TargetPlan PlanTarget(const RunOptions& options, const std::string& input, bool batch);
