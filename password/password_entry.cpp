#include "password/password_entry.h"

#include <cstdio>
#include <cstring>

#include "cipher/cipher_key.h"
#include "password/terminal_echo.h"

namespace {

constexpr int kBackspace = 8;

// True when the next getc has to wait for the device rather than take a byte stdio
// already holds. Flushing only then keeps prompts and stars on screen before every
// wait without one write per character of a long piped line.
bool InputWouldWait(FILE* stream) {
#if defined(__GLIBC__)
  return stream->_IO_read_ptr >= stream->_IO_read_end;
#else
  (void)stream;
  return true;
#endif
}

}  // namespace

EntryOutcome ReadPassword(std::string& entry, const Dialogue& dialogue) {
  char buffer[kMaxPasswordLength + 1];
  int held = 0;
  bool tooLong = false;
  bool ended = false;
  bool anything = false;

  // Input that is no terminal is read the same way.
  EchoOff echoOff(dialogue.terminal);
  // A terminal that reported its end for the first entry may still give a second.
  std::clearerr(dialogue.in);
  for (;;) {
    if (InputWouldWait(dialogue.in)) std::fflush(dialogue.out);
    int c = std::getc(dialogue.in);
    ended = c == EOF;
    if (c == EOF || c == '\n' || c == '\r') break;
    anything = true;
    if (c == kBackspace) {
      if (held > 0) --held;
      std::putc(kBackspace, dialogue.out);
      continue;
    }
    std::putc('*', dialogue.out);
    if (held < kMaxPasswordLength) {
      buffer[held++] = char(c);
    } else {
      tooLong = true;  // the rest of the line is still read and starred
    }
  }
  std::fflush(dialogue.out);
  buffer[held] = '\0';

  entry.reserve(kMaxPasswordLength);
  entry.assign(buffer, std::strlen(buffer));
  WipeBytes(buffer, sizeof buffer);
  if (tooLong) return EntryOutcome::tooLong;
  return ended && !anything ? EntryOutcome::endOfInput : EntryOutcome::complete;
}
