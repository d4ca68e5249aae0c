#include "SharedLibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#endif

namespace {
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}
}  // namespace

#ifdef _WIN32

bool SharedLibrary::Open(const std::string& path, std::string* error) {
  Close();
  std::wstring wide(path.begin(), path.end());
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  wchar_t full[MAX_PATH * 4];
  const DWORD length = GetFullPathNameW(wide.c_str(), MAX_PATH * 4, full, nullptr);
  if (length != 0 && length < MAX_PATH * 4) wide = full;
  if (GetFileAttributesW(wide.c_str()) == INVALID_FILE_ATTRIBUTES) {
    *error = path + ": no such file";
    return false;
  }
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE module = LoadLibraryW(wide.c_str());
  const DWORD code = GetLastError();
  SetThreadErrorMode(old_mode, nullptr);
  if (module == nullptr) {
    *error = OneLine(path + ": not a loadable library (error " + std::to_string(code) + ")");
    return false;
  }
  m_handle = reinterpret_cast<void*>(module);
  return true;
}

void SharedLibrary::Close() {
  if (m_handle != nullptr) FreeLibrary(static_cast<HMODULE>(m_handle));
  m_handle = nullptr;
}

void* SharedLibrary::Find(const char* name) const {
  if (m_handle == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
}

#else

bool SharedLibrary::Open(const std::string& path, std::string* error) {
  Close();
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *error = path + ": no such file";
    return false;
  }
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr) {
    const char* text = dlerror();
    *error = OneLine(path + ": not a loadable library (" + (text != nullptr ? text : "dlopen failed") + ")");
    return false;
  }
  return true;
}

void SharedLibrary::Close() {
  if (m_handle != nullptr) dlclose(m_handle);
  m_handle = nullptr;
}

void* SharedLibrary::Find(const char* name) const { return m_handle != nullptr ? dlsym(m_handle, name) : nullptr; }

#endif
