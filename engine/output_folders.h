#pragma once
#include <cstddef>
#include <string>

// A folder outputs are written into. It is opened once and kept for the rest of the
// run: a batch or a walk writes many files into few folders, and each file would
// otherwise open, measure and close its folder again.
struct OutputFolder {
  int fd = -1;
  size_t nameMax = 255;  // the longest name the folder can hold
};

// The folder at `path`; false, with errno set, when it cannot be opened. Any thread.
bool OpenOutputFolder(const std::string& path, OutputFolder& folder);
