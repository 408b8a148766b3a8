#pragma once
#include <cstdint>

// The direction of a run; encrypting is the default.
enum class Mode : uint8_t { encrypt, decrypt };

enum class TransformOutcome { done, failed };
