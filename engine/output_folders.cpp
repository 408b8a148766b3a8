#include "engine/output_folders.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>

namespace {

std::mutex lock;
std::unordered_map<std::string, OutputFolder>* opened = nullptr;  // never freed: the descriptors live as long

}  // namespace

bool OpenOutputFolder(const std::string& path, OutputFolder& folder) {
  std::lock_guard hold(lock);
  if (!opened) opened = new std::unordered_map<std::string, OutputFolder>();
  auto found = opened->find(path);
  if (found != opened->end()) {
    folder = found->second;
    return true;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  long nameMax = ::fpathconf(fd, _PC_NAME_MAX);
  folder = {fd, size_t(nameMax > 0 ? nameMax : NAME_MAX)};
  opened->emplace(path, folder);
  return true;
}
