#pragma once
#include <string>
#include <vector>

#include "cli/run_options.h"
#include "engine/cause.h"

// What the run does with one input, worked out before the first file is transformed.
struct PlannedInput {
  std::string input;
  std::string target;
  std::string note;       // a line on standard error first (a walk passing over a link)
  bool header = false;    // the mode header comes before `printed` (a folder that could not be read)
  std::string notice;     // "will write to:", printed first unless the run is quiet
  std::string printed;    // why the input is skipped
  std::string causePath;  // with `cause`, the line on standard error that follows `printed`
  Cause cause;
  bool usable = false;
  // Skipped for a fault; an entry that is only a note is none.
  bool Failed() const { return !usable && note.empty(); }
  // A walked file's target in a mirrored tree: the folders from `mirrorTarget` down
  // to the target's are made like their counterparts below `mirrorSource`.
  std::string mirrorSource;
  std::string mirrorTarget;
};

// Plans every input in order: folders walked with -r, each file's target by the
// naming rules, then the rules of the whole run. An input whose target is another
// input of the run is skipped, and so is every later input whose target an earlier,
// different file already writes; the same file named twice is simply transformed
// again. `batch` inputs go into the folder PrepareBatchFolder left in
// `options.output`; `outputGiven` tells whether -o named it.
std::vector<PlannedInput> PlanRun(const RunOptions& options, bool batch, bool outputGiven);
