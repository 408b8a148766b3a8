#include "engine/file_io.h"

#include <fcntl.h>
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

ssize_t ReadSome(int fd, void* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::read(fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
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
    if (n == 0) errno = EIO;  // a device that takes nothing: never spin on it
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
    if (n == 0) errno = EIO;  // a device that takes nothing: never spin on it
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}
