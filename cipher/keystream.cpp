#include "cipher/keystream.h"

uint64_t AdvanceStream(uint64_t state, uint64_t steps) {
  for (uint64_t i = 0; i < steps / 8; ++i) state = state * kJumpMultiplier + kJumpIncrement;
  for (uint64_t i = 0; i < steps % 8; ++i) state = StepStream(state);
  return state;
}
