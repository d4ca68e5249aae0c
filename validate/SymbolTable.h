// The name of the function that holds an address of loaded code, from its
// file's own symbol table: the names the loader does not keep (every function
// a module does not export) are there unless the file was stripped. Read with
// system calls only and without allocating, so that a crash handler may ask:
// ELF files on Linux (glibc), and on Windows the COFF symbol table that
// MinGW's linker writes into a PE file; elsewhere nothing is found.
#ifndef VALIDATE_SYMBOLTABLE_H
#define VALIDATE_SYMBOLTABLE_H

#include <cstddef>
#include <cstdint>

class SymbolTable {
 public:
  // The file that the code at `code` was loaded from, into `path` (ended by
  // 0), and the code's address in that file (ELF: as its symbol table has it;
  // PE: relative to the image's base) into `address`; false where no loaded
  // file holds it.
  static bool Locate(const void* code, char* path, size_t size, uintptr_t* address);
  // The function of the file at `path` whose code holds `address` (as Locate
  // gives it): its name as the file has it (mangled; on 32-bit x86 Windows
  // without the underscore the compiler puts before every name) into `name`,
  // ended by 0, and its first address into `start`; false where the file
  // names none.
  static bool FunctionAt(const char* path, uintptr_t address, char* name, size_t size, uintptr_t* start);
  // The section named `name` of the PE file at `path`: its address relative
  // to the image's base and its size in memory (Windows; elsewhere false).
  static bool Section(const char* path, const char* name, uintptr_t* address, size_t* size);
  // The base the PE file at `path` asks to be loaded at, from which its debug
  // information counts addresses (Windows; elsewhere false).
  static bool ImageBase(const char* path, uint64_t* base);
};

#endif  // VALIDATE_SYMBOLTABLE_H
