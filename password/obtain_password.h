#pragma once
#include "cli/run_options.h"
#include "console/conversation.h"

// Makes sure the run has a password: from -p, from the source the command line named,
// or from the two-entry dialogue of `conversation` (none: there is no one to ask).
// False after printing why not: the run then ends.
bool ObtainPassword(RunOptions& options, Conversation* conversation);
