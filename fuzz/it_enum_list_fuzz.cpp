// Builds enumeration-list iterators from arbitrary texts and checks what must
// hold for every text against a model of the list written here from scratch.
// Any violation aborts, which libFuzzer reports as a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "it_enum_list.h"

namespace {

constexpr int64_t TWO_TO_THE_32 = int64_t{1} << 32;
constexpr size_t MAX_RANGE_WALK = 300;  // longer ranges are checked on this prefix
constexpr size_t MAX_SEARCHES = 8;      // listed indices searched, spread over the list

void Require(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "it_enum_list property violated: %s\n", what);
    std::abort();
  }
}

// Bytes below 0x80 are characters as they are; most others stand for the
// pieces that mean something in a list text, so that they turn up often; the
// last few are characters beyond Latin-1.
std::wstring Decode(const uint8_t* data, size_t size) {
  static const wchar_t* const PIECES[16] = {
      L"range", L"range ", L"range-", L",",          L",",          L"=",           L" ",  L"-",
      L"0",     L"1",      L"9",      L"2147483647", L"2147483648", L"-2147483648", L"\t", L"99999999999"};
  std::wstring text;
  for (size_t i = 0; i < size; ++i) {
    const uint8_t b = data[i];
    if (b < 0x80) {
      text += static_cast<wchar_t>(b);
    } else if (b < 0xF0) {
      text += PIECES[b & 15];
    } else {
      text += static_cast<wchar_t>(0x3000 + b);
    }
  }
  return text;
}

int32_t Wrap32(int64_t n) {
  n %= TWO_TO_THE_32;
  if (n > INT32_MAX) n -= TWO_TO_THE_32;
  if (n < INT32_MIN) n += TWO_TO_THE_32;
  return static_cast<int32_t>(n);
}

// A decimal number as the C library reads one in the "C" locale: white
// space, a sign, digits up to the first other character; clamped to 32 bits.
int32_t ReadDecimal(const std::wstring& s, size_t pos) {
  auto space = [](wchar_t c) { return c == L' ' || (c >= L'\t' && c <= L'\r'); };
  while (pos < s.size() && space(s[pos])) ++pos;
  bool negative = false;
  if (pos < s.size() && (s[pos] == L'+' || s[pos] == L'-')) negative = s[pos++] == L'-';
  int64_t n = 0;
  for (; pos < s.size() && s[pos] >= L'0' && s[pos] <= L'9'; ++pos)
    n = std::min(n * 10 + (s[pos] - L'0'), TWO_TO_THE_32);
  return static_cast<int32_t>(std::clamp<int64_t>(negative ? -n : n, INT32_MIN, INT32_MAX));
}

struct Item {
  int32_t value;
  std::wstring text;
};

struct Model {
  std::vector<Item> items;  // item form: all of them; range form: a prefix
  int64_t count;            // how many the iteration yields
  int32_t size;             // what Size answers
};

Model ItemForm(const std::wstring& s) {
  Model m{{}, 0, 1};
  for (size_t i = 1; i < s.size(); ++i) m.size += s[i] == L',';
  int32_t value = -1;
  for (size_t start = 0; start < s.size();) {
    size_t end = s.find(L',', start);
    if (end == std::wstring::npos) end = s.size();
    std::wstring name = s.substr(start, end - start);
    value = Wrap32(int64_t{value} + 1);
    const size_t equals = name.find(L'=');  // only the first, and not in first position
    if (equals != std::wstring::npos && equals > 0) {
      value = ReadDecimal(name, equals + 1);
      name.resize(equals);
    }
    const size_t first = name.find_first_not_of(L' ');
    name = first == std::wstring::npos ? L"" : name.substr(first, name.find_last_not_of(L' ') + 1 - first);
    m.items.push_back({value, name});
    start = end + 1;
  }
  m.count = static_cast<int64_t>(m.items.size());
  // The documented ways in which Size differs from the items yielded.
  const int64_t differences = (s.empty() ? 1 : 0) + (!s.empty() && s.back() == L',' ? 1 : 0) -
                              (!s.empty() && s.front() == L',' ? 1 : 0);
  Require(m.count == m.size - differences, "item count and Size differ only at the documented edges");
  return m;
}

