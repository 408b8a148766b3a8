#pragma once
#include <span>
#include <string>
#include <string_view>

// Overwrites every byte the string's buffer holds, its whole capacity, and empties it.
void WipeString(std::string& text);

// Gives a secret a new value; the old bytes are wiped first, so a buffer that the
// assignment outgrows is never freed with them in it.
void ReplaceSecret(std::string& secret, std::string_view value);

// Wipes strings that held a secret when it goes out of scope, however it is left.
struct StringsWipe {
  std::span<std::string> strings;
  ~StringsWipe() {
    for (std::string& text : strings) WipeString(text);
  }
};
