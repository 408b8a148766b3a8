#include "engine/console.h"

#include <cstdio>

void Print(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void FlushConsole() { std::fflush(stdout); }