Model RangeForm(const std::wstring& s) {
  const std::wstring rest = s.substr(6);
  const size_t comma = rest.find(L',');
  const int32_t lo = ReadDecimal(rest, 0);
  const int32_t hi = comma == std::wstring::npos ? 0 : ReadDecimal(rest, comma + 1);
  const int64_t spread = Wrap32(int64_t{hi} - lo);
  Model m{{}, 0, Wrap32((spread < 0 ? -spread : spread) + 1)};
  m.count = lo > hi ? 0 : std::min<int64_t>(int64_t{hi} - lo + 1, int64_t{INT32_MAX} + 1);
  for (int64_t k = 0; k < std::min<int64_t>(m.count, MAX_RANGE_WALK); ++k) {
    const int32_t value = static_cast<int32_t>(lo + k);
    m.items.push_back({value, std::to_wstring(value)});
  }
  return m;
}

void RequireOn(const it_enum_list& list, size_t k, const Item& item, const char* what) {
  Require(!list.IsDone(), what);
  const enum_entry& e = list.CurrentItem();
  Require(e.index == static_cast<int32_t>(k) && e.value == item.value && e.text == item.text, what);
}

void Check(const std::wstring& text) {
  const bool is_range = text.compare(0, 5, L"range") == 0;
  try {
    it_enum_list probe(text);
  } catch (const std::out_of_range&) {
    Require(text == L"range", "only the text \"range\" is out of range");
    return;
  }
  Require(text != L"range", "the text \"range\" throws");

  const Model m = is_range ? RangeForm(text) : ItemForm(text);
  const size_t n = m.items.size();
  const bool complete = m.count == static_cast<int64_t>(n);
  it_enum_list list(text);
  Require(list.Size() == m.size, "Size follows its rule");

  // The walk: indices 0, 1, 2, ... and the model's items, then the end.
  list.First();
  for (size_t k = 0; k < n; ++k, list.Next())
    RequireOn(list, k, m.items[k], "walk yields the items in order");
  if (complete) {
    Require(list.IsDone(), "walk ends after the last item");
    list.Next();
    Require(list.IsDone(), "Next after the end stays done");
  }
  list.First();
  if (n > 0) RequireOn(list, 0, m.items[0], "First restarts");
  Require(n > 0 || list.IsDone(), "First on a list without items is done");

  // Searches on a spread of listed items, and where the whole list is known,
  // on indices and values it does not hold.
  std::vector<int64_t> indices;
  for (size_t j = 0; j < std::min(n, MAX_SEARCHES); ++j)
    indices.push_back(static_cast<int64_t>(j * n / std::min(n, MAX_SEARCHES)));
  if (n > 0) indices.push_back(static_cast<int64_t>(n) - 1);
  if (complete) indices.insert(indices.end(), {-1, static_cast<int64_t>(n), INT32_MIN, INT32_MAX});
  for (int64_t i : indices) {
    const bool found = list.FindIndex(static_cast<int32_t>(i));
    Require(found == (i >= 0 && i < static_cast<int64_t>(n)), "FindIndex finds the listed indices only");
    if (found)
      RequireOn(list, static_cast<size_t>(i), m.items[static_cast<size_t>(i)], "FindIndex stands on it");
    Require(found || list.IsDone(), "FindIndex that fails leaves the iterator done");
  }

  std::vector<int32_t> values;
  for (int64_t i : indices) {
    if (i >= 0 && i < static_cast<int64_t>(n)) values.push_back(m.items[static_cast<size_t>(i)].value);
  }
  if (complete) {
    values.insert(values.end(), {0, -1, 1, INT32_MIN, INT32_MAX});
    for (int64_t i : indices) {
      if (i >= 0 && i < static_cast<int64_t>(n)) {
        values.push_back(Wrap32(int64_t{m.items[static_cast<size_t>(i)].value} + 1));
        values.push_back(Wrap32(int64_t{m.items[static_cast<size_t>(i)].value} - 1));
      }
    }
  }
  for (int32_t v : values) {
    size_t first = 0;
    while (first < n && m.items[first].value != v) ++first;
    const bool listed = first < n;
    Require(list.FindValue(v) == listed, "FindValue is true exactly for listed values");
    if (listed) RequireOn(list, first, m.items[first], "FindValue stands on the first item with the value");
    Require(listed || list.IsDone(), "FindValue that fails leaves the iterator done");
    Require(it_enum_list::IsValidValue(text, v) == listed, "IsValidValue agrees with FindValue");
    const int32_t forced = it_enum_list::ForceValidValue(text, v);
    Require(forced == (listed  ? v
                       : n > 0 ? m.items[0].value
                               : 0),
            "ForceValidValue keeps a listed value, else takes the first item's, or 0 without items");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Check(Decode(data, size));
  return 0;
}
