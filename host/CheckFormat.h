// Texts for the checks' messages: numbers as the author will want to read them.
#ifndef HOST_CHECKFORMAT_H
#define HOST_CHECKFORMAT_H

#include <cstdint>
#include <string>

class CheckFormat {
 public:
  static std::string Hex(uint32_t word);          // "0x5158504C"
  static std::string Pointer(const void* p);      // "0x7f..." or "null"
  static std::string Float(float value);          // shortest text that reads back, "nan", "inf"
  static std::string Quoted(const char* text, size_t bound);  // "\"text\"" cut at bound, or "null"
  // Same bits, or both NaN.
  static bool SameFloat(float a, float b);
};

#endif  // HOST_CHECKFORMAT_H
