#include "engine/output_commit.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <memory>

#include "engine/descriptor_paths.h"
#include "engine/output_folders.h"
#include "engine/signal_cleanup.h"
#include "engine/source_file.h"

namespace {

// Keeps ".name.XXXXXX" within the 255-byte limit of a file name.
constexpr size_t kMaxNameInTemporary = 200;
constexpr int kNameAttempts = 100;

bool Fail(Cause& cause) {
  cause = SystemCause();
  return false;
}

bool Fail(Cause& cause, int error) {
  cause = {error, nullptr};
  return false;
}

std::string RandomSuffix() {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char bytes[6];
  if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != ssize_t(sizeof bytes)) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t mix = uint64_t(now.tv_nsec) * 0x9E3779B97F4A7C15ull ^ uint64_t(getpid());
    for (unsigned char& byte : bytes) byte = (unsigned char)(mix >>= 8);
  }
  std::string suffix;
  for (unsigned char byte : bytes) suffix += kLetters[byte % (sizeof kLetters - 1)];
  return suffix;
}

std::string HiddenName(const std::string& name) {
  std::string hidden = ".";
  hidden.append(name, 0, kMaxNameInTemporary);
  hidden += '.';
  hidden += RandomSuffix();
  return hidden;
}

// Makes a hidden name beside the output with `make` (which returns a descriptor, or
// 0 for success without one, or -1), registered so that an ending signal removes it.
// Returns what `make` returned; `hidden` and `slot` tell the name made.
template <typename Make>
int MakeHidden(const OutputFile& output, std::string& hidden, int& slot, Make make) {
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    hidden = HiddenName(output.name);
    int result;
    {
      SignalsHeld held;
      slot = MakeCleanupName(output.folderPath + "/" + hidden);
      if (slot < 0) {
        errno = EINTR;
        return -1;
      }
      result = make(hidden.c_str());
      AdoptCleanupName(slot, result >= 0);
    }
    if (result >= 0) return result;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

void RemoveHidden(const OutputFile& output, const std::string& hidden, int slot) {
  SignalsHeld held;
  ::unlinkat(output.folder, hidden.c_str(), 0);
  ForgetCleanupName(slot);
}

// Root keeps the replaced file's owner and group, and gives a new file the source's.
// Group first, then the bits, then the owner, so at no moment does the file carry the
// bits with a wrong owner (and no set-id bit is ever set).
bool RunningAsRoot() {
  static const bool root = ::geteuid() == 0;
  return root;
}

// Only what differs is changed: most outputs are made with the right owner and bits.
bool SetOwnerAndPermissions(int fd, uid_t owner, gid_t group, mode_t permissions, Cause& cause) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return Fail(cause);
  bool asRoot = RunningAsRoot();
  if (asRoot && now.st_gid != group && ::fchown(fd, uid_t(-1), group) != 0) return Fail(cause);
  if ((now.st_mode & 07777) != permissions && ::fchmod(fd, permissions) != 0) return Fail(cause);
  if (asRoot && now.st_uid != owner && ::fchown(fd, owner, gid_t(-1)) != 0) return Fail(cause);
  return true;
}

// A symlink, FIFO or device in a folder that is sticky and writable by all, owned
// neither by us nor by the folder's owner: someone else may have put it where our
// output was going to be, to redirect it. The kernel's protected_symlinks and
// protected_fifos settings refuse the same, where they are on.
bool PlantedByAnotherUser(const struct stat& entry, const std::string& folder) {
  if (!S_ISLNK(entry.st_mode) && !S_ISFIFO(entry.st_mode) && !S_ISCHR(entry.st_mode) &&
      !S_ISBLK(entry.st_mode)) {
    return false;
  }
  struct stat folderStatus {};
  if (::stat(folder.c_str(), &folderStatus) != 0) return false;
  bool shared = (folderStatus.st_mode & S_ISVTX) && (folderStatus.st_mode & S_IWOTH);
  return shared && entry.st_uid != ::geteuid() && entry.st_uid != folderStatus.st_uid;
}

// A symlink to a regular file is written through: the file it names is replaced,
// the link stays.
std::string ResolveDestination(const std::string& target) {
  std::unique_ptr<char, decltype(&free)> resolved(realpath(target.c_str(), nullptr), &free);
  return resolved ? std::string(resolved.get()) : target;
}

