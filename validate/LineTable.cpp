#include "LineTable.h"

#include "DwarfCursor.h"

namespace {

// The forms a line table's header gives its entries' fields in (DW_FORM_*),
// and the two fields read (DW_LNCT_*).
enum Form : uint32_t {
  FORM_DATA2 = 0x05,
  FORM_DATA4 = 0x06,
  FORM_DATA8 = 0x07,
  FORM_STRING = 0x08,
  FORM_BLOCK = 0x09,
  FORM_DATA1 = 0x0b,
  FORM_STRP = 0x0e,
  FORM_UDATA = 0x0f,
  FORM_DATA16 = 0x1e,
  FORM_LINE_STRP = 0x1f,
};
constexpr uint32_t CONTENT_PATH = 1;
constexpr uint32_t CONTENT_DIRECTORY = 2;

// One line program's header: what its rows and its names need.
struct Unit {
  uint32_t version = 0;
  bool wide = false;  // 64-bit DWARF: offsets of 8 bytes
  uint32_t min_length = 1;
  int32_t line_base = 0;
  uint32_t line_range = 1;
  uint32_t opcode_base = 1;
  size_t opcode_lengths = 0;  // where the standard opcodes' argument counts are
  size_t names = 0;           // where the directories and files are
  size_t program = 0;         // the first opcode
  size_t end = 0;
};

// A name in place: its bytes run to a 0 or, at most, `room` bytes on.
struct Name {
  const unsigned char* text = nullptr;
  size_t room = 0;
};

bool ReadUnit(const unsigned char* bytes, size_t size, size_t at, Unit* unit) {
  DwarfCursor cursor{bytes, at, size};
  uint64_t length = cursor.Fixed(4);
  if (length == 0xffffffff) {
    unit->wide = true;
    length = cursor.Wide(8);
  } else if (length >= 0xfffffff0) {
    return false;
  }
  if (!cursor.ok || length > size - cursor.at) return false;
  unit->end = cursor.end = cursor.at + static_cast<size_t>(length);
  unit->version = cursor.Fixed(2);
  if (unit->version < 2 || unit->version > 5) return false;
  if (unit->version == 5) cursor.Skip(2);  // address size, segment selector size
  const uint64_t header_length = unit->wide ? cursor.Wide(8) : cursor.Fixed(4);
  if (!cursor.ok || header_length > cursor.end - cursor.at) return false;
  unit->program = cursor.at + static_cast<size_t>(header_length);
  unit->min_length = cursor.Byte();
  if (unit->version >= 4) cursor.Byte();  // operations per instruction
  cursor.Byte();                          // is_stmt at first
  const uint32_t line_base = cursor.Byte();
  unit->line_base =
      line_base < 0x80 ? static_cast<int32_t>(line_base) : static_cast<int32_t>(line_base) - 0x100;
  unit->line_range = cursor.Byte();
  unit->opcode_base = cursor.Byte();
  unit->opcode_lengths = cursor.at;
  cursor.Skip(unit->opcode_base - 1);
  unit->names = cursor.at;
  return cursor.ok && unit->line_range != 0 && unit->opcode_base != 0 && unit->names <= unit->program;
}

// Runs the unit's program up to the row that holds `target`: its file and line.
bool FindRow(const unsigned char* bytes, const Unit& unit, uint64_t target, uint32_t* file, long* line) {
  DwarfCursor cursor{bytes, unit.program, unit.end};
  uint64_t address = 0;
  uint32_t file_now = 1;
  long line_now = 1;
  bool started = false;  // a row of this sequence came before
  uint64_t row_address = 0;
  uint32_t row_file = 0;
  long row_line = 0;
  // A new row: the one before it holds the addresses up to this one's.
  const auto row = [&]() {
    if (started && row_address <= target && target < address) {
      *file = row_file;
      *line = row_line;
      return true;
    }
    started = true;
    row_address = address;
    row_file = file_now;
    row_line = line_now;
    return false;
  };
  while (cursor.More()) {
    const uint32_t op = cursor.Byte();
    if (op >= unit.opcode_base) {  // special: advance both, then a row
      const uint32_t adjusted = op - unit.opcode_base;
      address += uint64_t{adjusted / unit.line_range} * unit.min_length;
      line_now += unit.line_base + static_cast<long>(adjusted % unit.line_range);
      if (row()) return true;
      continue;
    }
    switch (op) {
      case 0: {  // extended
        const uint32_t length = cursor.Unsigned();
        if (!cursor.ok || length == 0 || length > cursor.end - cursor.at) return false;
        const size_t next = cursor.at + length;
        const uint32_t what = cursor.Byte();
        if (what == 1) {  // end_sequence: a row that ends the last
          if (row()) return true;
          started = false;
          address = 0;
          file_now = 1;
          line_now = 1;
        } else if (what == 2) {  // set_address
          if (length - 1 > 8) return false;
          address = cursor.Wide(static_cast<int>(length - 1));
        }
        cursor.at = next;
        break;
      }
      case 1:  // copy
        if (row()) return true;
        break;
      case 2:  // advance_pc
        address += uint64_t{cursor.Unsigned()} * unit.min_length;
        break;
      case 3:  // advance_line
        line_now += cursor.Signed();
        break;
      case 4:  // set_file
        file_now = cursor.Unsigned();
        break;
      case 8:  // const_add_pc
        address += uint64_t{(255 - unit.opcode_base) / unit.line_range} * unit.min_length;
        break;
      case 9:  // fixed_advance_pc
        address += cursor.Fixed(2);
        break;
      default:  // the others change nothing asked for: their arguments are passed over
        for (uint32_t count = bytes[unit.opcode_lengths + op - 1]; count > 0; --count) cursor.Unsigned();
        break;
    }
  }
  return false;
}

class Names {
 public:
  Names(const unsigned char* lines, const unsigned char* strings, size_t strings_size, const Unit& unit)
      : m_lines(lines), m_strings(strings), m_strings_size(strings_size), m_unit(unit) {}

