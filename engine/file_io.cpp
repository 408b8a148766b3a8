#include "engine/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd = other.fd;
    other.fd = -1;
  }
  return *this;
}

FileHandle::~FileHandle() { Close(); }

bool FileHandle::Close() {
  if (fd < 0) return true;
  // Linux releases the descriptor even when close fails, so it is never retried.
  int result = ::close(fd);
  fd = -1;
  return result == 0;
}

bool OpenSource(SourceFile& source, const std::string& path) {
  FileHandle handle(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat status {};
  if (handle.fd < 0 || ::fstat(handle.fd, &status) != 0) return false;
  source.handle = std::move(handle);
  source.size = uint64_t(status.st_size);
  // setuid, setgid and sticky bits are not carried over to a transformed copy.
  source.permissions = status.st_mode & 0777;
  return true;
}

bool SourceSizeUnchanged(const SourceFile& source) {
  struct stat status {};
  return ::fstat(source.handle.fd, &status) == 0 && uint64_t(status.st_size) == source.size;
}

ssize_t ReadFull(int fd, void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd, static_cast<char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

ssize_t ReadFullAt(int fd, void* buffer, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

bool WriteFull(int fd, const void* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd, static_cast<const char*>(buffer) + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool WriteFullAt(int fd, const void* buffer, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, static_cast<const char*>(buffer) + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}
