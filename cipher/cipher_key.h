#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "cipher/keystream.h"

inline constexpr int kTableAttempts = 1000;
inline constexpr uint64_t kDigestConstant = 0xFC3A9424D853F1CBull;
inline constexpr const char* kRefusalMessage =
    "Cannot accept password because no good encryption function can be found!";

// Extra entries behind each repeating schedule, so a kernel can load 64 consecutive
// entries from any position without wrapping by hand.
inline constexpr size_t kScheduleSlack = 64;

// Everything a password determines; immutable once made and shared by every cipher
// positioned over it. Its memory is wiped when the last user lets go.
//
// The accepted substitution is always one 256-cycle P, and table row n is P applied
// max(n, 1) times. With cycle[j] = P^j(0) and cycleIndex its inverse, row n maps b to
// cycle[cycleIndex[b] + max(n, 1)] (mod 256), so the 255 rows are never stored.
struct CipherKey {
  uint64_t seed = 0;
  std::array<uint8_t, 256> cycle{};
  std::array<uint8_t, 256> cycleIndex{};
  std::vector<uint8_t> keyIndices;  // (p[i] + i) mod 16 for each password byte

  // The row of the byte at keystream position p with key index k is
  // (streamRow[p] + k - (k >= wrapFrom[p])) mod 255: streamRow is bits 16..47 of the
  // state mod 255, and wrapFrom is the smallest k whose sum wraps at 2^32 (16 when none).
  std::array<uint8_t, kStreamPeriod + kScheduleSlack> streamRow{};
  std::array<uint8_t, kStreamPeriod + kScheduleSlack> wrapFrom{};
  // keyIndices repeated over keyPeriod entries (a multiple of their count, at least 64).
  std::vector<uint8_t> keyRepeat;
  uint32_t keyPeriod = 0;

  // shiftTable[s * 256 + b] = cycle[cycleIndex[b] + s] (mod 256) for every shift s:
  // one load per byte for kernels without a byte shuffle. Decrypting uses shift -s.
  std::vector<uint8_t> shiftTable;

  CipherKey() = default;
  CipherKey(const CipherKey&) = delete;
  CipherKey& operator=(const CipherKey&) = delete;
  ~CipherKey();
};

uint64_t HashPassword(const uint8_t* bytes, uint64_t length);

// Draws permutations from the keystream until one is a single 256-cycle; fills
// cycle/cycleIndex and returns true, or false after kTableAttempts refusals.
bool GenerateTables(CipherKey& key);

// The whole key schedule; null when the password is refused. Requires length >= 1.
std::shared_ptr<const CipherKey> MakeCipherKey(std::string_view password);

// Overwrites memory that held secrets in a way the optimiser keeps.
void WipeBytes(void* data, size_t size);
