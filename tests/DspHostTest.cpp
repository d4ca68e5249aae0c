// The reference DSP host itself: what it promises the instances it drives.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "DescribedModule.h"
#include "DspHost.h"

namespace {

// An audio module for the host's tests: pin 0 in, pin 1 out, out = 2 * in;
// it can also write where it must not.
class Doubler : public DescribedModule {
 public:
  enum class Stray { NONE, BEFORE_STRETCH, AFTER_STRETCH, PAST_BLOCK, BEFORE_BUFFER };
  Doubler(::qxaudioMaster callback, QXWord host_data, std::vector<QXPinProperties> table)
      : DescribedModule(callback, host_data, std::move(table)) {}
  void Open() override {
    SetProcessFunction(static_cast<QXProcessFunction>(&Doubler::Double));
    DescribedModule::Open();
  }
  void Double(int32_t offset, int32_t count) {
    const float* in = GetPin(0)->SampleBuffer();
    float* out = GetPin(1)->SampleBuffer();
    for (int32_t i = offset; i < offset + count; ++i) out[i] = 2.0f * in[i];
    trace.push_back(std::to_string(offset) + "+" + std::to_string(count));
    if (stray == Stray::BEFORE_STRETCH && offset > 0) out[offset - 1] = 7.0f;
    if (stray == Stray::AFTER_STRETCH && offset + count < BlockSize()) out[offset + count] = 7.0f;
    if (stray == Stray::PAST_BLOCK) out[BlockSize()] = 7.0f;
    if (stray == Stray::BEFORE_BUFFER) out[-1] = 7.0f;
  }
  Stray stray = Stray::NONE;
};

std::vector<QXPinProperties> InAndOut() {
  return {Description(DT_FSAMPLE), Description(DT_FSAMPLE, 0, nullptr, DR_OUT)};
}

// A host of `capacity` samples driving a Doubler, described and opened.
struct AudioSession {
  explicit AudioSession(int32_t block = 64, int32_t capacity = DspHost::MAX_BLOCK)
      : host(2, block, capacity), module(new Doubler(&DspHost::Callback, host.HostData(), InAndOut())) {
    host.Attach(module->ModuleStruct());
    host.Describe();
    host.Open();
  }
  ~AudioSession() {
    if (host.Record() != nullptr) host.Close();
  }
  DspHost host;
  Doubler* module;
};

TEST(DspHost, BuffersHoldTheCapacityAtAddressesThatNeverChange) {
  AudioSession s(64, 4096);
  const float* in = s.module->GetPin(0)->SampleBuffer();
  const float* out = s.module->GetPin(1)->SampleBuffer();
  EXPECT_EQ(in, s.host.Buffer(0).data());
  EXPECT_EQ(out, s.host.Buffer(1).data());
  EXPECT_EQ(s.host.Buffer(1).size(), 4096u);
  for (const int32_t block : {1, 4096, 17}) {
    ASSERT_TRUE(s.host.SetFormat(48000.0f, block));
    s.host.Run(100);
    EXPECT_EQ(s.host.Buffer(0).data(), in) << block;
    EXPECT_EQ(s.host.Buffer(1).data(), out) << block;
  }
  DspHost small(1, 8);
  EXPECT_EQ(small.Capacity(), 8) << "without a capacity, exactly the block";
  EXPECT_EQ(small.Buffer(0).size(), 8u);
  EXPECT_THROW(small.Buffer(1), std::out_of_range);
}

TEST(DspHost, SetFormatAnnouncesRateAndBlockAndBoundsEveryProcessCall) {
  AudioSession s(64, 512);
  s.module->trace.clear();
  ASSERT_TRUE(s.host.SetFormat(96000.0f, 17));
  EXPECT_EQ(s.module->SampleRate(), 96000.0f);
  EXPECT_EQ(s.module->BlockSize(), 17);
  s.host.Run(40);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"0+17", "0+17", "0+6"}));
  // Refused: nothing announced, the format stays.
  for (const auto& bad :
       {std::make_pair(96000.0f, 513), std::make_pair(96000.0f, 0), std::make_pair(0.0f, 64),
        std::make_pair(-1.0f, 64), std::make_pair(NAN, 64), std::make_pair(INFINITY, 64)}) {
    EXPECT_FALSE(s.host.SetFormat(bad.first, bad.second)) << bad.first << " " << bad.second;
    EXPECT_EQ(s.host.SampleRate(), 96000.0f);
    EXPECT_EQ(s.host.BlockSize(), 17);
    EXPECT_EQ(s.module->SampleRate(), 96000.0f);
    EXPECT_EQ(s.module->BlockSize(), 17);
  }
  ASSERT_TRUE(s.host.SetFormat(22050.0f, 512));
  s.module->trace.clear();
  s.host.Run(600);
  EXPECT_EQ(s.module->trace, (std::vector<std::string>{"0+512", "0+88"}));
  EXPECT_EQ(s.module->SampleRate(), 22050.0f);
}

