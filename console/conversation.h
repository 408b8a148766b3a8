#pragma once
#include <cstdio>
#include <memory>
#include <string_view>

// Where the program talks with the person at the keyboard: standard input and the
// message stream when standard input is a terminal; the terminal itself (/dev/tty)
// while standard input carries the data.
struct Conversation {
  FILE* in = nullptr;
  FILE* out = nullptr;
  int terminal = -1;         // the descriptor whose echo a password entry turns off
  bool interactive = false;  // a person can answer: the input is a terminal
  std::unique_ptr<FILE, int (*)(FILE*)> ownIn{nullptr, &std::fclose};
  std::unique_ptr<FILE, int (*)(FILE*)> ownOut{nullptr, &std::fclose};
};

// Writes to the person: through the run's messages when `out` is their stream, so the
// order holds, or straight to the terminal.
void SayTo(FILE* out, std::string_view text);

// Standard input and the message stream, whatever standard input is.
void TalkOnStandardInput(Conversation& conversation);
// The controlling terminal; false when the process has none.
bool TalkOnTerminal(Conversation& conversation);
