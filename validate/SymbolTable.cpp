#include "SymbolTable.h"

#include <algorithm>
#include <cstring>

#ifdef __GLIBC__
#include <dlfcn.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

bool SymbolTable::Locate(const void* code, char* path, size_t size, uintptr_t* address) {
  Dl_info info{};
  link_map* library = nullptr;
  if (size == 0 || dladdr1(code, &info, reinterpret_cast<void**>(&library), RTLD_DL_LINKMAP) == 0 ||
      info.dli_fname == nullptr || library == nullptr)
    return false;
  const size_t length = std::strlen(info.dli_fname);
  if (length >= size) return false;
  std::memcpy(path, info.dli_fname, length + 1);
  *address = reinterpret_cast<uintptr_t>(code) - library->l_addr;
  return true;
}

// The symbol table section (SHT_SYMTAB), which the loader does not map; a
// function there has a size, and holds the address or not.
bool SymbolTable::FunctionAt(const char* path, uintptr_t address, char* name, size_t size, uintptr_t* start) {
  if (size == 0) return false;
  const int file = open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  const auto read_at = [file](void* into, size_t bytes, off_t at) {
    return pread(file, into, bytes, at) == static_cast<ssize_t>(bytes);
  };
  bool found = false;
  ElfW(Ehdr) header;
  if (read_at(&header, sizeof header, 0) && std::memcmp(header.e_ident, ELFMAG, SELFMAG) == 0 &&
      header.e_shentsize == sizeof(ElfW(Shdr))) {
    for (unsigned i = 0; i < header.e_shnum && !found; ++i) {
      ElfW(Shdr) table, strings;
      if (!read_at(&table, sizeof table, static_cast<off_t>(header.e_shoff + i * sizeof table))) break;
      if (table.sh_type != SHT_SYMTAB || table.sh_entsize != sizeof(ElfW(Sym)) ||
          !read_at(&strings, sizeof strings,
                   static_cast<off_t>(header.e_shoff + table.sh_link * sizeof strings)))
        continue;
      ElfW(Sym) symbols[64];
      for (ElfW(Off) at = 0; at + sizeof(ElfW(Sym)) <= table.sh_size && !found;) {
        const size_t bytes =
            std::min(sizeof symbols, (table.sh_size - at) / sizeof(ElfW(Sym)) * sizeof(ElfW(Sym)));
        if (!read_at(symbols, bytes, static_cast<off_t>(table.sh_offset + at))) break;
        for (size_t k = 0; k < bytes / sizeof(ElfW(Sym)) && !found; ++k) {
          const ElfW(Sym)& symbol = symbols[k];
          // The type's bits are the same in 32- and 64-bit files.
          if (ELF32_ST_TYPE(symbol.st_info) != STT_FUNC || address < symbol.st_value ||
              address >= symbol.st_value + symbol.st_size)
            continue;
          const ssize_t got =
              pread(file, name, size - 1, static_cast<off_t>(strings.sh_offset + symbol.st_name));
          name[got > 0 ? got : 0] = '\0';
          *start = symbol.st_value;
          found = name[0] != '\0';
        }
        at += bytes;
      }
    }
  }
  close(file);
  return found;
}

#elif defined(_WIN32)
#include <windows.h>

bool SymbolTable::Locate(const void* code, char* path, size_t size, uintptr_t* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCSTR>(code), &module))
    return false;
  const DWORD length = GetModuleFileNameA(module, path, static_cast<DWORD>(std::min<size_t>(size, MAXDWORD)));
  if (length == 0 || length >= size) return false;
  *address = reinterpret_cast<uintptr_t>(code) - reinterpret_cast<uintptr_t>(module);
  return true;
}

