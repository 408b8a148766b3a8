#include "engine/console.h"

#include <cstdio>

#include "engine/progress.h"

void Print(std::string_view text) {
  ProgressSilence();
  std::fwrite(text.data(), 1, text.size(), stdout);
}

void FlushConsole() { std::fflush(stdout); }
