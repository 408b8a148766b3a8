#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "cipher/kernel.h"

namespace {

constexpr unsigned kBlock = 64;

// The shift along the cycle (the table row, 1..254) of 16 consecutive bytes, from
// the precomputed schedule. All in unsigned bytes: the row is
// streamRow + key index - wrap, reduced mod 255, and row 0 acts as row 1.
inline __m128i Shifts(const CipherKey& key, unsigned position, unsigned keyCursor) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i streamRow = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&key.streamRow[position]));
  __m128i wrapFrom = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&key.wrapFrom[position]));
  __m128i keyIndex = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&key.keyRepeat[keyCursor]));
  // The sum wrapped at 2^32, which is 1 mod 255: one less.
  __m128i wraps = _mm_cmpeq_epi8(_mm_max_epu8(keyIndex, wrapFrom), keyIndex);
  __m128i added = _mm_add_epi8(keyIndex, wraps);
  __m128i sum = _mm_add_epi8(streamRow, added);
  // streamRow + added >= 255 (255 - added is ~added): reduce, i.e. one more mod 256.
  __m128i reduce =
      _mm_cmpeq_epi8(_mm_max_epu8(streamRow, _mm_xor_si128(added, _mm_set1_epi8(-1))), streamRow);
  return _mm_max_epu8(_mm_sub_epi8(sum, reduce), one);
}

// SSE2 has no byte shuffle, so the lookups are scalar: the vector part builds each
// byte's index into the shift table (shift * 256 + byte), which leaves one load per byte.
template <bool kDecrypt>
void TransformPortable(const CipherKey& key, KernelCursor& cursor, const uint8_t* input, uint8_t* output,
                       size_t count) {
  unsigned position = cursor.streamPosition;
  unsigned keyCursor = cursor.keyCursor;
  const unsigned period = key.keyPeriod;
  const uint8_t* table = key.shiftTable.data();
  alignas(16) uint16_t indices[kBlock];
  alignas(16) uint8_t tail[kBlock];
  while (count > 0) {
    unsigned n = unsigned(std::min<size_t>(count, kBlock));
    const uint8_t* in = input;
    if (n < kBlock) {  // never read past the caller's bytes
      std::memcpy(tail, input, n);
      in = tail;
    }
    // The schedule has slack behind it, so a whole block of shifts is always safe to compute.
    for (unsigned i = 0, p = position, k = keyCursor; i < kBlock; i += 16) {
      __m128i shifts = Shifts(key, p, k);
      if (kDecrypt) shifts = _mm_sub_epi8(_mm_setzero_si128(), shifts);
      __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
      _mm_store_si128(reinterpret_cast<__m128i*>(indices + i), _mm_unpacklo_epi8(data, shifts));
      _mm_store_si128(reinterpret_cast<__m128i*>(indices + i + 8), _mm_unpackhi_epi8(data, shifts));
      p = (p + 16) & (kStreamPeriod - 1);
      k += 16;
      if (k >= period) k -= period;
    }
    for (unsigned i = 0; i < n; ++i) output[i] = table[indices[i]];
    position = (position + n) & (kStreamPeriod - 1);
    keyCursor += n;
    if (keyCursor >= period) keyCursor -= period;
    input += n;
    output += n;
    count -= n;
  }
  cursor.streamPosition = position;
  cursor.keyCursor = keyCursor;
}

}  // namespace

Kernel PortableKernel() { return {"portable", TransformPortable<false>, TransformPortable<true>}; }
