#pragma once
#include <cstdint>

// The linear congruential keystream shared by the key schedule and the transform.
inline constexpr uint64_t kStreamMultiplier = 1103515245u;
inline constexpr uint64_t kStreamIncrement = 12345u;
// The keystream restarts from the seed after this many bytes.
inline constexpr uint64_t kStreamPeriod = 8192;

inline uint64_t StepStream(uint64_t state) { return state * kStreamMultiplier + kStreamIncrement; }
