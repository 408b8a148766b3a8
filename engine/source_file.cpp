#include "engine/source_file.h"

#include <fcntl.h>

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool OpenSource(SourceFile& source, const std::string& path, Cause& cause) {
  FileHandle handle(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (handle.fd < 0 || ::fstat(handle.fd, &source.status) != 0) {
    cause = SystemCause();
    return false;
  }
  if (S_ISDIR(source.status.st_mode)) {
    cause = PhraseCause("is a folder");
    return false;
  }
  if (!S_ISREG(source.status.st_mode)) {
    cause = PhraseCause("not a regular file");
    return false;
  }
  source.handle = std::move(handle);
  source.size = uint64_t(source.status.st_size);
  source.readToEnd = source.size == 0;
  return true;
}

void WidenPipe(int fd) {
  // The writer on the other side wakes us a sixteenth as often with a 1 MiB buffer;
  // without the privilege to go that high, the default stays.
  ::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
}

bool OpenStream(SourceFile& source, int fd, Cause& cause) {
  FileHandle handle(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
  if (handle.fd < 0 || ::fstat(handle.fd, &source.status) != 0) {
    cause = SystemCause();
    return false;
  }
  source.handle = std::move(handle);
  source.readToEnd = true;
  source.stream = true;
  if (S_ISFIFO(source.status.st_mode)) WidenPipe(source.handle.fd);
  return true;
}

bool SourceUnchanged(const SourceFile& source, Cause& cause) {
  if (source.stream) return true;
  struct stat now {};
  if (::fstat(source.handle.fd, &now) != 0) {
    cause = SystemCause();
    return false;
  }
  if (now.st_size != source.status.st_size || !SameTime(now.st_mtim, source.status.st_mtim) ||
      !SameTime(now.st_ctim, source.status.st_ctim)) {
    cause = PhraseCause(kChangedWhileRead);
    return false;
  }
  return true;
}
