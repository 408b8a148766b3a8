#include "app/transform_file.h"

#include "engine/descriptor_paths.h"
#include "engine/parallel_transform.h"
#include "engine/report.h"
#include "engine/serial_transform.h"

TransformOutcome TransformFile(const FileTask& task, const Cipher& keyed) {
  SourceFile source;
  Cause cause;
  int stream = StreamInputDescriptor(task.input);
  bool opened = stream >= 0 ? OpenStream(source, stream, cause) : OpenSource(source, task.input, cause);
  if (!opened) {
    PrintHeader(task.mode);
    PrintFailure("source could not be opened!\n", task.input, cause);
    return TransformOutcome::failed;
  }
  if (source.stream || source.size < kParallelThreshold) return TransformFileSerial(task, source, keyed);
  return TransformFileParallel(task, source, keyed);
}
