// A dynamic library opened through the system loader, with nothing checked
// about what it exports: the one place that talks to dlopen or LoadLibrary.
// The module loader builds on it; the validator looks at each export itself.
#ifndef HOST_SHAREDLIBRARY_H
#define HOST_SHAREDLIBRARY_H

#include <string>

class SharedLibrary {
 public:
  // Why a library was not opened.
  enum class Failure {
    NO_FILE,  // nothing at the path
    REFUSED   // the system loader refused the file
  };

  SharedLibrary() = default;
  ~SharedLibrary() { Close(); }
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  SharedLibrary(SharedLibrary&& other) noexcept;
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;

  // Opens the file at `path`, a UTF-8 text (relative paths from the current
  // directory, never from the system's search path). False, the failure and a
  // one-line `error` beginning with the path otherwise.
  bool Open(const std::string& path, std::string* error, Failure* failure = nullptr);
  // Unloads the library (the system may keep it mapped if others hold it).
  void Close() noexcept;
  bool IsOpen() const { return m_handle != nullptr; }
  // The address of an exported symbol, or null.
  void* Find(const char* name) const;

 private:
  void* m_handle = nullptr;
};

#endif  // HOST_SHAREDLIBRARY_H
