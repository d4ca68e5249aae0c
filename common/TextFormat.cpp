#include "TextFormat.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

std::string TextFormat::Hex(uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(word));
  return text;
}

std::string TextFormat::Pointer(const void* p) {
  if (p == nullptr) return "null";
  char text[32];
  std::snprintf(text, sizeof text, "%p", p);
  return text;
}

std::string TextFormat::Float(float value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[32];
  for (int precision = 1; precision <= 9; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  return text;
}

std::string TextFormat::Quoted(const char* text, size_t bound) {
  if (text == nullptr) return "null";
  const size_t length = strnlen(text, bound);
  return "\"" + std::string(text, length) + (length == bound ? "...\"" : "\"");
}

bool TextFormat::SameFloat(float a, float b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  uint32_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}
