// DSP pins: binding by data type and the requests a pin sends to the host.
#include <gtest/gtest.h>

#include "DescribedModule.h"
#include "DspHost.h"
#include "QXContract.h"

namespace {

struct PinSession {
  PinSession() : host(4), module(new DescribedModule(&DspHost::Callback, host.HostData())) {
    host.Attach(module->ModuleStruct());
  }
  ~PinSession() { host.Close(); }
  DspHost host;
  DescribedModule* module;
};

TEST(QXPin, InitGivesEachDataTypeItsStorage) {
  PinSession s;
  for (int32_t type : {DT_SHORT, DT_BOOL, DT_FLOAT, DT_INT}) {
    QXPin pin;
    pin.Init(s.module, 2, type, nullptr);
    ASSERT_NE(pin.VariablePtr(), nullptr) << type;
    EXPECT_EQ(*static_cast<uint8_t*>(pin.VariablePtr()), 0) << type;
    EXPECT_EQ(pin.Status(), 0);
  }
  for (int32_t type : {1, 2, 3, 7, 9, -4}) {
    QXPin pin;
    pin.Init(s.module, 2, type, nullptr);
    EXPECT_EQ(pin.VariablePtr(), nullptr) << type;
  }
  EXPECT_TRUE(s.host.Log().empty()) << "only audio pins ask the host";
}

TEST(QXPin, AudioPinWithoutVariableFetchesItsBufferOnce) {
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 3, DT_FSAMPLE, nullptr);
  ASSERT_EQ(s.host.Log().size(), 1u);
  EXPECT_EQ(s.host.Log()[0].opcode, HOST_OP_GET_PIN_BUFFER);
  EXPECT_EQ(s.host.Log()[0].index, 3);
  EXPECT_EQ(*static_cast<float**>(pin.VariablePtr()), s.host.Buffer(3).data());
  EXPECT_EQ(pin.SampleBuffer(), s.host.Buffer(3).data());

  s.host.ClearLog();
  float* variable = nullptr;
  QXPin with_variable;
  with_variable.Init(s.module, 1, DT_FSAMPLE, &variable);
  EXPECT_TRUE(s.host.Log().empty());
  EXPECT_EQ(with_variable.VariablePtr(), &variable);
  EXPECT_EQ(with_variable.SampleBuffer(), nullptr) << "until the host fills the variable";
  variable = s.host.Buffer(2).data();
  EXPECT_EQ(with_variable.SampleBuffer(), s.host.Buffer(2).data());
}

TEST(QXPin, OnlyAudioPinsHaveASampleBuffer) {
  PinSession s;
  float* buffer = s.host.Buffer(0).data();
  for (int32_t type : {int32_t{DT_SHORT}, int32_t{DT_BOOL}, int32_t{DT_FLOAT}, int32_t{DT_INT}, 1, 7}) {
    QXPin pin;
    pin.Init(s.module, 0, type, &buffer);  // a variable that happens to hold an address
    EXPECT_EQ(pin.SampleBuffer(), nullptr) << type;
  }
  QXPin unbound;
  EXPECT_EQ(unbound.SampleBuffer(), nullptr);
}

TEST(QXPin, SampleValueReadsTheBufferAtTheClockOffset) {
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 0, DT_FSAMPLE, nullptr);
  for (size_t i = 0; i < 8; ++i) s.host.Buffer(0)[i] = static_cast<float>(i) + 0.5f;
  s.host.SetBufferClock(1000);
  s.host.SetClock(1003);
  s.host.ClearLog();
  EXPECT_EQ(pin.SampleValue(), 3.5f);
  ASSERT_EQ(s.host.Log().size(), 2u);
  EXPECT_EQ(s.host.Log()[0].opcode, HOST_OP_GET_BUFFER_CLOCK);
  EXPECT_EQ(s.host.Log()[0].index, 0);
  EXPECT_EQ(s.host.Log()[1].opcode, HOST_OP_GET_SAMPLE_CLOCK);
}

