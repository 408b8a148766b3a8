#pragma once
#include <cerrno>
#include <string>

// Why something failed: the system's error where a system call failed, otherwise a
// short phrase of our own.
struct Cause {
  int error = 0;
  const char* phrase = nullptr;
  bool Known() const { return error != 0 || phrase != nullptr; }
};

// The error the last system call left behind.
inline Cause SystemCause() { return {errno, nullptr}; }
inline Cause PhraseCause(const char* phrase) { return {0, phrase}; }

// The text a person reads: the system's own text for its errors.
std::string CauseText(const Cause& cause);
