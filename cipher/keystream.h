#pragma once
#include <cstdint>

// The linear congruential keystream shared by the key schedule and the transform.
inline constexpr uint64_t kStreamMultiplier = 1103515245u;
inline constexpr uint64_t kStreamIncrement = 12345u;
// Eight single steps composed into one, so seeking costs at most 1023 jumps and 7 steps.
inline constexpr uint64_t kJumpMultiplier = 0xE22DDC89CFDDDF21ull;
inline constexpr uint64_t kJumpIncrement = 0xA4A80BE4CD1DCF18ull;
// The keystream restarts from the seed after this many bytes.
inline constexpr uint64_t kStreamPeriod = 8192;

inline uint64_t StepStream(uint64_t state) { return state * kStreamMultiplier + kStreamIncrement; }

// The state reached after `steps` single steps from `state`.
uint64_t AdvanceStream(uint64_t state, uint64_t steps);
