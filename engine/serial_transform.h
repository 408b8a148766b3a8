#pragma once
#include "cipher/cipher.h"
#include "engine/file_task.h"
#include "engine/source_file.h"

// Transforms one opened source on the calling thread from its first byte to its last
// and prints the header and the four report lines. `keyed` is a keyed cipher; the
// engine works on its own copy from offset 0.
TransformOutcome TransformFileSerial(const FileTask& task, SourceFile& source, const Cipher& keyed);
