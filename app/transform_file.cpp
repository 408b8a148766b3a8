#include "app/transform_file.h"

#include "engine/parallel_transform.h"
#include "engine/report.h"
#include "engine/serial_transform.h"

TransformOutcome TransformFile(const FileTask& task, const Cipher& keyed) {
  SourceFile source;
  Cause cause;
  if (!OpenSource(source, task.input, cause)) {
    PrintHeader(task.mode);
    PrintFailure("source could not be opened!\n", task.input, cause);
    return TransformOutcome::failed;
  }
  if (source.size < kParallelThreshold) return TransformFileSerial(task, source, keyed);
  return TransformFileParallel(task, source, keyed);
}
