#pragma once
#include <string_view>

// Every message of the program goes to standard output, in the order produced.
void Print(std::string_view text);
// Makes everything printed so far visible, e.g. before waiting for input.
void FlushConsole();
