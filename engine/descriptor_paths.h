#pragma once
#include <string>

// The open descriptor of this process that a path names: /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N or /proc/self/fd/N; -1 for any other path or a descriptor
// that is not open. Writing to such a path means writing to the descriptor itself:
// no temporary, no truncation, an append stays an append.
int DescriptorNamedBy(const std::string& path);

// The descriptor is open on something other than a regular file or a folder (a pipe,
// a terminal, a socket, a device): data read from it is a stream.
bool IsStreamDescriptor(int fd);

// The descriptor a single input streams from: standard input for "-", or a descriptor
// path naming a stream (process substitution's /dev/fd/63, a piped /dev/stdin); -1
// for an input that is a file.
int StreamInputDescriptor(const std::string& input);
