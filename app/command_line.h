#pragma once
#include <string>
#include <vector>

#include "app/run_options.h"

enum class ParseOutcome { run, missingArgument };

// Reads the arguments (without the program name) into `options`. Messages that
// parsing prints (the key file notice, a missing argument) are appended to
// `printed` in order. A missing argument ends the run.
ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunOptions& options,
                              std::string& printed);

// The nine lines printed for an empty command line.
extern const char* const kUsageText;
