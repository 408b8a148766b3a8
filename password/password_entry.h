#pragma once
#include <cstdio>
#include <string>

// Where a password dialogue takes place: what it reads, where its prompts, stars and
// messages go, and the terminal whose echo goes off while an entry is typed (any
// descriptor; one that is no terminal is left alone).
struct Dialogue {
  FILE* in = stdin;
  FILE* out = stdout;
  int terminal = 0;
  bool quiet = false;  // no "passwords match!"
};

// The most characters one entry may hold.
inline constexpr int kMaxPasswordLength = 103;

// endOfInput: the input ended before the entry had a single character (the entry is empty).
enum class EntryOutcome { complete, tooLong, endOfInput };

// Reads one password line from the dialogue's input with echo off, writing a "*"
// for every character taken. A backspace (8) drops the last character; LF or CR ends
// the entry, and so does the end of input. A zero byte cuts the password there.
// The result replaces `entry`, whose storage is reserved up front so the secret is
// never reallocated (and left behind) while it grows. A line longer than
// kMaxPasswordLength is read to its end and reported as tooLong; nothing of it is
// stored beyond the limit.
EntryOutcome ReadPassword(std::string& entry, const Dialogue& dialogue);
