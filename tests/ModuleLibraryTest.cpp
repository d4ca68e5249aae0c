// The host's loader against small module libraries built for these tests: one
// well-formed, and one for each way a file can fail to be a usable module.
#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>

#include "ModuleLibrary.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

std::string ModulePath(const std::string& file) { return std::string(QX_TEST_MODULE_DIR) + "/" + file; }

// Whether the system has the library at `path` loaded in this process.
bool IsLoaded(const std::string& path) {
#ifdef _WIN32
  std::wstring wide(path.begin(), path.end());  // the test paths are ASCII
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return GetModuleHandleW(wide.c_str()) != nullptr;
#else
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return handle != nullptr;
#endif
}

TEST(ModuleLibrary, OpensAWellFormedModuleAndReadsModule0) {
  const std::string path = ModulePath("good_module.qxm");
  ModuleLibrary::Error error{ModuleLibrary::Failure::NO_FILE, "untouched"};
  std::optional<ModuleLibrary> library = ModuleLibrary::Open(path, &error);
  ASSERT_TRUE(library.has_value()) << error.text;
  EXPECT_EQ(error.text, "untouched");
  EXPECT_EQ(library->Path(), path);
  const QXModuleProperties& properties = library->Properties();
  EXPECT_STREQ(properties.name, "Loader test module");
  EXPECT_EQ(properties.id, properties.name);
  EXPECT_EQ(properties.flags, 256);
  EXPECT_EQ(properties.sdk_version, QX_SDK_VERSION);
}

// Paths are UTF-8 everywhere; on Windows they must reach the system as the
// same characters in UTF-16, not byte by byte.
TEST(ModuleLibrary, OpensAModuleWhosePathIsNotAscii) {
  const std::string folder = ::testing::TempDir() +
                             "qx-m\xc3\xb8"
                             "dule-\xd0\xbf\xd1\x83\xd1\x82\xd1\x8c";
  const std::string path = folder + "/\xc3\xa9t\xc3\xa9.qxm";
  std::filesystem::create_directories(std::filesystem::u8path(folder));
  std::filesystem::copy_file(std::filesystem::u8path(ModulePath("good_module.qxm")),
                             std::filesystem::u8path(path),
                             std::filesystem::copy_options::overwrite_existing);
  {
    ModuleLibrary::Error error{ModuleLibrary::Failure::NO_FILE, ""};
    std::optional<ModuleLibrary> library = ModuleLibrary::Open(path, &error);
    ASSERT_TRUE(library.has_value()) << error.text;
    EXPECT_STREQ(library->Properties().name, "Loader test module");
  }
  std::filesystem::remove_all(std::filesystem::u8path(folder));
}

