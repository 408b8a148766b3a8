#include "plan/path_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Paths come from argv and cannot hold a zero byte; anything that does names nothing.
bool Nameable(const std::string& path) { return path.find('\0') == std::string::npos; }
}  // namespace

bool IsRegularFile(const std::string& path) {
  struct stat status {};
  return Nameable(path) && ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

bool IsFolder(const std::string& path) {
  if (!Nameable(path)) return false;
  int fd = ::open((path + "/").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

Cause WhyNotRegularFile(const std::string& path) {
  struct stat status {};
  if (!Nameable(path)) return {ENOENT, nullptr};
  if (::stat(path.c_str(), &status) != 0) return SystemCause();
  return PhraseCause(S_ISDIR(status.st_mode) ? "is a folder" : "not a regular file");
}

Cause WhyNotFolder(const std::string& path) {
  if (!Nameable(path)) return {ENOENT, nullptr};
  int fd = ::open((path + "/").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return SystemCause();
  ::close(fd);
  return {};
}

std::string FileNamePart(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWithSuffix(std::string_view path) { return path.ends_with(kSuffix); }

std::string WithoutSuffix(const std::string& path) { return path.substr(0, path.size() - kSuffix.size()); }

bool SameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return Nameable(first) && Nameable(second) && ::stat(first.c_str(), &a) == 0 &&
         ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
