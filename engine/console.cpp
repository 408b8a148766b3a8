#include "engine/console.h"

#include "engine/progress.h"

namespace {

FILE* messages = stdout;
bool quietRun = false;
thread_local MessageBlock* capture = nullptr;

void Keep(bool standardError, std::string_view text) {
  auto& parts = capture->parts;
  if (parts.empty() || parts.back().standardError != standardError) parts.push_back({standardError, {}});
  parts.back().text.append(text);
}

void Write(FILE* stream, std::string_view text) {
  ProgressSilence();
  std::fwrite(text.data(), 1, text.size(), stream);
}

void WriteToStandardError(std::string_view text) {
  if (text.empty()) return;
  if (messages == stdout) std::fflush(stdout);  // keep the order a person sees on one terminal
  Write(stderr, text);
}

}  // namespace

void Print(std::string_view text) {
  if (capture) {
    Keep(messages == stderr, text);
  } else {
    Write(messages, text);
  }
}

void PrintNote(std::string_view text) {
  if (!quietRun) Print(text);
}

void PrintToStandardError(std::string_view text) {
  if (capture) {
    Keep(true, text);
  } else {
    WriteToStandardError(text);
  }
}

void FlushConsole() {
  if (!capture) std::fflush(messages);
}

void SendMessagesToStandardError() {
  std::fflush(stdout);
  messages = stderr;
}

void SetQuiet(bool quiet) { quietRun = quiet; }

FILE* MessageStream() { return messages; }

void CaptureMessages(MessageBlock* block) { capture = block; }

bool CapturingMessages() { return capture != nullptr; }

void PrintBlock(const MessageBlock& block) {
  for (const MessageBlock::Part& part : block.parts) {
    if (part.standardError) {
      WriteToStandardError(part.text);
    } else {
      Write(messages, part.text);
    }
  }
}
