#include "plan/run_plan.h"

#include <sys/stat.h>

#include <unordered_map>

#include "engine/descriptor_paths.h"
#include "engine/output_commit.h"
#include "plan/path_names.h"
#include "plan/target_naming.h"
#include "plan/tree_walk.h"

namespace {

struct Identity {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
};

Identity IdentityOf(const std::string& path) {
  struct stat status {};
  if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &status) != 0) return {};
  return {true, status.st_dev, status.st_ino};
}

bool SameFile(const Identity& a, const Identity& b) {
  return a.known && b.known && a.device == b.device && a.inode == b.inode;
}

std::string IdentityKey(const Identity& identity) {
  return std::to_string(identity.device) + ":" + std::to_string(identity.inode);
}

// Recognises paths: as typed, as the file they name, and as a name in a folder (which
// holds also for a file that does not exist yet). A walk has many names per folder,
// so folders are looked up once.
struct Recognizer {
  std::unordered_map<std::string, Identity> folders;

  std::vector<std::string> KeysOf(const std::string& path, Identity& file) {
    std::vector<std::string> keys{"path " + path};
    file = IdentityOf(path);
    if (file.known) keys.push_back("file " + IdentityKey(file));
    std::string folderPath = FolderOf(path);
    auto found = folders.find(folderPath);
    if (found == folders.end()) found = folders.emplace(folderPath, IdentityOf(folderPath)).first;
    if (found->second.known) keys.push_back("name " + IdentityKey(found->second) + "/" + FileNamePart(path));
    return keys;
  }
};

// The first entry of `index` that one of `keys` finds, or -1.
int Find(const std::unordered_map<std::string, int>& index, const std::vector<std::string>& keys) {
  for (const std::string& key : keys) {
    auto found = index.find(key);
    if (found != index.end()) return found->second;
  }
  return -1;
}

PlannedInput FromTarget(const std::string& input, const TargetPlan& single) {
  PlannedInput planned;
  planned.input = input;
  planned.target = single.target;
  planned.notice = single.notice;
  planned.printed = single.printed;
  planned.causePath = single.causePath;
  planned.cause = single.cause;
  planned.usable = single.usable;
  return planned;
}

// A folder given with -r: an entry for every file it holds and every note the walk makes.
void PlanWalk(const RunOptions& options, const std::string& folder, bool outputGiven,
              std::vector<PlannedInput>& plan) {
  const std::string mirrorTarget = outputGiven ? MirrorFolder(options.output, folder) : "";
  for (WalkEntry& entry : WalkFolder(folder)) {
    PlannedInput planned;
    planned.input = entry.path;
    switch (entry.kind) {
      case WalkEntry::symbolicLink:
        planned.note = "quillfort: skipping symbolic link: " + entry.path + "\n";
        break;
      case WalkEntry::specialFile:
        planned.note = "quillfort: skipping special file: " + entry.path + "\n";
        break;
      case WalkEntry::unreadableFolder:
        planned.header = true;
        planned.printed = "source could not be opened!\n";
        planned.causePath = entry.path;
        planned.cause = entry.cause;
        break;
      case WalkEntry::file:
        if (options.mode == Mode::decrypt && !EndsWithSuffix(entry.path)) continue;  // not ours to decrypt
        if (options.mode == Mode::encrypt && EndsWithSuffix(entry.path)) {
          planned.note = "quillfort: skipping, already encrypted: " + entry.path + "\n";
          break;
        }
        planned = FromTarget(entry.path, PlanWalkedFile(options, entry.path, entry.relative, mirrorTarget));
        if (outputGiven) {
          planned.mirrorSource = folder;
          planned.mirrorTarget = mirrorTarget;
        }
        break;
    }
    plan.push_back(std::move(planned));
  }
}

}  // namespace

std::vector<PlannedInput> PlanRun(const RunOptions& options, bool batch, bool outputGiven) {
  std::vector<PlannedInput> plan;
  for (const std::string& input : options.inputs) {
    if (options.recursive && input != "-" && IsFolder(input)) {
      PlanWalk(options, input, outputGiven, plan);
    } else {
      plan.push_back(FromTarget(input, PlanTarget(options, input, batch)));
    }
  }

  // Every input the run reads, walked or named, is known before any target is judged.
  Recognizer recognizer;
  std::vector<Identity> inputFiles(plan.size());
  std::unordered_map<std::string, int> inputIndex;
  for (size_t i = 0; i < plan.size(); ++i) {
    if (!plan[i].note.empty()) continue;  // a note names no input
    for (std::string& key : recognizer.KeysOf(plan[i].input, inputFiles[i])) {
      inputIndex.emplace(std::move(key), int(i));
    }
  }

  std::unordered_map<std::string, int> targetIndex;
  for (size_t i = 0; i < plan.size(); ++i) {
    PlannedInput& planned = plan[i];
    // Standard output and named descriptors are no file any input could be.
    bool descriptor = planned.target == "-" || DescriptorNamedBy(planned.target) >= 0;
    if (!planned.usable || descriptor) continue;
    Identity targetFile;
    std::vector<std::string> keys = recognizer.KeysOf(planned.target, targetFile);
    // Another input (not this file under another name): it would be gone before it is read, or after.
    int input = Find(inputIndex, keys);
    int writer = Find(targetIndex, keys);
    if (input >= 0 && !SameFile(inputFiles[size_t(input)], inputFiles[i])) {
      planned.printed += "output would overwrite another input of this run: " + planned.target + "\n";
      planned.causePath = planned.target;
      planned.cause = PhraseCause("is another input of this run");
      planned.usable = false;
    } else if (writer >= 0 && !SameFile(inputFiles[size_t(writer)], inputFiles[i])) {
      planned.printed += "two inputs would be written to the same output: " + planned.target + "\n";
      planned.causePath = planned.target;
      planned.cause = PhraseCause("an earlier input of this run is written there");
      planned.usable = false;
    } else {
      for (std::string& key : keys) targetIndex.emplace(std::move(key), int(i));
    }
  }
  return plan;
}