// Devices and FIFOs take the data as it comes.
bool OpenDirect(OutputFile& output, const std::string& target, bool viaLink, Cause& cause) {
  output.handle =
      FileHandle(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (viaLink ? 0 : O_NOFOLLOW)));
  struct stat status {};
  if (output.handle.fd < 0 || ::fstat(output.handle.fd, &status) != 0) return Fail(cause);
  if (S_ISREG(status.st_mode) || S_ISDIR(status.st_mode)) {
    output.handle.Close();
    cause = PhraseCause("was replaced while it was opened");
    return false;
  }
  output.kind = OutputKind::direct;
  output.seekable = false;
  return true;
}

// The unnamed file can be given a name: linkat needs either the privilege to link a
// descriptor or /proc to reach it by path.
bool CanLinkUnnamed(int fd) {
  if (RunningAsRoot()) return true;
  struct stat viaProc {};
  struct stat direct {};
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  return ::stat(path.c_str(), &viaProc) == 0 && ::fstat(fd, &direct) == 0 &&
         viaProc.st_ino == direct.st_ino && viaProc.st_dev == direct.st_dev;
}

int LinkUnnamed(int fd, int folder, const char* name) {
  if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno != ENOENT) return -1;
  std::string path = "/proc/self/fd/" + std::to_string(fd);
  return ::linkat(AT_FDCWD, path.c_str(), folder, name, AT_SYMLINK_FOLLOW);
}

// Made with its final bits at once: no name shows the file before it is complete.
bool OpenUnnamed(OutputFile& output, mode_t permissions) {
  FileHandle handle(::openat(output.folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, permissions));
  if (handle.fd < 0 || !CanLinkUnnamed(handle.fd)) return false;
  output.handle = std::move(handle);
  output.kind = OutputKind::unnamed;
  return true;
}

