#include "engine/descriptor_paths.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <charconv>
#include <string_view>

namespace {

int NumberAfter(std::string_view path, std::string_view prefix) {
  if (!path.starts_with(prefix) || path.size() == prefix.size() || path.size() > prefix.size() + 9) return -1;
  int number = -1;
  auto [end, error] = std::from_chars(path.data() + prefix.size(), path.data() + path.size(), number);
  return error == std::errc() && end == path.data() + path.size() ? number : -1;
}

}  // namespace

int DescriptorNamedBy(const std::string& path) {
  int fd = -1;
  if (path == "/dev/stdin") {
    fd = 0;
  } else if (path == "/dev/stdout") {
    fd = 1;
  } else if (path == "/dev/stderr") {
    fd = 2;
  } else if ((fd = NumberAfter(path, "/dev/fd/")) < 0) {
    fd = NumberAfter(path, "/proc/self/fd/");
  }
  return fd >= 0 && ::fcntl(fd, F_GETFD) != -1 ? fd : -1;
}

bool IsStreamDescriptor(int fd) {
  struct stat status {};
  return ::fstat(fd, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode);
}

int StreamInputDescriptor(const std::string& input) {
  if (input == "-") return 0;
  int fd = DescriptorNamedBy(input);
  return fd >= 0 && IsStreamDescriptor(fd) ? fd : -1;
}
