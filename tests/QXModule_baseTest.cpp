// The DSP base as the host sees it: record, dispatcher, pin building, process
// function and timed events, driven through the reference host.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "DescribedModule.h"
#include "DspHost.h"
#include "HostCallbackRecorder.h"
#include "HostLayout.h"
#include "QXContract.h"

namespace {

// A reference host with one DescribedModule attached.
struct DspSession {
  DspSession(int32_t pin_count, std::vector<QXPinProperties> descriptions = {})
      : host(pin_count),
        module(new DescribedModule(&DspHost::Callback, host.HostData(), std::move(descriptions))) {
    host.Attach(module->ModuleStruct());
  }
  ~DspSession() {
    if (host.Record() != nullptr) host.Close();
  }
  DspHost host;
  DescribedModule* module;
};

TEST(QXModule_base, FreshRecordHoldsMagicEntriesAndZeros) {
  HostCallbackRecorder host;
  auto* module = new DescribedModule(&HostCallbackRecorder::Callback, 0x77);
  QXModuleStruct* s = module->ModuleStruct();
  const unsigned char magic_bytes[4] = {0x4C, 0x50, 0x58, 0x51};
  EXPECT_EQ(std::memcmp(s, magic_bytes, 4), 0);
  EXPECT_EQ(s->version, 1);
  EXPECT_EQ(s->host_data, 0x77);
  EXPECT_EQ(s->object, static_cast<QXModule_base*>(module));
  EXPECT_EQ(s->reserved1, 0);
  for (int32_t word : s->reserved2) EXPECT_EQ(word, 0);
  EXPECT_NE(s->dispatch_entry, nullptr);
  EXPECT_NE(s->event_entry, nullptr);
  QXProcessEntry nothing;
  const QXProcessFunction f = &QXModule_base::ProcessNothing;
  std::memcpy(&nothing, &f, sizeof nothing);
  EXPECT_EQ(s->process_entry, nothing);
  EXPECT_EQ(module->SampleRate(), 44100.0f);
  EXPECT_EQ(module->BlockSize(), 1024);
  // The twelve words as the host reads them, where it looks for them on this target.
  using host_layout::FieldAt;
  using host_layout::MODULE_FIELDS;
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 0), 0x5158504Cu);
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 1), 1u);
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 2), 0x77u);
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 3), host_layout::WordOf(static_cast<QXModule_base*>(module)));
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 4), 0u);
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 5), reinterpret_cast<uintptr_t>(s->dispatch_entry));
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 6), reinterpret_cast<uintptr_t>(nothing));
  EXPECT_EQ(FieldAt(s, MODULE_FIELDS, 7), reinterpret_cast<uintptr_t>(s->event_entry));
  for (size_t i = 8; i < 12; ++i) EXPECT_EQ(FieldAt(s, MODULE_FIELDS, i), 0u) << "word " << i;
  EXPECT_TRUE(host.calls.empty()) << "the constructor calls no host";
  EXPECT_EQ(s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(QXModule_base, DispatcherAnswersAndRoutes) {
  DspSession s(0);
  EXPECT_EQ(s.host.Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 96000, nullptr, 48000.0f), 0);
  EXPECT_EQ(s.module->SampleRate(), 48000.0f) << "the rate comes from the float argument";
  EXPECT_EQ(s.host.Dispatch(DSP_OP_CHANGE_BLOCK_SIZE, 0, 256, nullptr, 512.0f), 0);
  EXPECT_EQ(s.module->BlockSize(), 256) << "the size comes from value";
  for (int32_t opcode : {4, 5, 9, 11, 14, 100, -1, INT32_MIN}) {
    EXPECT_EQ(s.host.Dispatch(opcode, 1, 1, nullptr, 1.0f), 0) << opcode;
  }
  EXPECT_TRUE(s.module->trace.empty());
  EXPECT_TRUE(s.host.Log().empty()) << "unknown opcodes call no host";

  for (int32_t index : {0, -1, 3}) s.host.Dispatch(DSP_OP_NOTIFY, index);
  s.host.Dispatch(DSP_OP_MESSAGE, 3, 7);
  EXPECT_EQ(s.module->trace,
            (std::vector<std::string>{"notify", "notify", "notify", "notify 3", "message 7 3"}));
}

