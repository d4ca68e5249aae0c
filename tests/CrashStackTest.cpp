// The crashing thread's stack as the Windows crash handler writes it, from a
// context taken three calls deep in this test: each caller, by name.
#include <gtest/gtest.h>

#include <string>

#include "CrashStack.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

// What CrashStack::Write writes from this function's context, read back from
// the file that standard error was while it wrote.
__attribute__((noinline)) std::string StackOfTheInnermostCall() {
  CONTEXT context{};
#if defined(__i386__)
  // The registers here, as a fault here would find them (RtlCaptureContext
  // gives the caller's, read from a frame pointer this code has none of).
  DWORD registers[6];
  __asm__ volatile(
      "movl %%esp, %0\n\tmovl %%ebp, %1\n\tmovl %%ebx, %2\n\tmovl %%esi, %3\n\tmovl %%edi, %4\n\t"
      "movl $1f, %5\n1:"
      : "=m"(registers[0]), "=m"(registers[1]), "=m"(registers[2]), "=m"(registers[3]), "=m"(registers[4]),
        "=r"(registers[5]));
  context.Esp = registers[0];
  context.Ebp = registers[1];
  context.Ebx = registers[2];
  context.Esi = registers[3];
  context.Edi = registers[4];
  context.Eip = registers[5];
#else
  RtlCaptureContext(&context);
#endif
  const std::string file = (std::filesystem::temp_directory_path() / "qx-crash-stack.txt").string();
  const HANDLE output = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (output == INVALID_HANDLE_VALUE) return "";
  const HANDLE before = GetStdHandle(STD_ERROR_HANDLE);
  SetStdHandle(STD_ERROR_HANDLE, output);
  CrashStack::Write(2, &context, 10);
  SetStdHandle(STD_ERROR_HANDLE, before);
  CloseHandle(output);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  std::filesystem::remove(file);
  return text.str();
}

// Each caller does something after its call, so that none is a jump instead.
__attribute__((noinline)) std::string StackOfTheMiddleCall() {
  std::string stack = StackOfTheInnermostCall();
  __asm__ volatile("" ::: "memory");
  return stack;
}

__attribute__((noinline)) std::string StackOfTheOutermostCall() {
  std::string stack = StackOfTheMiddleCall();
  __asm__ volatile("" ::: "memory");
  return stack;
}

TEST(CrashStack, NamesEachCallerOfTheFrameOnWindows) {
  const std::string stack = StackOfTheOutermostCall();
  const size_t innermost = stack.find("StackOfTheInnermostCall");
  const size_t middle = stack.find("StackOfTheMiddleCall");
  const size_t outermost = stack.find("StackOfTheOutermostCall");
  ASSERT_NE(innermost, std::string::npos) << stack;
  EXPECT_EQ(stack.rfind('\n', innermost), std::string::npos)
      << "the first frame is where the context was taken\n"
      << stack;
  ASSERT_NE(middle, std::string::npos) << stack;
  ASSERT_NE(outermost, std::string::npos) << stack;
  EXPECT_LT(innermost, middle) << stack;
  EXPECT_LT(middle, outermost) << stack;
  EXPECT_NE(stack.find("CrashStack_NamesEachCallerOfTheFrameOnWindows"), std::string::npos)
      << "and the test that called them\n"
      << stack;
  // This file carries debug information: a caller's frame begins with its
  // line here (the innermost may be in code inlined from elsewhere).
  const size_t middle_frame = stack.rfind('\n', middle) + 1;
  const size_t source = stack.find("tests/CrashStackTest.cpp:", middle_frame);
  ASSERT_NE(source, std::string::npos) << stack;
  EXPECT_LT(source, middle) << stack;
}

}  // namespace
#endif
