// One step up a 32-bit x86 stack, by the DWARF call-frame information that
// GCC writes into a file's .eh_frame section for every function: 32-bit
// Windows code built by MinGW keeps no other unwind table and seldom a frame
// pointer, so the 32-bit Windows crash stack (CrashStack) walks with it.
// Memory is read only through the caller's function, and a rule this does not
// follow ends the walk instead of guessing.
#ifndef VALIDATE_UNWINDTABLE_H
#define VALIDATE_UNWINDTABLE_H

#include <cstddef>
#include <cstdint>

class UnwindTable {
 public:
  // A frame's registers, by DWARF's numbers for 32-bit x86. eax, ecx and edx
  // are the caller's to save: only the faulting frame's are known.
  enum Register {
    EAX = 0,
    ECX = 1,
    EDX = 2,
    EBX = 3,
    ESP = 4,
    EBP = 5,
    ESI = 6,
    EDI = 7,
    EIP = 8,
    COUNT = 9
  };
  struct Registers {
    uint32_t value[COUNT];
  };
  // Reads the 4 bytes at `address` into `value`; false where they may not be read.
  using Read = bool (*)(uint32_t address, uint32_t* value, void* data);

  // `table` holds `size` bytes of .eh_frame, which the process has at
  // `address` (its pointers may count from where they lie).
  UnwindTable(const unsigned char* table, size_t size, uint32_t address)
      : m_table(table), m_size(size), m_address(address) {}
  // Makes `registers`, those of a frame, its caller's. `returned`: eip is an
  // address a call returns to (every frame but the one a fault stopped), which
  // may be the first byte after its function. False where the table has no
  // entry for eip or `read` refused, `registers` then unchanged.
  bool Step(Registers* registers, bool returned, Read read, void* data) const;

 private:
  const unsigned char* m_table;
  size_t m_size;
  uint32_t m_address;
};

#endif  // VALIDATE_UNWINDTABLE_H
