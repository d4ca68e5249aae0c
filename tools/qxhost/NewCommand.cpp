#include "NewCommand.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "ChildRunner.h"
#include "TextFormat.h"

namespace fs = std::filesystem;

namespace {

// The project's files, with @NAME@, @UPPER@ (the name in capitals) and @SDK@
// (the SDK's folder) to fill in.
// clang-format off
const char CMAKE_LISTS[] = R"txt(# @NAME@: a module of the host format, on the SDK's package qx_sdk2.
#   cmake -S . -B build -DCMAKE_PREFIX_PATH=<the SDK's folder>
#   cmake --build build && ctest --test-dir build
cmake_minimum_required(VERSION 3.25)
project(@NAME@ VERSION 1.0.0 DESCRIPTION "@NAME@: an audio level in decibels" LANGUAGES CXX)

find_package(qx_sdk2 1.0 REQUIRED)
# @NAME@.qxm, exporting getModuleProperties and makeModule only.
qx_add_module(@NAME@ SOURCES @NAME@Module.cpp @NAME@Gui.cpp @NAME@Exports.cpp)
# Target @NAME@_release: release/@NAME@.qxm stripped, its debug file beside it,
# and on Windows a version resource of the project's version.
qx_module_release(@NAME@)

# The checks of the host contract, and a run over a sound with a change in it,
# by the SDK's qxhost (a build for another machine cannot run them here).
enable_testing()
if(TARGET qx_sdk2::qxhost AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME validate COMMAND qx_sdk2::qxhost validate --strict $<TARGET_FILE:@NAME@>)
  add_test(NAME process COMMAND qx_sdk2::qxhost process $<TARGET_FILE:@NAME@>
           ${CMAKE_CURRENT_SOURCE_DIR}/test/sine.wav ${CMAKE_CURRENT_BINARY_DIR}/process.wav
           "Level (dB)=-6" "Level (dB)=0@0.05")
endif()
)txt";

const char MODULE_H[] = R"txt(// The DSP side of @NAME@: one audio input, one audio output and "Level (dB)",
// a control pin shared with the GUI side. The host writes the pin's variable
// and reports the change as an event at its sample; from that sample on the
// output has the new level.
#ifndef @UPPER@_MODULE_H
#define @UPPER@_MODULE_H

#include <cstdint>

#include "QXModule_base.h"
#include "QXPin.h"

class @NAME@Module : public QXModule_base {
 public:
  // DSP pin ids, which are also the pins' places in the description list
  // (every pin here is a DSP pin, so the host's pin indices are the same).
  enum : int32_t { IN = 0, OUT = 1, LEVEL = 2, PINS = 3 };
  // The range the level is held to, in dB.
  static constexpr float MIN_DB = -96.0f;
  static constexpr float MAX_DB = 12.0f;

  @NAME@Module(::qxaudioMaster callback, QXWord host_data) : QXModule_base(callback, host_data) {}

  bool GetPinProperties(int32_t index, QXPinProperties* properties) override;
  // Installs Process, lets the base build the pins, keeps the buffers' addresses.
  void Open() override;
  void OnPinStatusChange(QXPin* pin) override;
  // out = in * level over [offset, offset + count), nothing else; no
  // allocation, no lock: it runs on the audio thread.
  void Process(int32_t offset, int32_t count);

 private:
  void TakeLevel();

  float m_level_db = 0.0f;  // the pin's variable: the host writes it
  float m_factor = 1.0f;
  float* m_in = nullptr;
  float* m_out = nullptr;
};

#endif  // @UPPER@_MODULE_H
)txt";

const char MODULE_CPP[] = R"txt(#include "@NAME@Module.h"

#include <algorithm>
#include <cmath>

