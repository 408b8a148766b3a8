#pragma once
#include <cstdint>

#include "cipher/cipher.h"
#include "engine/file_task.h"

// Files from this size on are transformed by one worker per processor.
inline constexpr uint64_t kParallelThreshold = 25000000;

// Opens the input once and hands it to the engine its size calls for.
TransformOutcome TransformFile(const FileTask& task, const Cipher& keyed);
