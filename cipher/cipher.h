#pragma once
#include <cstdint>
#include <memory>
#include <string_view>

#include "cipher/cipher_key.h"
#include "cipher/kernel.h"

// A position in the keystream of one keyed password. Copies share the key, so every
// worker owns its own cursor over one key schedule made once per run.
struct Cipher {
  std::shared_ptr<const CipherKey> key;
  uint32_t streamPosition = 0;  // bytes since the last keystream restart, 0..8191
  uint32_t keyCursor = 0;       // index into the key's repeated key indices, < keyPeriod
};

// Keys the cipher and leaves it at offset 0. Returns false when the password is
// refused (no acceptable table set); the cipher is then unkeyed. Requires a
// non-empty password.
bool SetPassword(Cipher& cipher, std::string_view password);

// Positions the cipher where an uninterrupted transform from offset 0 would stand
// just before the byte at `offset`.
void Seek(Cipher& cipher, uint64_t offset);

// Transform `count` bytes; input and output may be the same buffer. Each call
// continues the keystream where the last call or Seek left it.
void Encrypt(Cipher& cipher, const uint8_t* input, uint8_t* output, uint64_t count);
void Decrypt(Cipher& cipher, const uint8_t* input, uint8_t* output, uint64_t count);

// The same with a given kernel from AvailableKernels(), for tests and benchmarks.
void EncryptWith(const Kernel& kernel, Cipher& cipher, const uint8_t* input, uint8_t* output, uint64_t count);
void DecryptWith(const Kernel& kernel, Cipher& cipher, const uint8_t* input, uint8_t* output, uint64_t count);