TEST(DspHost, DescribeLearnsEachDspPinAndFillsAudioVariables) {
  float* audio_variable = nullptr;
  float gain = 0.0f;
  DspHost host(5, 64, 256);
  auto* module = new DescribedModule(
      &DspHost::Callback, host.HostData(),
      {Description(DT_FSAMPLE, 0, &audio_variable), Description(DT_FLOAT, IO_UI_COMMUNICATION),
       Description(DT_FLOAT, IO_UI_COMMUNICATION | IO_UI_DSP_SHARED, &gain),
       Description(DT_FSAMPLE, IO_REPEATING, nullptr, DR_OUT)});
  host.Attach(module->ModuleStruct());
  ASSERT_TRUE(host.Describe());
  EXPECT_EQ(host.Descriptions().size(), 4u);
  EXPECT_EQ(audio_variable, host.Buffer(0).data()) << "the host fills an audio pin's variable";
  EXPECT_EQ(host.Pin(0).variable, &audio_variable);
  EXPECT_EQ(host.Pin(1).datatype, DT_FLOAT) << "the GUI-only description takes no id";
  EXPECT_EQ(host.Pin(1).variable, &gain);
  for (int32_t id = 2; id < 5; ++id) {
    EXPECT_EQ(host.Pin(id).datatype, DT_FSAMPLE) << id;
    EXPECT_EQ(host.Pin(id).direction, DR_OUT) << id;
    EXPECT_EQ(host.Pin(id).variable, nullptr) << "a repeat has storage of its own";
  }
  host.Open();
  EXPECT_EQ(module->GetPin(0)->SampleBuffer(), host.Buffer(0).data());
  EXPECT_EQ(module->GetPin(4)->SampleBuffer(), host.Buffer(4).data());
  EXPECT_EQ(host.Close(), 1);
}

TEST(DspHost, APinValueIsWrittenAtItsClockThenReportedAsAMomentaryStatus) {
  float gain = -1.0f;
  int32_t steps = 0;
  DspHost host(2, 64);
  auto* module = new DescribedModule(
      &DspHost::Callback, host.HostData(),
      {Description(DT_FLOAT, IO_UI_COMMUNICATION | IO_UI_DSP_SHARED, &gain), Description(DT_INT, 0, &steps)});
  host.Attach(module->ModuleStruct());
  host.Describe();
  host.Open();
  module->SetProcessFunction(static_cast<QXProcessFunction>(&DescribedModule::Process));
  module->RunDelayed(37, &DescribedModule::Tick);
  ASSERT_TRUE(host.SetPinValue(0, 0.25, 37));
  ASSERT_TRUE(host.SetPinValue(1, 1e12, 50));
  ASSERT_TRUE(host.SetPinValue(1, -7.9, 63));
  host.Run(64);
  EXPECT_EQ(gain, 0.25f);
  EXPECT_EQ(steps, -7) << "an integer pin takes the whole part";
  // The status arrives after the write and before the instance's own event of that clock.
  EXPECT_EQ(module->trace,
            (std::vector<std::string>{"process 0 37", "status 0 1", "tick 37", "process 37 13", "status 1 1",
                                      "process 50 13", "status 1 1", "process 63 1"}));
  EXPECT_EQ(module->GetPin(0)->Status(), QX_PIN_STATUS_NONE) << "momentary: it reads 0 afterwards";
  EXPECT_EQ(host.LateEvents(), 0u);
  EXPECT_EQ(host.Close(), 1);
}