namespace {

// A PE file's headers, read with system calls: its file header and where its
// section headers are.
class PeFile {
 public:
  explicit PeFile(const char* path)
      : m_file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
    IMAGE_DOS_HEADER dos{};
    DWORD signature = 0;
    m_ok = m_file != INVALID_HANDLE_VALUE && ReadAt(&dos, sizeof dos, 0) == sizeof dos &&
           dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
           ReadAt(&signature, sizeof signature, static_cast<ULONGLONG>(dos.e_lfanew)) == sizeof signature &&
           signature == IMAGE_NT_SIGNATURE &&
           ReadAt(&m_header, sizeof m_header, static_cast<ULONGLONG>(dos.e_lfanew) + sizeof signature) ==
               sizeof m_header;
    m_optional = static_cast<ULONGLONG>(dos.e_lfanew) + sizeof signature + sizeof m_header;
    m_sections = m_optional + m_header.SizeOfOptionalHeader;
  }
  ~PeFile() {
    if (m_file != INVALID_HANDLE_VALUE) CloseHandle(m_file);
  }
  PeFile(const PeFile&) = delete;
  PeFile& operator=(const PeFile&) = delete;

  bool ok() const { return m_ok; }
  const IMAGE_FILE_HEADER& header() const { return m_header; }
  // Up to `bytes` at `at`: how many the file holds there.
  DWORD ReadAt(void* into, DWORD bytes, ULONGLONG at) const {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    return ReadFile(m_file, into, bytes, &got, &where) ? got : 0;
  }
  bool Section(WORD index, IMAGE_SECTION_HEADER* section) const {
    return index < m_header.NumberOfSections &&
           ReadAt(section, sizeof *section, m_sections + ULONGLONG{index} * sizeof *section) ==
               sizeof *section;
  }
  // Where the optional header is (its magic, then the image's preferred base).
  ULONGLONG Optional() const { return m_optional; }
  // Where the string table is: right after the COFF symbol table.
  ULONGLONG Strings() const {
    return m_header.PointerToSymbolTable + ULONGLONG{m_header.NumberOfSymbols} * IMAGE_SIZEOF_SYMBOL;
  }

 private:
  HANDLE m_file;
  IMAGE_FILE_HEADER m_header{};
  ULONGLONG m_optional = 0;
  ULONGLONG m_sections = 0;
  bool m_ok = false;
};

}  // namespace

// The COFF symbol table after the sections, and its string table right after
// it. A symbol gives its place in a section and no size: the function is the
// one that starts nearest below the address in the section that holds it.
bool SymbolTable::FunctionAt(const char* path, uintptr_t address, char* name, size_t size, uintptr_t* start) {
  static_assert(sizeof(IMAGE_SYMBOL) == IMAGE_SIZEOF_SYMBOL, "symbols are read as they lie in the file");
  const PeFile file(path);
  if (size == 0 || !file.ok() || file.header().PointerToSymbolTable == 0) return false;
  const IMAGE_FILE_HEADER& header = file.header();
  SHORT holder = 0;  // the section that holds the address, counted from 1 as symbols count them
  DWORD base = 0;    // its address
  IMAGE_SECTION_HEADER section{};
  for (WORD i = 0; holder == 0 && file.Section(i, &section); ++i) {
    const DWORD extent = std::max<DWORD>(section.Misc.VirtualSize, section.SizeOfRawData);
    if (address >= section.VirtualAddress && address - section.VirtualAddress < extent) {
      holder = static_cast<SHORT>(i + 1);
      base = section.VirtualAddress;
    }
  }
  bool found = false;
  IMAGE_SYMBOL nearest{};
  IMAGE_SYMBOL symbols[64];
  for (DWORD i = 0; holder != 0 && i < header.NumberOfSymbols;) {
    const DWORD count = std::min<DWORD>(64, header.NumberOfSymbols - i);
    if (file.ReadAt(symbols, count * IMAGE_SIZEOF_SYMBOL,
                    header.PointerToSymbolTable + ULONGLONG{i} * IMAGE_SIZEOF_SYMBOL) !=
        count * IMAGE_SIZEOF_SYMBOL)
      break;
    DWORD k = 0;
    for (; k < count; k += 1 + symbols[k].NumberOfAuxSymbols) {
      const IMAGE_SYMBOL& symbol = symbols[k];
      const bool function =
          ((symbol.Type >> 4) & 3) == IMAGE_SYM_DTYPE_FUNCTION &&
          (symbol.StorageClass == IMAGE_SYM_CLASS_EXTERNAL || symbol.StorageClass == IMAGE_SYM_CLASS_STATIC);
      const uintptr_t at = base + symbol.Value;
      if (symbol.SectionNumber != holder || !function || at > address || (found && at <= *start)) continue;
      found = true;
      nearest = symbol;
      *start = at;
    }
    i += k;  // auxiliary records past the chunk's end are passed over with it
  }
  if (!found) return false;
  // 32-bit x86 compilers put an underscore before every name: left out.
  const bool underscored = header.Machine == IMAGE_FILE_MACHINE_I386;
  const DWORD room = static_cast<DWORD>(std::min<size_t>(size - 1, 4096));
  DWORD got = 0;
  if (nearest.N.Name.Short != 0) {
    const char* short_name = reinterpret_cast<const char*>(nearest.N.ShortName);
    const size_t skip = underscored && short_name[0] == '_' ? 1 : 0;
    got = static_cast<DWORD>(std::min<size_t>(room, strnlen(short_name + skip, 8 - skip)));
    std::memcpy(name, short_name + skip, got);
  } else {
    const ULONGLONG at = file.Strings() + nearest.N.Name.Long;
    char first = '\0';
    const DWORD skip = underscored && file.ReadAt(&first, 1, at) == 1 && first == '_' ? 1 : 0;
    got = file.ReadAt(name, room, at + skip);
  }
  name[got] = '\0';
  return name[0] != '\0';
}

