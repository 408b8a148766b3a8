#pragma once
#include <string>

// The mode word or option a mistyped word was most likely meant to be: the same in
// another case, or one edit away (a letter added, dropped, changed, or two neighbours
// swapped) from exactly one of them. Empty when there is no such word.
std::string SuggestWord(const std::string& word);
