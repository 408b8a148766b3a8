#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The progress line on standard error. It appears only when standard error is a
// terminal and a file is still in work half a second after it began; it is
// redrawn a few times a second and erased when the file is done or standard
// output speaks. Standard output never carries any of it.

// Follows one file's transform for its lifetime; one at a time.
struct ProgressScope {
  ProgressScope(std::string_view file, uint64_t totalBytes);
  ~ProgressScope();
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
};

// Counts bytes done for the file in work; any thread may call it, once per block.
// Without a terminal it costs one relaxed load; with one, a clock read too, and
// drawing is left to whichever caller finds the line due.
void ProgressAdvance(uint64_t bytes);

// Erases the line and keeps it away until the file is done, so that messages on
// standard output (the same terminal, often) start on a clean line.
void ProgressSilence();

// The line as drawn, without the carriage return: the file name (shortened from
// the left, control bytes shown as '?'), percent done, MiB per second of wall
// time and the time left, in fewer than `width` columns.
std::string ProgressLine(std::string_view file, uint64_t done, uint64_t total, uint64_t elapsedNanoseconds,
                         size_t width);