// A host whose clocks put the sample outside the block: nothing is read
// outside the buffer (the difference of the clocks wraps below its start).
TEST(QXPin, SampleValueOutsideTheBlockIsZero) {
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 0, DT_FSAMPLE, nullptr);
  s.module->SetBlockSize(8);
  for (size_t i = 0; i < 8; ++i) s.host.Buffer(0)[i] = static_cast<float>(i) + 0.5f;
  s.host.SetBufferClock(1000);
  s.host.SetClock(1007);
  EXPECT_EQ(pin.SampleValue(), 7.5f) << "the block's last sample";
  for (const uint32_t clock : {999u, 1008u, 1000u + 0x7FFFFFFFu, 0u}) {
    s.host.SetClock(clock);
    EXPECT_EQ(pin.SampleValue(), 0.0f) << clock;
  }
}

TEST(QXPin, SampleValueWithoutABufferIsZero) {
  // The host has no pin 7 and answers its buffer request with null.
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 7, DT_FSAMPLE, nullptr);
  ASSERT_EQ(*static_cast<float**>(pin.VariablePtr()), nullptr);
  s.host.SetClock(3);
  s.host.ClearLog();
  EXPECT_EQ(pin.SampleValue(), 0.0f);
  EXPECT_EQ(s.host.Log().size(), 2u) << "the buffer clock and the sample clock are still asked";
}

TEST(QXPin, StatusNotifyAndQueryCarryThePinId) {
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 2, DT_FLOAT, nullptr);
  s.host.SetClock(50);
  s.host.ClearLog();
  pin.TransmitStatusChange(50, 4);
  pin.NotifyHost(0xBEEF, -9);
  s.host.SetQueryAnswer(0);
  EXPECT_FALSE(pin.QueryHost());
  s.host.SetQueryAnswer(-1);
  EXPECT_TRUE(pin.QueryHost());
  const auto status = s.host.Calls(HOST_OP_PIN_STATUS);
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(status[0].index, 2);
  EXPECT_EQ(status[0].value, 4);
  EXPECT_EQ(status[0].ptr, reinterpret_cast<void*>(50));
  const auto notify = s.host.Calls(HOST_OP_PIN_NOTIFY);
  ASSERT_EQ(notify.size(), 1u);
  EXPECT_EQ(notify[0].index, 2);
  EXPECT_EQ(notify[0].value, -9);
  EXPECT_EQ(notify[0].ptr, reinterpret_cast<void*>(0xBEEF));
  const auto query = s.host.Calls(HOST_OP_PIN_QUERY);
  ASSERT_EQ(query.size(), 2u);
  EXPECT_EQ(query[0].index, 2);
}

TEST(QXPin, UnboundPinIgnoresStatusAndSendsNothing) {
  PinSession s;
  QXPin pin;
  pin.OnStatusUpdate(2);
  pin.TransmitStatusChange(0, 1);
  pin.NotifyHost(0, 0);
  EXPECT_FALSE(pin.QueryHost());
  EXPECT_EQ(pin.Status(), 0);
  EXPECT_TRUE(s.host.Log().empty());
  EXPECT_TRUE(s.module->trace.empty());
}

#if QX_CONTRACT_CHECKS
TEST(QXPinDeathTest, PastClockAndNonAudioSampleStop) {
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 0, DT_FLOAT, nullptr);
  s.host.SetClock(50);
  EXPECT_DEATH(pin.TransmitStatusChange(49, 1),
               "sampleclock >= m_module->SampleClock\\(\\), file \\.\\.\\\\qx_sdk2\\\\QXPin, line");
  EXPECT_DEATH(pin.SampleValue(), "m_datatype == DT_FSAMPLE");
}
#else
TEST(QXPin, PastClockAndNonAudioSampleAreRefused) {
  PinSession s;
  QXPin pin;
  pin.Init(s.module, 0, DT_FLOAT, nullptr);
  s.host.SetClock(50);
  s.host.ClearLog();
  pin.TransmitStatusChange(49, 1);
  EXPECT_TRUE(s.host.Calls(HOST_OP_PIN_STATUS).empty());
  EXPECT_EQ(pin.SampleValue(), 0.0f);
}
#endif

}  // namespace
