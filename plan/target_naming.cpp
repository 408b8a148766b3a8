#include "plan/target_naming.h"

#include "engine/descriptor_paths.h"
#include "plan/path_names.h"

namespace {

std::string WithSlash(const std::string& folder) {
  return !folder.empty() && folder.back() == '/' ? folder : folder + "/";
}

// The name an input gets inside an output folder.
std::string NameInFolder(const std::string& folder, const std::string& input, Mode mode) {
  std::string name = FileNamePart(input);
  if (mode == Mode::encrypt) return WithSlash(folder) + name + std::string(kSuffix);
  return WithSlash(folder) + (EndsWithSuffix(name) ? WithoutSuffix(name) : name);
}

TargetPlan& Skip(TargetPlan& plan, const std::string& message, const std::string& path, const Cause& cause) {
  plan.printed = message;
  plan.causePath = path;
  plan.cause = cause;
  return plan;
}

// Standard input, or a pipe named as /dev/fd/N, has no name to derive one from: it
// goes to standard output, or where -o says.
TargetPlan PlanStream(const RunOptions& options) {
  TargetPlan plan;
  if (options.output.empty()) {
    plan.target = "-";
  } else if (options.output != "-" && IsFolder(options.output)) {
    plan.printed = "standard input needs an output file name: use -o FILE or -o -\n";
    return plan;
  } else {
    plan.notice = "will write to: " + options.output + "\n";
    plan.target = options.output;
  }
  plan.usable = true;
  return plan;
}

}  // namespace

bool PrepareBatchFolder(RunOptions& options) {
  if (options.output.empty()) options.output = "./";
  if (!IsFolder(options.output)) return false;
  options.output = WithSlash(options.output);
  return true;
}

TargetPlan PlanTarget(const RunOptions& options, const std::string& input, bool batch) {
  TargetPlan plan;
  if (!batch && StreamInputDescriptor(input) >= 0) return PlanStream(options);
  if (batch && input == "-") {
    // Standard input is no file of a batch.
    return Skip(plan, "Input file missing: -\n", "-", PhraseCause("standard input takes a single input"));
  }
  // A regular file is never a folder: the common case costs one look.
  const bool regular = IsRegularFile(input);
  if (!regular && IsFolder(input)) {
    return Skip(plan, "Folders cannot be input: " + input + "\n", input, PhraseCause("is a folder"));
  }
  if (!regular) return Skip(plan, "Input file missing: " + input + "\n", input, WhyNotRegularFile(input));
  if (batch || (!options.output.empty() && IsFolder(options.output))) {
    plan.target = NameInFolder(options.output, input, options.mode);
  } else if (!options.output.empty()) {
    plan.notice = "will write to: " + options.output + "\n";
    plan.target = options.output;
  } else if (options.mode == Mode::encrypt) {
    plan.target = input + std::string(kSuffix);
  } else if (EndsWithSuffix(input)) {
    plan.target = WithoutSuffix(input);
  } else {
    plan.printed = "input does not end with .quillforted, use '-o' to name the output!\n";
    return plan;
  }
  if (SameFile(input, plan.target)) {
    return Skip(plan, "input and output are the same file: " + input + "\n", plan.target,
                PhraseCause("is the input itself"));
  }
  plan.usable = true;
  return plan;
}

std::string MirrorFolder(const std::string& output, const std::string& folder) {
  std::string trimmed = folder;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  std::string name = FileNamePart(trimmed);
  std::string root = WithSlash(output);
  if (name.empty() || name == "." || name == "..") return root.substr(0, root.size() - 1);
  return root + name;
}

TargetPlan PlanWalkedFile(const RunOptions& options, const std::string& file, const std::string& relative,
                          const std::string& mirrorTarget) {
  TargetPlan plan;
  std::string renamed =
      options.mode == Mode::encrypt ? relative + std::string(kSuffix) : WithoutSuffix(relative);
  if (mirrorTarget.empty()) {
    plan.target = options.mode == Mode::encrypt ? file + std::string(kSuffix) : WithoutSuffix(file);
  } else {
    plan.target = mirrorTarget + "/" + renamed;
  }
  if (SameFile(file, plan.target)) {
    return Skip(plan, "input and output are the same file: " + file + "\n", plan.target,
                PhraseCause("is the input itself"));
  }
  plan.usable = true;
  return plan;
}
