#include "engine/atomic_output.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "engine/interrupt_cleanup.h"

namespace {

// Keeps ".name.XXXXXX" within the 255-byte limit of a file name.
constexpr size_t kMaxNameInTemporary = 200;

void RemoveTemporary(OutputFile& output) {
  InterruptsHeld held;
  output.handle.Close();
  ::unlink(output.temporaryPath.c_str());
  ForgetTemporary();
  output.temporaryPath.clear();
}

// A symlink to a regular file is written through: the file it names is replaced,
// the link stays.
std::string ResolveDestination(const std::string& target) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(target.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : target;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

OutputFile::~OutputFile() {
  if (!temporaryPath.empty()) RemoveTemporary(*this);
}

bool OpenOutput(OutputFile& output, const std::string& target, mode_t permissions) {
  if (target.empty() || target.back() == '/') return false;
  struct stat linkStatus {};
  struct stat status {};
  std::string destination = target;
  if (::lstat(target.c_str(), &linkStatus) == 0) {
    bool followed = ::stat(target.c_str(), &status) == 0;
    if (followed && S_ISDIR(status.st_mode)) return false;
    if (followed && !S_ISREG(status.st_mode)) {
      output.handle = FileHandle(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
      output.finalPath = target;
      output.seekable = false;
      return output.handle.fd >= 0;
    }
    if (followed && ::access(target.c_str(), W_OK) != 0) return false;
    if (S_ISLNK(linkStatus.st_mode) && followed) destination = ResolveDestination(target);
    output.replacesFile = followed;
  }

  std::string name = destination.substr(destination.rfind('/') + 1);
  // A name the folder cannot hold would fail only at the rename, after all the work.
  long nameMax = ::pathconf(FolderOf(destination).c_str(), _PC_NAME_MAX);
  if (name.size() > size_t(nameMax > 0 ? nameMax : NAME_MAX) || destination.size() >= PATH_MAX) return false;
  std::string pattern = FolderOf(destination) + "/." + name.substr(0, kMaxNameInTemporary) + ".XXXXXX";
  {
    InterruptsHeld held;
    int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return false;
    output.handle = FileHandle(fd);
    output.temporaryPath = pattern;
    RegisterTemporary(pattern.c_str());
  }
  output.finalPath = destination;
  output.seekable = true;
  if (::fchmod(output.handle.fd, permissions) != 0) {
    RemoveTemporary(output);
    return false;
  }
  return true;
}

bool ReserveOutput(OutputFile& output, uint64_t size) {
  if (output.temporaryPath.empty()) return true;
  return ::ftruncate(output.handle.fd, off_t(size)) == 0;
}

bool CommitOutput(OutputFile& output) {
  if (output.temporaryPath.empty()) return output.handle.Close();
  // When an existing file is replaced, its new data reaches the disk before the name
  // does: after a crash or power cut the name holds the old file or the whole new one,
  // never an empty one. A new name risks nothing, and skips the wait, as cp does.
  if ((output.replacesFile && ::fdatasync(output.handle.fd) != 0) || !output.handle.Close()) {
    RemoveTemporary(output);
    return false;
  }
  InterruptsHeld held;
  bool renamed = ::rename(output.temporaryPath.c_str(), output.finalPath.c_str()) == 0;
  if (!renamed) ::unlink(output.temporaryPath.c_str());
  ForgetTemporary();
  output.temporaryPath.clear();
  return renamed;
}
