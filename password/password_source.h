#pragma once
#include <string>

#include "cli/run_options.h"

// Reads the password from the file, descriptor or environment variable the command
// line named (options.passwordSource), once and without confirmation. False after
// printing why it could not: the run then ends and no file is touched.
bool ReadPasswordSource(const RunOptions& options, std::string& password);
