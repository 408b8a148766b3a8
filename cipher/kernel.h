#pragma once
#include <cstddef>
#include <cstdint>

#include "cipher/cipher_key.h"

// One transform routine: moves `count` bytes through the key from the given
// keystream position and key cursor, and advances both.
struct KernelCursor {
  uint32_t streamPosition;
  uint32_t keyCursor;
};
using KernelFunction = void (*)(const CipherKey& key, KernelCursor& cursor, const uint8_t* input,
                                uint8_t* output, size_t count);

struct Kernel {
  const char* name;
  KernelFunction encrypt;
  KernelFunction decrypt;
};

// The plain C++ kernel, correct on every x86-64.
Kernel PortableKernel();

// The kernel Encrypt and Decrypt use: the widest this CPU supports, chosen once.
const Kernel& ActiveKernel();
