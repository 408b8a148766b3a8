#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

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

// Every kernel gives the same bytes; they differ only in the instructions they need.
// The x86-64 baseline (SSE2): runs everywhere.
Kernel PortableKernel();
// Need AVX2, and AVX-512 F/BW/VBMI respectively: call only when AvailableKernels lists them.
Kernel Avx2Kernel();
Kernel Avx512VbmiKernel();

// The kernels this CPU can run, narrowest first; the tests and the benchmark force
// each one through this list.
std::span<const Kernel> AvailableKernels();

// The kernel Encrypt and Decrypt use: the widest this CPU supports, chosen once.
const Kernel& ActiveKernel();
