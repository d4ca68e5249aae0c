#include "FixedText.h"

FixedText::FixedText(char* buffer, size_t size) : m_text(buffer), m_size(size) {
  if (m_size > 0) m_text[0] = '\0';
}

FixedText& FixedText::operator<<(const char* text) {
  while (*text != '\0' && m_used + 1 < m_size) m_text[m_used++] = *text++;
  if (m_size > 0) m_text[m_used] = '\0';
  return *this;
}

FixedText& FixedText::operator<<(long long number) {
  char digits[24];
  size_t at = sizeof digits;
  digits[--at] = '\0';
  unsigned long long magnitude =
      number < 0 ? 0ULL - static_cast<unsigned long long>(number) : static_cast<unsigned long long>(number);
  do {
    digits[--at] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (number < 0) digits[--at] = '-';
  return *this << digits + at;
}

FixedText& FixedText::Hex(uintptr_t number) {
  char digits[3 + 2 * sizeof number];
  size_t at = sizeof digits;
  digits[--at] = '\0';
  do {
    digits[--at] = "0123456789abcdef"[number % 16];
    number /= 16;
  } while (number != 0);
  digits[--at] = 'x';
  digits[--at] = '0';
  return *this << digits + at;
}
