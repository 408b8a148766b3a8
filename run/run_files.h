#pragma once
#include <vector>

#include "cli/run_options.h"
#include "console/conversation.h"
#include "plan/run_plan.h"

// Carries out the plan: prints each input's messages, asks before a file is replaced,
// and transforms the files. Files below the parallel engine's size are transformed
// several at once, one per processor; larger ones alone, on every processor. What
// each file prints comes out as one block, in the plan's order, exactly as if they
// had been done one after another. Returns the exit status.
int RunFiles(const RunOptions& options, std::vector<PlannedInput>& plan, Conversation* conversation);
