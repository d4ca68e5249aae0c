// A module written straight against the host interface, without the
// framework, that behaves as the level converter does. The validator's tests
// build it once as is and once per rule with one fault switched on
// (FAULT_<RULE>, see CMakeLists.txt), so that each copy breaks exactly one
// rule of the host contract.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "QXHostInterface.h"

#if defined(FAULT_RELOAD_DIFFERS) && defined(_WIN32)
#include <windows.h>
#endif
#if !defined(_WIN32) && (defined(FAULT_ESCAPES) || defined(FAULT_MUTES_OUTPUT) || \
                         defined(FAULT_FORGES_RESULT) || defined(FAULT_REPLACES_REPORT))
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef FAULT_FORGES_RESULT
// Fails a check (its close answers 0) and tries every road to a forged pass.
#define FAULT_CLOSE_ANSWERS_0 1
#endif

#ifndef FAULT_NAME
#define FAULT_NAME "none"
#endif

namespace {

const char ID[] = "Kalo_GUI-Gainlens";
#ifdef FAULT_CONTROL_CHARS
// A display name that would recolour a terminal and ring its bell.
const char NAME[] = "Faulty \x1b[31mmodule\x07 (" FAULT_NAME ")";
#else
const char NAME[] = "Faulty module (" FAULT_NAME ")";
#endif
const char ABOUT[] =
    "Faulty module 1.0\n\nA bi-directional test double that breaks one rule: " FAULT_NAME ".";
#ifdef FAULT_UNSTABLE_PROPERTIES
const char ABOUT_COPY[] =
    "Faulty module 1.0\n\nA bi-directional test double that breaks one rule: " FAULT_NAME ".";
#endif
#ifdef FAULT_LONG_ABOUT
char g_long_about[5001];
#endif

// Used by some of the faults only.
[[maybe_unused]] volatile bool g_forever = true;

// A hang: the call never returns. It sleeps rather than spins, so that the
// tests of hangs leave the processor to the tests beside them; the host
// stops a spinning module the same way.
[[maybe_unused]] void Forever() {
  while (g_forever) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

#if defined(FAULT_ESCAPES) && !defined(_WIN32)
// Leaves a process behind as a daemon does (two forks, a session of its
// own), which creates the file QX_ESCAPED_MARKER names two seconds later.
void Escape() {
  const char* marker = std::getenv("QX_ESCAPED_MARKER");
  if (marker == nullptr || fork() != 0) return;
  setsid();
  if (fork() == 0) {
    sleep(2);
    const int fd = open(marker, O_WRONLY | O_CREAT, 0644);
    if (fd >= 0) close(fd);
  }
  _exit(0);
}
#endif
#if defined(FAULT_MUTES_OUTPUT) && !defined(_WIN32)
// Points the process's output and error at nothing.
void Mute() {
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
}
#endif
#if defined(__linux__) && (defined(FAULT_REPLACES_REPORT) || defined(FAULT_FORGES_RESULT))
// The whole of a file, read with system calls.
std::string ReadWhole(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY);
  char buffer[4096];
  for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(got));
  if (fd >= 0) close(fd);
  return text;
}
#endif
#if defined(FAULT_REPLACES_REPORT) && defined(__linux__)
// Puts a file of its own in the place of each report file named on its
// parent's command line (--junit FILE, --trace FILE).
void ReplaceReports() {
  const std::string words = ReadWhole("/proc/" + std::to_string(getppid()) + "/cmdline");
  std::string previous;
  for (size_t from = 0, end; (end = words.find('\0', from)) != std::string::npos; from = end + 1) {
    const std::string word = words.substr(from, end - from);
    if (previous == "--junit" || previous == "--trace") {
      const std::string forged = word + ".forged";
      FILE* file = std::fopen(forged.c_str(), "w");
      if (file != nullptr) {
        std::fputs("forged\n", file);
        std::fclose(file);
        std::rename(forged.c_str(), word.c_str());
      }
    }
    previous = word;
  }
}
#endif
#if defined(FAULT_FORGES_RESULT) && defined(__linux__)
// Looks for the run's token wherever a module can read (its command line, its
// environment) and writes a passing result with it on every descriptor the
// validator may have given the process, at its end and far beyond it.
void Forge() {
  const std::string words = ReadWhole("/proc/self/cmdline") + '\0' + ReadWhole("/proc/self/environ") + '\0';
  std::string token;
  for (size_t from = 0, end; (end = words.find('\0', from)) != std::string::npos; from = end + 1) {
    const std::string word = words.substr(from, end - from);
    if (word.size() >= 32 &&
        word.find_first_not_of("0123456789abcdef", word.size() - 32) == std::string::npos)
      token = word.substr(word.size() - 32);
  }
  const std::string line = "\n@qxresult " + token + " pass 0 0 forged\n";
  for (int fd = 3; fd < 10; ++fd) {
    if (write(fd, line.data(), line.size()) < 0) continue;
    if (pwrite(fd, line.data(), line.size(), 64L << 20) < 0) continue;
  }
}
#endif

