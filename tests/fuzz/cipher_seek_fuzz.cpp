// The cipher positioned anywhere: transforming a buffer in pieces, each after its own
// Seek, in any order, or as one run of consecutive calls, must give the bytes of one
// whole transform from the buffer's start; decrypting gives the data back; and for
// a few fixed passwords, the byte-by-byte reference cipher agrees.
//
// Input: a selector byte (below 64: a fixed password; else the next 1..32 bytes are
// the password), 8 bytes of start offset, 4 bytes that cut the data into pieces,
// then the data.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "reference_cipher.h"

namespace {

// Passwords the reference is keyed with once: its key schedule is too slow per input.
// Two of them reach the rare wrap of the row number within the first 10,000 offsets.
const std::string kFixedPasswords[] = {"wrap17679", "wrap195473", std::string("\x80\xff\x01\x7f", 4),
                                       std::string(300, 'q')};

struct Fixed {
  Cipher cipher;
  ReferenceCipher reference;
};

std::vector<Fixed>& FixedCiphers() {
  static std::vector<Fixed> fixed = [] {
    std::vector<Fixed> made(std::size(kFixedPasswords));
    for (size_t i = 0; i < made.size(); ++i) {
      if (!SetPassword(made[i].cipher, kFixedPasswords[i]) ||
          !ReferenceSetPassword(made[i].reference, kFixedPasswords[i])) {
        abort();
      }
    }
    return made;
  }();
  return fixed;
}

void Check(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "does not hold: %s\n", what);
    abort();
  }
}

struct Reader {
  const uint8_t* data;
  size_t size;
  bool Take(void* out, size_t count) {
    if (size < count) return false;
    std::memcpy(out, data, count);
    data += count;
    size -= count;
    return true;
  }
};

// Piece boundaries from a 32-bit seed: lengths 0..2*8192+1, so pieces start before,
// at and after the keystream's restart.
std::vector<size_t> Cuts(uint32_t seed, size_t size) {
  std::vector<size_t> cuts{0};
  while (cuts.back() < size) {
    seed = seed * 1664525u + 1013904223u;
    size_t step = (seed >> 8) % 16386;
    cuts.push_back(std::min(size, cuts.back() + step));
  }
  return cuts;
}

void Transform(Cipher& cipher, bool decrypt, const uint8_t* in, uint8_t* out, size_t count) {
  (decrypt ? Decrypt : Encrypt)(cipher, in, out, count);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  Reader reader{bytes, size};
  uint8_t selector = 0;
  uint64_t start = 0;
  uint32_t cutSeed = 0;
  if (!reader.Take(&selector, 1)) return 0;
  Cipher cipher;
  ReferenceCipher* reference = nullptr;
  if (selector < 64) {
    Fixed& fixed = FixedCiphers()[selector % std::size(kFixedPasswords)];
    cipher = fixed.cipher;
    reference = &fixed.reference;
  } else {
    std::string password(1 + selector % 32, '\0');
    if (!reader.Take(password.data(), password.size())) return 0;
    if (!SetPassword(cipher, password)) return 0;
  }
  if (!reader.Take(&start, sizeof start) || !reader.Take(&cutSeed, sizeof cutSeed)) return 0;
  start &= (uint64_t(1) << 62) - 1;  // beyond any file offset, and start + size must not wrap
  const std::vector<uint8_t> data(reader.data, reader.data + reader.size);
  const size_t n = data.size();
  const std::vector<size_t> cuts = Cuts(cutSeed, n);

  for (bool decrypt : {false, true}) {
    std::vector<uint8_t> whole(n);
    Seek(cipher, start);
    Transform(cipher, decrypt, data.data(), whole.data(), n);

    // Pieces from the last to the first, each after its own Seek, in place.
    std::vector<uint8_t> pieces = data;
    for (size_t i = cuts.size() - 1; i > 0; --i) {
      Seek(cipher, start + cuts[i - 1]);
      Transform(cipher, decrypt, pieces.data() + cuts[i - 1], pieces.data() + cuts[i - 1],
                cuts[i] - cuts[i - 1]);
    }
    Check(pieces == whole, "pieces after Seek match the whole transform");

    // The same pieces as consecutive calls continue the stream.
    std::vector<uint8_t> consecutive(n);
    Seek(cipher, start);
    for (size_t i = 1; i < cuts.size(); ++i) {
      Transform(cipher, decrypt, data.data() + cuts[i - 1], consecutive.data() + cuts[i - 1],
                cuts[i] - cuts[i - 1]);
    }
    Check(consecutive == whole, "consecutive calls match the whole transform");

    std::vector<uint8_t> back(n);
    Seek(cipher, start);
    Transform(cipher, !decrypt, whole.data(), back.data(), n);
    Check(back == data, "the other direction gives the data back");

    if (reference) {
      std::vector<uint8_t> expected = data;
      ReferenceSeek(*reference, start);
      ReferenceTransform(*reference, decrypt, expected.data(), n);
      Check(expected == whole, "the reference cipher agrees");
    }
  }
  return 0;
}
