// Text put together in a buffer the caller owns, without allocating, as a
// signal handler may: what does not fit is left out, and the text always ends
// with a 0.
#ifndef COMMON_FIXEDTEXT_H
#define COMMON_FIXEDTEXT_H

#include <cstddef>
#include <cstdint>

class FixedText {
 public:
  FixedText(char* buffer, size_t size);
  FixedText& operator<<(const char* text);
  FixedText& operator<<(long long number);  // in decimal
  FixedText& Hex(uintptr_t number);         // 0x and hexadecimal digits
  const char* c_str() const { return m_text; }
  size_t size() const { return m_used; }

 private:
  char* m_text;
  size_t m_size;
  size_t m_used = 0;
};

#endif  // COMMON_FIXEDTEXT_H
