#include "password/obtain_password.h"

#include "engine/console.h"
#include "password/password_confirmation.h"
#include "password/password_source.h"

bool ObtainPassword(RunOptions& options, Conversation* conversation) {
  if (options.passwordSource != PasswordSource::none) return ReadPasswordSource(options, options.password);
  if (!options.password.empty()) return true;
  if (!conversation) {
    Print(
        "no password: standard input carries the data; use -p, --password-file, --password-fd or "
        "--password-env\n");
    return false;
  }
  Dialogue dialogue{conversation->in, conversation->out, conversation->terminal, options.quiet};
  return ConfirmPassword(options.password, dialogue);
}
