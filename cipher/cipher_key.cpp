#include "cipher/cipher_key.h"

#include <bit>
#include <cstring>

CipherKey::~CipherKey() {
  WipeBytes(&seed, sizeof seed);
  WipeBytes(cycle.data(), cycle.size());
  WipeBytes(cycleIndex.data(), cycleIndex.size());
  WipeBytes(keyIndices.data(), keyIndices.size());
  WipeBytes(streamRow.data(), streamRow.size());
  WipeBytes(wrapFrom.data(), wrapFrom.size());
  WipeBytes(keyRepeat.data(), keyRepeat.size());
  WipeBytes(shiftTable.data(), shiftTable.size());
}

void WipeBytes(void* data, size_t size) {
  if (size == 0) return;
  std::memset(data, 0, size);
  // Tells the compiler the zeroed memory is observed, so the stores stay.
  asm volatile("" : : "r"(data) : "memory");
}

uint64_t HashPassword(const uint8_t* bytes, uint64_t length) {
  // Byte k of W is the byte-wise sum (mod 256, no carries) of p[0] .. p[7 - k].
  uint64_t w = 0;
  for (int k = 0; k < 8; ++k) {
    uint8_t sum = 0;
    for (uint64_t i = 0; i < length && i <= uint64_t(7 - k); ++i) sum = uint8_t(sum + bytes[i]);
    w |= uint64_t(sum) << (8 * k);
  }
  uint64_t h = w + kDigestConstant;
  uint64_t s = w;
  for (uint64_t i = 8; i < length; ++i) {
    s = (s >> 6) * bytes[i];
    h += s;
  }
  return h;
}

namespace {

// Byte values still free while a permutation is drawn: probing for the next free
// value is a count of trailing zeros instead of a walk.
struct FreeSet {
  uint64_t words[4];
  void Fill() { words[0] = words[1] = words[2] = words[3] = ~uint64_t(0); }
  // The first free value at or after j, cyclically; the set is never empty here.
  unsigned TakeFrom(unsigned j) {
    unsigned w = j >> 6;
    uint64_t bits = words[w] & (~uint64_t(0) << (j & 63));
    while (bits == 0) {  // wraps round to the low values of this word last
      w = (w + 1) & 3;
      bits = words[w];
    }
    unsigned value = w * 64 + unsigned(std::countr_zero(bits));
    words[w] &= ~(uint64_t(1) << (value & 63));
    return value;
  }
};

bool IsSingleCycle(const std::array<uint8_t, 256>& p) {
  unsigned x = p[0];
  int length = 1;
  while (x != 0) {
    x = p[x];
    ++length;
  }
  return length == 256;
}

}  // namespace

bool GenerateTables(CipherKey& key) {
  uint64_t state = key.seed & 0xFFFFFFFFu;
  std::array<uint8_t, 256> p{};
  FreeSet free;
  for (int attempt = 0; attempt < kTableAttempts; ++attempt) {
    free.Fill();
    for (unsigned i = 0; i < 256; ++i) {
      state = StepStream(state);
      p[free.TakeFrom(unsigned(state >> 16) & 255)] = uint8_t(i);
    }
    // A single cycle is exactly what the count of fixed points of P^1..P^255 accepts.
    if (!IsSingleCycle(p)) continue;
    unsigned x = 0;
    for (unsigned j = 0; j < 256; ++j) {
      key.cycle[j] = uint8_t(x);
      key.cycleIndex[x] = uint8_t(j);
      x = p[x];
    }
    WipeBytes(p.data(), p.size());
    return true;
  }
  WipeBytes(p.data(), p.size());
  return false;
}

namespace {

void BuildSchedule(CipherKey& key) {
  uint64_t state = key.seed & 0xFFFFFFFFu;
  for (size_t pos = 0; pos < kStreamPeriod; ++pos) {
    state = StepStream(state);
    uint32_t rowBits = uint32_t(state >> 16);
    key.streamRow[pos] = uint8_t(rowBits % 255);
    uint64_t headroom = (uint64_t(1) << 32) - rowBits;  // smallest k that wraps
    key.wrapFrom[pos] = uint8_t(headroom < 16 ? headroom : 16);
  }
  for (size_t pos = kStreamPeriod; pos < key.streamRow.size(); ++pos) {
    key.streamRow[pos] = key.streamRow[pos - kStreamPeriod];
    key.wrapFrom[pos] = key.wrapFrom[pos - kStreamPeriod];
  }
  size_t length = key.keyIndices.size();
  size_t period = length * ((kScheduleSlack + length - 1) / length);
  key.keyPeriod = uint32_t(period);
  key.keyRepeat.resize(period + kScheduleSlack);
  for (size_t i = 0; i < key.keyRepeat.size(); ++i) key.keyRepeat[i] = key.keyIndices[i % length];

  // Row s sends cycle[j] to cycle[j + s]: a rotated copy of the cycle, scattered.
  key.shiftTable.resize(256 * 256);
  for (unsigned s = 0; s < 256; ++s) {
    uint8_t* row = &key.shiftTable[s * 256];
    for (unsigned j = 0; j < 256; ++j) row[key.cycle[j]] = key.cycle[(j + s) & 255];
  }
}

}  // namespace

std::shared_ptr<const CipherKey> MakeCipherKey(std::string_view password) {
  auto key = std::make_shared<CipherKey>();
  const auto* bytes = reinterpret_cast<const uint8_t*>(password.data());
  key->seed = HashPassword(bytes, password.size());
  key->keyIndices.resize(password.size());
  for (size_t i = 0; i < password.size(); ++i) key->keyIndices[i] = uint8_t((bytes[i] + i) & 15);
  if (password.empty() || !GenerateTables(*key)) return nullptr;
  BuildSchedule(*key);
  return key;
}
