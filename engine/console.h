#pragma once
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// The run's messages, in the order produced. They go to standard output, or to
// standard error while standard output carries the data.
void Print(std::string_view text);
// What a successful run says (headers, reports, notices); nothing in quiet mode.
void PrintNote(std::string_view text);
// A line for people on standard error (a cause, a warning); never on standard output.
void PrintToStandardError(std::string_view text);
// Makes everything printed so far visible, e.g. before waiting for input.
void FlushConsole();

void SendMessagesToStandardError();
void SetQuiet(bool quiet);
// The stream messages go to, for those that write to it character by character.
FILE* MessageStream();

// What one file's transform printed, kept to be printed later in the run's order, so
// that files transformed at once never mix their lines.
struct MessageBlock {
  struct Part {
    bool standardError = false;
    std::string text;
  };
  std::vector<Part> parts;
};

// While set, everything this thread prints goes into `block` (null: printed again).
void CaptureMessages(MessageBlock* block);
bool CapturingMessages();
// Prints a block as it would have been printed at once.
void PrintBlock(const MessageBlock& block);
