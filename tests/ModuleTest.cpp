// The converter's DSP side through the reference host.
#include <gtest/gtest.h>

#include <cstring>

#include "DspHost.h"
#include "Module.h"
#include "QXPin.h"

namespace {

struct ModuleSession {
  explicit ModuleSession(int32_t pin_count) : host(pin_count) {
    host.Attach((new Module(&DspHost::Callback, host.HostData()))->ModuleStruct());
  }
  Module* Instance() const { return static_cast<Module*>(host.Record()->object); }
  DspHost host;
};

TEST(Module, OpenInstallsSleepThenAsksForThePinCount) {
  ModuleSession s(3);
  s.host.Dispatch(DSP_OP_OPEN);
  ASSERT_EQ(s.host.Log().size(), 2u);
  EXPECT_EQ(s.host.Log()[0].opcode, HOST_OP_PROCESS_FUNCTION_CHANGED);
  EXPECT_EQ(s.host.Log()[1].opcode, HOST_OP_GET_PIN_COUNT);
  for (const HostCall& call : s.host.Log()) {
    EXPECT_EQ(call.record, s.host.Record());
    EXPECT_EQ(call.index, 0);
    EXPECT_EQ(call.value, 0);
    EXPECT_EQ(call.ptr, nullptr);
    EXPECT_EQ(call.opt, 0.0f);
  }
  EXPECT_EQ(s.host.Close(), 1);
}

TEST(Module, EveryProcessCallAsksToSleepOnce) {
  ModuleSession s(3);
  s.host.Open();
  s.host.ClearLog();
  for (int block = 0; block < 3; ++block) s.host.Run(64);
  ASSERT_EQ(s.host.Log().size(), 3u);
  for (const HostCall& call : s.host.Log()) {
    EXPECT_EQ(call.opcode, HOST_OP_SLEEP);
    EXPECT_EQ(call.index, 0);
    EXPECT_EQ(call.value, 0);
    EXPECT_EQ(call.ptr, nullptr);
    EXPECT_EQ(call.opt, 0.0f);
  }
  EXPECT_EQ(s.host.SleepRequests(), 3u);
  EXPECT_EQ(s.host.Close(), 1);
}

TEST(Module, NoDspPinIsBoundWhateverTheHostsCount) {
  for (int32_t count : {0, 3, 7}) {
    ModuleSession s(count);
    s.host.Open();
    Module* module = s.Instance();
    EXPECT_EQ(module->PinCount(), count);
    for (int32_t id = 0; id < count; ++id) EXPECT_EQ(module->GetPin(id)->Module(), nullptr);
    EXPECT_EQ(s.host.Close(), 1);
  }
}

TEST(Module, PinTableWritesExactlyFourFields) {
  ModuleSession s(0);
  struct Row {
    const char* name;
    int32_t direction;
  } rows[] = {{"Voltage", DR_IN}, {"Vref", DR_IN}, {"dB", DR_OUT}};
  int marker = 0;
  for (int32_t i = 0; i < 3; ++i) {
    QXPinProperties record;
    record.variable_address = &marker;
    record.direction = 77;
    record.datatype = 77;
    record.name = "host";
    record.extra1 = 11;
    record.extra2 = 12;
    record.flags = 77;
    record.extra3 = 13;
    EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, i, 0, &record), 1);
    EXPECT_STREQ(record.name, rows[i].name);
    EXPECT_EQ(record.direction, rows[i].direction);
    EXPECT_EQ(record.datatype, DT_FLOAT);
    EXPECT_EQ(record.flags, IO_UI_COMMUNICATION);
    EXPECT_EQ(record.variable_address, &marker);
    EXPECT_EQ(record.extra1, 11);
    EXPECT_EQ(record.extra2, 12);
    EXPECT_EQ(record.extra3, 13);
  }
  for (int32_t i : {3, -1, INT32_MIN}) {
    QXPinProperties record;
    std::memset(&record, 0x5A, sizeof record);
    QXPinProperties before = record;
    EXPECT_EQ(s.host.Dispatch(DSP_OP_GET_PIN_PROPERTIES, i, 0, &record), 0) << i;
    EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0) << i;
  }
  EXPECT_EQ(s.host.Close(), 1);
}

}  // namespace
