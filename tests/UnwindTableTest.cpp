// The 32-bit x86 stack walk of a crash on Windows, against a table written
// here as GCC writes one (a function that saves ebp and makes it its frame
// pointer, then leaves it in the middle) and a stack of known words.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "UnwindTable.h"

namespace {

constexpr uint32_t TABLE_AT = 0x5000;  // where the process has the table
constexpr uint32_t CODE = 0x1000;      // a function's code: 0x100 bytes
constexpr uint32_t REALIGNS = 0x1200;  // another's

struct TableBytes {
  std::vector<unsigned char> bytes;
  size_t fde_end = 0;

  void Word(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
  }
  void Put(std::initializer_list<unsigned char> some) { bytes.insert(bytes.end(), some); }
  void SetLength(size_t at) {  // the length word at `at` covers up to the end
    const auto length = static_cast<uint32_t>(bytes.size() - at - 4);
    for (int i = 0; i < 4; ++i)
      bytes[at + static_cast<size_t>(i)] = static_cast<unsigned char>(length >> (8 * i));
  }
};

TableBytes GccTable() {
  TableBytes table;
  // CIE: version 1, "zR", code alignment 1, data alignment -4, return
  // address in column 8, addresses pc-relative 4 bytes; at entry the frame
  // is esp+4, the return address at its -4.
  table.Word(0);
  table.Word(0);
  table.Put({1, 'z', 'R', 0, 1, 0x7c, 8, 1, 0x1b, 0x0c, 4, 4, 0x88, 1, 0, 0});
  table.SetLength(0);
  // FDE for [CODE, CODE + 0x100).
  const size_t fde = table.bytes.size();
  table.Word(0);
  table.Word(static_cast<uint32_t>(table.bytes.size()));  // back to the CIE at 0
  table.Word(CODE - (TABLE_AT + static_cast<uint32_t>(table.bytes.size())));
  table.Word(0x100);
  table.Put({0,                             // no augmentation data
             0x41, 0x0e, 8, 0x85, 2,        // +1: push ebp: frame esp+8, ebp at its -8
             0x42, 0x0d, 5,                 // +3: mov ebp, esp: frame ebp+8
             0x5d, 0x0a, 0x0c, 4, 4, 0xc5,  // +0x20: leave: frame esp+4, ebp as it is
             0x41, 0x0b,                    // +0x21: back in the body
             0, 0});
  table.SetLength(fde);
  table.fde_end = table.bytes.size();
  // FDE for [REALIGNS, REALIGNS + 0x100), a function that realigns its stack
  // as GCC does: the frame in ecx, then ebp saved at [ebp], the frame read
  // from [ebp - 4], ebx at [ebp - 8].
  const size_t realigns = table.bytes.size();
  table.Word(0);
  table.Word(static_cast<uint32_t>(table.bytes.size()));
  table.Word(REALIGNS - (TABLE_AT + static_cast<uint32_t>(table.bytes.size())));
  table.Word(0x100);
  table.Put({0,    0x44, 0x0c, 1,    0,                   // +4: frame ecx+0
             0x48, 0x10, 5,    2,    0x75, 0,             // +0xc: ebp at breg5(0)
             0x41, 0x0f, 3,    0x75, 0x7c, 0x06,          // +0xd: frame at deref(breg5(-4))
             0x10, 3,    2,    0x75, 0x78, 0,    0, 0});  // ebx at breg5(-8)
  table.SetLength(realigns);
  table.Word(0);  // the end
  return table;
}

// The stack: words from 0x8000; nothing else may be read.
std::map<uint32_t, uint32_t> g_stack;
bool ReadStack(uint32_t address, uint32_t* value, void* /*data*/) {
  const auto found = g_stack.find(address);
  if (found == g_stack.end()) return false;
  *value = found->second;
  return true;
}

UnwindTable::Registers At(uint32_t eip, uint32_t esp, uint32_t ebp) {
  UnwindTable::Registers registers{};
  registers.value[UnwindTable::EIP] = eip;
  registers.value[UnwindTable::ESP] = esp;
  registers.value[UnwindTable::EBP] = ebp;
  registers.value[UnwindTable::EBX] = 0xb;
  return registers;
}

TEST(UnwindTable, FindsTheCallerInEachStretchOfAFunction) {
  const TableBytes bytes = GccTable();
  const UnwindTable table(bytes.bytes.data(), bytes.bytes.size(), TABLE_AT);
  g_stack = {{0x800c, 0x9000 /* the caller's ebp, pushed */}, {0x8010, 0x2222 /* return address */}};
  struct Case {
    const char* where;
    UnwindTable::Registers registers;
    uint32_t ebp;  // the caller's
  };
  const Case cases[] = {
      {"at entry", At(CODE, 0x8010, 0x9000), 0x9000},
      {"after push ebp", At(CODE + 1, 0x800c, 0x9000), 0x9000},
      {"in the body, esp anywhere", At(CODE + 0x10, 0x7f00, 0x800c), 0x9000},
      {"after leave", At(CODE + 0x20, 0x8010, 0x9000), 0x9000},
      {"past leave, state restored", At(CODE + 0x60, 0x7ff0, 0x800c), 0x9000},
  };
  for (const Case& c : cases) {
    UnwindTable::Registers registers = c.registers;
    ASSERT_TRUE(table.Step(&registers, false, &ReadStack, nullptr)) << c.where;
    EXPECT_EQ(registers.value[UnwindTable::EIP], 0x2222u) << c.where;
    EXPECT_EQ(registers.value[UnwindTable::ESP], 0x8014u) << c.where;
    EXPECT_EQ(registers.value[UnwindTable::EBP], c.ebp) << c.where;
    EXPECT_EQ(registers.value[UnwindTable::EBX], 0xbu) << c.where << ": not saved, as it was";
  }
}

TEST(UnwindTable, FollowsTheExpressionsOfAFunctionThatRealignsItsStack) {
  const TableBytes bytes = GccTable();
  const UnwindTable table(bytes.bytes.data(), bytes.bytes.size(), TABLE_AT);
  g_stack = {{0x7ff0, 0x1234 /* ebx */},
             {0x7ff4, 0x8014 /* the frame */},
             {0x7ff8, 0x9000 /* ebp */},
             {0x8010, 0x2222}};
  UnwindTable::Registers body = At(REALIGNS + 0x50, 0x7f00, 0x7ff8);
  ASSERT_TRUE(table.Step(&body, false, &ReadStack, nullptr));
  EXPECT_EQ(body.value[UnwindTable::EIP], 0x2222u);
  EXPECT_EQ(body.value[UnwindTable::ESP], 0x8014u);
  EXPECT_EQ(body.value[UnwindTable::EBP], 0x9000u);
  EXPECT_EQ(body.value[UnwindTable::EBX], 0x1234u);
  UnwindTable::Registers prologue = At(REALIGNS + 6, 0x7ff0, 0x9000);
  prologue.value[UnwindTable::ECX] = 0x8014;
  ASSERT_TRUE(table.Step(&prologue, false, &ReadStack, nullptr));
  EXPECT_EQ(prologue.value[UnwindTable::EIP], 0x2222u);
  EXPECT_EQ(prologue.value[UnwindTable::EBP], 0x9000u);
  UnwindTable::Registers unreadable = At(REALIGNS + 0x50, 0x7f00, 0x6000);
  EXPECT_FALSE(table.Step(&unreadable, false, &ReadStack, nullptr)) << "a frame read from outside the stack";
}

TEST(UnwindTable, AReturnAddressAfterItsFunctionsEndIsItsCall) {
  const TableBytes bytes = GccTable();
  const UnwindTable table(bytes.bytes.data(), bytes.bytes.size(), TABLE_AT);
  g_stack = {{0x800c, 0x9000}, {0x8010, 0x2222}};
  UnwindTable::Registers returned = At(CODE + 0x100, 0x7f00, 0x800c);
  EXPECT_TRUE(table.Step(&returned, true, &ReadStack, nullptr));
  EXPECT_EQ(returned.value[UnwindTable::EIP], 0x2222u);
  UnwindTable::Registers faulted = At(CODE + 0x100, 0x7f00, 0x800c);
  EXPECT_FALSE(table.Step(&faulted, false, &ReadStack, nullptr)) << "a fault there is in the next function";
  EXPECT_EQ(faulted.value[UnwindTable::EIP], CODE + 0x100) << "unchanged";
}

TEST(UnwindTable, WhatItCannotReadOrFindEndsTheWalk) {
  const TableBytes bytes = GccTable();
  const UnwindTable table(bytes.bytes.data(), bytes.bytes.size(), TABLE_AT);
  g_stack = {{0x8010, 0x2222}};
  UnwindTable::Registers elsewhere = At(CODE + 0x400, 0x8010, 0);
  EXPECT_FALSE(table.Step(&elsewhere, false, &ReadStack, nullptr)) << "code the table has no entry for";
  UnwindTable::Registers unreadable = At(CODE + 0x50, 0x8010, 0x700c);
  EXPECT_FALSE(table.Step(&unreadable, false, &ReadStack, nullptr)) << "a frame outside the stack";
  EXPECT_EQ(unreadable.value[UnwindTable::EBP], 0x700cu) << "unchanged";
  const UnwindTable elsewhere_table(bytes.bytes.data(), bytes.bytes.size(), TABLE_AT + 0x1000);
  UnwindTable::Registers entry = At(CODE, 0x8010, 0);
  EXPECT_FALSE(elsewhere_table.Step(&entry, false, &ReadStack, nullptr))
      << "addresses count from where the table lies";

  // A table cut anywhere is read no further than it goes (the sanitizers
  // watch each copy), and gives the caller only if the entry is whole.
  for (size_t size = 0; size < bytes.bytes.size(); ++size) {
    const std::vector<unsigned char> cut(bytes.bytes.begin(), bytes.bytes.begin() + static_cast<long>(size));
    UnwindTable::Registers registers = At(CODE, 0x8010, 0);
    EXPECT_EQ(UnwindTable(cut.data(), cut.size(), TABLE_AT).Step(&registers, false, &ReadStack, nullptr),
              size >= bytes.fde_end)
        << size;
  }
}

}  // namespace
