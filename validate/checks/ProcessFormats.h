// dsp.process-formats: the DSP side at every sample rate and block size a host
// plays, with the host's events at the first and the last sample of blocks and
// in between. Checked for any module, whatever it computes: within one sample
// rate its audio output does not depend on how the host cuts the signal into
// blocks; a process call writes only its stretch of each output buffer and
// no input buffer; finite input gives finite output. dsp.input-buffers is
// one such run alone, fast enough for the first level.
#ifndef VALIDATE_CHECKS_PROCESSFORMATS_H
#define VALIDATE_CHECKS_PROCESSFORMATS_H

#include <cstdint>
#include <vector>

#include "ValidationCheck.h"

class ProcessFormats {
 public:
  static ValidationCheck Check();
  static ValidationCheck InputBuffersCheck();

  static const std::vector<float>& SampleRates();
  // One run each, and one more whose block size changes between blocks.
  static const std::vector<int32_t>& BlockSizes();
  static const std::vector<int32_t>& ChangingBlockSizes();
  // Samples in each run.
  static constexpr int32_t LENGTH = 2 * 4096 + 1000;
  // The clocks of the host's events, the same in every run: 0, and for each
  // block size B the first, a middle and the last sample of the second block.
  static std::vector<uint32_t> EventClocks();
  // Input `input`'s sample `n`: finite, within -0.8 .. 0.8.
  static float InputSample(int input, int32_t n);
  // Control pin `pin`'s value at event `k`: positive values any pin can take.
  static double ControlValue(int pin, size_t k);

 private:
  static CheckResult Run(CheckContext& context);
  static CheckResult RunInputBuffers(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_PROCESSFORMATS_H
