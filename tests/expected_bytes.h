#pragma once
// What the program must write for given data and password: the data run through
// the library's cipher from offset 0.
#include <string>
#include <string_view>

#include "engine/mode.h"

std::string Transformed(std::string data, Mode mode, std::string_view password);
inline std::string Encrypted(std::string data, std::string_view password) {
  return Transformed(std::move(data), Mode::encrypt, password);
}
