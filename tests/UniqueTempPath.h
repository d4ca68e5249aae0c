#pragma once
// A file name of the tests' own in the system's temporary folder, unique to
// this process: suites, their shards and other checkouts' tests run side by
// side and must not share files.

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

inline std::string UniqueTempPath(const std::string& prefix, const std::string& name) {
#ifdef _WIN32
  const int pid = _getpid();
#else
  const int pid = static_cast<int>(getpid());
#endif
  return (std::filesystem::temp_directory_path() / (prefix + std::to_string(pid) + "-" + name)).string();
}