TEST(DspHost, PinValuesItCannotWriteAreRefused) {
  int16_t level = 0;
  DspHost host(4, 64);
  auto* module = new DescribedModule(&DspHost::Callback, host.HostData(),
                                     {Description(DT_FLOAT), Description(DT_FSAMPLE, 0, nullptr),
                                      Description(DT_SHORT, 0, &level), Description(3, 0, &level)});
  host.Attach(module->ModuleStruct());
  EXPECT_FALSE(host.SetPinValue(2, 1.0, 0)) << "nothing learned before Describe";
  host.Describe();
  host.Open();
  EXPECT_FALSE(host.SetPinValue(0, 1.0, 0)) << "a pin without a variable";
  EXPECT_FALSE(host.SetPinValue(1, 1.0, 0)) << "an audio pin";
  EXPECT_FALSE(host.SetPinValue(3, 1.0, 0)) << "a type without a value";
  EXPECT_FALSE(host.SetPinValue(4, 1.0, 0)) << "no such pin";
  EXPECT_FALSE(host.SetPinValue(-1, 1.0, 0));
  host.Run(10);
  EXPECT_FALSE(host.SetPinValue(2, 1.0, 9)) << "a clock already past";
  EXPECT_TRUE(host.SetPinValue(2, -1e9, 10));
  host.Run(1);
  EXPECT_EQ(level, INT16_MIN) << "clamped to what the type holds";
  EXPECT_EQ(host.Close(), 1);
}

TEST(DspHost, StreamFeedsEachBlockAndCollectsItsOutput) {
  AudioSession s(64, 64);
  ASSERT_TRUE(s.host.SetFormat(44100.0f, 17));
  std::vector<float> in(100), out(100, -1.0f);
  for (size_t i = 0; i < in.size(); ++i) in[i] = std::sin(static_cast<float>(i));
  s.module->trace.clear();
  s.host.Stream({{0, in.data()}}, {{1, out.data()}}, 100);
  for (size_t i = 0; i < in.size(); ++i) EXPECT_EQ(out[i], 2.0f * in[i]) << i;
  EXPECT_EQ(s.module->trace.size(), 6u) << "five blocks of 17 and one of 15";
  EXPECT_EQ(s.host.Clock(), 100u);
  EXPECT_EQ(s.host.StrayWrites(), 0u);
}

struct StrayCase {
  Doubler::Stray stray;
  const char* text;  // in the first stray write's description
};

class DspHostWatch : public ::testing::TestWithParam<StrayCase> {};

TEST_P(DspHostWatch, CountsWritesOutsideTheStretch) {
  AudioSession s(64, 256);
  s.host.WatchOutputs(true);
  ASSERT_TRUE(s.host.SetFormat(48000.0f, 64));
  std::vector<float> in(200, 0.5f), out(200);
  // Events split blocks into stretches that start and end inside them.
  s.module->RunDelayed(10, &DescribedModule::Tick);
  s.module->RunDelayed(70, &DescribedModule::Tick);
  s.module->stray = GetParam().stray;
  s.host.Stream({{0, in.data()}}, {{1, out.data()}}, 200);
  if (GetParam().stray == Doubler::Stray::NONE) {
    EXPECT_EQ(s.host.StrayWrites(), 0u) << s.host.FirstStrayWrite();
    for (const float sample : out) EXPECT_EQ(sample, 1.0f);
    return;
  }
  EXPECT_GT(s.host.StrayWrites(), 0u);
  EXPECT_NE(s.host.FirstStrayWrite().find(GetParam().text), std::string::npos) << s.host.FirstStrayWrite();
}

