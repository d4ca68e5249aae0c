#include "TextFormat.h"

#include <algorithm>
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
  char text[64];
  int precision = 1;
  for (; precision <= 9; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  // Plain digits as people write them (10, 50, 0.00001), not "1e+01", for
  // every magnitude from 1e-7 to below 1e21; beyond, the exponent is clearer.
  const char* e = std::strchr(text, 'e');
  if (e == nullptr) return text;
  const int exponent = std::atoi(e + 1);
  if (exponent < -7 || exponent >= 21) return text;
  const int decimals = std::max(0, std::min(precision, 9) - 1 - exponent);
  std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value));
  return text;
}

std::string TextFormat::Quoted(const char* text, size_t bound) {
  if (text == nullptr) return "null";
  const size_t length = strnlen(text, bound);
  return "\"" + std::string(text, length) + (length == bound ? "...\"" : "\"");
}

namespace {

// The length of the well-formed UTF-8 sequence at `text[i]` (2 to 4), or 0.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto at = [&text](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
  const unsigned lead = at(i);
  const auto continues = [&at](size_t k) { return (at(k) & 0xC0u) == 0x80u; };
  size_t length = 0;
  unsigned low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return 0;
  }
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (!continues(i + k)) return 0;
  }
  return length;
}

}  // namespace

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
    if (byte >= 0x80) {
      const size_t length = Utf8Length(text, i);
      const auto next = length > 0 ? static_cast<unsigned char>(text[i + 1]) : 0u;
      if (length == 0 || (byte == 0xC2 && next <= 0x9F)) {
        // A byte of no character (a lone 0x9B starts a terminal sequence as
        // ESC [ does), or a C1 control in UTF-8 (U+0080 to U+009F).
        escape(byte);
        if (length == 2) escape(static_cast<unsigned char>(next));
        i += length == 2 ? 1 : 0;
      } else {
        out.append(text, i, length);
        i += length - 1;
      }
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
