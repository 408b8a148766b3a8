#pragma once
#include <string>

#include "cli/run_options.h"
#include "engine/cause.h"

// Where one input goes, or why it is skipped.
struct TargetPlan {
  bool usable = false;
  std::string target;
  std::string notice;     // "will write to:", printed first unless the run is quiet
  std::string printed;    // why the input is skipped
  std::string causePath;  // with `cause`, the line on standard error that follows `printed`
  Cause cause;
};

// A batch writes into a folder: `-o`, or "./" without it. False when that is not a
// usable folder; otherwise `output` ends with "/".
bool PrepareBatchFolder(RunOptions& options);

// Applies the input tests and the naming rules for a single input (batch false)
// or one input of a batch (after PrepareBatchFolder). Never plans the input itself
// as its own target. A single input "-" (or a pipe named as /dev/fd/N) is a stream,
// written to standard output unless -o names a file; in a batch "-" is a missing file.
TargetPlan PlanTarget(const RunOptions& options, const std::string& input, bool batch);

// The folder a walk of `folder` is mirrored into below -o `output`: the walked folder's
// own name inside it ("vault/photos" for photos), or `output` itself for "." or "/".
std::string MirrorFolder(const std::string& output, const std::string& folder);

// A file met walking a folder: beside itself without -o (the single-input rules), or
// at `relative` below `mirrorTarget`.
TargetPlan PlanWalkedFile(const RunOptions& options, const std::string& file, const std::string& relative,
                          const std::string& mirrorTarget);
