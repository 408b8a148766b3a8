#include "cli/word_suggestion.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

constexpr std::string_view kKnownWords[] = {
    "e",
    "d",
    "encrypt",
    "enc",
    "decrypt",
    "dec",
    "-i",
    "-o",
    "-p",
    "-k",
    "-h",
    "--help",
    "--version",
    "--sync",
    "-q",
    "--quiet",
    "-f",
    "--force",
    "-n",
    "--no-clobber",
    "-r",
    "--recursive",
    "--rm",
    "--password-file",
    "--password-fd",
    "--password-env",
};

std::string Lower(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// At most one insertion, deletion, substitution or swap of neighbours apart.
bool OneEditApart(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 1) return false;
  size_t start = 0;
  while (start < a.size() && a[start] == b[start]) ++start;
  if (a.size() == b.size()) {
    if (start == a.size()) return false;  // equal
    if (a.substr(start + 1) == b.substr(start + 1)) return true;
    return start + 1 < a.size() && a[start] == b[start + 1] && a[start + 1] == b[start] &&
           a.substr(start + 2) == b.substr(start + 2);
  }
  return a.substr(start) == b.substr(start + 1);
}

}  // namespace

std::string SuggestWord(const std::string& word) {
  const std::string lower = Lower(word);
  for (std::string_view known : kKnownWords) {
    if (lower == known) return std::string(known);
  }
  // Words of one or two letters are one edit away from too many to tell.
  if (word.size() < 3) return "";
  std::string found;
  for (std::string_view known : kKnownWords) {
    if (!OneEditApart(word, known)) continue;
    if (!found.empty()) return "";
    found = known;
  }
  return found;
}
