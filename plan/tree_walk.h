#pragma once
#include <string>
#include <vector>

#include "engine/cause.h"

// What a walk of a folder finds, in the order it is met.
struct WalkEntry {
  enum Kind { file, symbolicLink, specialFile, unreadableFolder } kind = file;
  std::string path;      // the folder as named, joined with the names below it
  std::string relative;  // the path below the walked folder, "2024/a.jpg"
  Cause cause;           // why an unreadable folder could not be read
};

// Every entry below `folder`, names sorted by their bytes and each folder's entries
// right where its name sorts (depth first). Symbolic links are never followed, and a
// folder that cannot be read is reported and passed over. The named folder itself
// is followed if it is a link: the user named it.
std::vector<WalkEntry> WalkFolder(const std::string& folder);
