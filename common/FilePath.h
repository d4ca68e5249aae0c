// Paths the user gives, taken as files: made absolute before anything runs
// (a module that changes the working folder cannot move them), and compared
// as files rather than as spellings (./a, a symbolic link and a hard link are
// all the same file).
#ifndef COMMON_FILEPATH_H
#define COMMON_FILEPATH_H

#include <string>

class FilePath {
 public:
  // The path against the working folder now, without resolving links; an
  // absolute path, and an empty one, as they are.
  static std::string Absolute(const std::string& path);
  // Whether both paths name one existing file (the same device and inode; on
  // Windows the same volume and file index). False if either does not exist.
  static bool SameFile(const std::string& a, const std::string& b);
  // The file a path names now, as a word that changes when another file
  // takes its place ("" if none): device and inode (volume and file index).
  static std::string Identity(const std::string& path);
  // The file a path names once its links are followed, absolute; the
  // absolute path if it does not exist yet.
  static std::string Resolved(const std::string& path);
};

#endif  // COMMON_FILEPATH_H
