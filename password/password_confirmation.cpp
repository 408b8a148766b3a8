#include "password/password_confirmation.h"

#include <unistd.h>

#include "cipher/secret_text.h"
#include "console/conversation.h"
#include "engine/console.h"

namespace {

void Say(const Dialogue& dialogue, std::string_view text) { SayTo(dialogue.out, text); }

bool RefuseLength(const Dialogue& dialogue) {
  Say(dialogue, "\npasswords cannot be longer than 103 characters!\n");
  return false;
}

}  // namespace

bool ConfirmPassword(std::string& password, const Dialogue& dialogue) {
  Say(dialogue, "ENTER PASSWORD:");
  if (ReadPassword(password, dialogue) == EntryOutcome::tooLong) return RefuseLength(dialogue);
  Say(dialogue, "\nREPEAT PASSWORD:");
  std::string repeated;
  StringsWipe wipe{{&repeated, 1}};
  EntryOutcome second = ReadPassword(repeated, dialogue);
  if (second == EntryOutcome::tooLong) return RefuseLength(dialogue);
  // The user's line end was not echoed, so this message follows the stars directly.
  if (password != repeated) {
    Say(dialogue, "passwords do not match!\n");
    // A script that piped the password once meant it once.
    if (second == EntryOutcome::endOfInput && !::isatty(::fileno(dialogue.in))) {
      PrintToStandardError(
          "quillfort: standard input ended after one line: give the password twice, or use "
          "--password-file\n");
    }
    return false;
  }
  if (password.empty()) {
    Say(dialogue, "\npasswords cannot contain zero characters!\n");
    return false;
  }
  Say(dialogue, dialogue.quiet ? "\n" : "\npasswords match!\n");
  std::fflush(dialogue.out);
  return true;
}
