#include "app/password_confirmation.h"

#include "app/password_entry.h"
#include "app/secret_text.h"
#include "engine/console.h"

namespace {

bool RefuseLength() {
  Print("\npasswords cannot be longer than 103 characters!\n");
  return false;
}

}  // namespace

bool ConfirmPassword(std::string& password) {
  Print("ENTER PASSWORD:");
  if (ReadPassword(password) == EntryOutcome::tooLong) return RefuseLength();
  Print("\nREPEAT PASSWORD:");
  std::string repeated;
  StringsWipe wipe{{&repeated, 1}};
  if (ReadPassword(repeated) == EntryOutcome::tooLong) return RefuseLength();
  // The user's line end was not echoed, so this message follows the stars directly.
  if (password != repeated) {
    Print("passwords do not match!\n");
    return false;
  }
  if (password.empty()) {
    Print("\npasswords cannot contain zero characters!\n");
    return false;
  }
  PrintNote("\npasswords match!\n");
  return true;
}
