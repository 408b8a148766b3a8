#pragma once
#include <string>

#include "cipher/cipher.h"
#include "engine/mode.h"

// Transforms one file on the calling thread from its first byte to its last and
// prints the header and the four report lines. `keyed` is a keyed cipher; the
// engine works on its own copy from offset 0.
TransformOutcome TransformFileSerial(const std::string& input, const std::string& target, Mode mode,
                                     const Cipher& keyed);
