#include "run/transform_file.h"

#include "engine/descriptor_paths.h"
#include "engine/parallel_transform.h"
#include "engine/report.h"
#include "engine/serial_transform.h"

bool OpenInput(const FileTask& task, SourceFile& source) {
  Cause cause;
  int stream = StreamInputDescriptor(task.input);
  bool opened = stream >= 0 ? OpenStream(source, stream, cause) : OpenSource(source, task.input, cause);
  if (!opened) {
    PrintHeader(task.mode);
    PrintFailure("source could not be opened!\n", task.input, cause);
  }
  return opened;
}

TransformOutcome TransformOpened(const FileTask& task, SourceFile& source, const Cipher& keyed) {
  if (source.stream || source.size < kParallelThreshold) return TransformFileSerial(task, source, keyed);
  return TransformFileParallel(task, source, keyed);
}

TransformOutcome TransformFile(const FileTask& task, const Cipher& keyed) {
  SourceFile source;
  if (!OpenInput(task, source)) return TransformOutcome::failed;
  return TransformOpened(task, source, keyed);
}
