#pragma once
#include <string>
#include <vector>

#include "engine/mode.h"

// The parsed command line of one run.
struct RunOptions {
  std::string output;               // -o: output file, or the folder of a batch
  std::vector<std::string> inputs;  // -i, in command-line order, duplicates kept
  Mode mode = kEncrypt;
  std::string password;  // -p, or typed at the prompt
  bool sync = false;     // --sync: every output durable before it is reported
};
