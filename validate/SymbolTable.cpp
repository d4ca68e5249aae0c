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
      info.dli_fname == nullptr || library == nullptr || std::strlen(info.dli_fname) >= size)
    return false;
  std::strcpy(path, info.dli_fname);
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

// The COFF symbol table after the sections, and its string table right after
// it. A symbol gives its place in a section and no size: the function is the
// one that starts nearest below the address in the section that holds it.
bool SymbolTable::FunctionAt(const char* path, uintptr_t address, char* name, size_t size, uintptr_t* start) {
  static_assert(sizeof(IMAGE_SYMBOL) == IMAGE_SIZEOF_SYMBOL, "symbols are read as they lie in the file");
  if (size == 0) return false;
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Up to `bytes` at `at`: how many the file holds there.
  const auto read_at = [file](void* into, DWORD bytes, ULONGLONG at) -> DWORD {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    return ReadFile(file, into, bytes, &got, &where) ? got : 0;
  };
  bool found = false;
  IMAGE_DOS_HEADER dos{};
  DWORD signature = 0;
  IMAGE_FILE_HEADER header{};
  if (read_at(&dos, sizeof dos, 0) == sizeof dos && dos.e_magic == IMAGE_DOS_SIGNATURE && dos.e_lfanew > 0 &&
      read_at(&signature, sizeof signature, static_cast<ULONGLONG>(dos.e_lfanew)) == sizeof signature &&
      signature == IMAGE_NT_SIGNATURE &&
      read_at(&header, sizeof header, static_cast<ULONGLONG>(dos.e_lfanew) + sizeof signature) ==
          sizeof header &&
      header.PointerToSymbolTable != 0) {
    const ULONGLONG sections =
        static_cast<ULONGLONG>(dos.e_lfanew) + sizeof signature + sizeof header + header.SizeOfOptionalHeader;
    SHORT holder = 0;  // the section that holds the address, counted from 1 as symbols count them
    DWORD base = 0;    // its address
    for (WORD i = 0; i < header.NumberOfSections && holder == 0; ++i) {
      IMAGE_SECTION_HEADER section{};
      if (read_at(&section, sizeof section, sections + i * sizeof section) != sizeof section) break;
      const DWORD extent = std::max<DWORD>(section.Misc.VirtualSize, section.SizeOfRawData);
      if (address >= section.VirtualAddress && address - section.VirtualAddress < extent) {
        holder = static_cast<SHORT>(i + 1);
        base = section.VirtualAddress;
      }
    }
    IMAGE_SYMBOL nearest{};
    IMAGE_SYMBOL symbols[64];
    for (DWORD i = 0; holder != 0 && i < header.NumberOfSymbols;) {
      const DWORD count = std::min<DWORD>(64, header.NumberOfSymbols - i);
      if (read_at(symbols, count * IMAGE_SIZEOF_SYMBOL,
                  header.PointerToSymbolTable + ULONGLONG{i} * IMAGE_SIZEOF_SYMBOL) !=
          count * IMAGE_SIZEOF_SYMBOL)
        break;
      DWORD k = 0;
      for (; k < count; k += 1 + symbols[k].NumberOfAuxSymbols) {
        const IMAGE_SYMBOL& symbol = symbols[k];
        const bool function = ((symbol.Type >> 4) & 3) == IMAGE_SYM_DTYPE_FUNCTION &&
                              (symbol.StorageClass == IMAGE_SYM_CLASS_EXTERNAL ||
                               symbol.StorageClass == IMAGE_SYM_CLASS_STATIC);
        const uintptr_t at = base + symbol.Value;
        if (symbol.SectionNumber != holder || !function || at > address || (found && at <= *start)) continue;
        found = true;
        nearest = symbol;
        *start = at;
      }
      i += k;  // auxiliary records past the chunk's end are passed over with it
    }
    if (found) {
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
        const ULONGLONG at = header.PointerToSymbolTable +
                             ULONGLONG{header.NumberOfSymbols} * IMAGE_SIZEOF_SYMBOL + nearest.N.Name.Long;
        char first = '\0';
        const DWORD skip = underscored && read_at(&first, 1, at) == 1 && first == '_' ? 1 : 0;
        got = read_at(name, room, at + skip);
      }
      name[got] = '\0';
      found = name[0] != '\0';
    }
  }
  CloseHandle(file);
  return found;
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
