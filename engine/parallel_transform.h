#pragma once
#include "cipher/cipher.h"
#include "engine/file_task.h"
#include "engine/source_file.h"

// The chunk each worker takes, seeks to and writes back at its own offset. Small
// enough that a worker's buffer stays in its core's cache from the read through the
// cipher to the write. Writes of 512 KiB and more into the page cache were also several
// times slower in some runs on Linux 6.18.
inline constexpr size_t kChunkSize = 256 * 1024;

// Processors this process may run on, 1 to 256.
unsigned ProcessorCount();

// Transforms one opened source with `workers` threads (0: one per processor), each
// with its own copy of `keyed`, taking chunks in file order. Writes the same bytes as
// TransformFileSerial and prints the header and the parallel report. Memory running
// out on a worker is thrown as std::bad_alloc once all workers are joined.
TransformOutcome TransformFileParallel(const FileTask& task, SourceFile& source, const Cipher& keyed,
                                       unsigned workers = 0);
