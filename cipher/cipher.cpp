#include "cipher/cipher.h"

#include "cipher/kernel.h"

bool SetPassword(Cipher& cipher, std::string_view password) {
  cipher.key = MakeCipherKey(password);
  cipher.streamPosition = 0;
  cipher.keyCursor = 0;
  return cipher.key != nullptr;
}

void Seek(Cipher& cipher, uint64_t offset) {
  cipher.streamPosition = uint32_t(offset % kStreamPeriod);
  cipher.keyCursor = uint32_t(offset % cipher.key->keyIndices.size());
}

namespace {

void Run(Cipher& cipher, KernelFunction kernel, const uint8_t* input, uint8_t* output, uint64_t count) {
  KernelCursor cursor{cipher.streamPosition, cipher.keyCursor};
  kernel(*cipher.key, cursor, input, output, count);
  cipher.streamPosition = cursor.streamPosition;
  cipher.keyCursor = cursor.keyCursor;
}

}  // namespace

void Encrypt(Cipher& cipher, const uint8_t* input, uint8_t* output, uint64_t count) {
  Run(cipher, ActiveKernel().encrypt, input, output, count);
}

void Decrypt(Cipher& cipher, const uint8_t* input, uint8_t* output, uint64_t count) {
  Run(cipher, ActiveKernel().decrypt, input, output, count);
}

void EncryptWith(const Kernel& kernel, Cipher& cipher, const uint8_t* input, uint8_t* output,
                 uint64_t count) {
  Run(cipher, kernel.encrypt, input, output, count);
}

void DecryptWith(const Kernel& kernel, Cipher& cipher, const uint8_t* input, uint8_t* output,
                 uint64_t count) {
  Run(cipher, kernel.decrypt, input, output, count);
}
