// The source file and line of an address, from a file's DWARF line table
// (.debug_line, versions 2 to 5), read in place without allocating: the
// Windows crash filter names a frame's line with it, where no library that
// reads DWARF is built for Windows (on Linux, GCC's libbacktrace does).
// Every read stays within the bytes given; what it does not know ends the
// search.
#ifndef VALIDATE_LINETABLE_H
#define VALIDATE_LINETABLE_H

#include <cstddef>
#include <cstdint>

class LineTable {
 public:
  // `lines`: the .debug_line section's bytes; `strings`: .debug_line_str's,
  // where DWARF 5 keeps the names (null and 0 where there is none).
  LineTable(const unsigned char* lines, size_t lines_size, const unsigned char* strings, size_t strings_size)
      : m_lines(lines), m_lines_size(lines_size), m_strings(strings), m_strings_size(strings_size) {}
  // The row whose code holds `address` (as the table has it: in a PE file,
  // the image's preferred base plus the address's offset from the base):
  // "DIRECTORY/FILE" into `source` (ended by 0, cut to fit), and its line.
  // False where no row holds it.
  bool Find(uint64_t address, char* source, size_t size, long* line) const;

 private:
  const unsigned char* m_lines;
  size_t m_lines_size;
  const unsigned char* m_strings;
  size_t m_strings_size;
};

#endif  // VALIDATE_LINETABLE_H