TEST(QXModule_base, CloseRunsCloseAndAnswersOne) {
  DspSession s(2, {Description(DT_FLOAT)});
  std::vector<std::string> outlives;
  s.module->outlives = &outlives;
  s.host.Open();
  EXPECT_EQ(s.host.Close(), 1);  // the sanitizer build proves the pins and the object are freed
  EXPECT_EQ(outlives, (std::vector<std::string>{"close", "destroyed"}))
      << "the hook runs on the whole instance";
}

TEST(QXModule_base, PinPropertiesAnswerOneOrZeroIntoTheHostsRecord) {
  DspSession s(0, {Description(DT_INT, IO_PATCH_STORE | IO_PRIVATE)});
  QXPinProperties record;
  std::memset(&record, 0xAB, sizeof record);
  EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, 0, 0, &record), 1);
  EXPECT_EQ(record.datatype, DT_INT);
  std::memset(&record, 0, sizeof record);
  EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, 1, 0, &record), 0);
}

TEST(QXModule_base, ProcessInfoIsOneSharedRecordDescribingTheLastAsker) {
  DspSession a(0), b(0);
  const QXWord first = a.host.Dispatch(DSP_OP_GET_PROCESS_INFO);
  const QXWord second = b.host.Dispatch(DSP_OP_GET_PROCESS_INFO);
  ASSERT_NE(first, 0);
  EXPECT_EQ(first, second);
  const auto* info = reinterpret_cast<const QXProcessFunctionInfo*>(second);
  EXPECT_EQ(info->kind, 1);
  EXPECT_EQ(info->size, static_cast<int32_t>(2 * sizeof(void*)));
  EXPECT_EQ(info->tag, 1002);
  // The address holds b's current process function.
  QXProcessFunction current;
  std::memcpy(&current, info->address, sizeof current);
  EXPECT_TRUE(current == b.module->ProcessFunction());
  b.module->SetProcessFunction(static_cast<QXProcessFunction>(&DescribedModule::Process));
  std::memcpy(&current, info->address, sizeof current);
  EXPECT_TRUE(current == static_cast<QXProcessFunction>(&DescribedModule::Process));
}

TEST(QXModule_base, SetProcessFunctionTellsTheHostOnceOnARealChange) {
  DspSession s(0);
  s.module->SetProcessFunction(&QXModule_base::ProcessNothing);
  EXPECT_TRUE(s.host.Log().empty());
  const auto process = static_cast<QXProcessFunction>(&DescribedModule::Process);
  s.module->SetProcessFunction(process);
  s.module->SetProcessFunction(process);
  ASSERT_EQ(s.host.Log().size(), 1u);
  EXPECT_EQ(s.host.Log()[0].opcode, HOST_OP_PROCESS_FUNCTION_CHANGED);
  EXPECT_EQ(s.host.Log()[0].record, s.module->ModuleStruct());
  EXPECT_EQ(s.host.Log()[0].index, 0);
  EXPECT_EQ(s.host.Log()[0].ptr, nullptr);
  EXPECT_TRUE(s.module->ProcessFunction() == process);
  // The host re-read process_entry and now runs the new function.
  s.host.Run(16);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"process 0 16"}));
}

class ThrowingModule : public QXModule_base {
 public:
  using QXModule_base::QXModule_base;
  void OnMessage(int32_t, int32_t, void*) override { throw std::runtime_error("message"); }
  void OnDataEvent(uint32_t, int32_t, int16_t) override { throw std::runtime_error("data"); }
};

