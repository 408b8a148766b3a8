#include "app/password_gate.h"

#include "app/password_confirmation.h"
#include "app/password_source.h"
#include "engine/console.h"

bool ObtainPassword(RunOptions& options, Conversation* conversation) {
  if (!options.passwordSource.empty()) return ReadPasswordSource(options, options.password);
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
