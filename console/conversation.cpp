#include "console/conversation.h"

#include <fcntl.h>
#include <unistd.h>

#include "engine/console.h"

void SayTo(FILE* out, std::string_view text) {
  if (out == MessageStream()) {
    Print(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), out);
  }
}

void TalkOnStandardInput(Conversation& conversation) {
  conversation.in = stdin;
  conversation.out = MessageStream();
  conversation.terminal = STDIN_FILENO;
  conversation.interactive = ::isatty(STDIN_FILENO) == 1;
}

bool TalkOnTerminal(Conversation& conversation) {
  int terminal = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (terminal < 0) return false;
  // Two streams on one terminal, so that reading and writing never wait on each other.
  conversation.ownIn.reset(::fdopen(terminal, "r"));
  if (!conversation.ownIn) {
    ::close(terminal);
    return false;
  }
  int second = ::fcntl(terminal, F_DUPFD_CLOEXEC, 3);
  conversation.ownOut.reset(second >= 0 ? ::fdopen(second, "w") : nullptr);
  if (!conversation.ownOut) {
    if (second >= 0) ::close(second);
    return false;
  }
  conversation.in = conversation.ownIn.get();
  conversation.out = conversation.ownOut.get();
  conversation.terminal = terminal;
  conversation.interactive = true;
  return true;
}
