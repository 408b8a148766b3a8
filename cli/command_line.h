#pragma once
#include <string>
#include <vector>

#include "cli/run_options.h"

enum class ParseOutcome { run, missingArgument, help, version };

// What parsing has to say, in the order it is printed: notices (the key file
// notice), then the message that ended parsing, if any. Warnings about the words it
// ignored go to standard error.
struct ParseMessages {
  std::string notices;
  std::string failure;
  std::string warnings;
};

// Reads the arguments (without the program name) into `options`. A missing argument
// ends the run. The first -h, --help or --version in the place of an option ends
// parsing: the run then does nothing else (the value after -o or -p is never such a
// word).
ParseOutcome ParseCommandLine(const std::vector<std::string>& arguments, RunOptions& options,
                              ParseMessages& messages);

// The nine lines printed for an empty command line.
extern const char* const kUsageText;