TEST(QXModule_base, ExceptionsNeverReachTheHost) {
  auto* module = new ThrowingModule(nullptr, 0);
  QXModuleStruct* s = module->ModuleStruct();
  EXPECT_EQ(s->dispatch_entry(s, DSP_OP_MESSAGE, 1, 2, nullptr, 0.0f), 0);
  QXEvent e{0, ET_DATA, 1, 2, 0, 0};
  s->event_entry(s->object, &e);
  EXPECT_EQ(s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(QXModule_base, NoCallbackSkipsEveryHostCall) {
  auto* module = new DescribedModule(nullptr, 0, {Description(DT_FLOAT)});
  QXModuleStruct* s = module->ModuleStruct();
  s->dispatch_entry(s, DSP_OP_OPEN, 0, 0, nullptr, 0.0f);
  EXPECT_EQ(module->PinCount(), 0) << "no count from the host, no pins";
  EXPECT_EQ(module->SampleClock(), 0u);
  module->AddEvent(0, ET_DATA, 1, 2, 3);
  module->SetProcessFunction(static_cast<QXProcessFunction>(&DescribedModule::Process));
  EXPECT_EQ(s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

// ----------------------------------------------------------- pin building

struct Built {
  int32_t datatype;
  bool own_storage;  // else the description's variable
};

TEST(QXModule_baseOpen, UiOnlyDescriptionsTakeNoPlace) {
  float a_var = 0.0f, b_var = 0.0f;
  DspSession s(5, {Description(DT_FLOAT, 0, &a_var), Description(DT_FLOAT, IO_UI_COMMUNICATION),
                   Description(DT_INT, 0, &b_var)});
  s.host.Open();
  ASSERT_EQ(s.module->PinCount(), 5);
  EXPECT_EQ(s.module->GetPin(0)->VariablePtr(), &a_var);
  EXPECT_EQ(s.module->GetPin(1)->VariablePtr(), &b_var);
  EXPECT_EQ(s.module->GetPin(1)->Id(), 1) << "B's description index 2 is not its pin id";
  EXPECT_EQ(s.module->GetPin(1)->DataType(), DT_INT);
  for (int32_t id = 2; id < 5; ++id) EXPECT_EQ(s.module->GetPin(id)->Module(), nullptr) << id;
}

TEST(QXModule_baseOpen, SharedUiDescriptionGetsAPin) {
  DspSession s(1, {Description(DT_FLOAT, IO_UI_COMMUNICATION | IO_UI_DSP_SHARED)});
  s.host.Open();
  EXPECT_EQ(s.module->GetPin(0)->Module(), s.module);
}

TEST(QXModule_baseOpen, RepeatingLastDescriptionFillsTheHostsCount) {
  int32_t b_var = 0;
  DspSession s(5, {Description(DT_FLOAT), Description(DT_INT, IO_REPEATING, &b_var)});
  s.host.Open();
  EXPECT_EQ(s.module->GetPin(0)->DataType(), DT_FLOAT);
  EXPECT_EQ(s.module->GetPin(1)->VariablePtr(), &b_var);
  for (int32_t id = 2; id < 5; ++id) {
    QXPin* pin = s.module->GetPin(id);
    EXPECT_EQ(pin->Id(), id);
    EXPECT_EQ(pin->DataType(), DT_INT);
    ASSERT_NE(pin->VariablePtr(), nullptr);
    EXPECT_NE(pin->VariablePtr(), &b_var) << "repeats use their own storage";
    EXPECT_EQ(*static_cast<int32_t*>(pin->VariablePtr()), 0);
  }
}

TEST(QXModule_baseOpen, HostCountBelowTheDescriptionsStopsTheScan) {
  DspSession s(2, {Description(DT_FLOAT), Description(DT_FLOAT), Description(DT_FLOAT),
                   Description(DT_FLOAT, IO_REPEATING)});
  s.host.Open();
  EXPECT_EQ(s.module->PinCount(), 2);
  // The scan stops at the third description, before building it; the repeat
  // step looks at the last one built, which does not repeat.
  EXPECT_EQ(s.module->asked, (std::vector<int32_t>{0, 1, 2, 1}));
  EXPECT_EQ(s.module->GetPin(1)->Module(), s.module);
}

TEST(QXModule_baseOpen, NoDescriptionsAsksMinusOneAndBuildsNothing) {
  DspSession s(3);
  s.host.Open();
  EXPECT_EQ(s.module->asked, (std::vector<int32_t>{0, -1}));
  EXPECT_EQ(s.module->PinCount(), 3);
  for (int32_t id = 0; id < 3; ++id) EXPECT_EQ(s.module->GetPin(id)->Module(), nullptr);
}

TEST(QXModule_baseOpen, AudioPinFetchesItsBufferFromTheHost) {
  float variable_buffer[4] = {};
  float* variable = variable_buffer;
  DspSession s(2, {Description(DT_FSAMPLE), Description(DT_FSAMPLE, 0, &variable)});
  s.host.Open();
  const auto fetches = s.host.Calls(HOST_OP_GET_PIN_BUFFER);
  ASSERT_EQ(fetches.size(), 1u) << "only the pin without a variable asks";
  EXPECT_EQ(fetches[0].index, 0);
  EXPECT_EQ(*static_cast<float**>(s.module->GetPin(0)->VariablePtr()), s.host.Buffer(0).data());
  EXPECT_EQ(s.module->GetPin(1)->VariablePtr(), &variable);
}

TEST(QXModule_baseOpen, OpenTwiceRebuildsThePins) {
  DspSession s(2, {Description(DT_FLOAT, IO_REPEATING)});
  s.host.Open();
  s.host.Open();
  EXPECT_EQ(s.module->GetPin(1)->Id(), 1);  // the sanitizer build proves the first array was freed
}

// ----------------------------------------------------------------- events

TEST(QXModule_baseEvents, StatusOneIsMomentaryOtherStatusesStay) {
  DspSession s(2, {Description(DT_FLOAT, IO_REPEATING)});
  s.host.Open();
  s.host.SetClock(500);
  s.host.Deliver(QXEvent{500, ET_PIN_STATUS, 1, 0, 1, 0});
  EXPECT_EQ(s.module->GetPin(1)->Status(), 0);
  s.host.Deliver(QXEvent{500, ET_PIN_STATUS, 2, 0, 0, 0});
  EXPECT_EQ(s.module->GetPin(0)->Status(), 2);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"status 1 1", "status 0 2"}));
}

TEST(QXModule_baseEvents, DataEventTakesTheSignedLowHalf) {
  DspSession s(0);
  s.host.SetClock(7);
  s.host.Deliver(QXEvent{7, ET_DATA, -5, 0x18000, 0, 0});
  s.host.Deliver(QXEvent{7, ET_DATA, 1, 0x7FFF, 0, 0});
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"data 7 -5 -32768", "data 7 1 32767"}));
}