#ifdef FAULT_LOAD_ABORT
// Work at load time that fails: the system's loader runs it inside dlopen.
struct AbortsWhenLoaded {
  AbortsWhenLoaded() { std::abort(); }
} g_aborts_when_loaded;
#endif
#ifdef FAULT_RELOAD_DIFFERS
// Counts the loads in the process's environment, which outlives the library:
// a library loaded again describes itself otherwise.
bool CountLoad() {
  const char* name = "QX_FAULTY_RELOAD_DIFFERS_LOADS";
#ifdef _WIN32
  char before[8] = "";
  GetEnvironmentVariableA(name, before, sizeof before);
  SetEnvironmentVariableA(name, "1");
#else
  const char* value = std::getenv(name);
  const std::string before = value != nullptr ? value : "";
  setenv(name, "1", 1);
#endif
  return before[0] != '\0';
}
const bool g_loaded_before = CountLoad();
#endif
[[maybe_unused]] float* volatile g_sink = nullptr;
[[maybe_unused]] int* volatile g_nowhere = nullptr;

enum : int32_t { VOLTAGE = 0, VREF = 1, DB = 2, PINS = 3 };

// ------------------------------------------------------------------ DSP side

struct Dsp {
  QXModuleStruct record;
  qxaudioMaster host;

