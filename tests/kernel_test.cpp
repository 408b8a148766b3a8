#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cipher/cipher.h"
#include "cipher/kernel.h"
#include "reference_cipher.h"
#include "run_program.h"

namespace {

std::string HighBytes(size_t length) {
  std::string password;
  for (size_t i = 0; i < length; ++i) password.push_back(char(0x80 + (i * 7) % 128));
  return password;
}

// Short, one byte, key periods at and around the 64-byte vector width, high bytes,
// long, and the two that reach the wrap of the row number at 2^32 (at offsets 2626
// and 9005, inside the ranges below).
const std::vector<std::string> kPasswords = {
    "x",
    "abc",
    std::string(8, 'k'),
    std::string(63, 'a'),
    std::string(64, 'b'),
    std::string(65, 'c'),
    std::string("\x80\xff\x01\x7f\xfe\x90", 6),
    HighBytes(300),
    "wrap17679",
    "wrap195473",
};

const std::vector<uint64_t> kOffsets = {0, 1, 63, 8191, 8197, 123457};
const std::vector<uint64_t> kSizes = {0, 1, 63, 64, 65, 8191, 8192, 8193, 300007};

TEST(Kernels, PortableFirstAndTheWidestActive) {
  auto kernels = AvailableKernels();
  ASSERT_FALSE(kernels.empty());
  EXPECT_STREQ(kernels.front().name, "portable");
  EXPECT_EQ(ActiveKernel().encrypt, kernels.back().encrypt);
  std::set<std::string> names;
  for (const Kernel& kernel : kernels) names.insert(kernel.name);
  EXPECT_EQ(names.size(), kernels.size());
}

// Every kernel this CPU runs must give the reference's bytes at any offset and length,
// from unaligned buffers, in place or not, in one call or in two.
TEST(Kernels, MatchTheReference) {
  const uint64_t total = kOffsets.back() + kSizes.back();
  const std::string plainText = PatternBytes(total, 11);
  const std::vector<uint8_t> plain(plainText.begin(), plainText.end());
  for (const std::string& password : kPasswords) {
    ReferenceCipher reference;
    ASSERT_TRUE(ReferenceSetPassword(reference, password)) << password;
    std::vector<uint8_t> expected[2] = {plain, plain};
    for (bool decrypt : {false, true}) {
      ReferenceSeek(reference, 0);
      ReferenceTransform(reference, decrypt, expected[decrypt].data(), total);
    }
    Cipher cipher;
    ASSERT_TRUE(SetPassword(cipher, password));
    for (const Kernel& kernel : AvailableKernels()) {
      auto run = [&](bool decrypt, const uint8_t* in, uint8_t* out, uint64_t count) {
        (decrypt ? DecryptWith : EncryptWith)(kernel, cipher, in, out, count);
      };
      for (bool decrypt : {false, true}) {
        for (uint64_t offset : kOffsets) {
          for (uint64_t size : kSizes) {
            const uint8_t* want = expected[decrypt].data() + offset;
            auto where = [&](const char* how) {
              return ::testing::Message()
                     << kernel.name << (decrypt ? " decrypt " : " encrypt ") << how << ", password of "
                     << password.size() << " bytes \"" << password.substr(0, 12) << "\", offset " << offset
                     << ", size " << size;
            };
            // In place, one byte past an aligned start.
            std::vector<uint8_t> buffer(size + 1);
            std::copy_n(plain.begin() + long(offset), size, buffer.begin() + 1);
            Seek(cipher, offset);
            run(decrypt, buffer.data() + 1, buffer.data() + 1, size);
            ASSERT_TRUE(std::equal(want, want + size, buffer.begin() + 1)) << where("in place");

            // Out of place, with input and output misaligned differently, and split into
            // two calls at an odd point so the second continues mid-vector.
            std::vector<uint8_t> input(size + 3), output(size + 5, 0xAA);
            std::copy_n(plain.begin() + long(offset), size, input.begin() + 3);
            uint64_t first = size / 3;
            Seek(cipher, offset);
            run(decrypt, input.data() + 3, output.data() + 5, first);
            run(decrypt, input.data() + 3 + first, output.data() + 5 + first, size - first);
            ASSERT_TRUE(std::equal(want, want + size, output.begin() + 5)) << where("out of place");
            ASSERT_TRUE(std::all_of(output.begin(), output.begin() + 5, [](uint8_t b) { return b == 0xAA; }))
                << where("wrote before the output");
          }
        }
      }
    }
  }
}

// A tail shorter than a vector must touch nothing behind the last byte it owns.
TEST(Kernels, WriteNothingPastTheEnd) {
  Cipher cipher;
  ASSERT_TRUE(SetPassword(cipher, "tail"));
  for (const Kernel& kernel : AvailableKernels()) {
    for (uint64_t size : {1, 31, 33, 63, 65, 127}) {
      std::vector<uint8_t> buffer(size + 64, 0x5C);
      Seek(cipher, 0);
      EncryptWith(kernel, cipher, buffer.data(), buffer.data(), size);
      EXPECT_TRUE(std::all_of(buffer.begin() + long(size), buffer.end(), [](uint8_t b) { return b == 0x5C; }))
          << kernel.name << " size " << size;
    }
  }
}

}  // namespace
