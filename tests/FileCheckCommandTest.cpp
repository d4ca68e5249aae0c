// qxhost inspect on real module files (32-bit Windows files made with
// MinGW-w64 in native builds, the ELF test modules) and on broken copies of
// them: each broken rule is a fault and exit status 1; a truncated or
// corrupted file is an error, never a read beyond its bytes (AddressSanitizer
// in the debug preset watches every read).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ModuleFile.h"
#include "QXHostTool.h"

namespace {

struct Inspect {
  explicit Inspect(std::vector<std::string> args) {
    args.insert(args.begin(), "inspect");
    std::ostringstream o, e;
    QXHostTool tool(o, e, false);
    code = tool.Run(args);
    out = o.str();
    err = e.str();
  }
  int code;
  std::string out, err;
};

TEST(ModuleFile, Crc32IsTheOneOfADebugLink) {
  EXPECT_EQ(ModuleFile::Crc32("123456789"), 0xCBF43926u);
  EXPECT_EQ(ModuleFile::Crc32(""), 0u);
}

#ifndef _WIN32
TEST(QXHostInspect, AnElfModuleExportsTheTwoFunctions) {
  Inspect run({"--json", std::string(QX_TEST_MODULE_DIR) + "/Gain.qxm"});
  const auto report = nlohmann::json::parse(run.out);
  EXPECT_EQ(report["exports"], nlohmann::json({"getModuleProperties", "makeModule"})) << run.out;
  EXPECT_TRUE(report["library"].get<bool>());
  EXPECT_EQ(report["version"], nullptr);
  // Which runtimes a module names depends on the build (an optimised link
  // leaves out libc.so.6, a sanitized one adds the sanitizers'); a C++ module
  // names the C++ runtime, and every import is a shared object's name.
  const auto& imports = report["imports"];
  EXPECT_NE(std::find(imports.begin(), imports.end(), "libstdc++.so.6"), imports.end()) << run.out;
  for (const auto& library : imports)
    EXPECT_TRUE(std::regex_match(library.get<std::string>(), std::regex(R"(lib[\w+.-]+\.so(\.\d+)*)")))
        << library;
}
#endif

TEST(QXHostInspect, RefusesWhatIsNoModuleFile) {
  Inspect missing({"/nonexistent/x.qxm"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "qxhost: /nonexistent/x.qxm: cannot read it\n");
  Inspect text({std::string(QX_TEST_MODULE_DIR) + "/not_a_library.qxm"});
  EXPECT_EQ(text.code, 1);
  EXPECT_NE(text.err.find("neither a PE nor an ELF file"), std::string::npos) << text.err;
  EXPECT_EQ(Inspect({"--version", "1.2", std::string(QX_TEST_MODULE_DIR) + "/Gain.qxm"}).code, 2);
}

#ifdef QX_PE_TEST_DIR

const std::string PE = QX_PE_TEST_DIR;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Scratch(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / "qx-inspect-test";
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

TEST(QXHostInspect, AReleasedPeFilePassesTheReleaseRules) {
  const std::string file = PE + "/release/good.qxm";
  Inspect run({"--stripped", "--version", "1.2.3", "--no-path", QX_TESTS_SOURCE_DIR, file});
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_EQ(run.out, file +
                         ": PE32 DLL, machine i386 (32-bit x86)\n"
                         "  exports:     getModuleProperties, makeModule\n"
                         "  imports:     KERNEL32.dll, msvcrt.dll\n"
                         "  stripped:    yes\n"
                         "  debug link:  good.qxm.debug (beside the file, checksum matches)\n"
                         "  version:     file 1.2.3.0, product 1.2.3.0, \"Loader test module\": "
                         "\"Loader test module\"\n"
                         "  build paths: " QX_TESTS_SOURCE_DIR
                         " 0 times\n"
                         "ok\n");
  Inspect json({"--json", "--stripped", file});
  EXPECT_EQ(json.code, 0);
  const auto report = nlohmann::json::parse(json.out);
  EXPECT_EQ(report["format"], "PE32");
  EXPECT_EQ(report["machine_code"], 0x14c);
  EXPECT_TRUE(report["stripped"].get<bool>());
  EXPECT_TRUE(report["debug_link"]["matches"].get<bool>());
  EXPECT_EQ(report["version"]["strings"]["FileVersion"], "1.2.3");
  EXPECT_EQ(report["faults"], nlohmann::json::array());
}

struct Broken {
  const char* name;
  std::vector<std::string> options;
  std::string file;
  std::string fault;
};

class QXHostInspectFinds : public ::testing::TestWithParam<Broken> {};

TEST_P(QXHostInspectFinds, TheBrokenRule) {
  std::vector<std::string> args = GetParam().options;
  args.push_back(GetParam().file);
  Inspect run(args);
  EXPECT_EQ(run.code, 1) << run.out << run.err;
  EXPECT_NE(run.out.find(GetParam().fault), std::string::npos) << run.out << run.err;
}

// A copy of the released file whose COFF header names another machine.
std::string WrongMachine() {
  std::string bytes = Bytes(PE + "/release/good.qxm");
  const auto pe = static_cast<size_t>(static_cast<uint8_t>(bytes.at(0x3c))) |
                  static_cast<size_t>(static_cast<uint8_t>(bytes.at(0x3d))) << 8;
  bytes.at(pe + 4) = '\xc4';  // 0x01c4: ARM Thumb-2
  bytes.at(pe + 5) = '\x01';
  const std::string path = Scratch("wrong_machine.qxm");
  Write(path, bytes);
  return path;
}

// A copy of the release whose debug file is not the one it was linked to.
std::string OtherDebugFile() {
  const std::string dir = Scratch("other");
  std::filesystem::create_directories(dir);
  Write(dir + "/good.qxm", Bytes(PE + "/release/good.qxm"));
  Write(dir + "/good.qxm.debug", Bytes(PE + "/release/good.qxm.debug") + "x");
  return dir + "/good.qxm";
}

INSTANTIATE_TEST_SUITE_P(
    QXHostInspect, QXHostInspectFinds,
    ::testing::Values(
        Broken{"DebugSections", {"--stripped"}, PE + "/good.qxm", "has debug sections (.debug_"},
        Broken{"SymbolTable", {"--stripped"}, PE + "/good.qxm", "has a symbol table"},
        Broken{"NoDebugLink", {"--stripped"}, PE + "/good.qxm", "has no debug link"},
        Broken{"OtherDebugFile",
               {"--stripped"},
               OtherDebugFile(),
               "the debug link names good.qxm.debug, whose checksum differs"},
        Broken{"AnotherVersion",
               {"--version", "1.2.4"},
               PE + "/good.qxm",
               "version resource: file version is 1.2.3.0, expected 1.2.4.0"},
        Broken{"NoVersionInAnElfFile",
               {"--version", "1.2.3"},
               std::string(QX_TEST_MODULE_DIR) + "/Gain.qxm",
               "has no version resource"},
        Broken{"ExtraExports", {}, PE + "/export_all.qxm", "exports '"},
        Broken{"ExportCount", {}, PE + "/export_all.qxm", " exports, expected exactly 2\n"},
        Broken{"WrongMachine",
               {},
               WrongMachine(),
               "machine ARM, PE32: the host loads 32-bit x86 PE32 files only"},
        Broken{"BuildPath",
               {"--no-path", QX_TESTS_SOURCE_DIR},
               PE + "/good.qxm",
               "names " QX_TESTS_SOURCE_DIR " "}),
    [](const ::testing::TestParamInfo<Broken>& param) { return std::string(param.param.name); });

// Every shorter copy of the release: an error or a fault, exit status 1.
TEST(QXHostInspect, ATruncatedFileIsNeverAccepted) {
  const std::string bytes = Bytes(PE + "/release/good.qxm");
  ASSERT_GT(bytes.size(), 4096u);
  const std::string dir = Scratch("cut");
  std::filesystem::create_directories(dir);
  std::filesystem::copy_file(PE + "/release/good.qxm.debug", dir + "/good.qxm.debug",
                             std::filesystem::copy_options::overwrite_existing);
  size_t errors = 0;
  for (size_t size = 0; size < bytes.size(); size += size < 1024 ? 7 : 997) {
    Write(dir + "/good.qxm", bytes.substr(0, size));
    Inspect run({"--stripped", "--version", "1.2.3", dir + "/good.qxm"});
    EXPECT_EQ(run.code, 1) << "cut to " << size << " bytes: " << run.out;
    if (!run.err.empty()) ++errors;
  }
  EXPECT_GT(errors, 100u) << "most cuts end inside a header or a section";
}

// Random bytes in the headers: any answer but a crash or a read beyond the file.
TEST(QXHostInspect, CorruptedHeadersAreReadWithinTheFile) {
  const std::string bytes = Bytes(PE + "/release/good.qxm");
  const std::string path = Scratch("corrupt.qxm");
  std::mt19937 random(2026);
  for (int round = 0; round < 300; ++round) {
    std::string copy = bytes;
    for (int k = 0; k < 8; ++k) copy[random() % 1024] = static_cast<char>(random() & 0xFF);
    Write(path, copy);
    Inspect run({"--stripped", "--version", "1.2.3", path});
    EXPECT_TRUE(run.code == 0 || run.code == 1) << run.err;
  }
}

#endif

}  // namespace