bool @NAME@Module::GetPinProperties(int32_t index, QXPinProperties* properties) {
  static const struct {
    const char* name;
    int32_t direction;
    int32_t datatype;
    int32_t flags;
  } TABLE[PINS] = {
      {"In", DR_IN, DT_FSAMPLE, 0},
      {"Out", DR_OUT, DT_FSAMPLE, 0},
      // Set on the GUI side, read on the DSP side.
      {"Level (dB)", DR_IN, DT_FLOAT, IO_UI_COMMUNICATION | IO_UI_DSP_SHARED},
  };
  if (index < 0 || index >= PINS) return false;
  properties->name = TABLE[index].name;
  properties->direction = TABLE[index].direction;
  properties->datatype = TABLE[index].datatype;
  properties->flags = TABLE[index].flags;
  properties->variable_address = index == LEVEL ? &m_level_db : nullptr;
  return true;
}

void @NAME@Module::Open() {
  SetProcessFunction(static_cast<QXProcessFunction>(&@NAME@Module::Process));
  QXModule_base::Open();
  // Without its pins (no host callback) the module processes nothing.
  const bool pins = PinCount() >= PINS;
  m_in = pins ? GetPin(IN)->SampleBuffer() : nullptr;
  m_out = pins ? GetPin(OUT)->SampleBuffer() : nullptr;
  TakeLevel();
}

void @NAME@Module::OnPinStatusChange(QXPin* pin) {
  if (pin->Id() == LEVEL) TakeLevel();
}

void @NAME@Module::TakeLevel() {
  // A value that is no number keeps the level as it is. The change is taken
  // at once; a module that must not click ramps to it (see the gain example).
  if (!std::isfinite(m_level_db)) return;
  m_factor = std::pow(10.0f, std::min(std::max(m_level_db, MIN_DB), MAX_DB) / 20.0f);
}

void @NAME@Module::Process(int32_t offset, int32_t count) {
  if (m_in == nullptr || m_out == nullptr) return;
  for (int32_t i = offset; i < offset + count; ++i) m_out[i] = m_in[i] * m_factor;
}
)txt";

const char GUI_H[] = R"txt(// The GUI side of @NAME@: keeps "Level (dB)" within the range the DSP side
// uses, writing back a value outside it. The host may report that write back
// at once, from inside it: the guard ignores it.
#ifndef @UPPER@_GUI_H
#define @UPPER@_GUI_H

#include <cstdint>

#include "QXGUI_base.h"

class @NAME@Gui : public QXGUI_base {
 public:
  // The pin's index as the host numbers the module's pins.
  static constexpr int32_t LEVEL_PIN = 2;

  @NAME@Gui(::qxaudioMaster callback, QXWord host_data) : QXGUI_base(callback, host_data) {}
  void OnPinValueChanged(QXGuiPin* pin) override;

 private:
  bool m_busy = false;  // inside OnPinValueChanged
};

#endif  // @UPPER@_GUI_H
)txt";

const char GUI_CPP[] = R"txt(#include "@NAME@Gui.h"

#include <algorithm>
#include <cmath>

#include "@NAME@Module.h"

void @NAME@Gui::OnPinValueChanged(QXGuiPin* pin) {
  if (m_busy || pin->GetIndex() != LEVEL_PIN) return;
  // Cleared however the call ends, a host callback that throws included.
  struct Busy {
    bool& flag;
    explicit Busy(bool& f) : flag(f) { flag = true; }
    ~Busy() { flag = false; }
  } busy(m_busy);
  const float db = pin->GetValueFloat();
  const float held =
      std::isnan(db) ? 0.0f : std::min(std::max(db, @NAME@Module::MIN_DB), @NAME@Module::MAX_DB);
  if (held != db) pin->SetValueFloat(held);
}
)txt";

const char EXPORTS_CPP[] = R"txt(// The library's two exports: module 0 is @NAME@.
#include "@NAME@Gui.h"
#include "@NAME@Module.h"
#include "QXModuleExports.h"

QX_MODULE_EXPORTS(@NAME@Module, @NAME@Gui, "@NAME@",
                  "@NAME@, version 1.0\n\nAn audio level in decibels, set from the GUI and taken by the DSP "
                  "side at the sample of the change.")
)txt";

const char README[] = R"txt(# @NAME@

A module for the modular audio host, made by `qxhost new`: an audio input, an
audio output and a control pin, "Level (dB)", that the GUI side keeps within
its range and the DSP side applies from the sample of each change.