TEST(QXModule_baseEvents, UnknownKindsAreIgnored) {
  DspSession s(1, {Description(DT_FLOAT)});
  s.host.Open();
  for (int32_t kind : {1, 6, 22, -1}) s.host.Deliver(QXEvent{0, kind, 1, 2, 0, 0});
  EXPECT_TRUE(s.module->trace.empty());
  EXPECT_EQ(s.module->GetPin(0)->Status(), 0);
}

TEST(QXModule_baseEvents, RunDelayedRunsTheFunctionOnceAtItsClock) {
  DspSession s(0);
  s.host.SetClock(100);
  s.module->RunDelayed(105, &DescribedModule::Tick);
  s.module->RunDelayed(100, &DescribedModule::VirtualTick);  // the current clock is accepted
  ASSERT_EQ(s.host.Pending().size(), 2u);
  const QXEvent& posted = s.host.Pending()[0];
  EXPECT_EQ(posted.time_stamp, 105u);
  EXPECT_EQ(posted.event_type, ET_RUN_FUNCTION);
  EXPECT_EQ(posted.arg1, 0);
  EXPECT_EQ(posted.arg2, 0);
  EXPECT_EQ(posted.arg4, 0);
  EXPECT_EQ(s.host.Pending()[1].arg3 & 1, 1) << "a virtual function travels as its table offset + 1";
  s.host.Run(32);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"virtual tick 100", "tick 105"}));
  EXPECT_TRUE(s.host.Pending().empty());
}

// The first word of a member function, as a run-function event names it.
template <class F>
QXWord WordOf(F f) {
  QXWord word;
  std::memcpy(&word, &f, sizeof word);
  return word;
}

// Numbered<0> .. Numbered<count - 1>, each run once.
std::vector<std::string> NumberedTrace(int first, int count) {
  std::vector<std::string> trace;
  for (int n = first; n < first + count; ++n) trace.push_back("numbered " + std::to_string(n));
  return trace;
}

