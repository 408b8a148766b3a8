#pragma once
#include <string>

#include "app/terminal.h"

// What to do with an existing regular file at a target's name.
enum class Replacing {
  ask,     // ask when a person can answer; without one, replace as scripts expect
  always,  // -f, --force
  never,   // -n, --no-clobber
};

// The target names an existing regular file (links followed); a device, a FIFO or a
// descriptor the output is written to is no file to replace.
bool TargetIsExistingFile(const std::string& target);

// Asks "replace TARGET? [y/N] " and reads one line: true for "y" or "yes" in any case,
// false for anything else or the end of input.
bool AskToReplace(const std::string& target, Conversation& conversation);
