#pragma once
#include <string>
#include <string_view>

#include "engine/cause.h"

// The suffix of encrypted files.
inline constexpr std::string_view kSuffix = ".quillforted";

// An existing regular file, symlinks followed.
bool IsRegularFile(const std::string& path);
// The path with "/" appended opens as a folder; the empty path is the root folder.
bool IsFolder(const std::string& path);
// Why a path is not an existing regular file, or not a folder: the system's error,
// or a phrase when it exists as something else.
Cause WhyNotRegularFile(const std::string& path);
Cause WhyNotFolder(const std::string& path);

// The bytes after the last "/": empty when the path ends with one.
std::string FileNamePart(const std::string& path);
bool EndsWithSuffix(std::string_view path);
std::string WithoutSuffix(const std::string& path);
// Both paths exist and name the same file (same device and inode, symlinks followed).
bool SameFile(const std::string& first, const std::string& second);
