#pragma once

// Switches echo off on the terminal `fd` for its lifetime and on again afterwards;
// canonical input stays as the user had it, so the terminal's own line editing
// still applies. A descriptor that is no terminal is left alone.
//
// While the program is stopped (Ctrl-Z, or reading the terminal from the background)
// echo is on, as the shell and the user expect; when it continues in the foreground
// echo goes off again and the entry goes on. An ending signal turns it on too.
struct EchoOff {
  explicit EchoOff(int fd);
  ~EchoOff();
  EchoOff(const EchoOff&) = delete;
  EchoOff& operator=(const EchoOff&) = delete;
};
