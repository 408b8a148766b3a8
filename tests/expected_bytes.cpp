#include "expected_bytes.h"

#include <gtest/gtest.h>

#include "cipher/cipher.h"

std::string Transformed(std::string data, Mode mode, std::string_view password) {
  Cipher cipher;
  EXPECT_TRUE(SetPassword(cipher, password)) << "refused test password";
  if (!cipher.key) return {};
  auto* bytes = reinterpret_cast<uint8_t*>(data.data());
  (mode == Mode::decrypt ? Decrypt : Encrypt)(cipher, bytes, bytes, data.size());
  return data;
}
