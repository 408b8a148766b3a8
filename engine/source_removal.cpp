#include "engine/source_removal.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/console.h"
#include "engine/descriptor_paths.h"
#include "engine/output_commit.h"
#include "engine/report.h"

bool RemoveSource(const FileTask& task, const SourceFile& source) {
  // A descriptor's name (/dev/stdin) names no file of its own to remove.
  if (DescriptorNamedBy(task.input) >= 0) return true;
  struct stat now {};
  struct stat named {};
  if (::fstat(source.handle.fd, &now) != 0) {
    PrintCause(task.input, SystemCause());
    return false;
  }
  if (now.st_nlink > 1) {
    PrintToStandardError("quillfort: has other links, kept: " + task.input + "\n");
    return true;
  }
  // The name must still be the file that was read: another program may have put a new
  // file there meanwhile, which nothing of ours holds.
  if (::lstat(task.input.c_str(), &named) != 0 || named.st_dev != now.st_dev || named.st_ino != now.st_ino) {
    PrintToStandardError("quillfort: " + task.input + ": replaced while it was read, kept\n");
    return false;
  }
  FileHandle folder(::open(FolderOf(task.input).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.fd < 0 || ::unlink(task.input.c_str()) != 0 || ::fsync(folder.fd) != 0) {
    PrintToStandardError("quillfort: could not remove " + task.input + ": " + CauseText(SystemCause()) +
                         "\n");
    return false;
  }
  return true;
}

bool RemoveSourceIfAsked(const FileTask& task, const SourceFile& source, const OutputFile& output) {
  if (!task.removeSource || output.kind == OutputKind::direct || source.stream) return true;
  return RemoveSource(task, source);
}

bool LooksLikeItsOutput(const FileTask& task, const SourceFile& source) {
  struct stat status {};
  // Outputs take their source's length and modification time; anything else is no output of this source.
  return ::stat(task.target.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         status.st_size == source.status.st_size && SameTime(status.st_mtim, source.status.st_mtim);
}

bool OutputAlreadyWritten(const FileTask& task, SourceFile& source, const Cipher& keyed) {
  FileHandle target(::open(task.target.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC));
  struct stat status {};
  if (target.fd < 0 || ::fstat(target.fd, &status) != 0 || !S_ISREG(status.st_mode) ||
      status.st_size != source.status.st_size) {
    return false;
  }
  constexpr size_t kBlock = 256 * 1024;
  auto transformed = std::make_unique_for_overwrite<uint8_t[]>(kBlock);
  auto written = std::make_unique_for_overwrite<uint8_t[]>(kBlock);
  Cipher cipher = keyed;
  Seek(cipher, 0);
  for (uint64_t done = 0; done < source.size;) {
    size_t length = size_t(std::min<uint64_t>(kBlock, source.size - done));
    if (ReadFullAt(source.handle.fd, transformed.get(), length, done) != ssize_t(length) ||
        ReadFullAt(target.fd, written.get(), length, done) != ssize_t(length)) {
      return false;
    }
    (task.mode == Mode::decrypt ? Decrypt : Encrypt)(cipher, transformed.get(), transformed.get(), length);
    if (std::memcmp(transformed.get(), written.get(), length) != 0) return false;
    done += length;
  }
  FileHandle folder(::open(FolderOf(task.target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return ::fsync(target.fd) == 0 && folder.fd >= 0 && ::fsync(folder.fd) == 0;
}