INSTANTIATE_TEST_SUITE_P(
    DspHost, DspHostWatch,
    ::testing::Values(
        StrayCase{Doubler::Stray::NONE, ""},
        StrayCase{Doubler::Stray::BEFORE_STRETCH,
                  "process_entry(offset 10, count 54) wrote output pin 1 at sample 9 (outside its "
                  "stretch, block size 64)"},
        StrayCase{Doubler::Stray::AFTER_STRETCH,
                  "process_entry(offset 0, count 10) wrote output pin 1 at sample 10 (outside"},
        StrayCase{Doubler::Stray::PAST_BLOCK, "wrote output pin 1 at sample 64 (past the block"},
        StrayCase{Doubler::Stray::BEFORE_BUFFER, "wrote output pin 1 at sample -1 (before the buffer"}));

TEST(DspHost, RunLongerThanTheBlockGoesBlockByBlock) {
  // Buffers of 64 samples; a run of 150 with an event at sample 100. Each
  // block reads its own buffer from its first sample, and no stretch reaches
  // past the samples the buffer holds.
  DspHost host(1, 64);
  auto* module = new DescribedModule(&DspHost::Callback, host.HostData(), {Description(DT_FSAMPLE)});
  host.Attach(module->ModuleStruct());
  host.Open();
  for (size_t i = 0; i < 64; ++i) host.Buffer(0)[i] = static_cast<float>(i);
  module->SetProcessFunction(static_cast<QXProcessFunction>(&DescribedModule::ProcessAndRead));
  module->RunDelayed(100, &DescribedModule::Tick);
  host.Run(150);
  EXPECT_EQ(module->trace, (std::vector<std::string>{"read 0 64 0.000000", "read 0 36 0.000000", "tick 100",
                                                     "read 36 28 36.000000", "read 0 22 0.000000"}));
  EXPECT_EQ(host.Clock(), 150u);
  EXPECT_EQ(host.Close(), 1);
}

// Posts an ET_DATA event in its process calls, `ahead` samples from the
// call's clock (negative: a clock already past), at most `posts` times.
class Poster : public DescribedModule {
 public:
  Poster(::qxaudioMaster callback, QXWord host_data) : DescribedModule(callback, host_data) {
    SetProcessFunction(static_cast<QXProcessFunction>(&Poster::PostAndProcess));
  }
  void PostAndProcess(int32_t offset, int32_t count) {
    Process(offset, count);
    if (posts == 0) return;
    --posts;
    AddEvent(SampleClock(), ET_DATA, 1, 0, 0);  // the current clock: always accepted
    if (ahead != 0) CallHost(HOST_OP_ADD_EVENT, 0, 0, &Late(), 0.0f);
  }
  QXEvent& Late() {
    late = QXEvent{SampleClock() + static_cast<uint32_t>(ahead), ET_DATA, 2, 0, 0, 0};
    return late;
  }
  int posts = 1;
  int32_t ahead = 0;
  QXEvent late{};
};

TEST(DspHost, AnEventPostedForTheCallsOwnClockComesRightAfterThatCall) {
  DspHost host(0, 64);
  auto* module = new Poster(&DspHost::Callback, host.HostData());
  host.Attach(module->ModuleStruct());
  host.Open();
  module->posts = 2;
  module->RunDelayed(10, &DescribedModule::Tick);
  host.Run(128);
  // At clock 0, and at clock 10 in the middle of the block: each event at the
  // clock of the call that posted it (the instance checks that), before the
  // next call.
  EXPECT_EQ(module->trace, (std::vector<std::string>{"process 0 10", "data 0 1 0", "tick 10", "process 10 54",
                                                     "data 10 1 0", "process 0 64"}));
  EXPECT_EQ(host.LateEvents(), 0u);
  EXPECT_TRUE(host.Pending().empty());
  EXPECT_EQ(host.Close(), 1);
}

