#pragma once

// The answer to -h and --help: every option, the exit statuses and examples.
extern const char* const kHelpText;
// The answer to --version: one line.
extern const char* const kVersionText;