  // File `index` of the unit (counted as its version counts them), and its
  // directory.
  bool File(uint32_t index, Name* file, Name* directory) const {
    DwarfCursor cursor{m_lines, m_unit.names, m_unit.program};
    if (m_unit.version >= 5) {
      // Directories, then files: each a list of formats and of entries.
      const size_t directories = cursor.at;
      if (!Entry(&cursor, ~uint64_t{0}, nullptr, nullptr)) return false;  // passed over
      uint64_t in = 0;
      DwarfCursor listed{m_lines, directories, m_unit.program};
      return Entry(&cursor, index, file, &in) && Entry(&listed, in, directory, nullptr);
    }
    // Up to version 4: directories from 1, then files from 1 (name, directory, time, size).
    const size_t directories = cursor.at;
    while (cursor.More() && cursor.bytes[cursor.at] != 0 && String(&cursor, nullptr)) {
    }
    cursor.Byte();
    for (uint32_t i = 1; cursor.More() && cursor.bytes[cursor.at] != 0; ++i) {
      Name name;
      if (!String(&cursor, &name)) return false;
      const uint32_t in = cursor.Unsigned();
      cursor.Unsigned();
      cursor.Unsigned();
      if (i != index) continue;
      *file = name;
      DwarfCursor listed{m_lines, directories, m_unit.program};
      for (uint32_t k = 1; k < in && listed.More() && listed.bytes[listed.at] != 0; ++k)
        String(&listed, nullptr);
      if (in != 0 && listed.More() && listed.bytes[listed.at] != 0) String(&listed, directory);
      return cursor.ok;
    }
    return false;
  }

 private:
  // A string in place at the cursor, passed over.
  static bool String(DwarfCursor* cursor, Name* name) {
    const size_t start = cursor->at;
    while (cursor->More() && cursor->bytes[cursor->at] != 0) ++cursor->at;
    if (!cursor->More()) return cursor->ok = false;
    if (name != nullptr) *name = Name{cursor->bytes + start, cursor->at - start};
    ++cursor->at;
    return true;
  }

