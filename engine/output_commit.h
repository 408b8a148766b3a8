#pragma once
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "engine/cause.h"
#include "engine/file_io.h"

struct SourceFile;

// How outputs are committed, for the whole run.
struct OutputSettings {
  // Every output reaches the disk, file and folder, before it is reported.
  bool sync = false;
};

// The file a transform writes, and how it gets its name.
//
// A regular target is written where no name shows it: an unnamed file in the target's
// folder (O_TMPFILE), or where the filesystem has none, a temporary ".name.XXXXXX"
// beside the target. Only a complete file gets the target's name: a new target is
// linked into place, an existing one replaced by a rename, so a failed or killed run
// leaves nothing under the target's name and an existing target as it was. A target
// that is a device or a FIFO is written directly, and so is "-" (standard output) or
// a path naming an open descriptor (/dev/stdout, /dev/fd/N).
enum class OutputKind { unnamed, temporary, direct };

struct OutputFile {
  FileHandle handle;
  int folder = -1;         // the folder the output ends up in (kept open for the run)
  std::string folderPath;  // its path, as far as the target's name tells it
  std::string name;        // the output's name in that folder (a symlink's target is followed)
  OutputKind kind = OutputKind::unnamed;
  std::string temporaryName;  // OutputKind::temporary: the temporary's name in the folder
  int cleanupSlot = -1;       // the temporary's registration for signal cleanup
  bool seekable = true;       // false for pipes and devices written directly
  bool replacesFile = false;  // an existing regular file is replaced on commit
  struct stat replaced {};    // that file's status when the output was opened
  timespec times[2]{};        // the source's access and modification times, given to the output

  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // an output never committed leaves nothing behind
};

// Opens the output for `target`. Fails when the target is a folder, ends in "/", lies
// in a folder that cannot be written, exists but may not be written, has a name too
// long for its folder, or is a link, FIFO or device that another user planted in a
// shared sticky folder (like /tmp). The new file gets the source's permission bits,
// never more than a file it replaces had, and its access and modification times.
// Run as root, it keeps the owner and group of the file it replaces, and a new file
// gets the source's.
bool OpenOutput(OutputFile& output, const std::string& target, const SourceFile& source, Cause& cause);

// Sets the length of the file in advance (no-op for direct outputs).
bool ReserveOutput(OutputFile& output, uint64_t size, Cause& cause);

// Puts the complete output in place. An existing file's new data reaches the disk
// before its name does, and the folder is synced after the rename, so a power cut
// leaves the old file or the whole new one. With `sync` every output is durable
// before this returns. On failure nothing new is left and the old target stays.
bool CommitOutput(OutputFile& output, const OutputSettings& settings, Cause& cause);

// The folder part of a path ("." when it has none).
std::string FolderOf(const std::string& path);
