#include "cipher/kernel.h"

const Kernel& ActiveKernel() {
  static const Kernel chosen = PortableKernel();
  return chosen;
}
