#include "reference_cipher.h"

namespace {

uint64_t Step(uint64_t state) { return state * 1103515245u + 12345u; }

uint64_t ReferenceHash(const uint8_t* p, uint64_t n) {
  uint8_t w[8] = {};
  for (uint64_t i = 0; i < n && i < 8; ++i) {
    for (uint64_t k = 0; k <= 7 - i; ++k) w[k] = uint8_t(w[k] + p[i]);
  }
  uint64_t word = 0;
  for (int k = 7; k >= 0; --k) word = (word << 8) | w[k];
  uint64_t h = word + 0xFC3A9424D853F1CBull;
  uint64_t s = word;
  for (uint64_t i = 8; i < n; ++i) {
    s = (s >> 6) * p[i];
    h += s;
  }
  return h;
}

bool ReferenceGenerateTables(ReferenceCipher& c) {
  c.streamState = c.seed & 0xFFFFFFFFu;
  uint8_t* forward = c.forwardTables.data();
  uint8_t* inverse = c.inverseTables.data();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    bool taken[256] = {};
    for (int i = 0; i < 256; ++i) {
      c.streamState = Step(c.streamState);
      int j = int((c.streamState >> 16) % 256);
      while (taken[j]) j = (j + 1) % 256;
      forward[j] = uint8_t(i);
      inverse[i] = uint8_t(j);
      taken[j] = true;
    }
    int count = 0;
    for (int v = 0; v < 256; ++v) {
      int x = v;
      for (int r = 1; r <= 255; ++r) {
        x = forward[x];
        if (x == v) ++count;
      }
    }
    for (int v = 0; v < 256; ++v) {
      int x = v;
      for (int r = 1; r <= 254; ++r) {
        x = forward[x];  // row 0 is P, so after r lookups x = P^r(v)
        forward[r * 256 + v] = uint8_t(x);
        inverse[r * 256 + x] = uint8_t(v);
      }
    }
    if (count < 6) return true;
  }
  return false;
}

}  // namespace

bool ReferenceSetPassword(ReferenceCipher& c, std::string_view password) {
  const auto* p = reinterpret_cast<const uint8_t*>(password.data());
  c.seed += ReferenceHash(p, password.size());
  c.keyIndices.clear();
  for (size_t i = 0; i < password.size(); ++i) c.keyIndices.push_back(uint8_t((p[i] + i) % 16));
  if (!ReferenceGenerateTables(c)) return false;
  c.streamState = c.seed % (uint64_t(1) << 32);
  c.streamPosition = 0;
  c.keyCursor = 0;
  return true;
}

void ReferenceSeek(ReferenceCipher& c, uint64_t offset) {
  c.streamState = c.seed % (uint64_t(1) << 32);
  c.streamPosition = offset % 8192;
  for (uint64_t i = 0; i < c.streamPosition / 8; ++i) {
    c.streamState = c.streamState * 0xE22DDC89CFDDDF21ull + 0xA4A80BE4CD1DCF18ull;
  }
  for (uint64_t i = 0; i < c.streamPosition % 8; ++i) c.streamState = Step(c.streamState);
  c.keyCursor = uint32_t(offset % c.keyIndices.size());
}

void ReferenceTransform(ReferenceCipher& c, bool decrypt, uint8_t* data, uint64_t count) {
  const uint8_t* tables = decrypt ? c.inverseTables.data() : c.forwardTables.data();
  for (uint64_t i = 0; i < count; ++i) {
    c.streamState = Step(c.streamState);
    uint32_t t = uint32_t(c.keyIndices[c.keyCursor] + uint32_t(c.streamState >> 16));
    uint32_t row = t % 255;
    data[i] = tables[row * 256 + data[i]];
    if (++c.keyCursor == c.keyIndices.size()) c.keyCursor = 0;
    if (++c.streamPosition == 8192) {
      c.streamPosition = 0;
      c.streamState = c.seed % (uint64_t(1) << 32);
    }
  }
}
