#include "engine/console.h"

#include "engine/progress.h"

namespace {

FILE* messages = stdout;
bool quietRun = false;

void Write(FILE* stream, std::string_view text) {
  ProgressSilence();
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

void Print(std::string_view text) { Write(messages, text); }

void PrintNote(std::string_view text) {
  if (!quietRun) Write(messages, text);
}

void PrintToStandardError(std::string_view text) {
  if (text.empty()) return;
  if (messages == stdout) std::fflush(stdout);  // keep the order a person sees on one terminal
  Write(stderr, text);
}

void FlushConsole() { std::fflush(messages); }

void SendMessagesToStandardError() {
  std::fflush(stdout);
  messages = stderr;
}

void SetQuiet(bool quiet) { quietRun = quiet; }

FILE* MessageStream() { return messages; }
