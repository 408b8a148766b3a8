#pragma once
#include <signal.h>

// SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE and SIGXCPU must not leave debris: the
// handler removes the temporary output file being written and turns terminal echo
// back on, then lets the signal end the process with its usual status.
void InstallInterruptCleanup();

// Holds those signals back for its lifetime, so a temporary file and its
// registration come and go together.
struct InterruptsHeld {
  sigset_t previous;
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

// The temporary file an interrupt must remove; at most one at a time. Call while
// interrupts are held.
void RegisterTemporary(const char* path);
void ForgetTemporary();

// While set, an interrupt switches echo on for standard input before the process ends.
void SetEchoRestorePending(bool pending);

// While set, an interrupt erases the progress line on standard error first.
void SetProgressLineShown(bool shown);
