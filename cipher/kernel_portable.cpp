#include "cipher/kernel.h"

namespace {

// Table row for the byte at this position, as the shift along the cycle (1..254).
inline unsigned Shift(const CipherKey& key, unsigned position, unsigned keyIndex) {
  unsigned row = key.streamRow[position] + keyIndex - (keyIndex >= key.wrapFrom[position]);
  if (row >= 255) row -= 255;
  return row == 0 ? 1 : row;  // rows 0 and 1 are the same permutation
}

template <bool kDecrypt>
void TransformPortable(const CipherKey& key, KernelCursor& cursor, const uint8_t* input, uint8_t* output,
                       size_t count) {
  unsigned position = cursor.streamPosition;
  unsigned keyCursor = cursor.keyCursor;
  const unsigned period = key.keyPeriod;
  for (size_t i = 0; i < count; ++i) {
    unsigned shift = Shift(key, position, key.keyRepeat[keyCursor]);
    unsigned index = key.cycleIndex[input[i]];
    output[i] = key.cycle[(kDecrypt ? index - shift : index + shift) & 255];
    position = (position + 1) & (kStreamPeriod - 1);
    if (++keyCursor == period) keyCursor = 0;
  }
  cursor.streamPosition = position;
  cursor.keyCursor = keyCursor;
}

}  // namespace

Kernel PortableKernel() { return {"portable", TransformPortable<false>, TransformPortable<true>}; }
