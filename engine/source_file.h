#pragma once
#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "engine/cause.h"
#include "engine/file_io.h"

// A source as it was opened: the one descriptor every read goes through, and its
// status at that moment.
struct SourceFile {
  FileHandle handle;
  struct stat status {};
  uint64_t size = 0;
  // The file reported no length (files under /proc and /sys do): read it to its end.
  bool readToEnd = false;
  // A pipe or terminal: read as the data comes, to its end, with nothing to compare.
  bool stream = false;
};

// Opens the file once, without waiting (a FIFO put in its place cannot block us), and
// accepts only a regular file.
bool OpenSource(SourceFile& source, const std::string& path, Cause& cause);

bool SameTime(const timespec& a, const timespec& b);

// Reads from an open descriptor (standard input, or one named as /dev/fd/N) as a stream.
bool OpenStream(SourceFile& source, int fd, Cause& cause);

// Gives a pipe a larger buffer, so that the processes on both its ends switch less.
void WidenPipe(int fd);

// The size, modification time and change time are what they were when the file was
// opened: nothing wrote to it or replaced it while it was read.
bool SourceUnchanged(const SourceFile& source, Cause& cause);

inline constexpr const char* kChangedWhileRead = "changed while it was read";
