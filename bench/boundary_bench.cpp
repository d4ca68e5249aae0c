// The cost of crossing the module's boundary, each beside a baseline in the
// same run: a pin edit through the exported interface against the bare
// conversion with plain memory reads and writes; a process call against an
// empty indirect call; loading the library and making and closing instances.
// The framework's own cost: the product's pin edits and process call against
// the framework-free twin (tests/modules/faulty_module.cpp built as is), the
// same conversion written straight against the host interface, both through
// the same lean host.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "DspHost.h"
#include "GuiHost.h"
#include "ModuleLibrary.h"

namespace {

const ModuleLibrary& Library() {
  static std::optional<ModuleLibrary> library = ModuleLibrary::Open(QX_PRODUCT, nullptr);
  if (!library) std::abort();
  return *library;
}

const ModuleLibrary& Twin() {
  static std::optional<ModuleLibrary> library = ModuleLibrary::Open(QX_TWIN, nullptr);
  if (!library) std::abort();
  return *library;
}

// Inputs that change on every iteration, so nothing is folded away.
const float VOLTAGES[8] = {0.5f, 1.25f, 3.0f, 0.01f, 7.5f, 0.2f, 2.0f, 0.9f};
const float LEVELS[8] = {-6.0f, 1.5f, 12.0f, -40.0f, 3.0f, -0.5f, 20.0f, -12.5f};

// A host as lean as a real one on this road: three float pins, reads and
// writes answered from them, nothing logged.
float g_pins[3];

QXWord QX_CALL LeanHost(void*, int32_t opcode, int32_t index, int32_t, void* ptr, float opt) {
  if (static_cast<uint32_t>(index) >= 3) return 0;
  if (opcode == GUIHOST_OP_READ_PIN_VALUE) {
    std::memcpy(ptr, &g_pins[index], sizeof(float));
  } else if (opcode == GUIHOST_OP_WRITE_PIN_VALUE) {
    g_pins[index] = opt;
  }
  return 0;
}

// Its DSP side: sleep requests counted, every call answered 0 (no pins).
uint64_t g_sleeps = 0;

QXWord QX_CALL LeanDspHost(void*, int32_t opcode, int32_t, int32_t, void*, float) {
  if (opcode == HOST_OP_SLEEP) ++g_sleeps;
  return 0;
}

// The host stores a new value of pin `from` and reports it; the instance reads
// it, converts and writes the other pin.
void EditThroughRecord(benchmark::State& state, const ModuleLibrary& library, int32_t from,
                       const float* inputs) {
  g_pins[0] = 0.0f;
  g_pins[1] = 1.0f;
  g_pins[2] = 0.0f;
  auto* record = static_cast<QXGuiStruct*>(library.MakeModule(0, 2, &LeanHost, 0));
  size_t i = 0;
  for (auto _ : state) {
    g_pins[from] = inputs[i++ & 7];
    record->dispatch_entry(record, GUI_OP_PIN_VALUE_CHANGED, from, 0, nullptr, 0.0f);
    benchmark::ClobberMemory();
  }
  record->dispatch_entry(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f);
}

void BM_EditVoltage(benchmark::State& state) { EditThroughRecord(state, Library(), 0, VOLTAGES); }
void BM_EditDb(benchmark::State& state) { EditThroughRecord(state, Library(), 2, LEVELS); }
void BM_EditVoltageTwin(benchmark::State& state) { EditThroughRecord(state, Twin(), 0, VOLTAGES); }
void BM_EditDbTwin(benchmark::State& state) { EditThroughRecord(state, Twin(), 2, LEVELS); }

// The same reads, arithmetic and write with the pins as plain memory.
void BM_EditVoltageBaseline(benchmark::State& state) {
  float pins[3] = {0.0f, 1.0f, 0.0f};
  size_t i = 0;
  for (auto _ : state) {
    pins[0] = VOLTAGES[i++ & 7];
    benchmark::ClobberMemory();
    const float voltage = pins[0], vref = pins[1];
    pins[2] =
        static_cast<float>(std::log10(static_cast<double>(voltage) / static_cast<double>(vref)) * 20.0f);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(pins);
}

void BM_EditDbBaseline(benchmark::State& state) {
  float pins[3] = {0.0f, 1.0f, 0.0f};
  size_t i = 0;
  for (auto _ : state) {
    pins[2] = LEVELS[i++ & 7];
    benchmark::ClobberMemory();
    const float db = pins[2], vref = pins[1];
    pins[0] = static_cast<float>(std::pow(10.0, static_cast<double>(db) / 20.0f) * static_cast<double>(vref));
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(pins);
}

// The edit's crossings on their own, to tell what it costs beyond the
// arithmetic: one report the instance ignores, and one read answered by the
// host callback above.
void BM_IgnoredReport(benchmark::State& state) {
  auto* record = static_cast<QXGuiStruct*>(Library().MakeModule(0, 2, &LeanHost, 0));
  for (auto _ : state) {
    record->dispatch_entry(record, GUI_OP_INDEX_1, 0, 0, nullptr, 0.0f);
    benchmark::ClobberMemory();
  }
  record->dispatch_entry(record, GUI_OP_CLOSE, 0, 0, nullptr, 0.0f);
}

void BM_HostRead(benchmark::State& state) {
  qxaudioMaster volatile callback = &LeanHost;  // called as the instance calls it
  float value = 0.0f;
  for (auto _ : state) {
    callback(nullptr, GUIHOST_OP_READ_PIN_VALUE, 0, 0, &value, 0.0f);
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(value);
}

// One process call of an opened instance: the module asks the host to sleep.
void ProcessThroughRecord(benchmark::State& state, const ModuleLibrary& library) {
  auto* record = static_cast<QXModuleStruct*>(library.MakeModule(0, 1, &LeanDspHost, 0));
  record->dispatch_entry(record, DSP_OP_CHANGE_BLOCK_SIZE, 0, 64, nullptr, 0.0f);
  record->dispatch_entry(record, DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, 44100.0f);
  record->dispatch_entry(record, DSP_OP_OPEN, 0, 0, nullptr, 0.0f);
  g_sleeps = 0;
  for (auto _ : state) {
    record->process_entry(record->object, 0, 64);
    benchmark::ClobberMemory();
  }
  state.counters["sleeps"] = static_cast<double>(g_sleeps);
  record->dispatch_entry(record, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f);
}

void BM_Process(benchmark::State& state) { ProcessThroughRecord(state, Library()); }
void BM_ProcessTwin(benchmark::State& state) { ProcessThroughRecord(state, Twin()); }

void QX_MEMBER_CALL Empty(void*, int32_t, int32_t) {}

void BM_ProcessBaseline(benchmark::State& state) {
  QXProcessEntry volatile entry = &Empty;  // an indirect call the compiler cannot see through
  int object = 0;
  for (auto _ : state) {
    entry(&object, 0, 64);
    benchmark::ClobberMemory();
  }
}

void BM_LoadLibrary(benchmark::State& state) {
  for (auto _ : state) {
    std::optional<ModuleLibrary> library = ModuleLibrary::Open(QX_PRODUCT, nullptr);
    benchmark::DoNotOptimize(library);
  }
}

void BM_MakeAndCloseDsp(benchmark::State& state) {
  DspHost host(0);
  host.SetLogging(false);
  for (auto _ : state) {
    host.Attach(
        static_cast<QXModuleStruct*>(Library().MakeModule(0, 1, &DspHost::Callback, host.HostData())));
    host.Close();
  }
}

void BM_MakeAndCloseGui(benchmark::State& state) {
  GuiHost host(3);
  host.SetLogging(false);
  for (auto _ : state) {
    host.Attach(static_cast<QXGuiStruct*>(Library().MakeModule(0, 2, &GuiHost::Callback, host.HostData())));
    host.Close();
  }
}

}  // namespace

// The product against its twin: 200,000 calls per sample, 15 samples, taken
// interleaved with every other case (scripts/bench.sh asks for that).
BENCHMARK(BM_EditVoltage)->Iterations(200000)->Repetitions(15);
BENCHMARK(BM_EditVoltageTwin)->Iterations(200000)->Repetitions(15);
BENCHMARK(BM_EditVoltageBaseline);
BENCHMARK(BM_EditDb)->Iterations(200000)->Repetitions(15);
BENCHMARK(BM_EditDbTwin)->Iterations(200000)->Repetitions(15);
BENCHMARK(BM_EditDbBaseline);
BENCHMARK(BM_IgnoredReport);
BENCHMARK(BM_HostRead);
BENCHMARK(BM_Process)->Iterations(200000)->Repetitions(15);
BENCHMARK(BM_ProcessTwin)->Iterations(200000)->Repetitions(15);
BENCHMARK(BM_ProcessBaseline);
BENCHMARK(BM_LoadLibrary);
BENCHMARK(BM_MakeAndCloseDsp);
BENCHMARK(BM_MakeAndCloseGui);
