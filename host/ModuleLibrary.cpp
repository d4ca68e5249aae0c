#include "ModuleLibrary.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <cerrno>
#include <sys/stat.h>
#endif

namespace {

using AnyFunction = void (*)();

// Error texts from the system may span lines; ours are one line.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

#ifdef _WIN32

std::wstring Widen(const std::string& utf8) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
  return wide;
}

// The absolute path with backslashes: LoadLibrary takes only backslashes, and
// it looks a relative path up on the library search path, not in the current
// directory.
std::wstring FullPath(const std::string& path) {
  std::wstring wide = Widen(path);
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

bool FileExists(const std::string& path) {
  if (GetFileAttributesW(FullPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD code = GetLastError();
  return code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND;
}

void* Load(const std::string& path, std::string* reason) {
  // A file that is not a library must not make Windows show a dialog box.
  DWORD old_mode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
  HMODULE module = LoadLibraryW(FullPath(path).c_str());
  const DWORD code = GetLastError();
  SetThreadErrorMode(old_mode, nullptr);
  if (module == nullptr) *reason = SystemMessage(code);
  return reinterpret_cast<void*>(module);
}

AnyFunction Find(void* handle, const char* name) {
  return reinterpret_cast<AnyFunction>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void Unload(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

#else

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 || errno != ENOENT;
}

void* Load(const std::string& path, std::string* reason) {
  // dlopen searches the library path for a name without a slash.
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    *reason = text != nullptr ? text : "dlopen failed";
  }
  return handle;
}

AnyFunction Find(void* handle, const char* name) { return reinterpret_cast<AnyFunction>(dlsym(handle, name)); }

void Unload(void* handle) { dlclose(handle); }

#endif

}  // namespace

std::optional<ModuleLibrary> ModuleLibrary::Open(const std::string& path, Error* error) {
  auto fail = [&](Failure failure, const std::string& text) -> std::optional<ModuleLibrary> {
    if (error != nullptr) *error = Error{failure, OneLine(path + ": " + text)};
    return std::nullopt;
  };

  if (!FileExists(path)) return fail(Failure::NO_FILE, "no such file");
  std::string reason;
  void* handle = Load(path, &reason);
  if (handle == nullptr) return fail(Failure::NOT_A_LIBRARY, "not a loadable library (" + reason + ")");
  ModuleLibrary library(path, handle);  // unloads again on every failure below

  const AnyFunction get_properties = Find(handle, "getModuleProperties");
  const AnyFunction make_module = Find(handle, "makeModule");
  if (get_properties == nullptr || make_module == nullptr) {
    std::string missing = get_properties == nullptr ? "getModuleProperties" : "";
    if (make_module == nullptr) missing += missing.empty() ? "makeModule" : " and makeModule";
    return fail(Failure::MISSING_EXPORT, "does not export " + missing);
  }
  library.m_get_properties = reinterpret_cast<QXGetModulePropertiesFunction>(get_properties);
  library.m_make_module = reinterpret_cast<QXMakeModuleFunction>(make_module);

  if (!library.GetModuleProperties(0, &library.m_properties)) {
    return fail(Failure::NO_MODULE, "getModuleProperties refuses module index 0");
  }
  if (library.m_properties.sdk_version != QX_SDK_VERSION) {
    return fail(Failure::WRONG_VERSION, "framework version " + std::to_string(library.m_properties.sdk_version) +
                                            ", expected " + std::to_string(QX_SDK_VERSION));
  }
  return std::optional<ModuleLibrary>(std::move(library));
}

ModuleLibrary::ModuleLibrary(ModuleLibrary&& other) noexcept
    : m_path(std::move(other.m_path)),
      m_handle(std::exchange(other.m_handle, nullptr)),
      m_get_properties(std::exchange(other.m_get_properties, nullptr)),
      m_make_module(std::exchange(other.m_make_module, nullptr)),
      m_properties(std::exchange(other.m_properties, QXModuleProperties{})) {}

ModuleLibrary& ModuleLibrary::operator=(ModuleLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    m_path = std::move(other.m_path);
    m_handle = std::exchange(other.m_handle, nullptr);
    m_get_properties = std::exchange(other.m_get_properties, nullptr);
    m_make_module = std::exchange(other.m_make_module, nullptr);
    m_properties = std::exchange(other.m_properties, QXModuleProperties{});
  }
  return *this;
}

ModuleLibrary::~ModuleLibrary() { Close(); }

void ModuleLibrary::Close() noexcept {
  if (m_handle != nullptr) Unload(m_handle);
  m_handle = nullptr;
}
