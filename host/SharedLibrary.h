// A dynamic library opened through the system loader, with nothing checked
// about what it exports: the validator looks at each export itself.
#ifndef HOST_SHAREDLIBRARY_H
#define HOST_SHAREDLIBRARY_H

#include <string>

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary() { Close(); }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Opens the file at `path` (relative paths from the current directory, never
  // from the search path). False and a one-line `error` if there is no file or
  // the loader refuses it.
  bool Open(const std::string& path, std::string* error);
  // Unloads the library (the system may keep it mapped if others hold it).
  void Close();
  bool IsOpen() const { return m_handle != nullptr; }
  // The address of an exported symbol, or null.
  void* Find(const char* name) const;

 private:
  void* m_handle = nullptr;
};

#endif  // HOST_SHAREDLIBRARY_H
