// The memory checker's command and the first error read from its output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "MemoryChecker.h"

namespace {

TEST(MemoryChecker, TakesTheFirstErrorWithoutItsPrefixes) {
  const std::string output =
      "the module's own line\n"
      "==4242== Invalid write of size 4\n"
      "==4242==    at 0x4850A3C: Overruns::Process(int, int) (scratch.cpp:30)\n"
      "==4242==  Address 0x51b2800 is 0 bytes after a block of size 256 alloc'd\n"
      "==4242== \n"
      "==4242== Invalid read of size 4\n"
      "==4242==    at 0x4850A40: Overruns::Other() (scratch.cpp:40)\n";
  EXPECT_EQ(MemoryChecker::FirstError(output),
            "Invalid write of size 4\n"
            "   at 0x4850A3C: Overruns::Process(int, int) (scratch.cpp:30)\n"
            " Address 0x51b2800 is 0 bytes after a block of size 256 alloc'd");
  // Valgrind's closing advice ends the error; a line that only looks like a
  // prefix is no part of it; no report, no error.
  EXPECT_EQ(MemoryChecker::FirstError("==7== \n==7== Invalid free()\n==7== Exit program on first error "
                                      "(--exit-on-first-error=yes)\n"),
            "Invalid free()");
  EXPECT_EQ(MemoryChecker::FirstError("== not a prefix\n==12 neither\nok\n"), "");
  // The banner is no report; the signal that ended the program is one; the
  // closing summaries are none.
  const std::string banner =
      "==9== Memcheck, a memory error detector\n"
      "==9== Copyright (C) 2002-2022, and GNU GPL'd, by Julian Seward et al.\n"
      "==9== Using Valgrind-3.19.0 and LibVEX; rerun with -h for copyright info\n"
      "==9== Command: ./qxhost info m.qxm\n"
      "==9== \n";
  EXPECT_EQ(
      MemoryChecker::FirstError(banner +
                                "==9== Process terminating with default action of signal 6 (SIGABRT)\n"
                                "==9==    by 0x4853095: Load() (m.cpp:3)\n"
                                "==9== \n==9== HEAP SUMMARY:\n"),
      "Process terminating with default action of signal 6 (SIGABRT)\n   by 0x4853095: Load() (m.cpp:3)");
  EXPECT_EQ(MemoryChecker::FirstError(banner + "==9== HEAP SUMMARY:\n==9==     in use at exit: 0 bytes\n"),
            "");
}

#ifndef _WIN32
TEST(MemoryChecker, NoneIsNoChecker) {
  const char* saved = std::getenv("QXHOST_MEMORY_CHECKER");
  const std::string before = saved != nullptr ? saved : "";
  setenv("QXHOST_MEMORY_CHECKER", "none", 1);
  const bool none = MemoryChecker::Command().empty();
  setenv("QXHOST_MEMORY_CHECKER", "/opt/valgrind/bin/valgrind", 1);
  const auto named = MemoryChecker::Command();
  if (saved != nullptr) {
    setenv("QXHOST_MEMORY_CHECKER", before.c_str(), 1);
  } else {
    unsetenv("QXHOST_MEMORY_CHECKER");
  }
  EXPECT_TRUE(none);
  // A program named is taken as it is, where this build can run under it.
  if (!named.empty()) {
    EXPECT_EQ(named[0], "/opt/valgrind/bin/valgrind");
  }
}
#endif

}  // namespace