TEST(QXModule_baseEvents, EveryDistinctRunFunctionRuns) {
  // Many distinct functions and the same ones again: none is lost, and no
  // contract check stops the instance.
  DspSession s(0);
  s.host.SetClock(100);
  s.module->PostNumbered<0, 100>(100);
  s.module->PostNumbered<0, 10>(101);  // the same functions again
  ASSERT_EQ(s.host.Pending().size(), 110u);
  s.host.Run(8);
  std::vector<std::string> expected = NumberedTrace(0, 100);
  for (const std::string& line : NumberedTrace(0, 10)) expected.push_back(line);
  EXPECT_EQ(s.module->trace, expected);
}

TEST(QXModule_baseEvents, RunFunctionsRunWhateverSetupCallsCameBetween) {
  DspSession s(0);
  s.module->PostNumbered<0, 40>(0);
  s.host.Dispatch(DSP_OP_CHANGE_BLOCK_SIZE, 0, 64);
  s.module->PostNumbered<40, 40>(0);
  s.host.Dispatch(DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
  s.module->PostNumbered<80, 40>(0);
  s.host.Run(8);
  EXPECT_EQ(s.module->trace, NumberedTrace(0, 120));
}

TEST(QXModule_baseEvents, RunFunctionsPostedThroughAddEventRun) {
  DspSession s(0);
  s.host.SetClock(20);
  s.module->AddEvent(20, ET_RUN_FUNCTION, 0, 0, WordOf(&DescribedModule::Tick));
  s.module->AddEvent(21, ET_RUN_FUNCTION, 0, 0, WordOf(&DescribedModule::VirtualTick));
  s.host.Run(8);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"tick 20", "virtual tick 21"}));
}

TEST(QXModule_baseEvents, RunFunctionsPostedThroughCallHostRun) {
  // Every host call of the DSP side may go through CallHost, a post of the
  // module's own record too.
  DspSession s(0);
  s.host.SetClock(30);
  QXEvent tick{30, ET_RUN_FUNCTION, 0, 0, WordOf(&DescribedModule::Tick), 0};
  QXEvent virtual_tick{31, ET_RUN_FUNCTION, 0, 0, WordOf(&DescribedModule::VirtualTick), 0};
  s.module->CallHost(HOST_OP_ADD_EVENT, 0, 0, &tick, 0.0f);
  s.module->CallHost(HOST_OP_ADD_EVENT, 0, 0, &virtual_tick, 0.0f);
  s.host.Run(8);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"tick 30", "virtual tick 31"}));
}

// A host that delivers an event for the current clock from inside the call
// that posts it, as the format allows; a later one it keeps for later.
struct EagerHost {
  static QXWord QX_CALL Callback(void* record, int32_t opcode, int32_t, int32_t, void* ptr, float) {
    auto* s = static_cast<QXModuleStruct*>(record);
    auto* host = reinterpret_cast<EagerHost*>(s->host_data);
    if (opcode == HOST_OP_GET_SAMPLE_CLOCK) return static_cast<QXWord>(host->clock);
    if (opcode != HOST_OP_ADD_EVENT) return 0;
    QXEvent copy = *static_cast<const QXEvent*>(ptr);
    if (copy.time_stamp == host->clock) {
      s->event_entry(s->object, &copy);
    } else {
      host->kept.push_back(copy);
    }
    return 0;
  }
  uint32_t clock = 50;
  std::vector<QXEvent> kept;
};

TEST(QXModule_baseEvents, AHostMayDeliverFromInsideThePost) {
  EagerHost host;
  auto* module = new DescribedModule(&EagerHost::Callback, reinterpret_cast<QXWord>(&host));
  module->RunDelayed(50, &DescribedModule::Tick);
  module->AddEvent(50, ET_RUN_FUNCTION, 0, 0, WordOf(&DescribedModule::VirtualTick));
  QXEvent numbered{50, ET_RUN_FUNCTION, 0, 0, WordOf(&DescribedModule::Numbered<7>), 0};
  module->CallHost(HOST_OP_ADD_EVENT, 0, 0, &numbered, 0.0f);
  module->RunDelayed(51, &DescribedModule::Tick);
  EXPECT_EQ(module->trace, (std::vector<std::string>{"tick 50", "virtual tick 50", "numbered 7"}));
  ASSERT_EQ(host.kept.size(), 1u);
  host.clock = 51;
  QXModuleStruct* s = module->ModuleStruct();
  s->event_entry(s->object, &host.kept[0]);
  EXPECT_EQ(module->trace.back(), "tick 51");
  EXPECT_EQ(s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

TEST(QXModule_baseEvents, RunFunctionsMayHaveAResult) {
  DspSession s(0);
  s.host.SetClock(5);
  s.module->RunDelayed(5, &DescribedModule::Counted);
  s.module->RunDelayed(6, &DescribedModule::Named);
  s.host.Run(8);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"counted 5", "named"}));
}

