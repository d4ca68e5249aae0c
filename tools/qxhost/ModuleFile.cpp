#include "ModuleFile.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>

// Bounds-checked reads of little- or big-endian numbers and texts at file
// offsets; every read answers false past the end instead of reading there.
class ModuleFile::Reader {
 public:
  Reader(const std::string& bytes, bool little) : m_bytes(bytes), m_little(little) {}
  uint64_t Size() const { return m_bytes.size(); }
  bool Has(uint64_t offset, uint64_t length) const {
    return offset <= m_bytes.size() && length <= m_bytes.size() - offset;
  }
  template <typename T>
  bool Get(uint64_t offset, T* value) const {
    if (!Has(offset, sizeof(T))) return false;
    uint64_t word = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
      const auto byte =
          static_cast<uint8_t>(m_bytes[static_cast<size_t>(offset) + (m_little ? sizeof(T) - 1 - i : i)]);
      word = (word << 8) | byte;
    }
    *value = static_cast<T>(word);
    return true;
  }
  // A text ending in a zero byte within `bound` bytes.
  bool Text(uint64_t offset, size_t bound, std::string* text) const {
    if (offset >= m_bytes.size()) return false;
    const size_t start = static_cast<size_t>(offset);
    const size_t end = m_bytes.find('\0', start);
    if (end == std::string::npos || end - start > bound) return false;
    *text = m_bytes.substr(start, end - start);
    return true;
  }
  std::string Slice(uint64_t offset, uint64_t length) const {
    return Has(offset, length) ? m_bytes.substr(static_cast<size_t>(offset), static_cast<size_t>(length))
                               : "";
  }

 private:
  const std::string& m_bytes;
  bool m_little;
};

