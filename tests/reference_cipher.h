#pragma once
// The cipher written the straightforward way, byte by byte with all 255 table rows:
// the yardstick every faster kernel must match exactly.
#include <cstdint>
#include <string_view>
#include <vector>

struct ReferenceCipher {
  uint64_t seed = 0;
  std::vector<uint8_t> forwardTables = std::vector<uint8_t>(255 * 256);
  std::vector<uint8_t> inverseTables = std::vector<uint8_t>(255 * 256);
  uint64_t streamState = 0;
  uint64_t streamPosition = 0;
  std::vector<uint8_t> keyIndices;
  uint32_t keyCursor = 0;
};

// False when no table set is accepted within 1000 attempts.
bool ReferenceSetPassword(ReferenceCipher& cipher, std::string_view password);
void ReferenceSeek(ReferenceCipher& cipher, uint64_t offset);
void ReferenceTransform(ReferenceCipher& cipher, bool decrypt, uint8_t* data, uint64_t count);
