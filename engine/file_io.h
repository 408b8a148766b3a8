#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

// An open file descriptor, closed when it goes out of scope.
struct FileHandle {
  int fd = -1;
  FileHandle() = default;
  explicit FileHandle(int descriptor) : fd(descriptor) {}
  FileHandle(FileHandle&& other) noexcept : fd(other.fd) { other.fd = -1; }
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();
  // Closes now and reports whether the close succeeded (it can report a late write error).
  bool Close();
};

// Reads until `size` bytes or the end of the file; returns the count, or -1 on a read error.
ssize_t ReadFull(int fd, void* buffer, size_t size);
// One read: what a pipe or terminal has now, 0 at its end, -1 on an error.
ssize_t ReadSome(int fd, void* buffer, size_t size);
ssize_t ReadFullAt(int fd, void* buffer, size_t size, uint64_t offset);
// Writes all bytes or returns false (short write, full disk, I/O error).
bool WriteFull(int fd, const void* buffer, size_t size);
bool WriteFullAt(int fd, const void* buffer, size_t size, uint64_t offset);
