#include <immintrin.h>

#include "cipher/kernel.h"

// Only these functions use AVX-512: the rest of the program stays on the baseline, so
// the binary runs on any x86-64 and picks this kernel when the CPU has it.
#define QUILLFORT_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace {

constexpr unsigned kVector = 64;

// A 256-byte table in four registers: vpermi2b looks up 128 entries at a time, and
// bit 7 of the index picks the half.
struct WideTable {
  __m512i part[4];
};

QUILLFORT_AVX512 inline WideTable Load(const uint8_t* table) {
  return {{_mm512_loadu_si512(table), _mm512_loadu_si512(table + 64), _mm512_loadu_si512(table + 128),
           _mm512_loadu_si512(table + 192)}};
}

QUILLFORT_AVX512 inline __m512i Lookup(const WideTable& t, __m512i index) {
  __m512i low = _mm512_permutex2var_epi8(t.part[0], index, t.part[1]);
  __m512i high = _mm512_permutex2var_epi8(t.part[2], index, t.part[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
}

// The shift along the cycle (the table row, 1..254) of 64 consecutive bytes; see the
// portable kernel for the arithmetic.
QUILLFORT_AVX512 inline __m512i Shifts(const CipherKey& key, unsigned position, unsigned keyCursor) {
  const __m512i one = _mm512_set1_epi8(1);
  __m512i streamRow = _mm512_loadu_si512(&key.streamRow[position]);
  __m512i wrapFrom = _mm512_loadu_si512(&key.wrapFrom[position]);
  __m512i keyIndex = _mm512_loadu_si512(&key.keyRepeat[keyCursor]);
  __m512i added = _mm512_mask_sub_epi8(keyIndex, _mm512_cmpge_epu8_mask(keyIndex, wrapFrom), keyIndex, one);
  __m512i sum = _mm512_add_epi8(streamRow, added);
  __m512i notAdded = _mm512_xor_si512(added, _mm512_set1_epi8(-1));
  sum = _mm512_mask_add_epi8(sum, _mm512_cmpge_epu8_mask(streamRow, notAdded), sum, one);
  return _mm512_max_epu8(sum, one);
}

template <bool kDecrypt>
QUILLFORT_AVX512 inline __m512i Transform64(const CipherKey& key, const WideTable& cycle,
                                            const WideTable& cycleIndex, unsigned position,
                                            unsigned keyCursor, __m512i data) {
  __m512i index = Lookup(cycleIndex, data);
  __m512i shifts = Shifts(key, position, keyCursor);
  index = kDecrypt ? _mm512_sub_epi8(index, shifts) : _mm512_add_epi8(index, shifts);
  return Lookup(cycle, index);
}

template <bool kDecrypt>
QUILLFORT_AVX512 void TransformAvx512(const CipherKey& key, KernelCursor& cursor, const uint8_t* input,
                                      uint8_t* output, size_t count) {
  const WideTable cycle = Load(key.cycle.data());
  const WideTable cycleIndex = Load(key.cycleIndex.data());
  unsigned position = cursor.streamPosition;
  unsigned keyCursor = cursor.keyCursor;
  const unsigned period = key.keyPeriod;
  for (; count >= kVector; count -= kVector, input += kVector, output += kVector) {
    __m512i data = _mm512_loadu_si512(input);
    _mm512_storeu_si512(output, Transform64<kDecrypt>(key, cycle, cycleIndex, position, keyCursor, data));
    position = (position + kVector) & (kStreamPeriod - 1);
    keyCursor += kVector;
    if (keyCursor >= period) keyCursor -= period;
  }
  if (count > 0) {
    __mmask64 tail = (__mmask64(1) << count) - 1;
    __m512i data = _mm512_maskz_loadu_epi8(tail, input);
    _mm512_mask_storeu_epi8(output, tail,
                            Transform64<kDecrypt>(key, cycle, cycleIndex, position, keyCursor, data));
    position = (position + unsigned(count)) & (kStreamPeriod - 1);
    keyCursor += unsigned(count);
    if (keyCursor >= period) keyCursor -= period;
  }
  cursor.streamPosition = position;
  cursor.keyCursor = keyCursor;
}

}  // namespace

Kernel Avx512VbmiKernel() { return {"avx512vbmi", TransformAvx512<false>, TransformAvx512<true>}; }
