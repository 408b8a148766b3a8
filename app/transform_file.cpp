#include "app/transform_file.h"

#include <sys/stat.h>

#include "engine/parallel_transform.h"
#include "engine/serial_transform.h"

TransformOutcome TransformFile(const std::string& input, const std::string& target, Mode mode,
                               const Cipher& keyed) {
  struct stat status {};
  if (::stat(input.c_str(), &status) == 0 && uint64_t(status.st_size) < kParallelThreshold) {
    return TransformFileSerial(input, target, mode, keyed);
  }
  return TransformFileParallel(input, target, mode, keyed);
}
