#include "test_mount.h"

#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace {

// Mounts go into a namespace of this test process and the programs it starts, so
// nothing stays mounted on the machine if the test dies.
void PrivateMountNamespace() {
  static bool done = false;
  if (done) return;
  done = true;
  if (unshare(CLONE_NEWNS) == 0) ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
}

bool Failed(TestMount& mount, const std::string& what) {
  mount.error = what + ": " + std::strerror(errno) + " (mounting needs root and a kernel that allows it)";
  return false;
}

}  // namespace

TestMount::~TestMount() {
  if (!path.empty()) ::umount2(path.c_str(), MNT_DETACH);
}

bool MountTinyTmpfs(TestMount& mount, const std::string& path, size_t bytes) {
  PrivateMountNamespace();
  std::string options = "size=" + std::to_string(bytes);
  if (::mount("quillfort-test", path.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    return Failed(mount, "mount -t tmpfs -o " + options);
  }
  mount.path = path;
  return true;
}

bool MountReadOnlyView(TestMount& mount, const std::string& source, const std::string& path) {
  PrivateMountNamespace();
  if (::mount(source.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) != 0)
    return Failed(mount, "mount --bind");
  mount.path = path;
  // A bind mount takes the read-only flag only on a remount.
  if (::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
    return Failed(mount, "mount -o remount,bind,ro");
  }
  return true;
}