Build it, run its tests (the checks of the host contract, and a run over
`test/sine.wav` with a change at 50 ms), and validate it at every strictness:

    cmake -S . -B build -DCMAKE_PREFIX_PATH=@SDK@
    cmake --build build
    ctest --test-dir build --output-on-failure
    @SDK@/bin/qxhost validate --strictness 3 --strict build/@NAME@.qxm
    @SDK@/bin/qxhost process build/@NAME@.qxm test/sine.wav out.wav "Level (dB)=-6" "Level (dB)=0@0.05"

The file for the host, a 32-bit Windows DLL, from the SDK for 32-bit Windows
(`qx_sdk2-<version>-win32.zip`, extracted into WIN32_SDK), and its release
(stripped, its debug file beside it, a version resource of the project's
version), checked without loading it:

    cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=WIN32_SDK/share/qx_sdk2/toolchains/win32.cmake \
          -Dqx_sdk2_DIR=WIN32_SDK/lib/cmake/qx_sdk2
    cmake --build build-win32 --target @NAME@_release
    @SDK@/bin/qxhost inspect --stripped --version 1.0.0 build-win32/release/@NAME@.qxm

Copy `build-win32/release/@NAME@.qxm` into the host's module folder; keep
`@NAME@.qxm.debug` to read a crash report. The SDK's guide,
`share/qx_sdk2/MODULE_AUTHORS.md`, says what a module must and must not do.
)txt";
// clang-format on

std::string Fill(std::string text, const std::string& name, const std::string& sdk) {
  std::string upper;
  for (const char c : name) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  const std::pair<std::string, std::string> keys[] = {{"@NAME@", name}, {"@UPPER@", upper}, {"@SDK@", sdk}};
  for (const auto& key : keys) {
    for (size_t at = text.find(key.first); at != std::string::npos;
         at = text.find(key.first, at + key.second.size()))
      text.replace(at, key.first.size(), key.second);
  }
  return text;
}

void Little(std::string* bytes, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A tenth of a second of a 997 Hz sine at half of full scale: 48 kHz, one
// channel of 16-bit samples, a plain WAV file.
std::string TestSound() {
  const uint32_t rate = 48000, frames = 4800;
  std::string wav = "RIFF";
  Little(&wav, 36 + frames * 2, 4);
  wav += "WAVEfmt ";
  Little(&wav, 16, 4);
  Little(&wav, 1, 2);  // PCM
  Little(&wav, 1, 2);  // channels
  Little(&wav, rate, 4);
  Little(&wav, rate * 2, 4);
  Little(&wav, 2, 2);
  Little(&wav, 16, 2);
  wav += "data";
  Little(&wav, frames * 2, 4);
  // M_PI is not standard C++ and MinGW leaves it out.
  const double pi = std::acos(-1.0);
  for (uint32_t n = 0; n < frames; ++n) {
    const double s = 16384.0 * std::sin(2.0 * pi * 997.0 * n / rate);
    Little(&wav, static_cast<uint32_t>(static_cast<int32_t>(std::lround(s))), 2);
  }
  return wav;
}

// The SDK this qxhost belongs to, if it lies in one (PREFIX/bin/qxhost beside
// PREFIX/lib/cmake/qx_sdk2).
std::string SdkFolder() {
  std::error_code error;
  const fs::path self = fs::u8path(ChildRunner::SelfPath());
  const fs::path prefix = self.parent_path().parent_path();
  if (self.parent_path().filename() == "bin" && fs::exists(prefix / "lib" / "cmake" / "qx_sdk2", error))
    return prefix.u8string();
  return "<the SDK's folder>";
}

}  // namespace

NewCommand::NewCommand(CLI::App& tool)
    : ToolCommand(tool, "new", "qxhost new NAME FOLDER",
                  "Writes a module project named NAME into FOLDER (made if missing, else it must be\n"
                  "empty): its CMake project on the SDK's package, a DSP side and a GUI side sharing a\n"
                  "control pin between an audio input and output, the exports, a README with the next\n"
                  "commands, and a test of the module by validate and process. Overwrites nothing.") {
  Option("NAME", &m_name, "the module's name: letters, digits and _, starting with a letter").Required();
  Option("FOLDER", &m_folder, "where the project goes: a new or an empty folder").Required();
}

