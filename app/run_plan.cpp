#include "app/run_plan.h"

#include <sys/stat.h>

#include <unordered_map>

#include "app/path_tests.h"
#include "app/target_planning.h"
#include "engine/descriptor_paths.h"
#include "engine/output_commit.h"

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

// The ways one path can be recognised: as typed, as the file it names, and as a name
// in a folder (which holds also for a file that does not exist yet).
std::vector<std::string> KeysOf(const std::string& path, Identity& file) {
  std::vector<std::string> keys{"path " + path};
  file = IdentityOf(path);
  if (file.known) keys.push_back("file " + IdentityKey(file));
  Identity folder = IdentityOf(FolderOf(path));
  if (folder.known) keys.push_back("name " + IdentityKey(folder) + "/" + FileNamePart(path));
  return keys;
}

// The first entry of `index` that one of `keys` finds, or -1.
int Find(const std::unordered_map<std::string, int>& index, const std::vector<std::string>& keys) {
  for (const std::string& key : keys) {
    auto found = index.find(key);
    if (found != index.end()) return found->second;
  }
  return -1;
}

}  // namespace

std::vector<PlannedInput> PlanRun(const RunOptions& options, bool batch) {
  const size_t count = options.inputs.size();
  std::vector<Identity> inputFiles(count);
  std::unordered_map<std::string, int> inputIndex;
  for (size_t i = 0; i < count; ++i) {
    for (std::string& key : KeysOf(options.inputs[i], inputFiles[i]))
      inputIndex.emplace(std::move(key), int(i));
  }

  std::vector<PlannedInput> plan;
  plan.reserve(count);
  std::unordered_map<std::string, int> targetIndex;
  for (size_t i = 0; i < count; ++i) {
    TargetPlan single = PlanTarget(options, options.inputs[i], batch);
    PlannedInput planned{options.inputs[i], single.target, single.notice, single.printed,
                         single.causePath,  single.cause,  single.usable};
    // Standard output and named descriptors are no file any input could be.
    bool descriptor = planned.target == "-" || DescriptorNamedBy(planned.target) >= 0;
    if (planned.usable && !descriptor) {
      Identity targetFile;
      std::vector<std::string> keys = KeysOf(planned.target, targetFile);
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
    plan.push_back(std::move(planned));
  }
  return plan;
}