TEST(QXModule_baseEvents, AddEventPostsItsArguments) {
  DspSession s(0);
  s.host.SetClock(3);
  s.module->AddEvent(3, ET_DATA, 11, 22, 33);
  ASSERT_EQ(s.host.Pending().size(), 1u);
  const QXEvent e = s.host.Pending()[0];
  EXPECT_EQ(e.time_stamp, 3u);
  EXPECT_EQ(e.arg1, 11);
  EXPECT_EQ(e.arg2, 22);
  EXPECT_EQ(e.arg3, 33);
  EXPECT_EQ(e.arg4, 0);
}

TEST(QXModule_baseEvents, HostSplitsTheBlockAtEventsPostedDuringProcessing) {
  DspSession s(0);
  s.module->SetProcessFunction(static_cast<QXProcessFunction>(&DescribedModule::ProcessAndPost));
  s.host.Run(32);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"process 0 32"}));
  s.module->trace.clear();
  s.host.Run(32);  // the tick was posted for 42
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"process 0 10", "tick 42", "process 10 22"}));
  EXPECT_EQ(s.host.Clock(), 64u);
}

TEST(QXModule_baseEvents, HostDropsEventsWhoseClockHasPassed) {
  DspSession s(0);
  s.host.SetClock(10);
  s.module->RunDelayed(12, &DescribedModule::Tick);
  s.host.SetClock(20);
  s.host.Run(8);
  EXPECT_TRUE(s.module->trace.empty()) << "never delivered late";
  EXPECT_EQ(s.host.LateEvents(), 1u);
}

TEST(QXModule_baseOpen, HostCountIsBoundedByMaxPins) {
  DspHost host(0);
  auto* module =
      new DescribedModule([](void*, int32_t opcode, int32_t, int32_t, void*,
                             float) -> QXWord { return opcode == HOST_OP_GET_PIN_COUNT ? INT32_MAX : 0; },
                          0, {Description(DT_INT, IO_REPEATING)});
  QXModuleStruct* s = module->ModuleStruct();
  s->dispatch_entry(s, DSP_OP_OPEN, 0, 0, nullptr, 0.0f);
  EXPECT_EQ(module->PinCount(), QXModule_base::MAX_PINS);
  EXPECT_EQ(module->GetPin(QXModule_base::MAX_PINS - 1)->Id(), QXModule_base::MAX_PINS - 1);
  s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f);
}

// ----------------------------------------------------- contract checks

