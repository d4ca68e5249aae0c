// Where two records of a DSP instance part, in words: the sample counted from
// the run's start, and the other instance whose output it is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DspHost.h"
#include "InstanceRun.h"

namespace {

constexpr int32_t kBlock = 4;

// A record of two blocks of output pin 1 as `fill` gives each sample; the
// host drives no instance, so its buffer holds what is written there.
InstanceRun Record(float (*fill)(int block, int sample)) {
  DspHost host(2, kBlock);
  InstanceRun::Layout layout;
  layout.outputs = {1};
  InstanceRun run;
  for (int block = 0; block < 2; ++block) {
    for (int n = 0; n < kBlock; ++n) host.Buffer(1)[static_cast<size_t>(n)] = fill(block, n);
    run.RunBlock(host, layout, block, kBlock);
  }
  return run;
}

TEST(InstanceRun, SaysWhereTwoRecordsPartAndWhoseOutputCame) {
  const std::vector<InstanceRun> alone = {Record([](int, int n) { return 0.5f * static_cast<float>(n); }),
                                          Record([](int, int n) { return 2.0f * static_cast<float>(n); })};
  EXPECT_EQ(InstanceRun::Difference(alone, alone[0], 0, "interleaved"), "");
  // Instance 1 gives instance 2's output from the second block's sample 2 on.
  const InstanceRun taken =
      Record([](int block, int n) { return (block == 1 && n >= 2 ? 2.0f : 0.5f) * static_cast<float>(n); });
  EXPECT_EQ(InstanceRun::Difference(alone, taken, 0, "interleaved"),
            "instance 1's output pin 1 from sample 6, interleaved, is what instance 2's edits give: state "
            "shared between instances?");
  // Output of its own, neither instance's.
  const InstanceRun other =
      Record([](int block, int n) { return block == 0 && n == 3 ? 9.0f : 0.5f * static_cast<float>(n); });
  EXPECT_EQ(InstanceRun::Difference(alone, other, 0, "on threads of their own"),
            "instance 1's output pin 1 from sample 3, on threads of their own, is 9, not 1.5 as alone: state "
            "shared between instances?");
  EXPECT_EQ(InstanceRun::Difference(alone, InstanceRun(), 1, "interleaved"),
            "instance 2's run interleaved ended after block 0 of 2");
}

}  // namespace
