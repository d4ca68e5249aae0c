// The enumeration-list iterator: what each list text yields and counts, the
// searches and class-level checks, number reading, and the refused calls.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "DeathRegex.h"
#include "ParamName.h"
#include "QXContract.h"
#include "it_enum_list.h"

namespace {

struct Item {
  int32_t value;
  std::wstring text;
  bool operator==(const Item& o) const { return value == o.value && text == o.text; }
};
void PrintTo(const Item& item, std::ostream* os) {
  *os << item.value << " \"" << std::string(item.text.begin(), item.text.end()) << '"';
}

struct WalkCase {
  const char* name;
  std::wstring list;
  std::vector<Item> items;  // in order; item k has index k
  int32_t size;
};

// Walks from First to the end, checking the indices on the way.
std::vector<Item> Walk(it_enum_list& list) {
  std::vector<Item> items;
  for (list.First(); !list.IsDone() && items.size() < 100; list.Next()) {
    EXPECT_EQ(list.CurrentItem().index, static_cast<int32_t>(items.size()));
    items.push_back({list.CurrentItem().value, list.CurrentItem().text});
  }
  return items;
}

class Walking : public ::testing::TestWithParam<WalkCase> {};

TEST_P(Walking, YieldsItemsCountsAndFindsThem) {
  const WalkCase& c = GetParam();
  it_enum_list list(c.list);
  EXPECT_EQ(Walk(list), c.items);
  EXPECT_EQ(list.Size(), c.size);
  list.Next();
  EXPECT_TRUE(list.IsDone()) << "Next after the end stays done";
  EXPECT_EQ(Walk(list), c.items) << "First restarts";

  const int32_t n = static_cast<int32_t>(c.items.size());
  for (int32_t i = 0; i < n; ++i) {
    ASSERT_TRUE(list.FindIndex(i));
    EXPECT_EQ(list.CurrentItem().value, c.items[static_cast<size_t>(i)].value);
    size_t first = 0;
    while (c.items[first].value != c.items[static_cast<size_t>(i)].value) ++first;
    ASSERT_TRUE(list.FindValue(c.items[first].value));
    EXPECT_EQ(list.CurrentItem().index, static_cast<int32_t>(first)) << "the first of equal values";
  }
  for (int32_t i : {-1, n, n + 1}) {
    EXPECT_FALSE(list.FindIndex(i)) << i;
    EXPECT_TRUE(list.IsDone());
  }
}

INSTANTIATE_TEST_SUITE_P(
    ItemForm, Walking,
    ::testing::Values(
        WalkCase{"Plain", L"a,b,c", {{0, L"a"}, {1, L"b"}, {2, L"c"}}, 3},
        WalkCase{"ValueContinues", L"a,b=5,c", {{0, L"a"}, {5, L"b"}, {6, L"c"}}, 3},
        WalkCase{"Negative", L"a=-3,b", {{-3, L"a"}, {-2, L"b"}}, 2},
        WalkCase{"Falling", L"a=5,b=2,c", {{5, L"a"}, {2, L"b"}, {3, L"c"}}, 3},
        WalkCase{"Repeated", L"a=1,b=1,c=0,d", {{1, L"a"}, {1, L"b"}, {0, L"c"}, {1, L"d"}}, 4},
        WalkCase{"Empty", L"", {}, 1}, WalkCase{"CommaLast", L"a,b,", {{0, L"a"}, {1, L"b"}}, 3},
        WalkCase{"CommaThenBlank", L"a,b, ", {{0, L"a"}, {1, L"b"}, {2, L""}}, 3},
        WalkCase{"EmptyItem", L"a,,b", {{0, L"a"}, {1, L""}, {2, L"b"}}, 3},
        WalkCase{"CommaFirst", L",a", {{0, L""}, {1, L"a"}}, 1}, WalkCase{"CommaOnly", L",", {{0, L""}}, 1},
        WalkCase{"EmptyValuePart", L"a=, b", {{0, L"a"}, {1, L"b"}}, 2},
        WalkCase{"EqualsFirstIsText", L"=5,b", {{0, L"=5"}, {1, L"b"}}, 2},
        WalkCase{"FirstEqualsFirstNoSplit", L"=a=5,b", {{0, L"=a=5"}, {1, L"b"}}, 2},
        WalkCase{"EqualsAfterBlank", L" =7,b", {{7, L""}, {8, L"b"}}, 2},
        WalkCase{"BlanksAroundEquals", L"a = 5,b", {{5, L"a"}, {6, L"b"}}, 2},
        WalkCase{"BlanksTrimmedOnly",
                 L"  two  words  ,\ta\t,b",
                 {{0, L"two  words"}, {1, L"\ta\t"}, {2, L"b"}},
                 3},
        WalkCase{"SecondEqualsStopsReading", L"a=1=2", {{1, L"a"}}, 1},
        WalkCase{"NoDigits", L"a=x", {{0, L"a"}}, 1},
        WalkCase{"ValueClampedThenWraps", L"a=99999999999,b", {{INT32_MAX, L"a"}, {INT32_MIN, L"b"}}, 2},
        WalkCase{"ValueClampedLow", L"a=-99999999999", {{INT32_MIN, L"a"}}, 1},
        WalkCase{"CapitalRange", L"Range 0,5", {{0, L"Range 0"}, {1, L"5"}}, 2},
        WalkCase{"ShortOfRange", L"rang", {{0, L"rang"}}, 1}),
    ParamName());

INSTANTIATE_TEST_SUITE_P(
    RangeForm, Walking,
    ::testing::Values(
        WalkCase{"Plain", L"range 0,3", {{0, L"0"}, {1, L"1"}, {2, L"2"}, {3, L"3"}}, 4},
        WalkCase{"Negative", L"range -2, 1", {{-2, L"-2"}, {-1, L"-1"}, {0, L"0"}, {1, L"1"}}, 4},
        WalkCase{"OneItem", L"range 5,5", {{5, L"5"}}, 1}, WalkCase{"Reversed", L"range 5,1", {}, 5},
        WalkCase{"SixthCharSkipped", L"range-5,5", {{5, L"5"}}, 1},
        WalkCase{"NoDigitsReadZero", L"ranged,x", {{0, L"0"}}, 1},
        WalkCase{"SignedBounds", L"range +1,+2", {{1, L"1"}, {2, L"2"}}, 2},
        WalkCase{"LowestBound",
                 L"range -2147483648,-2147483647",
                 {{INT32_MIN, L"-2147483648"}, {INT32_MIN + 1, L"-2147483647"}},
                 2},
        WalkCase{"LowClamped", L"range -99999999999,-2147483648", {{INT32_MIN, L"-2147483648"}}, 1},
        WalkCase{"HighestBoundEnds",
                 L"range 2147483646,2147483647",
                 {{INT32_MAX - 1, L"2147483646"}, {INT32_MAX, L"2147483647"}},
                 2},
        WalkCase{"HighClampedEnds", L"range 2147483647,99999999999", {{INT32_MAX, L"2147483647"}}, 1},
        WalkCase{"SizeWraps", L"range 99999999999,x", {}, INT32_MIN},
        // without a comma the upper bound is missing and reads 0
        WalkCase{"NoCommaBelowZero", L"range -2", {{-2, L"-2"}, {-1, L"-1"}, {0, L"0"}}, 3},
        WalkCase{"NoCommaAboveZero", L"range 5", {}, 6}, WalkCase{"NoCommaSixthSkipped", L"range-3", {}, 4},
        WalkCase{"NothingAfterSixth", L"range ", {{0, L"0"}}, 1}),
    ParamName());

// Ranges too long to walk still count by the 32-bit rule |hi - lo| + 1.
TEST(it_enum_list, SizeOfWholeRangesWraps) {
  EXPECT_EQ(it_enum_list(L"range -2147483648,2147483647").Size(), 2);
  EXPECT_EQ(it_enum_list(L"range 2147483647,-2147483648").Size(), 2);
  EXPECT_EQ(it_enum_list(L"range 0,2147483647").Size(), INT32_MIN);
  EXPECT_EQ(it_enum_list(L"range -2147483647,0").Size(), INT32_MIN);
}

struct ValidCase {
  const char* name;
  std::wstring list;
  int32_t value;
  bool valid;
  int32_t forced;
};

class Validity : public ::testing::TestWithParam<ValidCase> {};

TEST_P(Validity, ListedValueKeptOtherwiseFirstOrZero) {
  const ValidCase& c = GetParam();
  EXPECT_EQ(it_enum_list::IsValidValue(c.list, c.value), c.valid);
  EXPECT_EQ(it_enum_list::ForceValidValue(c.list, c.value), c.forced);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Validity,
    ::testing::Values(
        ValidCase{"EmptyZero", L"", 0, false, 0}, ValidCase{"EmptyOne", L"", 1, false, 0},
        ValidCase{"Listed", L"a,b=5,c", 5, true, 5}, ValidCase{"Unlisted", L"a,b=5,c", 7, false, 0},
        ValidCase{"UnlistedFirstNotZero", L"a=4,b", 0, false, 4},
        ValidCase{"Following", L"a=-3,b", -2, true, -2}, ValidCase{"RangeBelow", L"range 3,9", 1, false, 3},
        ValidCase{"RangeTop", L"range 3,9", 9, true, 9}, ValidCase{"RangeAbove", L"range 3,9", 10, false, 3},
        ValidCase{"RangeReversed", L"range 5,1", 3, false, 0},
        ValidCase{"RangeHighestBound", L"range 2147483645,2147483647", INT32_MIN, false, 2147483645}),
    ParamName());

struct NumberCase {
  const char* name;
  std::wstring text;
  int32_t radix;
  int32_t value;
};

class Numbers : public ::testing::TestWithParam<NumberCase> {};

TEST_P(Numbers, ReadLeadingIntegerClamped) {
  const NumberCase& c = GetParam();
  EXPECT_EQ(it_enum_list::StringToInt(c.text, c.radix), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Numbers,
    ::testing::Values(NumberCase{"Decimal", L"42", 10, 42},
                      NumberCase{"SpacesSignTail", L" \t-17xyz", 10, -17},
                      NumberCase{"NoDigits", L"z", 10, 0}, NumberCase{"Empty", L"", 10, 0},
                      NumberCase{"HexDigitsInDecimal", L"12ab", 10, 12}, NumberCase{"Hex", L"ff", 16, 255},
                      NumberCase{"HexPrefix", L"0x1F", 16, 31}, NumberCase{"HexTwelve", L"12", 16, 18},
                      NumberCase{"Max", L"2147483647", 10, INT32_MAX},
                      NumberCase{"Min", L"-2147483648", 10, INT32_MIN},
                      NumberCase{"AboveMax", L"2147483648", 10, INT32_MAX},
                      NumberCase{"BelowMin", L"-2147483649", 10, INT32_MIN},
                      NumberCase{"HexAboveMax", L"80000000", 16, INT32_MAX},
                      NumberCase{"HexBelowMin", L"-FFFFFFFFFFFFFFFFFF", 16, INT32_MIN}),
    ParamName());

TEST(it_enum_list, RangeWithNothingAfterItThrows) {
  EXPECT_THROW(it_enum_list(L"range"), std::out_of_range);
  EXPECT_THROW(it_enum_list::IsValidValue(L"range", 0), std::out_of_range);
  EXPECT_NO_THROW(it_enum_list(L"range "));
  EXPECT_NO_THROW(it_enum_list(L"rang"));
}

TEST(it_enum_list, UnstartedIsDoneAndNextKeepsItSo) {
  it_enum_list list(L"a,b");
  EXPECT_TRUE(list.IsDone());
  list.Next();
  EXPECT_TRUE(list.IsDone());
}

#if QX_CONTRACT_CHECKS
TEST(it_enum_listDeathTest, CurrentItemWhenDoneStops) {
  it_enum_list list(L"a");
  EXPECT_DEATH(list.CurrentItem(),
               "Assertion failed: !IsDone\\(\\), file \\.\\.\\\\qx_sdk2\\\\it_enum_list, line " QX_DIGITS_RE);
  list.First();
  list.Next();
  EXPECT_DEATH(list.CurrentItem(), "!IsDone");
}
#else
TEST(it_enum_list, CurrentItemWhenDoneIsRefused) {
  it_enum_list list(L"range 7,7");
  for (int step = 0; step < 2; ++step) {
    const enum_entry& item = list.CurrentItem();
    EXPECT_EQ(item.index, -1);
    EXPECT_EQ(item.value, 0);
    EXPECT_EQ(item.text, L"");
    list.First();
    list.Next();  // past the only item, whose value and text are 7 and "7"
  }
}
#endif

}  // namespace
