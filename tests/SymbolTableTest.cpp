// A crash's frames are named from the module file's own symbol table: a test
// module loaded as the host loads it, its export looked up by address.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "SharedLibrary.h"
#include "SymbolTable.h"

namespace {

#if defined(__GLIBC__) || defined(_WIN32)
TEST(SymbolTable, NamesTheFunctionThatHoldsAnAddressOfLoadedCode) {
  const std::string folder = std::string(QX_TEST_MODULE_DIR) + "/";
  const std::string module = folder + "faulty_none.qxm";
  SharedLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(module, &error)) << error;
  const char* entry = static_cast<const char*>(library.Find("getModuleProperties"));
  ASSERT_NE(entry, nullptr);

  // An address a few bytes into the function, as a return address is.
  char path[1024];
  uintptr_t address = 0;
  ASSERT_TRUE(SymbolTable::Locate(entry + 3, path, sizeof path, &address));
  EXPECT_TRUE(std::filesystem::equivalent(path, module)) << path;
  char name[256];
  uintptr_t start = 0;
  ASSERT_TRUE(SymbolTable::FunctionAt(path, address, name, sizeof name, &start));
  EXPECT_STREQ(name, "getModuleProperties");
  EXPECT_EQ(address - start, 3u);

  // A name longer than the caller's room is cut, and still ended.
  char short_name[8];
  ASSERT_TRUE(SymbolTable::FunctionAt(path, address, short_name, sizeof short_name, &start));
  EXPECT_STREQ(short_name, "getModu");
  EXPECT_FALSE(SymbolTable::Locate(entry, path, 4, &address)) << "a path that does not fit is no path";

  // Where no function is, and what is no symbol table, name nothing.
  EXPECT_FALSE(SymbolTable::FunctionAt(path, 0, name, sizeof name, &start));
  EXPECT_FALSE(
      SymbolTable::FunctionAt((folder + "not_a_library.qxm").c_str(), address, name, sizeof name, &start));
  EXPECT_FALSE(SymbolTable::FunctionAt((folder + "nowhere.qxm").c_str(), address, name, sizeof name, &start));
}
#endif

}  // namespace
