#include "engine/serial_transform.h"

#include <memory>

#include "engine/atomic_output.h"
#include "engine/console.h"
#include "engine/file_io.h"
#include "engine/progress.h"
#include "engine/report.h"

namespace {
// Large enough that system calls vanish beside the cipher, small enough for the cache.
constexpr size_t kSerialBlockSize = 256 * 1024;
}  // namespace

TransformOutcome TransformFileSerial(const std::string& input, const std::string& target, Mode mode,
                                     const Cipher& keyed) {
  PrintHeader(mode);
  Cipher cipher = keyed;
  Seek(cipher, 0);
  SourceFile source;
  if (!OpenSource(source, input)) {
    Print("source could not be opened!\n");
    return TransformOutcome::failed;
  }
  OutputFile output;
  if (!OpenOutput(output, target, source.permissions)) {
    Print("target could not be opened!\n");
    return TransformOutcome::failed;
  }
  ProgressScope progress(input, source.size);
  auto buffer = std::make_unique_for_overwrite<uint8_t[]>(kSerialBlockSize);
  uint64_t totalBytes = 0;
  uint64_t cipherNanoseconds = 0;
  uint64_t start = ProcessCpuNanoseconds();
  for (;;) {
    ssize_t count = ReadFull(source.handle.fd, buffer.get(), kSerialBlockSize);
    if (count < 0) {
      Print("source could not be read!\n");
      return TransformOutcome::failed;
    }
    uint64_t before = ProcessCpuNanoseconds();
    if (mode == kDecrypt) {
      Decrypt(cipher, buffer.get(), buffer.get(), uint64_t(count));
    } else {
      Encrypt(cipher, buffer.get(), buffer.get(), uint64_t(count));
    }
    cipherNanoseconds += ProcessCpuNanoseconds() - before;
    totalBytes += uint64_t(count);
    if (!WriteFull(output.handle.fd, buffer.get(), size_t(count))) {
      Print("target could not be written!\n");
      return TransformOutcome::failed;
    }
    ProgressAdvance(uint64_t(count));
    if (size_t(count) < kSerialBlockSize) break;  // the end of the file
  }
  if (totalBytes != source.size || !SourceSizeUnchanged(source)) {
    Print("source could not be read!\n");
    return TransformOutcome::failed;
  }
  uint64_t end = ProcessCpuNanoseconds();
  if (!CommitOutput(output)) {
    Print("target could not be written!\n");
    return TransformOutcome::failed;
  }
  PrintFileLines(input, target);
  PrintSpeedLine("encryption speed:", totalBytes, cipherNanoseconds);
  PrintSpeedLine("effective speed:", totalBytes, end - start);
  return TransformOutcome::done;
}
