// A module written straight against the host interface, without the
// framework, that behaves as the level converter does. The validator's tests
// link it once as is and once per rule with that rule broken, so that each
// copy breaks exactly one rule of the host contract. The rule is the copy's
// name, kFaultName: this file is compiled once and linked with
// faulty_name.cpp built for each rule (CMakeLists.txt); built with FAULT_NAME
// defined (the benchmarks' framework-free twin, "none"), the name is a
// constant and the tests of it fold away.
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

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#ifdef FAULT_NAME
constexpr char kFaultName[] = FAULT_NAME;
#else
extern const char kFaultName[];  // faulty_name.cpp
#endif

namespace {

// Whether this copy breaks the rule named.
bool Is(const char* rule) { return std::strcmp(kFaultName, rule) == 0; }
// A number in decimal. Not std::to_string: its table of digits is a symbol
// that GCC makes unique to the process, and a library that holds one is never
// unloaded, which reload_differs needs.
std::string Decimal(long number) {
  char text[24];
  std::snprintf(text, sizeof text, "%ld", number);
  return text;
}
// forges_result fails a check (its close answers 0) and tries every road to a
// forged pass.
bool ClosesAnswering0() { return Is("close_answers_0") || Is("forges_result"); }

const char ID[] = "Kalo_GUI-Gainlens";
// control_chars: a display name that would recolour a terminal and ring its bell.
const std::string g_name =
    (Is("control_chars") ? "Faulty \x1b[31mmodule\x07 (" : "Faulty module (") + std::string(kFaultName) + ")";
const std::string g_about =
    "Faulty module 1.0\n\nA bi-directional test double that breaks one rule: " + std::string(kFaultName) +
    ".";
const std::string g_about_copy = g_about;  // the same text elsewhere: unstable_properties
char g_long_about[5001];

volatile bool g_forever = true;

// A hang: the call never returns. It sleeps rather than spins, so that the
// tests of hangs leave the processor to the tests beside them; the host
// stops a spinning module the same way.
void Forever() {
  while (g_forever) std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

#ifndef _WIN32
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
// Points the process's output and error at nothing.
void Mute() {
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  dup2(null, 2);
}
#endif
#ifdef __linux__
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
// Puts a file of its own in the place of each report file named on its
// parent's command line (--junit FILE, --trace FILE).
void ReplaceReports() {
  const std::string words = ReadWhole("/proc/" + Decimal(getppid()) + "/cmdline");
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

// load_abort: work at load time that fails: the system's loader runs it
// inside dlopen.
struct AbortsWhenLoaded {
  AbortsWhenLoaded() {
    if (Is("load_abort")) std::abort();
  }
} g_aborts_when_loaded;
// reload_differs: counts the loads in the process's environment, which
// outlives the library: a library loaded again describes itself otherwise.
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
const bool g_loaded_before = Is("reload_differs") && CountLoad();
float* volatile g_sink = nullptr;
int* volatile g_nowhere = nullptr;

enum : int32_t { VOLTAGE = 0, VREF = 1, DB = 2, PINS = 3 };

// ------------------------------------------------------------------ DSP side

struct Dsp {
  QXModuleStruct record;
  qxaudioMaster host;

  void Call(int32_t opcode) {
    // no_callback_crash calls a host that gave no callback, and crashes.
    if (host == nullptr && !Is("no_callback_crash")) return;
    host(&record, opcode, 0, 0, nullptr, 0.0f);  // NOLINT(clang-analyzer-core.CallAndMessage)
  }
  // The process function, called through process_entry with this object first.
  void Process(int32_t, int32_t) {
    Call(HOST_OP_SLEEP);
    if (Is("unknown_host_opcode")) Call(99);
    if (Is("shared_dsp_state") && host != nullptr) {
      // A count kept for all instances together, told to the host as a pin
      // notification: each instance's calls depend on what the others did.
      static int32_t s_process_calls = 0;
      host(&record, HOST_OP_PIN_NOTIFY, 0, s_process_calls++, nullptr, 0.0f);
    }
    if (Is("late_event") && host != nullptr) {
      // An event for the clock before the call's: the host can only drop it.
      const auto clock = static_cast<uint32_t>(host(&record, HOST_OP_GET_SAMPLE_CLOCK, 0, 0, nullptr, 0.0f));
      QXEvent late{clock - 1, ET_DATA, 0, 0, 0, 0};
      if (clock > 0) host(&record, HOST_OP_ADD_EVENT, 0, 0, &late, 0.0f);
    }
    if (Is("allocates_in_process")) {
      g_sink = new float[16];
      delete[] g_sink;
    }
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
  if (Is("many_pins") && index >= PINS && index < 1000) {
    // 997 more inputs, each with a name of 200 characters.
    static std::string names[1000];
    names[index] = "Pin " + Decimal(index) + " " + std::string(195 - Decimal(index).size(), 'p');
    p->name = names[index].c_str();
    p->direction = DR_IN;
    p->datatype = DT_FLOAT;
    p->flags = IO_UI_COMMUNICATION;
    return true;
  }
  if (index < 0 || index >= PINS) return false;
  p->name = NAMES[index];
  if (Is("long_pin_name") && index == VREF) {
    static const std::string long_name = "Vref, " + std::string(194, 'v');
    p->name = long_name.c_str();
  }
  p->direction = index == DB ? DR_OUT : DR_IN;
  p->datatype = DT_FLOAT;
  p->flags = IO_UI_COMMUNICATION;
  // patch_store: an input, neither private nor a GUI pin.
  if (Is("patch_store") && index == VREF) p->flags = IO_PATCH_STORE;
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
      return ClosesAnswering0() ? 0 : 1;
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
      if (Is("crash_on_unknown")) *g_nowhere = opcode;
      if (Is("throws_on_unknown")) throw std::runtime_error("opcode " + Decimal(opcode) + " is not for me");
      return 0;
  }
}

Dsp* NewDsp(qxaudioMaster callback, QXWord host_data) {
  auto* dsp = new Dsp{};
  dsp->host = callback;
  dsp->record.magic = Is("wrong_magic") ? 0x5158505A : QX_MAGIC_DSP;  // 'QXPZ'
  dsp->record.version = 1;
  dsp->record.host_data = host_data;
  dsp->record.object = dsp;
  dsp->record.dispatch_entry = &DspDispatch;
  dsp->record.process_entry = ProcessEntry();
  dsp->record.event_entry = &DspEvent;
  return dsp;
}

// ------------------------------------------------------------------ GUI side

QXGuiStruct* g_first_record = nullptr;          // wrong_record
float g_vref = 0.0f;                            // shared_state
float g_left_voltage = 1.0f, g_left_db = 0.0f;  // leftover_state
int g_left_mode = 1;

struct Gui {
  QXGuiStruct record;
  qxaudioMaster host;
  float voltage = 0.0f, vref = 0.0f, db = 0.0f;
  int mode = 1;  // 1: voltage to decibels, 2: decibels to voltage
  bool busy = false;

  QXGuiStruct* Self() {
    if (!Is("wrong_record")) return &record;
    // The first instance's record, for every instance after it too.
    if (g_first_record == nullptr) g_first_record = &record;
    return g_first_record;
  }
  float Read(int32_t pin) {
    float value = 0.0f;
    host(Self(), GUIHOST_OP_READ_PIN_VALUE, pin, 0, &value, 0.0f);
    return value;
  }
  void Write(int32_t pin, float value) { host(Self(), GUIHOST_OP_WRITE_PIN_VALUE, pin, 0, nullptr, value); }
  float& Vref() { return Is("shared_state") ? g_vref : vref; }

  void Start() {
    Vref() = Read(VREF);
    voltage = Vref();
    if (Is("leftover_state")) {
      voltage = g_left_voltage;
      db = g_left_db;
      mode = g_left_mode;
    }
  }

  void Changed(int32_t pin) {
    if (busy && !Is("no_guard")) return;
    if (Is("crashes_on_edit")) *g_nowhere = pin;
    busy = true;
    if (Is("allocates")) {
      g_sink = new float[16];
      delete[] g_sink;
    }
    if (pin == VREF) Vref() = Read(VREF);
    if (pin == VOLTAGE) voltage = Read(VOLTAGE), mode = 1;
    if (pin == DB) db = Read(DB), mode = 2;
    // float_math: the conversion in single precision.
    if (mode == 1) {
      if (Is("float_math"))
        db = 20.0f * std::log10(voltage / Vref());
      else
        db = static_cast<float>(20.0f *
                                std::log10(static_cast<double>(voltage) / static_cast<double>(Vref())));
      Write(DB, db);
    } else {
      if (Is("float_math"))
        voltage = std::pow(10.0f, db / 20.0f) * Vref();
      else
        voltage =
            static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0f) * static_cast<double>(Vref()));
      Write(VOLTAGE, voltage);
    }
    if (Is("leftover_state")) g_left_voltage = voltage, g_left_db = db, g_left_mode = mode;
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
  if (Is("changes_version") && opcode == GUI_OP_PIN_VALUE_CHANGED) record->version = 2;
  if (Is("hangs") && (opcode < 0 || opcode > GUI_OP_INDEX_2)) Forever();
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
  if (Is("hangs_loading")) Forever();
  // Work the host's start waits for: past the failure's limit, or past the
  // warning's only.
  if (Is("slow_loading") && index == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  if (Is("slowish_loading") && index == 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  if (Is("version_only_index0") && index != 0) return false;
  properties->sdk_version = QX_SDK_VERSION;
  if (index != 0) return false;
#ifndef _WIN32
  if (Is("mutes_output")) Mute();
#endif
  properties->name = g_name.c_str();
  properties->id = ID;
  properties->about = g_about.c_str();
  static int calls = 0;
  if (Is("unstable_properties") && ++calls % 2 == 0) properties->about = g_about_copy.c_str();
  if (Is("long_about")) {
    std::memset(g_long_about, 'x', sizeof g_long_about - 1);
    properties->about = g_long_about;
  }
  if (g_loaded_before) properties->about = "Faulty module 1.0, loaded again";
  properties->flags = 256;
  return true;
}

extern "C" QX_EXPORT void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster callback,
                                              QXWord host_data) {
  if (index != 0) return nullptr;
#ifndef _WIN32
  if (Is("escapes")) Escape();
#endif
#ifdef __linux__
  if (Is("forges_result")) Forge();
  if (Is("replaces_report")) ReplaceReports();
#endif
  if (Is("fake_result")) {
    // Passes for the validator's own result line on standard output, then
    // ends the process before any check could finish.
    std::fputs("@qxresult pass 0 0 \n", stdout);
    std::fflush(stdout);
    std::_Exit(0);
  }
  if (Is("control_chars")) {
    // Prints what would set a terminal's title, clear it (through the 8-bit
    // introducer, alone and in UTF-8) and delete a character.
    std::fputs(
        "made \x1b]0;title\x07 \x9b"
        "2J \xc2\x9b"
        "2J \x7f.\n",
        stdout);
    std::fflush(stdout);
  }
  if (type == QX_INSTANCE_DSP) return &NewDsp(callback, host_data)->record;
  if (type == QX_INSTANCE_GUI) return &NewGui(callback, host_data)->record;
  if (Is("accepts_type3") && type == 3) return &NewGui(callback, host_data)->record;
  return nullptr;
}