  void Call(int32_t opcode) {
#ifndef FAULT_NO_CALLBACK_CRASH
    if (host == nullptr) return;
#endif
    host(&record, opcode, 0, 0, nullptr, 0.0f);
  }
  // The process function, called through process_entry with this object first.
  void Process(int32_t, int32_t) {
    Call(HOST_OP_SLEEP);
#ifdef FAULT_UNKNOWN_HOST_OPCODE
    Call(99);
#endif
#ifdef FAULT_SHARED_DSP_STATE
    // A count kept for all instances together, told to the host as a pin
    // notification: each instance's calls depend on what the others did.
    static int32_t s_process_calls = 0;
    if (host != nullptr) host(&record, HOST_OP_PIN_NOTIFY, 0, s_process_calls++, nullptr, 0.0f);
#endif
#ifdef FAULT_LATE_EVENT
    // An event for the clock before the call's: the host can only drop it.
    if (host != nullptr) {
      const auto clock = static_cast<uint32_t>(host(&record, HOST_OP_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
      QXEvent late{clock - 1, ET_DATA, 0, 0, 0, 0};
      if (clock > 0) host(&record, HOST_OP_ADD_EVENT, 0, 0, &late, 0.0f);
    }
#endif
#ifdef FAULT_ALLOCATES_IN_PROCESS
    g_sink = new float[16];
    delete[] g_sink;
#endif
  }
};

QXProcessFunctionInfo g_process_info;

QXProcessEntry ProcessEntry() {
  // The code word of a member-function pointer, as the framework takes it.
  void (Dsp::*f)(int32_t, int32_t) = &Dsp::Process;
  QXProcessEntry entry;
  static_assert(sizeof f >= sizeof entry, "a member-function pointer starts with its code word");
  std::memcpy(&entry, &f, sizeof entry);
  return entry;
}

bool Describe(int32_t index, QXPinProperties* p) {
  static const char* const NAMES[] = {"Voltage", "Vref", "dB"};
#ifdef FAULT_MANY_PINS
  // 997 more inputs, each with a name of 200 characters.
  static std::string names[1000];
  if (index >= PINS && index < 1000) {
    names[index] =
        "Pin " + std::to_string(index) + " " + std::string(195 - std::to_string(index).size(), 'p');
    p->name = names[index].c_str();
    p->direction = DR_IN;
    p->datatype = DT_FLOAT;
    p->flags = IO_UI_COMMUNICATION;
    return true;
  }
#endif
  if (index < 0 || index >= PINS) return false;
  p->name = NAMES[index];
#ifdef FAULT_LONG_PIN_NAME
  static const std::string long_name = "Vref, " + std::string(194, 'v');
  if (index == VREF) p->name = long_name.c_str();
#endif
  p->direction = index == DB ? DR_OUT : DR_IN;
  p->datatype = DT_FLOAT;
  p->flags = IO_UI_COMMUNICATION;
#ifdef FAULT_PATCH_STORE
  if (index == VREF) p->flags = IO_PATCH_STORE;  // an input, neither private nor a GUI pin
#endif
  return true;
}

void QX_CALL DspEvent(void*, QXEvent*) {}

QXWord QX_CALL DspDispatch(QXModuleStruct* record, int32_t opcode, int32_t index, int32_t, void* ptr, float) {
  auto* dsp = static_cast<Dsp*>(record->object);
  switch (opcode) {
    case DSP_OP_OPEN:
      dsp->Call(HOST_OP_PROCESS_FUNCTION_CHANGED);
      dsp->Call(HOST_OP_GET_PIN_COUNT);
      return 0;
    case DSP_OP_CLOSE:
      delete dsp;
#ifdef FAULT_CLOSE_ANSWERS_0
      return 0;
#else
      return 1;
#endif
    case DSP_OP_GET_PIN_PROPERTIES:
      return Describe(index, static_cast<QXPinProperties*>(ptr)) ? 1 : 0;
    case DSP_OP_GET_PROCESS_INFO:
      g_process_info = QXProcessFunctionInfo{1, 8, nullptr, 1002};
      return reinterpret_cast<QXWord>(&g_process_info);
    default:
      // Known opcodes that need nothing of this module answer 0 as well.
      if (opcode == DSP_OP_CHANGE_SAMPLE_RATE || opcode == DSP_OP_CHANGE_BLOCK_SIZE ||
          opcode == DSP_OP_NOTIFY || opcode == DSP_OP_MESSAGE)
        return 0;
#ifdef FAULT_CRASH_ON_UNKNOWN
      *g_nowhere = opcode;
#endif
#ifdef FAULT_THROWS_ON_UNKNOWN
      throw std::runtime_error("opcode " + std::to_string(opcode) + " is not for me");
#endif
      return 0;
  }
}

Dsp* NewDsp(qxaudioMaster callback, QXWord host_data) {
  auto* dsp = new Dsp{};
  dsp->host = callback;
  dsp->record.magic = QX_MAGIC_DSP;
#ifdef FAULT_WRONG_MAGIC
  dsp->record.magic = 0x5158505A;  // 'QXPZ'
#endif
  dsp->record.version = 1;
  dsp->record.host_data = host_data;
  dsp->record.object = dsp;
  dsp->record.dispatch_entry = &DspDispatch;
  dsp->record.process_entry = ProcessEntry();
  dsp->record.event_entry = &DspEvent;
  return dsp;
}

// ------------------------------------------------------------------ GUI side

#ifdef FAULT_WRONG_RECORD
QXGuiStruct* g_first_record = nullptr;
#endif
#ifdef FAULT_SHARED_STATE
float g_vref = 0.0f;
#endif
#ifdef FAULT_LEFTOVER_STATE
float g_left_voltage = 1.0f, g_left_db = 0.0f;
int g_left_mode = 1;
#endif

struct Gui {
  QXGuiStruct record;
  qxaudioMaster host;
  float voltage = 0.0f, vref = 0.0f, db = 0.0f;
  int mode = 1;  // 1: voltage to decibels, 2: decibels to voltage
  bool busy = false;

  QXGuiStruct* Self() {
#ifdef FAULT_WRONG_RECORD
    // The first instance's record, for every instance after it too.
    if (g_first_record == nullptr) g_first_record = &record;
    return g_first_record;
#else
    return &record;
#endif
  }
  float Read(int32_t pin) {
    float value = 0.0f;
    host(Self(), GUIHOST_OP_READ_PIN_VALUE, pin, 0, &value, 0.0f);
    return value;
  }
  void Write(int32_t pin, float value) { host(Self(), GUIHOST_OP_WRITE_PIN_VALUE, pin, 0, nullptr, value); }
  float& Vref() {
#ifdef FAULT_SHARED_STATE
    return g_vref;
#else
    return vref;
#endif
  }

  void Start() {
    Vref() = Read(VREF);
    voltage = Vref();
#ifdef FAULT_LEFTOVER_STATE
    voltage = g_left_voltage;
    db = g_left_db;
    mode = g_left_mode;
#endif
  }

  void Changed(int32_t pin) {
#ifndef FAULT_NO_GUARD
    if (busy) return;
#endif
    busy = true;
#ifdef FAULT_ALLOCATES
    g_sink = new float[16];
    delete[] g_sink;
#endif
    if (pin == VREF) Vref() = Read(VREF);
    if (pin == VOLTAGE) voltage = Read(VOLTAGE), mode = 1;
    if (pin == DB) db = Read(DB), mode = 2;
    if (mode == 1) {
#ifdef FAULT_FLOAT_MATH
      db = 20.0f * std::log10(voltage / Vref());
#else
      db = static_cast<float>(20.0f * std::log10(static_cast<double>(voltage) / static_cast<double>(Vref())));
#endif
      Write(DB, db);
    } else {
#ifdef FAULT_FLOAT_MATH
      voltage = std::pow(10.0f, db / 20.0f) * Vref();
#else
      voltage =
          static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0f) * static_cast<double>(Vref()));
#endif
      Write(VOLTAGE, voltage);
    }
#ifdef FAULT_LEFTOVER_STATE
    g_left_voltage = voltage, g_left_db = db, g_left_mode = mode;
#endif
    busy = false;
  }
};

