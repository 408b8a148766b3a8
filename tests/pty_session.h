#pragma once
// Runs the built program on a pseudo-terminal of its own, so a test can type at it
// the way a person would and read the screen it leaves.
#include <sys/types.h>
#include <termios.h>

#include <string>
#include <vector>

// How the program meets the terminal.
struct PtySetup {
  bool echo = true;  // the terminal's echo setting beforehand
  // The program runs as a shell runs a job: in a process group of its own in the
  // foreground, with a parent in the same session that waits for it, so Ctrl-Z stops it.
  bool jobControl = false;
  // Standard input from a pipe holding these bytes, not from the terminal.
  bool inputFromPipe = false;
  std::string input{};
  // Standard output into this file, not onto the terminal.
  std::string outputPath{};
};

struct PtySession {
  int master = -1;     // the keyboard and screen side; its settings are the terminal's
  pid_t pid = -1;      // the program, or with job control the shell-like leader that waits for it
  std::string screen;  // every byte the program wrote, line ends untranslated
  termios initial{};   // the terminal's settings when the program started

  // Starts quillfort with `arguments` in `directory`.
  PtySession(const std::vector<std::string>& arguments, const std::string& directory,
             const PtySetup& setup = {});
  ~PtySession();
  PtySession(const PtySession&) = delete;
  PtySession& operator=(const PtySession&) = delete;
};

// Reads the screen until `text` appears `count` times; false after a few seconds without it.
bool WaitForScreen(PtySession& session, const std::string& text, int count = 1);
// Sends keys as typed at the keyboard.
void Type(PtySession& session, const std::string& keys);
// The terminal's settings right now; still readable after the program ended.
termios TerminalSettings(const PtySession& session);
// The program's own process id (under job control, the leader's child).
pid_t ProgramPid(const PtySession& session);
// Waits until the program is stopped (true) or running again (false is `stopped`).
bool WaitForStopped(const PtySession& session, bool stopped);
// Waits for the program to end (killing it after a few seconds) and reads the rest of
// the screen; returns the exit status, or 128 + signal number.
int WaitForExit(PtySession& session);