bool OpenTemporary(OutputFile& output, Cause& cause) {
  int fd = MakeHidden(output, output.temporaryName, output.cleanupSlot, [&](const char* name) {
    return ::openat(output.folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  });
  if (fd < 0) {
    output.temporaryName.clear();
    return Fail(cause);
  }
  output.handle = FileHandle(fd);
  output.kind = OutputKind::temporary;
  return true;
}

// Replaces whatever holds the name by the complete output, in one rename: the
// unnamed file gets a hidden name for that instant.
bool ReplaceByRename(OutputFile& output, Cause& cause) {
  std::string hidden;
  int slot = -1;
  if (MakeHidden(output, hidden, slot,
                 [&](const char* name) { return LinkUnnamed(output.handle.fd, output.folder, name); }) < 0) {
    return Fail(cause);
  }
  if (::renameat(output.folder, hidden.c_str(), output.folder, output.name.c_str()) != 0) {
    cause = SystemCause();
    RemoveHidden(output, hidden, slot);
    return false;
  }
  ForgetCleanupName(slot);
  return true;
}

// Another program made the name while we wrote. It is replaced like any existing
// target: the new data first on the disk, never more permissions than the file had.
bool ReplaceAppearedName(OutputFile& output, Cause& cause) {
  struct stat status {};
  if (::fstatat(output.folder, output.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) return Fail(cause);
  if (S_ISDIR(status.st_mode)) return Fail(cause, EISDIR);
  if (S_ISREG(status.st_mode)) {
    struct stat own {};
    if (::fstat(output.handle.fd, &own) != 0) return Fail(cause);
    output.replacesFile = true;
    output.replaced = status;
    if (!SetOwnerAndPermissions(output.handle.fd, status.st_uid, status.st_gid,
                                own.st_mode & status.st_mode & 0777, cause)) {
      return false;
    }
    if (::fdatasync(output.handle.fd) != 0) return Fail(cause);
  }
  return ReplaceByRename(output, cause);
}

bool NameUnnamed(OutputFile& output, Cause& cause) {
  if (output.replacesFile) return ReplaceByRename(output, cause);
  if (LinkUnnamed(output.handle.fd, output.folder, output.name.c_str()) == 0) return true;
  if (errno != EEXIST) return Fail(cause);
  return ReplaceAppearedName(output, cause);
}

bool NameTemporary(OutputFile& output, Cause& cause) {
  bool renamed =
      ::renameat(output.folder, output.temporaryName.c_str(), output.folder, output.name.c_str()) == 0;
  if (!renamed) {
    cause = SystemCause();
    RemoveHidden(output, output.temporaryName, output.cleanupSlot);
  } else {
    ForgetCleanupName(output.cleanupSlot);
  }
  output.temporaryName.clear();
  output.cleanupSlot = -1;
  return renamed;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

OutputFile::~OutputFile() {
  if (!temporaryName.empty()) RemoveHidden(*this, temporaryName, cleanupSlot);
}

bool OpenOutput(OutputFile& output, const std::string& target, const SourceFile& source, Cause& cause) {
  int descriptor = target == "-" ? STDOUT_FILENO : DescriptorNamedBy(target);
  if (descriptor >= 0) {
    output.handle = FileHandle(::fcntl(descriptor, F_DUPFD_CLOEXEC, 3));
    output.kind = OutputKind::direct;
    output.seekable = false;
    struct stat status {};
    if (output.handle.fd >= 0 && ::fstat(output.handle.fd, &status) == 0 && S_ISFIFO(status.st_mode)) {
      WidenPipe(output.handle.fd);
    }
    return output.handle.fd >= 0 || Fail(cause);
  }
  if (target.empty()) return Fail(cause, ENOENT);
  if (target.back() == '/') {
    // Only a folder's name ends so: the folder it names, or the reason it has none.
    struct stat status {};
    return ::stat(target.c_str(), &status) == 0 ? Fail(cause, EISDIR) : Fail(cause);
  }
  std::string destination = target;
  struct stat linkStatus {};
  if (::lstat(target.c_str(), &linkStatus) == 0) {
    if (PlantedByAnotherUser(linkStatus, FolderOf(target))) {
      cause = PhraseCause("a link, FIFO or device of another user in a shared folder");
      return false;
    }
    struct stat status {};
    bool followed = ::stat(target.c_str(), &status) == 0;
    bool viaLink = S_ISLNK(linkStatus.st_mode);
    if (followed && S_ISDIR(status.st_mode)) return Fail(cause, EISDIR);
    if (followed && !S_ISREG(status.st_mode)) return OpenDirect(output, target, viaLink, cause);
    if (followed && ::access(target.c_str(), W_OK) != 0) return Fail(cause);
    if (viaLink && followed) destination = ResolveDestination(target);
    output.replacesFile = followed;
    if (followed) output.replaced = status;
  } else if (errno != ENOENT) {
    return Fail(cause);
  }

  output.folderPath = FolderOf(destination);
  output.name = destination.substr(destination.rfind('/') + 1);
  OutputFolder folder;
  if (destination.size() >= PATH_MAX) return Fail(cause, ENAMETOOLONG);
  if (!OpenOutputFolder(output.folderPath, folder)) return Fail(cause);
  // A name the folder cannot hold would fail only at the end, after all the work.
  if (output.name.size() > folder.nameMax) return Fail(cause, ENAMETOOLONG);
  output.folder = folder.fd;
  mode_t permissions = source.status.st_mode & 0777;
  if (output.replacesFile) permissions &= output.replaced.st_mode & 0777;
  if (!OpenUnnamed(output, permissions) && !OpenTemporary(output, cause)) return false;
  output.times[0] = source.status.st_atim;
  output.times[1] = source.status.st_mtim;
  const struct stat& owner = output.replacesFile ? output.replaced : source.status;
  return SetOwnerAndPermissions(output.handle.fd, owner.st_uid, owner.st_gid, permissions, cause);
}

bool ReserveOutput(OutputFile& output, uint64_t size, Cause& cause) {
  if (output.kind == OutputKind::direct) return true;
  return ::ftruncate(output.handle.fd, off_t(size)) == 0 || Fail(cause);
}

bool CommitOutput(OutputFile& output, const OutputSettings& settings, Cause& cause) {
  if (output.kind == OutputKind::direct) return output.handle.Close() || Fail(cause);
  // An existing file's new data reaches the disk before the name does: after a crash
  // the name holds the old file or the whole new one, never an empty one. A new name
  // risks no old data, and skips the wait, as cp does.
  int fd = output.handle.fd;
  // Set last: every write moves the modification time.
  if (::futimens(fd, output.times) != 0) return Fail(cause);
  if (settings.sync ? ::fsync(fd) != 0 : output.replacesFile && ::fdatasync(fd) != 0) return Fail(cause);
  bool named;
  if (output.kind == OutputKind::temporary) {
    // A late write error (network filesystems report them here) fails the file before it has a name.
    named = (output.handle.Close() || Fail(cause)) && NameTemporary(output, cause);
  } else {
    named = NameUnnamed(output, cause) && (output.handle.Close() || Fail(cause));
  }
  if (!named) return false;
  // The rename itself reaches the disk; a failure here leaves the new file complete in place.
  if ((settings.sync || output.replacesFile) && ::fsync(output.folder) != 0) return Fail(cause);
  return true;
}
