#pragma once
#include <cstdint>

#include "cipher/cipher.h"
#include "engine/file_task.h"
#include "engine/source_file.h"

// Files from this size on are transformed by one worker per processor.
inline constexpr uint64_t kParallelThreshold = 25000000;

// Opens the input once: a file, or the stream "-" and descriptor paths name. On
// failure prints the header and why, and returns false.
bool OpenInput(const FileTask& task, SourceFile& source);

// Hands an opened input to the engine its size calls for.
TransformOutcome TransformOpened(const FileTask& task, SourceFile& source, const Cipher& keyed);

// Both of the above.
TransformOutcome TransformFile(const FileTask& task, const Cipher& keyed);
