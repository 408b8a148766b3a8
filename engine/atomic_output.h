#pragma once
#include <sys/types.h>

#include <string>

#include "engine/file_io.h"

// The file a transform writes. A regular target is written as a fresh temporary
// beside it (".name.XXXXXX" in the same folder) and renamed over it only once every
// byte is written and the file closed, so the target name never holds a partial
// file. A target that exists and is not a regular file (/dev/null, a FIFO) is
// written directly. Destroying an uncommitted output removes the temporary.
struct OutputFile {
  FileHandle handle;
  std::string finalPath;      // where the data ends up (a symlink's target is followed)
  std::string temporaryPath;  // empty when writing directly
  bool seekable = true;       // false for pipes and devices written directly
  bool replacesFile = false;  // an existing regular file is replaced on commit

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();
};

// Fails when the target is a folder, ends in "/", lies in a folder that cannot be
// written, exists but may not be written, or has a name too long for its folder.
bool OpenOutput(OutputFile& output, const std::string& target, mode_t permissions);

// Sets the length of a fresh temporary in advance (no-op for direct outputs).
bool ReserveOutput(OutputFile& output, uint64_t size);

// Flushes the file to the disk, closes it and puts it in place; false when a late
// write error shows up or the rename fails, and then the temporary is gone and the
// old target untouched.
bool CommitOutput(OutputFile& output);

// The folder part of a path ("." when it has none), used to place the temporary.
std::string FolderOf(const std::string& path);
