#pragma once
#include <string>
#include <vector>

#include "app/run_options.h"

enum class ParseOutcome { run, missingArgument, help, version };

// Reads the arguments (without the program name) into `options`. Messages that
// parsing prints (the key file notice, a missing argument) are appended to
// `printed` in order. A missing argument ends the run. The first -h, --help or
// --version in the place of an option ends parsing: the run then does nothing
// else (the value after -o or -p is never such a word).
ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunOptions& options,
                              std::string& printed);

// The nine lines printed for an empty command line.
extern const char* const kUsageText;
