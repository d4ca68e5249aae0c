// The reference DSP host itself: what it promises the instances it drives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DescribedModule.h"
#include "DspHost.h"

namespace {

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

}  // namespace
