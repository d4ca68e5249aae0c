// Numbers and texts as people read them, in the tool's output and the
// validator's messages: the same float always reads the same.
#ifndef COMMON_TEXTFORMAT_H
#define COMMON_TEXTFORMAT_H

#include <cstdint>
#include <string>

class TextFormat {
 public:
  static std::string Hex(uint32_t word);      // "0x5158504C"
  static std::string Pointer(const void* p);  // "0x7f..." or "null"
  // The shortest text that reads back, in plain digits ("10", "0.00001") from
  // 1e-7 to below 1e21 and with an exponent beyond; "nan", "inf".
  static std::string Float(float value);
  static std::string Quoted(const char* text, size_t bound);  // "\"text\"" cut at bound, or "null"
  // The text with every control character (C0, DEL, and C1 in UTF-8) and
  // every byte that is no part of a well-formed UTF-8 character written as
  // "\x1B", so that what a module or a path holds cannot steer the terminal
  // (a lone 0x9B is a sequence's start to some); line breaks are kept only
  // where `keep_lines` allows.
  static std::string Printable(const std::string& text, bool keep_lines = false);
  // Same bits, or both NaN.
  static bool SameFloat(float a, float b);
};

#endif  // COMMON_TEXTFORMAT_H
