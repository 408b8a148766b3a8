#pragma once
#include <string>

#include "cli/run_options.h"
#include "console/conversation.h"

// The target names an existing regular file (links followed); a device, a FIFO or a
// descriptor the output is written to is no file to replace.
bool TargetIsExistingFile(const std::string& target);

// Asks "replace TARGET? [y/N] " and reads one line: true for "y" or "yes" in any case,
// false for anything else or the end of input.
bool AskToReplace(const std::string& target, Conversation& conversation);