namespace {

constexpr size_t MAX_NAME = 4096;           // longest export, import or section name read
constexpr uint32_t MAX_ENTRIES = 1u << 16;  // most exports, imports or sections read

struct PeSection {
  std::string name;
  uint32_t virtual_address, virtual_size, raw_size, raw_offset;
};

// The file offset of `length` bytes at a relative virtual address, if they
// lie in one section's data in the file.
bool RvaToOffset(const std::vector<PeSection>& sections, uint32_t rva, uint32_t length, uint64_t* offset) {
  for (const PeSection& s : sections) {
    const uint64_t start = s.virtual_address;
    const uint64_t in_file = s.raw_size;
    if (rva >= start && uint64_t{rva} + length <= start + in_file) {
      *offset = uint64_t{s.raw_offset} + (rva - start);
      return true;
    }
  }
  return false;
}

std::string PeMachine(uint16_t machine) {
  switch (machine) {
    case 0x14c:
      return "i386 (32-bit x86)";
    case 0x8664:
      return "x86-64";
    case 0x1c0:
    case 0x1c4:
      return "ARM";
    case 0xaa64:
      return "ARM64";
    default:
      return "unknown";
  }
}

std::string ElfMachine(uint16_t machine) {
  switch (machine) {
    case 3:
      return "i386 (32-bit x86)";
    case 62:
      return "x86-64";
    case 40:
      return "ARM";
    case 183:
      return "AArch64";
    case 243:
      return "RISC-V";
    default:
      return "unknown";
  }
}

// UTF-16LE code units to UTF-8 (unpaired surrogates become U+FFFD).
std::string Utf8(const std::vector<uint16_t>& units) {
  std::string out;
  for (size_t i = 0; i < units.size(); ++i) {
    uint32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

uint64_t Align4(uint64_t offset) { return (offset + 3) & ~uint64_t{3}; }

}  // namespace

uint32_t ModuleFile::Crc32(const std::string& bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (const char byte : bytes) crc = table[(crc ^ static_cast<uint8_t>(byte)) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

bool ModuleFile::ReadBytes(const std::string& path, std::string* bytes, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read it";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) {
    *error = "cannot read it (not a file)";
    return false;
  }
  if (static_cast<uint64_t>(size) > MAX_SIZE) {
    *error = "larger than 1 GiB: no module file";
    return false;
  }
  in.seekg(0, std::ios::beg);
  bytes->assign(static_cast<size_t>(size), '\0');
  if (size > 0 && !in.read(&(*bytes)[0], static_cast<std::streamsize>(size))) {
    *error = "cannot read it";
    return false;
  }
  return true;
}

bool ModuleFile::Parse(const std::string& bytes, ModuleFile* file, std::string* error) {
  *file = ModuleFile();
  if (bytes.size() >= 4 && bytes.compare(0, 4,
                                         "\x7f"
                                         "ELF") == 0) {
    const bool little = bytes.size() > 5 && bytes[5] != 2;
    return file->ParseElf(Reader(bytes, little), error);
  }
  const Reader in(bytes, true);
  uint32_t pe = 0;
  if (bytes.size() < 2 || bytes.compare(0, 2, "MZ") != 0) {
    *error = "neither a PE nor an ELF file (it starts with neither \"MZ\" nor \"\\x7fELF\")";
    return false;
  }
  if (!in.Get(0x3c, &pe) || !in.Has(pe, 4) || in.Slice(pe, 4) != std::string("PE\0\0", 4)) {
    *error = "an MZ file without a PE header (cut short, or a DOS program)";
    return false;
  }
  return file->ParsePe(in, pe, error);
}

bool ModuleFile::ParsePe(const Reader& in, uint32_t pe, std::string* error) {
  const uint64_t coff = uint64_t{pe} + 4;
  uint16_t section_count = 0, optional_size = 0, characteristics = 0, magic = 0;
  uint32_t symbols_at = 0, symbol_count = 0;
  if (!in.Get(coff, &machine) || !in.Get(coff + 2, &section_count) || !in.Get(coff + 8, &symbols_at) ||
      !in.Get(coff + 12, &symbol_count) || !in.Get(coff + 16, &optional_size) ||
      !in.Get(coff + 18, &characteristics)) {
    *error = "cut short in its PE header";
    return false;
  }
  machine_name = PeMachine(machine);
  library = (characteristics & 0x2000) != 0;  // IMAGE_FILE_DLL
  // A string table alone (for long section names) may sit where the symbols would.
  symbol_table = symbol_count != 0;
  const uint64_t optional = coff + 20;
  if (optional_size < 2 || !in.Has(optional, optional_size) || !in.Get(optional, &magic)) {
    *error = "cut short in its optional header";
    return false;
  }
  if (magic != 0x10b && magic != 0x20b) {
    *error = "its optional header is neither PE32 nor PE32+ (magic " + std::to_string(magic) + ")";
    return false;
  }
  format = magic == 0x10b ? Format::PE32 : Format::PE32_PLUS;
  const uint64_t directories = optional + (magic == 0x10b ? 96 : 112);
  uint32_t directory_count = 0;
  if (!in.Get(directories - 4, &directory_count)) directory_count = 0;
  // The directories the optional header holds, whatever count it claims.
  const uint64_t room =
      optional + optional_size > directories ? (optional + optional_size - directories) / 8 : 0;
  if (directory_count > room) directory_count = static_cast<uint32_t>(room);
  const auto directory = [&](uint32_t index, uint32_t* rva, uint32_t* size) {
    *rva = 0;
    *size = 0;
    if (index >= directory_count) return false;
    return in.Get(directories + uint64_t{8} * index, rva) &&
           in.Get(directories + uint64_t{8} * index + 4, size) && *rva != 0;
  };

  std::vector<PeSection> table;
  const uint64_t sections_at = optional + optional_size;
  if (!in.Has(sections_at, uint64_t{section_count} * 40)) {
    *error = "cut short in its section table";
    return false;
  }
  // Long section names ("/4") are offsets into the string table after the symbols.
  const uint64_t strings_at = uint64_t{symbols_at} + uint64_t{symbol_count} * 18;
  for (uint32_t i = 0; i < section_count; ++i) {
    const uint64_t at = sections_at + uint64_t{i} * 40;
    PeSection s{};
    std::string name = in.Slice(at, 8);
    name = name.substr(0, name.find('\0'));
    if (name.size() > 1 && name[0] == '/' && symbols_at != 0) {
      const std::string digits = name.substr(1);
      if (digits.find_first_not_of("0123456789") == std::string::npos && digits.size() < 9) {
        std::string long_name;
        if (in.Text(strings_at + std::stoul(digits), MAX_NAME, &long_name)) name = long_name;
      }
    }
    s.name = name;
    in.Get(at + 8, &s.virtual_size);
    in.Get(at + 12, &s.virtual_address);
    in.Get(at + 16, &s.raw_size);
    in.Get(at + 20, &s.raw_offset);
    if (s.raw_size != 0 && !in.Has(s.raw_offset, s.raw_size)) {
      *error = "section " + name + " lies beyond the end of the file (cut short)";
      return false;
    }
    // Only what the section holds in memory is its contents; the rest of the
    // file data is padding.
    if (s.virtual_size != 0 && s.virtual_size < s.raw_size) s.raw_size = s.virtual_size;
    sections.push_back(name);
    table.push_back(s);
  }
  const auto at_rva = [&](uint32_t rva, uint32_t length, uint64_t* offset) {
    return RvaToOffset(table, rva, length, offset);
  };

  uint32_t rva = 0, size = 0;
  if (directory(0, &rva, &size)) {
    uint64_t dir = 0;
    uint32_t functions = 0, names = 0, functions_rva = 0, names_rva = 0;
    if (!at_rva(rva, 40, &dir) || !in.Get(dir + 20, &functions) || !in.Get(dir + 24, &names) ||
        !in.Get(dir + 28, &functions_rva) || !in.Get(dir + 32, &names_rva)) {
      *error = "its export directory lies outside its sections";
      return false;
    }
    uint64_t at = 0;
    if (functions > MAX_ENTRIES || names > MAX_ENTRIES ||
        (functions != 0 && !at_rva(functions_rva, functions * 4, &at))) {
      *error = "its export address table lies outside its sections";
      return false;
    }
    for (uint32_t i = 0; i < functions; ++i) {
      uint32_t address = 0;
      if (in.Get(at + uint64_t{4} * i, &address) && address != 0) ++export_entries;
    }
    if (names != 0 && !at_rva(names_rva, names * 4, &at)) {
      *error = "its export name table lies outside its sections";
      return false;
    }
    for (uint32_t i = 0; i < names; ++i) {
      uint32_t name_rva = 0;
      uint64_t name_at = 0;
      std::string name;
      if (!in.Get(at + uint64_t{4} * i, &name_rva) || !at_rva(name_rva, 1, &name_at) ||
          !in.Text(name_at, MAX_NAME, &name)) {
        *error = "an export's name lies outside its sections";
        return false;
      }
      exports.push_back(name);
    }
  }
  if (directory(1, &rva, &size)) {
    for (uint32_t i = 0;; ++i) {
      uint64_t entry = 0;
      uint32_t name_rva = 0, first = 0;
      if (i >= MAX_ENTRIES || !at_rva(rva + 20 * i, 20, &entry) || !in.Get(entry + 12, &name_rva) ||
          !in.Get(entry, &first)) {
        *error = "its import directory lies outside its sections";
        return false;
      }
      if (name_rva == 0 && first == 0) break;
      uint64_t name_at = 0;
      std::string name;
      if (!at_rva(name_rva, 1, &name_at) || !in.Text(name_at, MAX_NAME, &name)) {
        *error = "an imported DLL's name lies outside its sections";
        return false;
      }
      imports.push_back(name);
    }
  }
  if (directory(2, &rva, &size)) {
    uint64_t root = 0;
    if (!at_rva(rva, 16, &root)) {
      version_error = "the resource directory lies outside its sections";
    } else {
      // Type RT_VERSION (16), then its first name and its first language.
      const auto find = [&](uint64_t dir, bool by_id, uint32_t id, uint32_t* target) {
        uint16_t named = 0, ids = 0;
        if (!in.Get(dir + 12, &named) || !in.Get(dir + 14, &ids)) return false;
        for (uint32_t e = 0; e < uint32_t{named} + ids; ++e) {
          uint32_t key = 0, to = 0;
          if (!in.Get(dir + 16 + 8 * uint64_t{e}, &key) || !in.Get(dir + 20 + 8 * uint64_t{e}, &to))
            return false;
          if (!by_id || ((key & 0x80000000u) == 0 && key == id)) {
            *target = to;
            return true;
          }
        }
        return false;
      };
      uint32_t to = 0;
      bool found = find(root, true, 16, &to);
      for (int level = 0; found && level < 2; ++level) {
        found = (to & 0x80000000u) != 0 && in.Has(root + (to & 0x7FFFFFFFu), 16) &&
                find(root + (to & 0x7FFFFFFFu), false, 0, &to);
      }
      uint32_t data_rva = 0, data_size = 0;
      uint64_t data = 0;
      if (!found) {
        // no version resource
      } else if ((to & 0x80000000u) != 0 || !in.Get(root + to, &data_rva) ||
                 !in.Get(root + to + 4, &data_size) || !at_rva(data_rva, data_size, &data)) {
        version_error = "its version resource lies outside its sections";
      } else {
        ReadVersion(in, static_cast<uint32_t>(data), data_size);
      }
    }
  }
  for (const PeSection& s : table) {
    if (s.name != ".gnu_debuglink") continue;
    std::string name;
    const uint64_t end = uint64_t{s.raw_offset} + s.raw_size;
    if (in.Text(s.raw_offset, s.raw_size, &name)) {
      const uint64_t crc_at = Align4(uint64_t{s.raw_offset} + name.size() + 1);
      uint32_t crc = 0;
      if (crc_at + 4 <= end && in.Get(crc_at, &crc)) debug_link = DebugLink{name, crc};
    }
  }
  return true;
}

void ModuleFile::ReadVersion(const Reader& in, uint32_t offset, uint32_t size) {
  const uint64_t end = uint64_t{offset} + size;
  // One block: length, value length, type, UTF-16 key, value, children.
  struct Block {
    uint64_t start = 0, end = 0, value = 0, children = 0;
    uint16_t value_length = 0, type = 0;
    std::string key;
  };
  const auto block = [&](uint64_t at, uint64_t limit, Block* b) {
    uint16_t length = 0;
    if (!in.Get(at, &length) || length < 6 || at + length > limit || !in.Get(at + 2, &b->value_length) ||
        !in.Get(at + 4, &b->type))
      return false;
    b->start = at;
    b->end = at + length;
    std::vector<uint16_t> key;
    uint64_t p = at + 6;
    for (uint16_t unit = 0; p + 2 <= b->end && in.Get(p, &unit) && unit != 0; p += 2) key.push_back(unit);
    if (p + 2 > b->end) return false;
    b->key = Utf8(key);
    b->value = Align4(p + 2);
    const uint64_t value_bytes = b->type == 1 ? uint64_t{b->value_length} * 2 : b->value_length;
    b->children = Align4(b->value + value_bytes);
    return b->value + value_bytes <= b->end;
  };
  Block root;
  if (!block(offset, end, &root) || root.key != "VS_VERSION_INFO" || root.value_length < 52) {
    version_error = "its version resource is not a VS_VERSION_INFO block";
    return;
  }
  uint32_t signature = 0, words[4] = {0, 0, 0, 0};
  Version v;
  in.Get(root.value, &signature);
  for (uint32_t i = 0; i < 4; ++i) in.Get(root.value + 8 + uint64_t{4} * i, &words[i]);
  in.Get(root.value + 36, &v.file_type);
  if (signature != 0xFEEF04BDu) {
    version_error = "its version resource has no VS_FIXEDFILEINFO";
    return;
  }
  for (size_t i = 0; i < 2; ++i) {
    v.file[2 * i] = static_cast<uint16_t>(words[i] >> 16);
    v.file[2 * i + 1] = static_cast<uint16_t>(words[i] & 0xFFFF);
    v.product[2 * i] = static_cast<uint16_t>(words[2 + i] >> 16);
    v.product[2 * i + 1] = static_cast<uint16_t>(words[2 + i] & 0xFFFF);
  }
  // StringFileInfo, its first table, and the table's texts.
  for (uint64_t at = root.children; at < root.end;) {
    Block info;
    if (!block(at, root.end, &info)) break;
    if (info.key == "StringFileInfo") {
      Block table;
      if (block(info.children, info.end, &table)) {
        for (uint64_t s = table.children; s < table.end;) {
          Block text;
          if (!block(s, table.end, &text)) break;
          std::vector<uint16_t> units;
          for (uint64_t p = text.value; p + 2 <= text.end && units.size() < text.value_length; p += 2) {
            uint16_t unit = 0;
            if (!in.Get(p, &unit) || unit == 0) break;
            units.push_back(unit);
          }
          v.strings[text.key] = Utf8(units);
          s = Align4(text.end);
        }
      }
    }
    at = Align4(info.end);
  }
  version = v;
}

bool ModuleFile::ParseElf(const Reader& in, std::string* error) {
  uint8_t word_class = 0;
  in.Get(4, &word_class);
  little_endian = in.Slice(5, 1) != "\x02";
  if (word_class != 1 && word_class != 2) {
    *error = "an ELF file of unknown class " + std::to_string(word_class);
    return false;
  }
  const bool wide = word_class == 2;
  format = wide ? Format::ELF64 : Format::ELF32;
  uint16_t type = 0, section_size = 0, section_count = 0, names_index = 0;
  uint64_t sections_at = 0;
  bool ok = in.Get(16, &type) && in.Get(18, &machine);
  if (wide) {
    ok = ok && in.Get(40, &sections_at) && in.Get(58, &section_size) && in.Get(60, &section_count) &&
         in.Get(62, &names_index);
  } else {
    uint32_t at32 = 0;
    ok = ok && in.Get(32, &at32) && in.Get(46, &section_size) && in.Get(48, &section_count) &&
         in.Get(50, &names_index);
    sections_at = at32;
  }
  if (!ok) {
    *error = "cut short in its ELF header";
    return false;
  }
  machine_name = ElfMachine(machine);
  library = type == 3;  // ET_DYN
  struct Section {
    uint32_t name = 0, type = 0, link = 0;
    uint64_t offset = 0, size = 0, entry = 0;
  };
  std::vector<Section> table;
  if (section_count != 0 &&
      (section_size < (wide ? 64 : 40) || !in.Has(sections_at, uint64_t{section_count} * section_size))) {
    *error = "cut short in its section table";
    return false;
  }
  for (uint32_t i = 0; i < section_count; ++i) {
    const uint64_t at = sections_at + uint64_t{i} * section_size;
    Section s;
    in.Get(at, &s.name);
    in.Get(at + 4, &s.type);
    if (wide) {
      in.Get(at + 24, &s.offset);
      in.Get(at + 32, &s.size);
      in.Get(at + 40, &s.link);
      in.Get(at + 56, &s.entry);
    } else {
      uint32_t offset = 0, size = 0, entry = 0;
      in.Get(at + 16, &offset);
      in.Get(at + 20, &size);
      in.Get(at + 24, &s.link);
      in.Get(at + 36, &entry);
      s.offset = offset;
      s.size = size;
      s.entry = entry;
    }
    if (s.type != 8 && !in.Has(s.offset, s.size)) {  // SHT_NOBITS holds nothing in the file
      *error = "section " + std::to_string(i) + " lies beyond the end of the file (cut short)";
      return false;
    }
    table.push_back(s);
  }
  const auto text_in = [&](uint32_t section, uint64_t offset, std::string* text) {
    if (section >= table.size() || offset >= table[section].size) return false;
    return in.Text(table[section].offset + offset,
                   static_cast<size_t>(std::min<uint64_t>(MAX_NAME, table[section].size - offset)), text);
  };
  for (const Section& s : table) {
    std::string name;
    if (!text_in(names_index, s.name, &name)) name = "?";
    sections.push_back(name);
    if (s.type == 2) symbol_table = true;  // SHT_SYMTAB
    if (name == ".gnu_debuglink") {
      std::string linked;
      if (in.Text(s.offset, static_cast<size_t>(s.size), &linked)) {
        const uint64_t crc_at = s.offset + Align4(linked.size() + 1);
        uint32_t crc = 0;
        if (crc_at + 4 <= s.offset + s.size && in.Get(crc_at, &crc)) debug_link = DebugLink{linked, crc};
      }
    }
    if (s.type == 11) {  // SHT_DYNSYM: the defined global and weak symbols are the exports
      const uint64_t entry = wide ? 24 : 16;
      if (s.entry != 0 && s.entry < entry) {
        *error = "its dynamic symbol table has entries of " + std::to_string(s.entry) + " bytes";
        return false;
      }
      const uint64_t step = s.entry != 0 ? s.entry : entry;
      for (uint64_t at = s.offset + step; at + entry <= s.offset + s.size; at += step) {  // entry 0 is null
        uint32_t symbol_name = 0;
        uint8_t info = 0, other = 0;
        uint16_t index = 0;
        in.Get(at, &symbol_name);
        in.Get(at + (wide ? 4 : 12), &info);
        in.Get(at + (wide ? 5 : 13), &other);
        in.Get(at + (wide ? 6 : 14), &index);
        const int binding = info >> 4, kind = info & 0xF;
        const bool hidden = (other & 3) == 2 || (other & 3) == 1;
        if (index == 0 || (binding != 1 && binding != 2) || hidden || kind == 3 || kind == 4) continue;
        std::string symbol;
        if (!text_in(s.link, symbol_name, &symbol)) {
          *error = "a dynamic symbol's name lies outside its string table";
          return false;
        }
        exports.push_back(symbol);
      }
    }
    if (s.type == 6) {  // SHT_DYNAMIC: DT_NEEDED entries name the imported libraries
      const uint64_t entry = wide ? 16 : 8;
      for (uint64_t at = s.offset; at + entry <= s.offset + s.size; at += entry) {
        uint64_t tag = 0, value = 0;
        if (wide) {
          in.Get(at, &tag);
          in.Get(at + 8, &value);
        } else {
          uint32_t tag32 = 0, value32 = 0;
          in.Get(at, &tag32);
          in.Get(at + 4, &value32);
          tag = tag32;
          value = value32;
        }
        if (tag == 0) break;
        if (tag != 1) continue;
        std::string needed;
        if (!text_in(s.link, value, &needed)) {
          *error = "a needed library's name lies outside its string table";
          return false;
        }
        imports.push_back(needed);
      }
    }
  }
  return true;
}
