#include "ReportChannel.h"

#include <cerrno>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

bool ReportChannel::Open(const std::string& number) {
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  m_number = std::strtoull(number.c_str(), nullptr, 10);
  m_open = true;
  return true;
}

void ReportChannel::Write(const char* text, size_t length) const {
  if (!m_open) return;
  while (length > 0) {
#ifdef _WIN32
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(m_number)), text,
                   static_cast<DWORD>(length), &written, nullptr) ||
        written == 0)
      return;
#else
    const ssize_t written = write(static_cast<int>(m_number), text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
#endif
    text += written;
    length -= static_cast<size_t>(written);
  }
}
