// A frame's source file and line on Windows, against line tables written here
// as GCC writes them: a DWARF 5 unit (names in .debug_line_str and in place)
// followed by a DWARF 4 unit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "LineTable.h"

namespace {

const unsigned char STANDARD_LENGTHS[] = {0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1};

struct LineBytes {
  std::vector<unsigned char> bytes;
  void Put(std::initializer_list<unsigned char> some) { bytes.insert(bytes.end(), some); }
  void Text(const char* text) {
    bytes.insert(bytes.end(), text, text + std::char_traits<char>::length(text) + 1);
  }
  size_t Mark() {  // a 4-byte length, set by End
    bytes.insert(bytes.end(), 4, 0);
    return bytes.size() - 4;
  }
  void End(size_t mark) {  // the length at `mark` covers up to here
    const auto length = static_cast<uint32_t>(bytes.size() - mark - 4);
    for (int i = 0; i < 4; ++i)
      bytes[mark + static_cast<size_t>(i)] = static_cast<unsigned char>(length >> (8 * i));
  }
  // A unit's start after its length: `version` (from 5, with its sizes), then
  // the fields GCC writes (line base -5, line range 14, 13 opcodes). The
  // header's length is at the mark returned, set by End.
  size_t Header(std::initializer_list<unsigned char> version) {
    Put(version);
    const size_t header = Mark();
    Put({1, 1, 1, 0xfb, 14, 13});
    bytes.insert(bytes.end(), std::begin(STANDARD_LENGTHS), std::end(STANDARD_LENGTHS));
    return header;
  }
};

// .debug_line and its .debug_line_str ("/src", "lib"), and where the first unit ends.
struct LineTables {
  LineBytes lines;
  LineBytes strings;
  size_t first_end = 0;
};

LineTables GccLineTables() {
  LineTables t;
  t.strings.Text("/src");
  t.strings.Text("lib");
  LineBytes& b = t.lines;
  // DWARF 5: directories "/src" and "lib" by offset into .debug_line_str;
  // files 0 and 1 "main.c" in /src, 2 "util.h" in lib, their names in place.
  const size_t unit = b.Mark();
  const size_t header = b.Header({5, 0, 4, 0});
  b.Put({1, 1, 0x1f, 2, 0, 0, 0, 0, 5, 0, 0, 0});
  b.Put({2, 1, 0x08, 2, 0x0b, 3});
  b.Text("main.c");
  b.Put({0});
  b.Text("main.c");
  b.Put({0});
  b.Text("util.h");
  b.Put({1});
  b.End(header);
  b.Put({0,  5, 2, 0x00, 0x10, 0x40, 0x00,  // 0x401000
         3,  9, 1,                          // line 10: a row
         75,                                // +4, line 11: a row
         4,  2, 2, 8,    3,    0x7a, 1,     // file 2, 0x40100c, line 5: a row
         2,  4, 0, 1,    1});               // 0x401010: the end
  b.End(unit);
  t.first_end = b.bytes.size();
  // DWARF 4: directory 1 "/inc"; files 1 "a.c" (in the unit's own folder)
  // and 2 "b.h" in /inc.
  const size_t old_unit = b.Mark();
  const size_t old_header = b.Header({4, 0});
  b.Text("/inc");
  b.Put({0});
  b.Text("a.c");
  b.Put({0, 0, 0});
  b.Text("b.h");
  b.Put({1, 0, 0, 0});
  b.End(old_header);
  b.Put({0, 5, 2, 0x00, 0x20, 0x00, 0x00,  // 0x2000
         3, 2, 1,                          // line 3: a row
         4, 2, 46,                         // file 2, +2: a row
         2, 2, 0, 1, 1});                  // 0x2004: the end
  b.End(old_unit);
  return t;
}

std::string RowOf(const LineTable& table, uint64_t address) {
  char source[64];
  long line = 0;
  if (!table.Find(address, source, sizeof source, &line)) return "none";
  return std::string(source) + ":" + std::to_string(line);
}

TEST(LineTable, GivesTheFileAndLineOfEachRow) {
  const LineTables t = GccLineTables();
  const LineTable table(t.lines.bytes.data(), t.lines.bytes.size(), t.strings.bytes.data(),
                        t.strings.bytes.size());
  EXPECT_EQ(RowOf(table, 0x401000), "/src/main.c:10");
  EXPECT_EQ(RowOf(table, 0x401003), "/src/main.c:10");
  EXPECT_EQ(RowOf(table, 0x401004), "/src/main.c:11");
  EXPECT_EQ(RowOf(table, 0x40100b), "/src/main.c:11");
  EXPECT_EQ(RowOf(table, 0x40100c), "lib/util.h:5");
  EXPECT_EQ(RowOf(table, 0x401010), "none") << "the sequence's end";
  EXPECT_EQ(RowOf(table, 0x400fff), "none");
  EXPECT_EQ(RowOf(table, 0x2001), "a.c:3") << "DWARF 4, the unit's own folder unnamed";
  EXPECT_EQ(RowOf(table, 0x2003), "/inc/b.h:3");

  const LineTable unnamed(t.lines.bytes.data(), t.lines.bytes.size(), nullptr, 0);
  EXPECT_EQ(RowOf(unnamed, 0x401000), "main.c:10") << "a folder with its name elsewhere";

  char cut[8];
  long line = 0;
  ASSERT_TRUE(table.Find(0x401000, cut, sizeof cut, &line));
  EXPECT_STREQ(cut, "/src/ma");
}

TEST(LineTable, ATableCutAnywhereIsReadNoFurtherThanItGoes) {
  const LineTables t = GccLineTables();
  // Each copy is as long as the cut (the sanitizers watch it).
  for (size_t size = 0; size < t.lines.bytes.size(); ++size) {
    const std::vector<unsigned char> lines(t.lines.bytes.begin(),
                                           t.lines.bytes.begin() + static_cast<long>(size));
    const LineTable table(lines.data(), lines.size(), t.strings.bytes.data(), t.strings.bytes.size());
    EXPECT_EQ(RowOf(table, 0x40100c), size >= t.first_end ? "lib/util.h:5" : "none") << size;
  }
  for (size_t size = 0; size < t.strings.bytes.size(); ++size) {
    const std::vector<unsigned char> strings(t.strings.bytes.begin(),
                                             t.strings.bytes.begin() + static_cast<long>(size));
    const LineTable table(t.lines.bytes.data(), t.lines.bytes.size(), strings.data(), strings.size());
    const std::string source = RowOf(table, 0x40100c);
    EXPECT_EQ(source.substr(source.size() - 8), "util.h:5") << size;
  }
}

// Lists of four billion entries that take no bytes (no fields): a name is
// found in none of them, and the search does not count through them.
TEST(LineTable, ListsOfEntriesWithNoFieldsAreNotCountedThrough) {
  LineBytes b;
  const size_t unit = b.Mark();
  const size_t header = b.Header({5, 0, 4, 0});
  b.Put({0, 0xff, 0xff, 0xff, 0xff, 0x0f, 0, 0xff, 0xff, 0xff, 0xff, 0x0f});
  b.End(header);
  b.Put({0, 5, 2, 0x00, 0x10, 0x00, 0x00, 1, 2, 4, 0, 1, 1});
  b.End(unit);
  const LineTable table(b.bytes.data(), b.bytes.size(), nullptr, 0);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RowOf(table, 0x1000), "none");
  // Counting through them took 1.7 s in release (a crash filter has no such time).
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
}

}  // namespace
