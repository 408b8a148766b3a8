#include "plan/tree_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

struct Listed {
  std::string name;
  mode_t type = 0;
};

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The names in a folder with their kinds, sorted; the folder is closed again before
// any of them is walked, so a deep tree holds one descriptor at a time.
bool List(const std::string& path, bool followLink, std::vector<Listed>& listed, Cause& cause) {
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW));
  DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
  if (!dir) {
    cause = SystemCause();
    if (fd >= 0) ::close(fd);
    return false;
  }
  errno = 0;
  while (dirent* entry = ::readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat status {};
    // What the name is now, link or not; a name gone meanwhile is passed over.
    if (::fstatat(::dirfd(dir), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    listed.push_back({std::move(name), status.st_mode & S_IFMT});
    errno = 0;
  }
  bool complete = errno == 0;
  if (!complete) cause = SystemCause();
  ::closedir(dir);
  std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
  return complete;
}

void Walk(const std::string& path, const std::string& relative, bool followLink,
          std::vector<WalkEntry>& found) {
  std::vector<Listed> listed;
  Cause cause;
  if (!List(path, followLink, listed, cause)) {
    found.push_back({WalkEntry::unreadableFolder, path, relative, cause});
    if (listed.empty()) return;  // what could be read before the error is still walked
  }
  for (const Listed& entry : listed) {
    std::string below = Join(path, entry.name);
    std::string belowRelative = relative.empty() ? entry.name : relative + "/" + entry.name;
    if (entry.type == S_IFDIR) {
      Walk(below, belowRelative, false, found);
    } else if (entry.type == S_IFREG) {
      found.push_back({WalkEntry::file, below, belowRelative, {}});
    } else if (entry.type == S_IFLNK) {
      found.push_back({WalkEntry::symbolicLink, below, belowRelative, {}});
    } else {
      found.push_back({WalkEntry::specialFile, below, belowRelative, {}});
    }
  }
}

}  // namespace

std::vector<WalkEntry> WalkFolder(const std::string& folder) {
  std::vector<WalkEntry> found;
  Walk(folder, "", true, found);
  return found;
}
