#include <vector>

#include "cipher/kernel.h"

namespace {

std::vector<Kernel> FindKernels() {
  __builtin_cpu_init();
  std::vector<Kernel> kernels{PortableKernel()};
  // __builtin_cpu_supports also checks that the OS saves the wide registers.
  if (__builtin_cpu_supports("avx2")) kernels.push_back(Avx2Kernel());
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vbmi")) {
    kernels.push_back(Avx512VbmiKernel());
  }
  return kernels;
}

}  // namespace

std::span<const Kernel> AvailableKernels() {
  static const std::vector<Kernel> kernels = FindKernels();
  return kernels;
}

const Kernel& ActiveKernel() {
  static const Kernel& chosen = AvailableKernels().back();
  return chosen;
}
