#pragma once
#include <string>

#include "engine/mode.h"
#include "engine/output_commit.h"

// One file's transform as the run planned it.
struct FileTask {
  std::string input;  // as the user named it; the report shows it so
  std::string target;
  Mode mode = Mode::encrypt;
  OutputSettings output;
  // --rm: once the output is on the disk, file and folder, the source goes.
  bool removeSource = false;
};
