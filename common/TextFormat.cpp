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

std::string TextFormat::Printable(const std::string& text, bool keep_lines) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](unsigned char byte) {
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned>(byte));
    out += escaped;
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      // The C1 controls in UTF-8 (U+0080 to U+009F; U+009B starts a terminal
      // sequence as ESC [ does).
      escape(byte);
      escape(static_cast<unsigned char>(next));
      ++i;
    } else if ((byte >= 0x20 && byte != 0x7F) || (keep_lines && (byte == '\n' || byte == '\t'))) {
      out += text[i];
    } else {
      escape(byte);
    }
  }
  return out;
}

bool TextFormat::SameFloat(float a, float b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  uint32_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}
