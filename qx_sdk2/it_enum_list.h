// Walks an enumeration list written as one wide text and yields its items as
// (index, value, text). Two forms are understood:
//   item form   "a,b=5,c"      names cut at commas; "=N" sets a value, an item
//                              without one takes the previous value plus one
//   range form  "range lo,hi"  the integers lo..hi; the sixth character is
//                              skipped, the bounds are read as decimal numbers
// Usage: construct, First(), then IsDone() / CurrentItem() / Next().
//
// Choices at the edges:
// - A range text without a comma after the lower bound has a missing upper
//   bound, which reads as 0 like any other bound without digits.
// - A range ends after the item whose value is the upper bound, so an upper
//   bound of INT32_MAX ends too. Indices stop at INT32_MAX: a range of more
//   than 2^31 items yields its first 2^31.
// - The text "range" alone throws std::out_of_range (it has no bounds part);
//   a text of more than INT32_MAX characters throws std::length_error.
// - Before First() the iterator is done. CurrentItem() while done is a
//   contract failure; where checks are off it answers an entry with index -1,
//   value 0 and empty text.
#ifndef QX_SDK2_IT_ENUM_LIST_H
#define QX_SDK2_IT_ENUM_LIST_H

#include <cstdint>
#include <string>

struct enum_entry {
  int32_t index;  // 0-based position; -1 once past the last item
  int32_t value;
  std::wstring text;  // the name (item form) or the value in decimal (range form)
};

class it_enum_list {
 public:
  explicit it_enum_list(const std::wstring& p_list);

  void First();
  void Next();
  bool IsDone() const { return m_current.index == -1; }
  const enum_entry& CurrentItem() const;

  // Item count read from the text alone. A quick estimate: it counts one item
  // for an empty text and for a trailing comma, none for a leading comma, and
  // lo - hi + 1 for a range whose bounds are the wrong way round.
  int32_t Size() const;

  // Restart from the first item and stop on the first match (true) or when
  // done (false).
  bool FindIndex(int32_t p_index);
  bool FindValue(int32_t p_value);

  static bool IsValidValue(const std::wstring& p_list, int32_t p_value);
  // p_value if listed, else the first item's value, or 0 for a list without items.
  static int32_t ForceValidValue(const std::wstring& p_list, int32_t p_value);
  // The leading integer of p_text in p_radix as wcstol reads it, clamped to
  // the 32-bit signed range.
  static int32_t StringToInt(const std::wstring& p_text, int32_t p_radix);

 private:
  void Step();

  std::wstring m_list;
  enum_entry m_current;
  bool m_is_range;
  int32_t m_lo;  // range form: lower bound; item form: offset of the next item
  int32_t m_hi;  // range form: upper bound
};

#endif  // QX_SDK2_IT_ENUM_LIST_H
