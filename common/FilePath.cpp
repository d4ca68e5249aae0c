#include "FilePath.h"

#include <string>

#ifdef _WIN32
#include <windows.h>

#include "WideText.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>
#endif

#ifdef _WIN32

namespace {

// The volume and file index of an existing file; false if it cannot be opened.
bool FileId(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
  const HANDLE file =
      CreateFileW(WideText::FromUtf8(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool got = GetFileInformationByHandle(file, info) != 0;
  CloseHandle(file);
  return got;
}

std::string FullPath(const std::string& path) {
  const std::wstring wide = WideText::FromUtf8(path);
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return path;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) return path;
  return WideText::ToUtf8(full.c_str(), length);
}

}  // namespace

std::string FilePath::Absolute(const std::string& path) { return path.empty() ? path : FullPath(path); }

bool FilePath::SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION x{}, y{};
  return FileId(a, &x) && FileId(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
         x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

std::string FilePath::Identity(const std::string& path) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!FileId(path, &info)) return "";
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":" +
         std::to_string(info.nFileIndexLow);
}

std::string FilePath::Resolved(const std::string& path) { return Absolute(path); }

#else

std::string FilePath::Absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::vector<char> folder(PATH_MAX);
  while (getcwd(folder.data(), folder.size()) == nullptr) {
    // A working folder deeper than PATH_MAX: a larger buffer; any other
    // failure (the folder was removed) leaves the path as given.
    if (errno != ERANGE || folder.size() > (1u << 20)) return path;
    folder.resize(folder.size() * 2);
  }
  std::string absolute = folder.data();
  if (absolute.empty() || absolute.back() != '/') absolute += '/';
  return absolute + path;
}

bool FilePath::SameFile(const std::string& a, const std::string& b) {
  struct stat x {};
  struct stat y {};
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

std::string FilePath::Identity(const std::string& path) {
  struct stat file {};
  if (stat(path.c_str(), &file) != 0) return "";
  return std::to_string(file.st_dev) + ":" + std::to_string(file.st_ino);
}

std::string FilePath::Resolved(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return Absolute(path);
  std::string resolved = real;
  std::free(real);
  return resolved;
}

#endif
