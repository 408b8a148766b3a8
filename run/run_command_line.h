#pragma once
#include <string>
#include <vector>

// The whole run for the arguments after the program name; returns the exit status:
// 0 when everything asked for was done, 1 when the run ended on an error or any
// input was skipped or failed.
int RunCommandLine(const std::vector<std::string>& arguments);
