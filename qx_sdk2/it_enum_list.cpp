#include "it_enum_list.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

#define QX_CONTRACT_FILE "..\\qx_sdk2\\it_enum_list"
#include "QXContract.h"

namespace {

// Values and indices wrap in 32-bit two's complement: the arithmetic is done
// unsigned and mapped back without relying on implementation-defined casts.
int32_t Wrap(uint32_t u) {
  return u <= static_cast<uint32_t>(INT32_MAX) ? static_cast<int32_t>(u)
                                               : static_cast<int32_t>(u - 0x80000000u) + INT32_MIN;
}

int32_t AddOne(int32_t v) { return Wrap(static_cast<uint32_t>(v) + 1u); }

// wcstol, clamped so that a long of 64 bits reads like one of 32.
int32_t ReadInt(const wchar_t* p_text, int32_t p_radix) {
  const long n = std::wcstol(p_text, nullptr, p_radix);
  return static_cast<int32_t>(std::min<long>(std::max<long>(n, INT32_MIN), INT32_MAX));
}

// Removes blanks (U+0020 only) at both ends.
void TrimBlanks(std::wstring& p_text) {
  const size_t first = p_text.find_first_not_of(L' ');
  if (first == std::wstring::npos) {
    p_text.clear();
    return;
  }
  const size_t end = p_text.find_last_not_of(L' ') + 1;
  if (first != 0 || end < p_text.size()) p_text = p_text.substr(first, end - first);
}

}  // namespace

it_enum_list::it_enum_list(const std::wstring& p_list)
    : m_list(p_list), m_current{-1, 0, std::wstring()}, m_is_range(false), m_lo(0), m_hi(0) {
  // Scan positions are kept in 32 bits.
  if (m_list.size() > static_cast<size_t>(INT32_MAX))
    throw std::length_error("it_enum_list: list text too long");
  if (m_list.compare(0, 5, L"range") != 0) return;

  m_is_range = true;
  const std::wstring rest = m_list.substr(6);  // "range" alone throws std::out_of_range
  m_lo = ReadInt(rest.c_str(), 10);
  const size_t comma = rest.find(L',');
  m_hi = comma == std::wstring::npos ? 0 : ReadInt(rest.c_str() + comma + 1, 10);
}

void it_enum_list::First() {
  if (m_is_range) {
    m_current.value = Wrap(static_cast<uint32_t>(m_lo) - 1u);
  } else {
    m_lo = 0;
    m_current.value = -1;
  }
  m_current.index = -1;
  Step();
}

void it_enum_list::Next() {
  if (!IsDone()) Step();
}

// Moves from the current item (or from the start set up by First) to the next.
void it_enum_list::Step() {
  if (m_current.index == INT32_MAX) {
    m_current.index = -1;
    return;
  }
  if (m_is_range) {
    // Ending on the upper bound itself, rather than on passing it, also ends
    // a range whose upper bound is INT32_MAX.
    if (m_current.index != -1 && m_current.value == m_hi) {
      m_current.index = -1;
      return;
    }
    m_current.index += 1;
    m_current.value = AddOne(m_current.value);
    if (m_current.value > m_hi) {
      m_current.index = -1;
      return;
    }
    wchar_t digits[16];
    std::swprintf(digits, sizeof digits / sizeof digits[0], L"%d", m_current.value);
    m_current.text = digits;
    return;
  }

  m_current.index += 1;
  m_current.value = AddOne(m_current.value);
  const size_t start = static_cast<size_t>(m_lo);
  if (start >= m_list.size()) {
    m_current.index = -1;
    return;
  }
  size_t comma = m_list.find(L',', start);
  if (comma == std::wstring::npos) comma = m_list.size();
  m_current.text.assign(m_list, start, comma - start);

  const size_t equals = m_current.text.find(L'=');
  if (equals != std::wstring::npos && equals > 0) {
    m_current.value = ReadInt(m_current.text.c_str() + equals + 1, 10);
    m_current.text.resize(equals);
  }
  m_lo = static_cast<int32_t>(comma + 1);
  TrimBlanks(m_current.text);
}

const enum_entry& it_enum_list::CurrentItem() const {
  // What a refused call reads: no item.
  static const enum_entry NO_ITEM{-1, 0, std::wstring()};
  if (!QX_CHECK(!IsDone())) return NO_ITEM;
  return m_current;
}

int32_t it_enum_list::Size() const {
  if (m_is_range) {
    uint32_t span = static_cast<uint32_t>(m_hi) - static_cast<uint32_t>(m_lo);
    if (span > static_cast<uint32_t>(INT32_MAX)) span = 0u - span;  // absolute value, 32-bit
    return Wrap(span + 1u);
  }
  if (m_list.empty()) return 1;
  return 1 + static_cast<int32_t>(std::count(m_list.begin() + 1, m_list.end(), L','));
}

bool it_enum_list::FindIndex(int32_t p_index) {
  for (First(); !IsDone(); Next()) {
    if (m_current.index == p_index) return true;
  }
  return false;
}

bool it_enum_list::FindValue(int32_t p_value) {
  for (First(); !IsDone(); Next()) {
    if (m_current.value == p_value) return true;
  }
  return false;
}

bool it_enum_list::IsValidValue(const std::wstring& p_list, int32_t p_value) {
  it_enum_list list(p_list);
  return list.FindValue(p_value);
}

int32_t it_enum_list::ForceValidValue(const std::wstring& p_list, int32_t p_value) {
  it_enum_list list(p_list);
  if (list.FindValue(p_value)) return p_value;
  list.First();
  return list.IsDone() ? 0 : list.m_current.value;
}

int32_t it_enum_list::StringToInt(const std::wstring& p_text, int32_t p_radix) {
  return ReadInt(p_text.c_str(), p_radix);
}