bool NewCommand::ValidName(const std::string& name) {
  if (name.empty() || name.size() > 64) return false;
  if (!((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) return false;
  for (const char c : name) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'))
      return false;
  }
  return true;
}

std::vector<std::pair<std::string, std::string> > NewCommand::Files(const std::string& name,
                                                                    const std::string& sdk) {
  return {{"CMakeLists.txt", Fill(CMAKE_LISTS, name, sdk)},
          {name + "Module.h", Fill(MODULE_H, name, sdk)},
          {name + "Module.cpp", Fill(MODULE_CPP, name, sdk)},
          {name + "Gui.h", Fill(GUI_H, name, sdk)},
          {name + "Gui.cpp", Fill(GUI_CPP, name, sdk)},
          {name + "Exports.cpp", Fill(EXPORTS_CPP, name, sdk)},
          {"README.md", Fill(README, name, sdk)},
          {"test/sine.wav", TestSound()}};
}

int NewCommand::Run(std::ostream& out, std::ostream& err) {
  if (!ValidName(m_name))
    throw UsageError(
        "'" + TextFormat::Printable(m_name) +
        "' cannot name a module: use letters, digits and _, starting with a letter (at most 64)");
  const std::string shown = TextFormat::Printable(m_folder);
  const fs::path folder = fs::u8path(m_folder);
  std::error_code error;
  const fs::file_status status = fs::status(folder, error);
  bool made = false;
  if (fs::exists(status)) {
    if (!fs::is_directory(status)) {
      err << "qxhost: " << shown << " exists and is not a folder\n";
      return FAILED;
    }
    if (fs::directory_iterator(folder, error) != fs::directory_iterator() || error) {
      err << "qxhost: " << shown << (error ? " cannot be read: " + error.message() : " is not empty") << "\n";
      return FAILED;
    }
  } else {
    made = fs::create_directories(folder, error);
    if (!made) {
      err << "qxhost: cannot make the folder " << shown << ": " << error.message() << "\n";
      return FAILED;
    }
  }

  // Each file is new: it is opened only if nothing is there, and on a failure
  // what this run wrote is taken away again.
  std::vector<fs::path> written;
  const auto undo = [&]() {
    std::error_code ignored;
    for (auto it = written.rbegin(); it != written.rend(); ++it) fs::remove(*it, ignored);
    fs::remove(folder / "test", ignored);  // only if empty
    if (made) fs::remove(folder, ignored);
  };
  for (const auto& file : Files(m_name, SdkFolder())) {
    const fs::path path = folder / fs::u8path(file.first);
    fs::create_directories(path.parent_path(), error);
    bool ok = !fs::exists(path, error);
    int why = ok ? 0 : EEXIST;
    if (ok) {
      errno = 0;
#ifdef _WIN32
      std::FILE* stream = _wfopen(path.c_str(), L"wb");
#else
      std::FILE* stream = std::fopen(path.c_str(), "wbx");
#endif
      ok = stream != nullptr;
      if (ok) {
        written.push_back(path);
        ok = std::fwrite(file.second.data(), 1, file.second.size(), stream) == file.second.size();
        ok = std::fclose(stream) == 0 && ok;
      }
      if (!ok) why = errno;
    }
    if (!ok) {
      err << "qxhost: cannot write " << TextFormat::Printable((folder / fs::u8path(file.first)).u8string())
          << ": " << (why != 0 ? std::error_code(why, std::generic_category()).message() : "no reason given")
          << "\n";
      undo();
      return FAILED;
    }
  }
  out << "qxhost: wrote the module project " << m_name << " into " << shown << ":";
  for (const auto& file : Files(m_name, "")) out << " " << file.first;
  out << "\nnext: " << shown << "/README.md\n";
  return OK;
}