#if QX_CONTRACT_CHECKS
TEST(QXModule_baseDeathTest, BrokenContractsStopWithTheirExpression) {
  DspSession s(1, {Description(DT_FLOAT)});
  EXPECT_DEATH(s.host.Dispatch(7), "Assertion failed: false, file \\.\\.\\\\qx_sdk2\\\\QXModule_base, line");
  EXPECT_DEATH(s.host.Dispatch(10), "Assertion failed: false");
  QXModuleStruct* record = s.module->ModuleStruct();
  EXPECT_DEATH(record->dispatch_entry(nullptr, DSP_OP_OPEN, 0, 0, nullptr, 0.0f), "record != 0");
  EXPECT_DEATH(record->event_entry(record->object, nullptr), "e != 0");
  EXPECT_DEATH(record->event_entry(nullptr, nullptr), "object != 0");
  EXPECT_DEATH(s.module->GetPin(0), "m_pins != 0");
  EXPECT_DEATH(s.host.Deliver(QXEvent{0, ET_PIN_STATUS, 1, 0, 0, 0}), "m_pins != 0");
  s.host.SetClock(10);
  EXPECT_DEATH(s.host.Deliver(QXEvent{9, ET_DATA, 0, 0, 0, 0}), "e->time_stamp == SampleClock\\(\\)");
  EXPECT_DEATH(s.host.Deliver(QXEvent{11, ET_DATA, 0, 0, 0, 0}), "e->time_stamp == SampleClock\\(\\)");
  EXPECT_DEATH(s.module->AddEvent(9, ET_DATA, 0, 0, 0), "p_time_stamp >= SampleClock\\(\\)");
  EXPECT_DEATH(s.module->RunDelayed(9, &DescribedModule::Tick), "p_time_stamp >= SampleClock\\(\\)");
  s.host.Open();
  EXPECT_DEATH(s.module->GetPin(1), "index >= 0 && index < m_pin_count");
  // 0 names no code.
  EXPECT_DEATH(s.host.Deliver(QXEvent{10, ET_RUN_FUNCTION, 0, 0, 0, 0}), "word != 0");
}

TEST(QXModule_baseDeathTest, PatchStoreNeedsPrivateOutputOrUiPin) {
  DspSession s(0, {Description(DT_FLOAT, IO_PATCH_STORE)});
  QXPinProperties record{};
  EXPECT_DEATH(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, 0, 0, &record), "IO_PATCH_STORE");
  for (const QXPinProperties& allowed : {Description(DT_FLOAT, IO_PATCH_STORE | IO_PRIVATE),
                                         Description(DT_FLOAT, IO_PATCH_STORE, nullptr, DR_OUT),
                                         Description(DT_FLOAT, IO_PATCH_STORE | IO_UI_COMMUNICATION)}) {
    s.module->descriptions = {allowed};
    EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, 0, 0, &record), 1);
  }
}
#else
TEST(QXModule_baseRefusals, BrokenContractsAreRefusedWithoutHarm) {
  DspSession s(1, {Description(DT_FLOAT)});
  EXPECT_EQ(s.host.Dispatch(7), 0);
  EXPECT_EQ(s.host.Dispatch(10), 0);
  // No record, no object or no event: refused.
  QXModuleStruct* own = s.module->ModuleStruct();
  EXPECT_EQ(own->dispatch_entry(nullptr, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 0);
  QXModuleStruct orphan = *own;
  orphan.object = nullptr;
  EXPECT_EQ(orphan.dispatch_entry(&orphan, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 0);
  own->event_entry(own->object, nullptr);
  own->event_entry(nullptr, nullptr);
  EXPECT_EQ(s.module->GetPin(0), nullptr) << "no pins yet";
  s.host.Deliver(QXEvent{0, ET_PIN_STATUS, 1, 0, 0, 0});
  s.host.SetClock(10);
  s.host.Deliver(QXEvent{9, ET_DATA, 0, 0, 0, 0});
  EXPECT_TRUE(s.module->trace.empty()) << "a late event does nothing";
  s.module->AddEvent(9, ET_DATA, 0, 0, 0);
  s.module->RunDelayed(9, &DescribedModule::Tick);
  EXPECT_TRUE(s.host.Pending().empty()) << "nothing posted for a past clock";

  s.host.Open();
  EXPECT_EQ(s.module->GetPin(1), nullptr);
  EXPECT_EQ(s.module->GetPin(-1), nullptr);
  for (QXWord id : {QXWord{1}, QXWord{-1}, QXWord{1000000}})
    s.host.Deliver(QXEvent{10, ET_PIN_STATUS, 2, 0, id, 0});
  EXPECT_TRUE(s.module->trace.empty()) << "pin ids outside the array are refused";

  // A run-function event naming no code does nothing.
  s.host.Deliver(QXEvent{10, ET_RUN_FUNCTION, 0, 0, 0, 0});
  EXPECT_TRUE(s.module->trace.empty());

  QXPinProperties record{};
  s.module->descriptions = {Description(DT_FLOAT, IO_PATCH_STORE)};
  EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, 0, 0, &record), 0);
  EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, 0, 0, nullptr), 0) << "no record, no answer";
}
#endif

}  // namespace
