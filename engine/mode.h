#pragma once
#include <cstdint>

// The direction of a run: 0 encrypts (the default), 1 decrypts.
using Mode = int32_t;
inline constexpr Mode kEncrypt = 0;
inline constexpr Mode kDecrypt = 1;

enum class TransformOutcome { done, failed };
