#include <immintrin.h>

#include <cstring>

#include "cipher/kernel.h"

// Only these functions use AVX2: the rest of the program stays on the baseline, so the
// binary runs on any x86-64 and picks this kernel when the CPU has it.
#define QUILLFORT_AVX2 __attribute__((target("avx2")))

namespace {

constexpr unsigned kVector = 32;

// A 256-byte table as sixteen 16-byte slices, each in both lanes for vpshufb.
struct SlicedTable {
  __m256i slice[16];
};

QUILLFORT_AVX2 inline void Slice(const uint8_t* table, SlicedTable& sliced) {
  for (int i = 0; i < 16; ++i) {
    sliced.slice[i] =
        _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * i)));
  }
}

// vpshufb looks the low nibble up in all sixteen slices; a tree of byte blends then
// picks the slice by the high nibble, one bit at a time (vpblendvb reads bit 7, so
// each bit is first shifted up there).
QUILLFORT_AVX2 inline __m256i Lookup(const SlicedTable& t, __m256i value) {
  __m256i low = _mm256_and_si256(value, _mm256_set1_epi8(0x0F));
  __m256i bit4 = _mm256_slli_epi16(value, 3);
  __m256i bit5 = _mm256_slli_epi16(value, 2);
  __m256i bit6 = _mm256_slli_epi16(value, 1);
  __m256i r[8];
  for (int i = 0; i < 8; ++i) {
    r[i] = _mm256_blendv_epi8(_mm256_shuffle_epi8(t.slice[2 * i], low),
                              _mm256_shuffle_epi8(t.slice[2 * i + 1], low), bit4);
  }
  for (int i = 0; i < 4; ++i) r[i] = _mm256_blendv_epi8(r[2 * i], r[2 * i + 1], bit5);
  for (int i = 0; i < 2; ++i) r[i] = _mm256_blendv_epi8(r[2 * i], r[2 * i + 1], bit6);
  return _mm256_blendv_epi8(r[0], r[1], value);
}

// The shift along the cycle (the table row, 1..254) of 32 consecutive bytes; see the
// portable kernel for the arithmetic.
QUILLFORT_AVX2 inline __m256i Shifts(const CipherKey& key, unsigned position, unsigned keyCursor) {
  const __m256i one = _mm256_set1_epi8(1);
  __m256i streamRow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&key.streamRow[position]));
  __m256i wrapFrom = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&key.wrapFrom[position]));
  __m256i keyIndex = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&key.keyRepeat[keyCursor]));
  __m256i wraps = _mm256_cmpeq_epi8(_mm256_max_epu8(keyIndex, wrapFrom), keyIndex);
  __m256i added = _mm256_add_epi8(keyIndex, wraps);
  __m256i sum = _mm256_add_epi8(streamRow, added);
  __m256i notAdded = _mm256_xor_si256(added, _mm256_set1_epi8(-1));
  __m256i reduce = _mm256_cmpeq_epi8(_mm256_max_epu8(streamRow, notAdded), streamRow);
  return _mm256_max_epu8(_mm256_sub_epi8(sum, reduce), one);
}

template <bool kDecrypt>
QUILLFORT_AVX2 inline __m256i Transform32(const CipherKey& key, const SlicedTable& cycle,
                                          const SlicedTable& cycleIndex, unsigned position,
                                          unsigned keyCursor, __m256i data) {
  __m256i index = Lookup(cycleIndex, data);
  __m256i shifts = Shifts(key, position, keyCursor);
  index = kDecrypt ? _mm256_sub_epi8(index, shifts) : _mm256_add_epi8(index, shifts);
  return Lookup(cycle, index);
}

template <bool kDecrypt>
QUILLFORT_AVX2 void TransformAvx2(const CipherKey& key, KernelCursor& cursor, const uint8_t* input,
                                  uint8_t* output, size_t count) {
  SlicedTable cycle, cycleIndex;
  Slice(key.cycle.data(), cycle);
  Slice(key.cycleIndex.data(), cycleIndex);
  unsigned position = cursor.streamPosition;
  unsigned keyCursor = cursor.keyCursor;
  const unsigned period = key.keyPeriod;
  for (; count >= kVector; count -= kVector, input += kVector, output += kVector) {
    __m256i data = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(input));
    data = Transform32<kDecrypt>(key, cycle, cycleIndex, position, keyCursor, data);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(output), data);
    position = (position + kVector) & (kStreamPeriod - 1);
    keyCursor += kVector;
    if (keyCursor >= period) keyCursor -= period;
  }
  if (count > 0) {
    uint8_t tail[kVector] = {};
    std::memcpy(tail, input, count);
    __m256i data = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tail));
    data = Transform32<kDecrypt>(key, cycle, cycleIndex, position, keyCursor, data);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(tail), data);
    std::memcpy(output, tail, count);
    position = (position + unsigned(count)) & (kStreamPeriod - 1);
    keyCursor += unsigned(count);
    if (keyCursor >= period) keyCursor -= period;
  }
  cursor.streamPosition = position;
  cursor.keyCursor = keyCursor;
}

}  // namespace

Kernel Avx2Kernel() { return {"avx2", TransformAvx2<false>, TransformAvx2<true>}; }
