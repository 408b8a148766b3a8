#include "cipher/secret_text.h"

#include "cipher/cipher_key.h"

void WipeString(std::string& text) {
  WipeBytes(text.data(), text.capacity());
  text.clear();
}

void ReplaceSecret(std::string& secret, std::string_view value) {
  WipeString(secret);
  secret.assign(value);
}
