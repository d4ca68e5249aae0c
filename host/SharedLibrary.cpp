#include "SharedLibrary.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "WideText.h"
#else
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#endif

namespace {

// Error texts from the system may span lines; ours are one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

#ifdef _WIN32

// The absolute path with backslashes: LoadLibrary takes only backslashes, and
// it looks a relative path up on the library search path, not in the current
// directory.
std::wstring FullPath(const std::string& path) {
  std::wstring wide = WideText::FromUtf8(path);
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) return wide;
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  full.resize(length < size ? length : 0);
  return full.empty() ? wide : full;
}

std::string SystemMessage(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length != 0 ? std::string(buffer, length) : "";
  LocalFree(buffer);
  // The texts end in a line break and may name the file as an insert, "%1".
  while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
  const size_t insert = text.find("%1");
  if (insert != std::string::npos) text.replace(insert, 2, "the file");
  return "error " + std::to_string(code) + (text.empty() ? "" : ": " + text);
}

bool FileExists(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD code = GetLastError();
  return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
}

void* Load(const std::wstring& path, std::string* reason) {
  // A file that is not a library must not make Windows show a dialog box.
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE module = LoadLibraryW(path.c_str());
  const DWORD code = GetLastError();
  SetThreadErrorMode(old_mode, nullptr);
  if (module == nullptr) *reason = SystemMessage(code);
  return reinterpret_cast<void*>(module);
}

#endif

}  // namespace

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    m_handle = std::exchange(other.m_handle, nullptr);
  }
  return *this;
}

bool SharedLibrary::Open(const std::string& path, std::string* error, Failure* failure) {
  Close();
  const auto fail = [&](Failure why, const std::string& text) {
    *error = OneLine(path + ": " + text);
    if (failure != nullptr) *failure = why;
    return false;
  };
  std::string reason;
#ifdef _WIN32
  const std::wstring full = FullPath(path);
  if (!FileExists(full)) return fail(Failure::NO_FILE, "no such file");
  m_handle = Load(full, &reason);
#else
  struct stat info;
  if (stat(path.c_str(), &info) != 0 && errno == ENOENT) return fail(Failure::NO_FILE, "no such file");
  // dlopen searches the library path for a name without a slash.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  m_handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (m_handle == nullptr) {
    const char* text = dlerror();
    reason = text != nullptr ? text : "dlopen failed";
  }
#endif
  if (m_handle == nullptr) return fail(Failure::REFUSED, "not a loadable library (" + reason + ")");
  return true;
}

void SharedLibrary::Close() noexcept {
  if (m_handle == nullptr) return;
#ifdef _WIN32
  FreeLibrary(static_cast<HMODULE>(m_handle));
#else
  dlclose(m_handle);
#endif
  m_handle = nullptr;
}

void* SharedLibrary::Find(const char* name) const {
  if (m_handle == nullptr) return nullptr;
#ifdef _WIN32
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m_handle), name));
#else
  return dlsym(m_handle, name);
#endif
}
