#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/cause.h"
#include "engine/mode.h"

// "ENCRYPTING" or "DECRYPTING": the first line of every file's transform.
void PrintHeader(Mode mode);

// Whole mebibytes per second of processor time, or "-" when no time was measured.
std::string SpeedFigure(uint64_t bytes, uint64_t nanoseconds);

void PrintFileLines(std::string_view input, std::string_view target);
void PrintSpeedLine(std::string_view label, uint64_t bytes, uint64_t nanoseconds);

// A failure message about one file, then on standard error the line that says which
// file (`path`) and why: "quillfort: PATH: REASON".
void PrintFailure(std::string_view message, std::string_view path, const Cause& cause);
void PrintCause(std::string_view path, const Cause& cause);

// Processor time of the whole process (all threads), in nanoseconds.
uint64_t ProcessCpuNanoseconds();
// Processor time of the calling thread, in nanoseconds.
uint64_t ThreadCpuNanoseconds();
