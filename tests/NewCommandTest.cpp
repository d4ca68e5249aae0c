// qxhost new: the project it writes, and what it refuses without writing or
// overwriting anything. That the project builds and passes validation is the
// sdk stage's part (scripts/check-sdk.sh builds it from the SDK archive).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "NewCommand.h"
#include "QXHostTool.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

struct New {
  New(const std::string& name, const fs::path& folder) {
    std::ostringstream o, e;
    QXHostTool tool(o, e, false);
    code = tool.Run({"new", name, folder.string()});
    out = o.str();
    err = e.str();
  }
  int code;
  std::string out, err;
};

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

fs::path Fresh(const std::string& name) {
  const fs::path dir = fs::temp_directory_path() / "qx-new-test" / name;
  fs::remove_all(dir);
  fs::create_directories(dir.parent_path());
  return dir;
}

size_t Entries(const fs::path& dir) {
  size_t count = 0;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it)
    ++count;
  return count;
}

TEST(QXHostNew, WritesAProjectOnThePackageAndThenRefusesToWriteAgain) {
  const fs::path dir = Fresh("made") / "deeper";
  New run("Echo_2", dir);
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* file : {"CMakeLists.txt", "Echo_2Module.h", "Echo_2Module.cpp", "Echo_2Gui.h",
                           "Echo_2Gui.cpp", "Echo_2Exports.cpp", "README.md", "test/sine.wav"})
    EXPECT_TRUE(fs::is_regular_file(dir / file)) << file;
  const std::string lists = Read(dir / "CMakeLists.txt");
  EXPECT_NE(lists.find("find_package(qx_sdk2 1.0 REQUIRED)"), std::string::npos);
  EXPECT_NE(lists.find("qx_add_module(Echo_2 SOURCES Echo_2Module.cpp Echo_2Gui.cpp Echo_2Exports.cpp)"),
            std::string::npos);
  EXPECT_NE(lists.find("add_test(NAME validate"), std::string::npos);
  EXPECT_NE(lists.find("add_test(NAME process"), std::string::npos);
  EXPECT_NE(Read(dir / "Echo_2Module.h").find("#ifndef ECHO_2_MODULE_H"), std::string::npos);
  EXPECT_NE(Read(dir / "Echo_2Exports.cpp").find("QX_MODULE_EXPORTS(Echo_2Module, Echo_2Gui, \"Echo_2\","),
            std::string::npos);
  for (const auto& file : NewCommand::Files("Echo_2", "/sdk")) {
    for (const char* placeholder : {"@NAME@", "@UPPER@", "@SDK@"})
      EXPECT_EQ(file.second.find(placeholder), std::string::npos) << file.first << ": " << placeholder;
  }
  EXPECT_NE(Read(dir / "README.md").find("-DCMAKE_PREFIX_PATH="), std::string::npos);
  // A WAV file of 4800 16-bit samples.
  const std::string wav = Read(dir / "test/sine.wav");
  EXPECT_EQ(wav.size(), 44u + 9600u);
  EXPECT_EQ(wav.substr(0, 4), "RIFF");

  // Again into the same folder: refused, nothing changed.
  std::ofstream(dir / "Echo_2Module.cpp", std::ios::app) << "// mine\n";
  const std::string mine = Read(dir / "Echo_2Module.cpp");
  const size_t entries = Entries(dir);
  New again("Echo_2", dir);
  EXPECT_EQ(again.code, 1);
  EXPECT_NE(again.err.find(" is not empty"), std::string::npos) << again.err;
  EXPECT_EQ(Read(dir / "Echo_2Module.cpp"), mine);
  EXPECT_EQ(Entries(dir), entries);
  fs::remove_all(dir.parent_path());
}

TEST(QXHostNew, AnEmptyFolderIsTaken) {
  const fs::path dir = Fresh("empty");
  fs::create_directories(dir);
  EXPECT_EQ(New("Empty", dir).code, 0);
  EXPECT_TRUE(fs::is_regular_file(dir / "EmptyGui.cpp"));
  fs::remove_all(dir);
}

TEST(QXHostNew, RefusesNamesThatAreNoIdentifiers) {
  const fs::path dir = Fresh("names");
  const std::vector<std::string> names = {"",    "1st",         "_x",  "my-module",
                                          "a b", "caf\xc3\xa9", "x/y", std::string(65, 'a')};
  for (const std::string& name : names) {
    New run(name, dir);
    EXPECT_EQ(run.code, 2) << name;
    EXPECT_NE(run.err.find("cannot name a module"), std::string::npos) << name << ": " << run.err;
    EXPECT_FALSE(fs::exists(dir)) << name;
  }
  EXPECT_TRUE(NewCommand::ValidName("Gain2_x"));
  EXPECT_TRUE(NewCommand::ValidName(std::string(64, 'a')));
}

TEST(QXHostNew, RefusesAFolderItCannotWrite) {
  const fs::path base = Fresh("unwritable");
  fs::create_directories(base);
  std::ofstream(base / "file") << "x";
  New onto_file("Mod", base / "file");
  EXPECT_EQ(onto_file.code, 1);
  EXPECT_NE(onto_file.err.find("exists and is not a folder"), std::string::npos) << onto_file.err;
  New under_file("Mod", base / "file" / "sub");
  EXPECT_EQ(under_file.code, 1);
  EXPECT_NE(under_file.err.find("cannot make the folder"), std::string::npos) << under_file.err;
  EXPECT_EQ(Read(base / "file"), "x");
#ifndef _WIN32
  // Permissions bind everyone but root.
  if (geteuid() != 0) {
    const fs::path locked = base / "locked";
    fs::create_directories(locked);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
    New run("Mod", locked);
    EXPECT_EQ(run.code, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;
    fs::permissions(locked, fs::perms::owner_all);
    EXPECT_EQ(Entries(locked), 0u) << "what it wrote is taken away";
  }
#endif
  fs::remove_all(base);
}

}  // namespace