  // One field of `form`; a path (`content`) into `name`, an index into `number`.
  bool Field(DwarfCursor* cursor, uint32_t form, Name* name, uint64_t* number) const {
    uint64_t value = 0;
    switch (form) {
      case FORM_STRING:
        return String(cursor, name);
      case FORM_LINE_STRP:
      case FORM_STRP: {
        const uint64_t offset = m_unit.wide ? cursor->Wide(8) : cursor->Fixed(4);
        // Names in .debug_str are not read: the name stays unknown.
        if (form == FORM_LINE_STRP && name != nullptr && m_strings != nullptr && offset < m_strings_size)
          *name = Name{m_strings + offset, m_strings_size - static_cast<size_t>(offset)};
        return cursor->ok;
      }
      case FORM_DATA1:
        value = cursor->Byte();
        break;
      case FORM_DATA2:
        value = cursor->Fixed(2);
        break;
      case FORM_DATA4:
        value = cursor->Fixed(4);
        break;
      case FORM_DATA8:
        value = cursor->Wide(8);
        break;
      case FORM_UDATA:
        value = cursor->Unsigned();
        break;
      case FORM_DATA16:
        cursor->Skip(16);
        break;
      case FORM_BLOCK:
        cursor->Skip(cursor->Unsigned());
        break;
      default:
        return false;
    }
    if (number != nullptr) *number = value;
    return cursor->ok;
  }

  // Entry `index` of the list at the cursor (formats, count, entries): its
  // path and directory index. With index ~0, the cursor passes the list.
  bool Entry(DwarfCursor* cursor, uint64_t index, Name* path, uint64_t* directory) const {
    const uint32_t formats = cursor->Byte();
    const size_t formats_at = cursor->at;
    for (uint32_t i = 0; i < 2 * formats; ++i) cursor->Unsigned();
    const uint32_t count = cursor->Unsigned();
    // Entries with no fields take no bytes: nothing to read, nor to count through.
    if (formats == 0) return cursor->ok && (index == ~uint64_t{0} || index < count);
    for (uint32_t entry = 0; entry < count && cursor->ok; ++entry) {
      DwarfCursor format{m_lines, formats_at, cursor->at};
      for (uint32_t i = 0; i < formats; ++i) {
        const uint32_t content = format.Unsigned();
        const uint32_t form = format.Unsigned();
        const bool wanted = entry == index;
        if (!Field(cursor, form, wanted && content == CONTENT_PATH ? path : nullptr,
                   wanted && content == CONTENT_DIRECTORY ? directory : nullptr))
          return false;
      }
      if (entry == index) return true;
    }
    return cursor->ok && index == ~uint64_t{0};
  }

  const unsigned char* m_lines;
  const unsigned char* m_strings;
  size_t m_strings_size;
  const Unit& m_unit;
};

// Appends `name` (to its 0 or its room) to `out`, keeping room for the 0.
void Append(char* out, size_t size, size_t* used, const Name& name) {
  for (size_t i = 0; i < name.room && name.text[i] != 0 && *used + 1 < size; ++i)
    out[(*used)++] = static_cast<char>(name.text[i]);
  out[*used] = '\0';
}

bool Absolute(const Name& name) {
  return name.room > 0 &&
         (name.text[0] == '/' || name.text[0] == '\\' || (name.room > 1 && name.text[1] == ':'));
}

}  // namespace

bool LineTable::Find(uint64_t address, char* source, size_t size, long* line) const {
  if (size == 0) return false;
  for (size_t at = 0; at < m_lines_size;) {
    Unit unit;
    if (!ReadUnit(m_lines, m_lines_size, at, &unit)) return false;
    at = unit.end;
    uint32_t file = 0;
    if (!FindRow(m_lines, unit, address, &file, line)) continue;
    Name name;
    Name directory;
    if (!Names(m_lines, m_strings, m_strings_size, unit).File(file, &name, &directory) ||
        name.text == nullptr)
      return false;
    size_t used = 0;
    source[0] = '\0';
    if (!Absolute(name) && directory.text != nullptr && directory.room > 0 && directory.text[0] != 0) {
      Append(source, size, &used, directory);
      Append(source, size, &used, Name{reinterpret_cast<const unsigned char*>("/"), 1});
    }
    Append(source, size, &used, name);
    return true;
  }
  return false;
}