TEST(ModuleLibrary, CallsReachTheLibrarysOwnExports) {
  std::optional<ModuleLibrary> library = ModuleLibrary::Open(ModulePath("good_module.qxm"), nullptr);
  ASSERT_TRUE(library.has_value());

  QXModuleProperties properties{};
  properties.extra = 7;
  EXPECT_FALSE(library->GetModuleProperties(1, &properties));
  EXPECT_EQ(properties.sdk_version, QX_SDK_VERSION);
  EXPECT_EQ(properties.name, nullptr);
  EXPECT_EQ(properties.extra, 7);

  // The test module makes GUI-side instances only; they free themselves on close.
  EXPECT_EQ(library->MakeModule(0, QX_INSTANCE_DSP, nullptr, 0), nullptr);
  auto* record = static_cast<QXGuiStruct*>(library->MakeModule(0, QX_INSTANCE_GUI, nullptr, 0x5A5A));
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->magic, QX_MAGIC_GUI);
  EXPECT_EQ(record->host_data, 0x5A5A);
  EXPECT_EQ(record->dispatch_entry(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(ModuleLibrary, HoldsTheLibraryUntilDestroyedAndMovesItsHold) {
  const std::string path = ModulePath("good_module.qxm");
  ASSERT_FALSE(IsLoaded(path));
  {
    std::optional<ModuleLibrary> first = ModuleLibrary::Open(path, nullptr);
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(IsLoaded(path));

    ModuleLibrary moved(std::move(*first));
    first.reset();  // the moved-from object must not unload the library
    ASSERT_TRUE(IsLoaded(path));
    QXModuleProperties properties{};
    EXPECT_TRUE(moved.GetModuleProperties(0, &properties));

    std::optional<ModuleLibrary> again = ModuleLibrary::Open(path, nullptr);
    ASSERT_TRUE(again.has_value());
    moved = std::move(*again);  // drops one of the two holds
    again.reset();
    ASSERT_TRUE(IsLoaded(path));
    EXPECT_STREQ(moved.Properties().name, "Loader test module");
  }
  EXPECT_FALSE(IsLoaded(path));
}

TEST(ModuleLibrary, RelativePathIsTakenFromTheCurrentDirectory) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(QX_TEST_MODULE_DIR);
  ModuleLibrary::Error error{};
  const bool opened = ModuleLibrary::Open("good_module.qxm", &error).has_value();
  std::filesystem::current_path(before);
  EXPECT_TRUE(opened) << error.text;
}

// Expects `path` to be refused for `failure` with a one-line text that begins
// with the path and contains each of `words`, and not to be left loaded.
void ExpectRefused(const std::string& path, ModuleLibrary::Failure failure,
                   std::initializer_list<const char*> words) {
  ModuleLibrary::Error error{};
  EXPECT_FALSE(ModuleLibrary::Open(path, &error).has_value());
  EXPECT_EQ(error.failure, failure) << error.text;
  EXPECT_EQ(error.text.rfind(path + ": ", 0), 0u) << error.text;
  EXPECT_EQ(error.text.find_first_of("\r\n"), std::string::npos) << error.text;
  for (const char* word : words) EXPECT_NE(error.text.find(word), std::string::npos) << error.text;
  EXPECT_FALSE(IsLoaded(path));
}

TEST(ModuleLibraryRefuses, AMissingFile) {
  ExpectRefused(ModulePath("absent.qxm"), ModuleLibrary::Failure::NO_FILE, {"no such file"});
  ExpectRefused(ModulePath("absent/good_module.qxm"), ModuleLibrary::Failure::NO_FILE, {"no such file"});
}

TEST(ModuleLibraryRefuses, AFileThatIsNotALibrary) {
  ExpectRefused(ModulePath("not_a_library.qxm"), ModuleLibrary::Failure::NOT_A_LIBRARY,
                {"not a loadable library"});
  ExpectRefused(QX_TEST_MODULE_DIR, ModuleLibrary::Failure::NOT_A_LIBRARY, {"not a loadable library"});
}

TEST(ModuleLibraryRefuses, ALibraryWithoutMakeModuleNamingTheExport) {
  const std::string path = ModulePath("no_make_module.qxm");
  ExpectRefused(path, ModuleLibrary::Failure::MISSING_EXPORT, {"makeModule"});
  ModuleLibrary::Error error{};
  ModuleLibrary::Open(path, &error);
  EXPECT_EQ(error.text.find("getModuleProperties"), std::string::npos) << error.text;
}

TEST(ModuleLibraryRefuses, ALibraryWithoutModule0) {
  ExpectRefused(ModulePath("refuses_index0.qxm"), ModuleLibrary::Failure::NO_MODULE, {"index 0"});
}

TEST(ModuleLibraryRefuses, AnotherFrameworkVersion) {
  ExpectRefused(ModulePath("old_version.qxm"), ModuleLibrary::Failure::WRONG_VERSION, {"2229", "2230"});
}

TEST(ModuleLibraryRefuses, WithoutAPlaceForTheError) {
  EXPECT_FALSE(ModuleLibrary::Open(ModulePath("absent.qxm"), nullptr).has_value());
  EXPECT_FALSE(ModuleLibrary::Open(ModulePath("refuses_index0.qxm"), nullptr).has_value());
}

}  // namespace
