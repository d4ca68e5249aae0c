// Windows' wide-character functions take UTF-16; this project keeps paths and
// texts as UTF-8. The one conversion between them, so that a path with
// characters beyond ASCII reaches the system unchanged.
#ifndef COMMON_WIDETEXT_H
#define COMMON_WIDETEXT_H

#ifdef _WIN32
#include <string>

class WideText {
 public:
  static std::wstring FromUtf8(const std::string& text);
  static std::string ToUtf8(const wchar_t* text, size_t length);
};
#endif

#endif  // COMMON_WIDETEXT_H
