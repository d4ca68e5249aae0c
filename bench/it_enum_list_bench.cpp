// Walking a list of 10,000 items and searching it for its last value, in
// each form, beside a plain loop over the same text that produces the same
// items (value and text), so that the iterator's own cost shows as a ratio.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cwchar>
#include <string>

#include "it_enum_list.h"

namespace {

constexpr int32_t ITEMS = 10000;
constexpr int32_t LAST = ITEMS - 1;

const std::wstring& ItemList() {
  static const std::wstring list = [] {
    std::wstring s;
    for (int32_t i = 0; i < ITEMS; ++i) s += (i ? L",item" : L"item") + std::to_wstring(i);
    return s;
  }();
  return list;
}

const std::wstring RANGE_LIST = L"range 0," + std::to_wstring(LAST);

// The iterator, up to the item with value `stop` (none: to the end).
size_t Iterate(it_enum_list& list, int64_t stop) {
  size_t sum = 0;
  for (list.First(); !list.IsDone(); list.Next()) {
    const enum_entry& item = list.CurrentItem();
    sum += static_cast<size_t>(item.value) + item.text.size();
    if (item.value == stop) break;
  }
  return sum;
}

// Plain loops: cut at commas and copy each name; or count the range and
// write each number.
size_t CutAtCommas(const std::wstring& s, int64_t stop) {
  size_t sum = 0;
  std::wstring text;
  int32_t value = 0;
  for (size_t start = 0; start < s.size(); ++value) {
    size_t end = s.find(L',', start);
    if (end == std::wstring::npos) end = s.size();
    text.assign(s, start, end - start);
    sum += static_cast<size_t>(value) + text.size();
    if (value == stop) break;
    start = end + 1;
  }
  return sum;
}

size_t CountRange(int32_t lo, int32_t hi, int64_t stop) {
  size_t sum = 0;
  std::wstring text;
  wchar_t digits[16];
  for (int32_t value = lo; value <= hi; ++value) {
    std::swprintf(digits, sizeof digits / sizeof digits[0], L"%d", value);
    text = digits;
    sum += static_cast<size_t>(value) + text.size();
    if (value == stop) break;
  }
  return sum;
}

void ItemWalk(benchmark::State& state) {
  it_enum_list list(ItemList());
  for (auto _ : state) benchmark::DoNotOptimize(Iterate(list, -1));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void ItemWalkPlainLoop(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(CutAtCommas(ItemList(), -1));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void ItemFindLast(benchmark::State& state) {
  it_enum_list list(ItemList());
  for (auto _ : state) benchmark::DoNotOptimize(list.FindValue(LAST));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void ItemFindLastPlainLoop(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(CutAtCommas(ItemList(), LAST));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void RangeWalk(benchmark::State& state) {
  it_enum_list list(RANGE_LIST);
  for (auto _ : state) benchmark::DoNotOptimize(Iterate(list, -1));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void RangeWalkPlainLoop(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(CountRange(0, LAST, -1));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void RangeFindLast(benchmark::State& state) {
  it_enum_list list(RANGE_LIST);
  for (auto _ : state) benchmark::DoNotOptimize(list.FindValue(LAST));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}
void RangeFindLastPlainLoop(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(CountRange(0, LAST, LAST));
  state.SetItemsProcessed(state.iterations() * ITEMS);
}

BENCHMARK(ItemWalk);
BENCHMARK(ItemWalkPlainLoop);
BENCHMARK(ItemFindLast);
BENCHMARK(ItemFindLastPlainLoop);
BENCHMARK(RangeWalk);
BENCHMARK(RangeWalkPlainLoop);
BENCHMARK(RangeFindLast);
BENCHMARK(RangeFindLastPlainLoop);

}  // namespace
