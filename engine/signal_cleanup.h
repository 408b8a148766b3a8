#pragma once
#include <signal.h>
#include <termios.h>

#include <string>

// Every signal that would end the process (all but SIGKILL and SIGSTOP, which cannot
// be caught, and SIGXFSZ, which is ignored so a file size limit fails a write
// instead) first removes the names this process made and has not finished with,
// erases the progress line and gives the terminal its echo back; then the signal
// ends the process with its usual status. A signal the caller ignored (nohup) stays
// ignored.
void InstallSignalCleanup();

// Holds back every signal that could end the process asynchronously, for the
// lifetime of the scope and on this thread only. Threads started inside the scope
// keep them held for good, so such signals only ever reach the main thread, which
// holds them itself while a name is being made.
struct SignalsHeld {
  sigset_t previous;
  SignalsHeld();
  ~SignalsHeld();
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// A name that must not outlive the process: a temporary output, or the hidden name
// an output passes through on its way into place. Any thread may hold some at once.
//
// MakeCleanupName and Adopt run with signals held (SignalsHeld): between them the
// name is being made, and a signal handled meanwhile on another thread waits until
// it is known whether the name exists. MakeCleanupName returns -1 when the process is
// already ending or too many names are held; no name may be made then.
int MakeCleanupName(const std::string& path);
// After the attempt to make the name: `made` is true when it exists now.
void AdoptCleanupName(int slot, bool made);
// The name is gone, or has become a file the run keeps.
void ForgetCleanupName(int slot);

// The terminal whose echo an ending signal restores, and the settings to restore;
// or no terminal (-1).
void SetTerminalToRestore(int fd, const termios* settings);

// While set, an ending signal erases the progress line on standard error first.
void SetProgressLineShown(bool shown);
