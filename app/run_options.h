#pragma once
#include <string>
#include <vector>

#include "app/replace_question.h"
#include "engine/mode.h"

// The parsed command line of one run.
struct RunOptions {
  std::string output;               // -o: output file, or the folder of a batch
  std::vector<std::string> inputs;  // -i, in command-line order, duplicates kept
  Mode mode = kEncrypt;
  std::string password;                  // -p, or typed at the prompt
  bool sync = false;                     // --sync: every output durable before it is reported
  bool quiet = false;                    // -q: nothing printed when all goes well
  Replacing replacing = Replacing::ask;  // -f, -n: the later one counts
  bool recursive = false;                // -r: folders among the inputs are walked
  bool removeSources = false;            // --rm: a source goes once its output is on the disk
  // --password-file, --password-fd or --password-env and its value: where to read
  // the password; the option's name is empty when none was given.
  std::string passwordSource;
  std::string passwordSourceValue;
  bool passwordGivenTwoWays = false;  // two different of -p and the three above
};
