#include "engine/serial_transform.h"

#include <algorithm>
#include <memory>

#include "engine/console.h"
#include "engine/progress.h"
#include "engine/report.h"
#include "engine/source_removal.h"

namespace {

// Large enough that system calls vanish beside the cipher, small enough for the cache.
constexpr size_t kSerialBlockSize = 256 * 1024;
// A widened pipe holds 1 MiB: taking it whole halves the wake-ups on both sides.
constexpr size_t kStreamBlockSize = 1024 * 1024;

TransformOutcome Failed(std::string_view message, std::string_view path, const Cause& cause) {
  PrintFailure(message, path, cause);
  return TransformOutcome::failed;
}

}  // namespace

TransformOutcome TransformFileSerial(const FileTask& task, SourceFile& source, const Cipher& keyed) {
  PrintHeader(task.mode);
  Cipher cipher = keyed;
  Seek(cipher, 0);
  Cause cause;
  OutputFile output;
  if (!OpenOutput(output, task.target, source, cause)) {
    return Failed("target could not be opened!\n", task.target, cause);
  }
  ProgressScope progress(task.input, source.size);
  const size_t blockSize = source.stream ? kStreamBlockSize : kSerialBlockSize;
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(blockSize);
  uint64_t totalBytes = 0;
  uint64_t cipherNanoseconds = 0;
  uint64_t start = ThreadCpuNanoseconds();
  for (;;) {
    // Never more than the size found at the start: a file that grows is caught below.
    size_t wanted =
        source.readToEnd ? blockSize : size_t(std::min<uint64_t>(blockSize, source.size - totalBytes));
    if (wanted == 0) break;
    // A stream is passed on as it comes, so a slow writer's data never waits in here.
    ssize_t count = source.stream ? ReadSome(source.handle.fd, buffer.get(), wanted)
                                  : ReadFull(source.handle.fd, buffer.get(), wanted);
    if (count < 0) return Failed("source could not be read!\n", task.input, SystemCause());
    if (count == 0) break;
    uint64_t before = ThreadCpuNanoseconds();
    if (task.mode == Mode::decrypt) {
      Decrypt(cipher, buffer.get(), buffer.get(), uint64_t(count));
    } else {
      Encrypt(cipher, buffer.get(), buffer.get(), uint64_t(count));
    }
    cipherNanoseconds += ThreadCpuNanoseconds() - before;
    totalBytes += uint64_t(count);
    if (!WriteFull(output.handle.fd, buffer.get(), size_t(count))) {
      return Failed("target could not be written!\n", task.target, SystemCause());
    }
    ProgressAdvance(uint64_t(count));
    if (!source.stream && size_t(count) < wanted) break;  // the end of the file
  }
  if (!source.readToEnd && totalBytes != source.size) {
    return Failed("source could not be read!\n", task.input, PhraseCause(kChangedWhileRead));
  }
  if (!SourceUnchanged(source, cause)) return Failed("source could not be read!\n", task.input, cause);
  uint64_t end = ThreadCpuNanoseconds();
  if (!CommitOutput(output, task.output, cause)) {
    return Failed("target could not be written!\n", task.target, cause);
  }
  bool removed = RemoveSourceIfAsked(task, source, output);
  PrintFileLines(task.input, task.target);
  PrintSpeedLine("encryption speed:", totalBytes, cipherNanoseconds);
  PrintSpeedLine("effective speed:", totalBytes, end - start);
  return removed ? TransformOutcome::done : TransformOutcome::failed;
}
