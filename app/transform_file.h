#pragma once
#include <string>

#include "cipher/cipher.h"
#include "engine/mode.h"

// Files from this size on are transformed by one worker per processor.
inline constexpr uint64_t kParallelThreshold = 25000000;

// Hands one input to the engine its size calls for.
TransformOutcome TransformFile(const std::string& input, const std::string& target, Mode mode,
                               const Cipher& keyed);
