// What a module library's file says of itself, read without loading or
// running it: a PE (32-bit or 64-bit Windows) or ELF (any machine, either byte
// order) file's machine, kind, exports, imports, sections, symbol table,
// debug link and Windows version resource. Every offset, count and length the
// file gives is checked against the file's size before it is followed, so a
// truncated or hostile file is an error, never a read outside the bytes.
#ifndef TOOLS_QXHOST_MODULEFILE_H
#define TOOLS_QXHOST_MODULEFILE_H

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class ModuleFile {
 public:
  enum class Format { PE32, PE32_PLUS, ELF32, ELF64 };
  // A Windows version resource: the numbers of VS_FIXEDFILEINFO and the
  // texts of its first string table.
  struct Version {
    uint16_t file[4] = {0, 0, 0, 0};
    uint16_t product[4] = {0, 0, 0, 0};
    uint32_t file_type = 0;
    std::map<std::string, std::string> strings;  // UTF-8
  };
  struct DebugLink {
    std::string name;
    uint32_t crc = 0;
  };
  // Files larger than this are refused (no module is near it).
  static constexpr size_t MAX_SIZE = size_t{1} << 30;

  // Reads `bytes` as a module file; false with `*error` saying why if it is no
  // PE or ELF file or a part of it lies outside the bytes.
  static bool Parse(const std::string& bytes, ModuleFile* file, std::string* error);
  // The whole file at `path`, at most MAX_SIZE bytes; false with `*error`.
  static bool ReadBytes(const std::string& path, std::string* bytes, std::string* error);
  // The CRC-32 a debug link carries (the one of zlib and gzip).
  static uint32_t Crc32(const std::string& bytes);

  Format format = Format::PE32;
  uint16_t machine = 0;      // IMAGE_FILE_MACHINE_* or EM_*
  std::string machine_name;  // "i386 (32-bit x86)", "x86-64", ...
  bool library = false;      // a DLL, or an ELF shared object
  bool little_endian = true;
  std::vector<std::string>
      exports;                  // exported names (PE: the name table; ELF: defined global dynamic symbols)
  uint32_t export_entries = 0;  // PE: address table entries that point somewhere, named or not
  std::vector<std::string> imports;  // PE: DLL names; ELF: DT_NEEDED
  std::vector<std::string> sections;
  bool symbol_table = false;
  std::optional<DebugLink> debug_link;
  std::optional<Version> version;
  std::string version_error;  // a version resource that could not be read

 private:
  class Reader;
  bool ParsePe(const Reader& in, uint32_t pe, std::string* error);
  bool ParseElf(const Reader& in, std::string* error);
  void ReadVersion(const Reader& in, uint32_t offset, uint32_t size);
};

#endif  // TOOLS_QXHOST_MODULEFILE_H
