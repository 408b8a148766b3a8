#pragma once
#include <string>
#include <vector>

#include "engine/mode.h"

// What to do with an existing regular file at a target's name.
enum class Replacing {
  ask,     // ask when a person can answer; without one, replace as scripts expect
  always,  // -f, --force
  never,   // -n, --no-clobber
};

// Where the password comes from when it is not typed or given with -p.
enum class PasswordSource { none, file, descriptor, environment };

// What the command line asks for: files transformed (the default), or an encrypted
// folder mounted as a plain one and unmounted again.
enum class Command { transform, mount, unmount };

// The parsed command line of one run.
struct RunOptions {
  Command command = Command::transform;
  std::string vault;                // mount VAULT MOUNTPOINT: the encrypted folder
  std::string mountPoint;           // mount VAULT MOUNTPOINT, unmount MOUNTPOINT
  bool foreground = false;          // mount -f: serve in the foreground until unmounted
  bool readOnly = false;            // mount --read-only
  std::string output;               // -o: output file, or the folder of a batch
  std::vector<std::string> inputs;  // -i, in command-line order, duplicates kept
  Mode mode = Mode::encrypt;
  std::string password;                  // -p, or typed at the prompt
  bool sync = false;                     // --sync: every output durable before it is reported
  bool quiet = false;                    // -q: nothing printed when all goes well
  Replacing replacing = Replacing::ask;  // -f, -n: the later one counts
  bool recursive = false;                // -r: folders among the inputs are walked
  bool removeSources = false;            // --rm: a source goes once its output is on the disk
  // --password-file, --password-fd or --password-env and its value.
  PasswordSource passwordSource = PasswordSource::none;
  std::string passwordSourceValue;
  bool passwordGivenTwoWays = false;  // two different of -p and the three above
};