QXWord QX_CALL GuiDispatch(QXGuiStruct* record, int32_t opcode, int32_t index, int32_t, void*, float) {
  auto* gui = static_cast<Gui*>(record->object);
  if (opcode == GUI_OP_CLOSE) {
    delete gui;
    return 1;
  }
  if (opcode == GUI_OP_PIN_VALUE_CHANGED) gui->Changed(index);
#ifdef FAULT_CHANGES_VERSION
  if (opcode == GUI_OP_PIN_VALUE_CHANGED) record->version = 2;
#endif
#ifdef FAULT_HANGS
  if (opcode < 0 || opcode > GUI_OP_INDEX_2) Forever();
#endif
  return 0;
}

Gui* NewGui(qxaudioMaster callback, QXWord host_data) {
  auto* gui = new Gui{};
  gui->host = callback;
  gui->record.magic = QX_MAGIC_GUI;
  gui->record.version = 1;
  gui->record.dispatch_entry = &GuiDispatch;
  gui->record.host_data = host_data;
  gui->record.object = gui;
  gui->Start();
  return gui;
}

}  // namespace

extern "C" QX_EXPORT bool QX_CALL getModuleProperties(int32_t index, QXModuleProperties* properties) {
#ifdef FAULT_HANGS_LOADING
  Forever();
#endif
#if defined(FAULT_SLOW_LOADING) || defined(FAULT_SLOWISH_LOADING)
  // Work the host's start waits for: past the failure's limit, or past the
  // warning's only.
#ifdef FAULT_SLOW_LOADING
  if (index == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
#else
  if (index == 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
#endif
#endif
#ifdef FAULT_VERSION_ONLY_INDEX0
  if (index != 0) return false;
#endif
  properties->sdk_version = QX_SDK_VERSION;
  if (index != 0) return false;
#if defined(FAULT_MUTES_OUTPUT) && !defined(_WIN32)
  Mute();
#endif
  properties->name = NAME;
  properties->id = ID;
  properties->about = ABOUT;
#ifdef FAULT_UNSTABLE_PROPERTIES
  static int calls = 0;
  if (++calls % 2 == 0) properties->about = ABOUT_COPY;
#endif
#ifdef FAULT_LONG_ABOUT
  std::memset(g_long_about, 'x', sizeof g_long_about - 1);
  properties->about = g_long_about;
#endif
#ifdef FAULT_RELOAD_DIFFERS
  if (g_loaded_before) properties->about = "Faulty module 1.0, loaded again";
#endif
  properties->flags = 256;
  return true;
}

extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster callback,
                                              QXWord host_data) {
  if (index != 0) return nullptr;
#if defined(FAULT_ESCAPES) && !defined(_WIN32)
  Escape();
#endif
#if defined(FAULT_FORGES_RESULT) && defined(__linux__)
  Forge();
#endif
#if defined(FAULT_REPLACES_REPORT) && defined(__linux__)
  ReplaceReports();
#endif
#ifdef FAULT_FAKE_RESULT
  // Passes for the validator's own result line on standard output, then ends
  // the process before any check could finish.
  std::fputs("@qxresult pass 0 0 \n", stdout);
  std::fflush(stdout);
  std::_Exit(0);
#endif
#ifdef FAULT_CONTROL_CHARS
  // Prints what would set a terminal's title, clear it (through the 8-bit
  // introducer, alone and in UTF-8) and delete a character.
  std::fputs(
      "made \x1b]0;title\x07 \x9b"
      "2J \xc2\x9b"
      "2J \x7f.\n",
      stdout);
  std::fflush(stdout);
#endif
  if (type == QX_INSTANCE_DSP) return &NewDsp(callback, host_data)->record;
  if (type == QX_INSTANCE_GUI) return &NewGui(callback, host_data)->record;
#ifdef FAULT_ACCEPTS_TYPE3
  if (type == 3) return &NewGui(callback, host_data)->record;
#endif
  return nullptr;
}