TEST(DspHost, APostForAClockAlreadyPastIsLateAndNamesItsCall) {
  const struct {
    int32_t ahead;
    const char* first;
  } cases[] = {
      {-1,
       "process_entry(offset 0, count 64) at clock 64 posted an event (type 2) for clock 63, already past"},
      {5,
       "process_entry(offset 0, count 64) at clock 0 posted an event (type 2) for clock 5, inside the "
       "stretch that call processes"},
  };
  for (const auto& c : cases) {
    DspHost host(0, 64);
    auto* module = new Poster(&DspHost::Callback, host.HostData());
    host.Attach(module->ModuleStruct());
    host.Open();
    module->ahead = c.ahead;
    module->posts = 2;
    host.SetClock(c.ahead < 0 ? 64 : 0);
    host.Run(128);
    EXPECT_EQ(host.LateEvents(), 2u) << c.ahead;
    EXPECT_EQ(host.FirstLateEvent(), c.first);
    // The posts for the calls' own clocks still came back, each right after its call.
    const uint32_t start = host.Clock() - 128;
    EXPECT_EQ(module->trace,
              (std::vector<std::string>{"process 0 64", "data " + std::to_string(start) + " 1 0",
                                        "process 0 64", "data " + std::to_string(start + 64) + " 1 0"}));
    EXPECT_EQ(host.Close(), 1);
  }
}

TEST(DspHost, AnEventLeftBehindByAJumpOfTheClockIsLate) {
  DspHost host(0, 64);
  auto* module = new DescribedModule(&DspHost::Callback, host.HostData());
  host.Attach(module->ModuleStruct());
  host.SetClock(10);
  module->RunDelayed(12, &DescribedModule::Tick);
  host.SetClock(20);
  host.Run(8);
  EXPECT_TRUE(module->trace.empty()) << "never delivered late";
  EXPECT_EQ(host.LateEvents(), 1u);
  EXPECT_EQ(host.FirstLateEvent(), "an event (type 21) for clock 12 was still queued at clock 20");
  EXPECT_EQ(host.Close(), 1);
}

}  // namespace

namespace {

TEST(DspHost, PendingEventsAreBoundedAndAPostBeyondIsRefusedAndCounted) {
  AudioSession s;
  QXModuleStruct* record = s.module->ModuleStruct();
  const size_t beyond = 10;
  for (size_t i = 0; i < DspHost::MAX_PENDING_EVENTS + beyond; ++i) {
    QXEvent event{1000000u + static_cast<uint32_t>(i), ET_DATA, static_cast<QXWord>(i), 0, 0, 0};
    DspHost::Callback(record, HOST_OP_ADD_EVENT, 0, 0, &event, 0.0f);
  }
  EXPECT_EQ(s.host.Pending().size(), DspHost::MAX_PENDING_EVENTS);
  EXPECT_EQ(s.host.RefusedEvents(), beyond);
  EXPECT_EQ(s.host.Pending().back().arg1, static_cast<QXWord>(DspHost::MAX_PENDING_EVENTS - 1))
      << "the first ones are kept";
  // The host's own events share the bound.
  EXPECT_FALSE(s.host.Post(QXEvent{2000000u, ET_DATA, 0, 0, 0, 0}));
  // Delivered ones make room again.
  s.host.SetClock(1000000u);
  s.host.Run(64);
  EXPECT_EQ(s.host.Pending().size(), DspHost::MAX_PENDING_EVENTS - 64);
  EXPECT_TRUE(s.host.Post(QXEvent{2000000u, ET_DATA, 0, 0, 0, 0}));
  EXPECT_EQ(s.host.RefusedEvents(), beyond);
}

}  // namespace