bool SymbolTable::ImageBase(const char* path, uint64_t* base) {
  const PeFile file(path);
  WORD magic = 0;
  if (!file.ok() || file.ReadAt(&magic, sizeof magic, file.Optional()) != sizeof magic) return false;
  if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    ULONGLONG wide = 0;
    if (file.ReadAt(&wide, sizeof wide, file.Optional() + offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase)) !=
        sizeof wide)
      return false;
    *base = wide;
    return true;
  }
  DWORD narrow = 0;
  if (magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
      file.ReadAt(&narrow, sizeof narrow, file.Optional() + offsetof(IMAGE_OPTIONAL_HEADER32, ImageBase)) !=
          sizeof narrow)
    return false;
  *base = narrow;
  return true;
}

// A name longer than a section header's eight bytes is "/" and its place in
// the string table, as MinGW's linker writes .eh_frame and the debug sections.
bool SymbolTable::Section(const char* path, const char* name, uintptr_t* address, size_t* size) {
  const PeFile file(path);
  const size_t length = std::strlen(name);
  IMAGE_SECTION_HEADER section{};
  for (WORD i = 0; file.ok() && length < 64 && file.Section(i, &section); ++i) {
    char named[65] = {};
    const char* header_name = reinterpret_cast<const char*>(section.Name);
    if (header_name[0] == '/') {
      char digits[IMAGE_SIZEOF_SHORT_NAME] = {};
      std::memcpy(digits, header_name + 1, IMAGE_SIZEOF_SHORT_NAME - 1);
      ULONGLONG offset = 0;
      for (const char* digit = digits; *digit >= '0' && *digit <= '9'; ++digit)
        offset = offset * 10 + static_cast<ULONGLONG>(*digit - '0');
      file.ReadAt(named, static_cast<DWORD>(length + 1), file.Strings() + offset);
    } else {
      std::memcpy(named, header_name, IMAGE_SIZEOF_SHORT_NAME);
    }
    if (std::memcmp(named, name, length + 1) == 0) {
      *address = section.VirtualAddress;
      *size = section.Misc.VirtualSize;
      return true;
    }
  }
  return false;
}

#else

bool SymbolTable::Locate(const void* /*code*/, char* /*path*/, size_t /*size*/, uintptr_t* /*address*/) {
  return false;
}
bool SymbolTable::FunctionAt(const char* /*path*/, uintptr_t /*address*/, char* /*name*/, size_t /*size*/,
                             uintptr_t* /*start*/) {
  return false;
}
#endif

#ifndef _WIN32
bool SymbolTable::ImageBase(const char* /*path*/, uint64_t* /*base*/) { return false; }
bool SymbolTable::Section(const char* /*path*/, const char* /*name*/, uintptr_t* /*address*/,
                          size_t* /*size*/) {
  return false;
}

#endif
