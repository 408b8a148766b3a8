#pragma once
// Filesystems a test mounts for its own lifetime, for faults that permissions cannot
// make when the tests run as root: a disk that fills up, a folder that cannot be written.
#include <cstddef>
#include <string>

struct TestMount {
  std::string path;   // where it is mounted; empty when mounting failed
  std::string error;  // why mounting failed, for the skip message
  TestMount() = default;
  TestMount(const TestMount&) = delete;
  TestMount& operator=(const TestMount&) = delete;
  ~TestMount();  // unmounts
};

// A tmpfs of `bytes` bytes on the existing folder `path`.
bool MountTinyTmpfs(TestMount& mount, const std::string& path, size_t bytes);

// The existing folder `source`, seen read-only at the existing folder `path`.
bool MountReadOnlyView(TestMount& mount, const std::string& source, const std::string& path);
