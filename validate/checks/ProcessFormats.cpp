#include "ProcessFormats.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <string>

#include "HostHarness.h"
#include "InstanceRun.h"
#include "TextFormat.h"

namespace {

// "at 44100 Hz, block size 17"; without the block size if `blocks` is empty.
std::string Format(float rate, const std::string& blocks) {
  return "at " + std::to_string(static_cast<long>(rate)) + " Hz" + (blocks.empty() ? "" : ", " + blocks);
}

std::string Blocks(const std::vector<int32_t>& sizes) {
  if (sizes.size() == 1) return "block size " + std::to_string(sizes[0]);
  return "block size changing between blocks";
}

// What one run gave: the outputs, or the first rule it broke.
struct RunOutcome {
  bool usable = false;              // the module made a DSP instance to run
  std::vector<int32_t> output_ids;  // the output pins' ids, in the order of `outputs`
  std::vector<std::vector<float>> outputs;
  CheckResult failure;
  bool wrote_input = false;  // `failure` is a write to an input buffer
};

// One instance through one run: made, described, opened, told the format,
// then the signal block by block with the host's events.
RunOutcome OneRun(CheckContext& context, int32_t pin_count, float rate, const std::vector<int32_t>& sizes) {
  RunOutcome run;
  const TraceWriter::Part in_flight(context.Trace(), "the run " + Format(rate, Blocks(sizes)));
  std::vector<std::vector<float>>& outputs = run.outputs;
  HostHarness harness(context.MakeModuleExport(), context.Trace());
  const int dsp = harness.MakeDsp(pin_count, true, DspHost::MAX_BLOCK);
  run.usable = dsp >= 0 && harness.IsLive(dsp);
  if (!run.usable) return run;
  DspHost& host = harness.Dsp(dsp);
  host.Describe();
  host.WatchOutputs(true);
  const InstanceRun::Layout layout = InstanceRun::FindLayout(host);
  run.output_ids = layout.outputs;
  host.Open();

  std::vector<std::vector<float>> inputs(layout.inputs.size(), std::vector<float>(ProcessFormats::LENGTH));
  for (size_t k = 0; k < inputs.size(); ++k) {
    for (int32_t n = 0; n < ProcessFormats::LENGTH; ++n)
      inputs[k][static_cast<size_t>(n)] = ProcessFormats::InputSample(static_cast<int>(k), n);
  }
  outputs.assign(layout.outputs.size(), std::vector<float>(ProcessFormats::LENGTH));
  const std::vector<uint32_t> clocks = ProcessFormats::EventClocks();
  for (size_t k = 0; k < clocks.size(); ++k) {
    for (size_t c = 0; c < layout.controls.size(); ++c)
      host.SetPinValue(layout.controls[c], ProcessFormats::ControlValue(static_cast<int>(c), k), clocks[k]);
  }

  const auto channels = [](const std::vector<int32_t>& pins, std::vector<std::vector<float>>& signals,
                           int32_t from) {
    std::vector<DspHost::Channel> list;
    for (size_t k = 0; k < pins.size(); ++k) list.push_back({pins[k], signals[k].data() + from});
    return list;
  };
  int32_t done = 0;
  for (size_t turn = 0; done < ProcessFormats::LENGTH; ++turn) {
    const int32_t size = sizes[turn % sizes.size()];
    host.SetFormat(rate, size);
    // A fixed block size plays the whole signal; a changing one, one block.
    const int32_t count =
        sizes.size() == 1 ? ProcessFormats::LENGTH : std::min(size, ProcessFormats::LENGTH - done);
    host.Stream(channels(layout.inputs, inputs, done), channels(layout.outputs, outputs, done), count);
    done += count;
  }
  // The host's description of a write names its block size already.
  const std::string format = Format(rate, sizes.size() == 1 ? "" : Blocks(sizes));
  if (host.InputWrites() > 0) {
    run.wrote_input = true;
    run.failure = CheckResult::Fail(host.FirstInputWrite() + " " + format,
                                    "the input buffers as the host wrote them (in a modular host, the output "
                                    "of the module upstream, which others read too)",
                                    std::to_string(host.InputWrites()) + " process calls that wrote one");
    return run;
  }
  if (host.StrayWrites() > 0) {
    run.failure = CheckResult::Fail(host.FirstStrayWrite() + " " + format,
                                    "writes only within [offset, offset + count) of an output buffer",
                                    std::to_string(host.StrayWrites()) + " writes elsewhere");
    return run;
  }
  for (size_t k = 0; k < outputs.size(); ++k) {
    for (size_t n = 0; n < outputs[k].size(); ++n) {
      if (std::isfinite(outputs[k][n])) continue;
      run.failure = CheckResult::Fail("output pin " + std::to_string(layout.outputs[k]) + " sample " +
                                          std::to_string(n) + " " + Format(rate, Blocks(sizes)),
                                      "finite output for finite input", TextFormat::Float(outputs[k][n]));
      return run;
    }
  }
  harness.Close(dsp);
  return run;
}

}  // namespace

ValidationCheck ProcessFormats::InputBuffersCheck() {
  return {"dsp.input-buffers",
          "after every process call each input audio buffer holds what the host wrote there (a module that "
          "writes an input, or declares an output as an input, writes a buffer the host owns)",
          false,
          false,
          &RunInputBuffers,
          1};
}

CheckResult ProcessFormats::RunInputBuffers(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  RunOutcome run = OneRun(context, PinDescription::DspCount(pins), 44100.0f, {17});
  if (!run.usable) return CheckResult::Skip("makeModule(0, 1) gives no usable DSP instance");
  // Only this check's own rule: the others are dsp.process-formats'.
  if (run.wrote_input) return run.failure;
  return CheckResult::Pass();
}

ValidationCheck ProcessFormats::Check() {
  return {"dsp.process-formats",
          "at 22050 to 192000 Hz and block sizes 1 to 4096 (and one changing between blocks), with events at "
          "blocks' first, middle and last samples: the same output at every block size, writes only within "
          "each call's stretch and to no input, finite output",
          false,
          false,
          &Run,
          2};
}

const std::vector<float>& ProcessFormats::SampleRates() {
  static const std::vector<float> rates = {22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
  return rates;
}

const std::vector<int32_t>& ProcessFormats::BlockSizes() {
  static const std::vector<int32_t> sizes = {1, 2, 17, 64, 512, 4096};
  return sizes;
}

const std::vector<int32_t>& ProcessFormats::ChangingBlockSizes() {
  static const std::vector<int32_t> sizes = {64, 1, 4096, 17, 2, 512, 3, 1000};
  return sizes;
}

std::vector<uint32_t> ProcessFormats::EventClocks() {
  std::set<uint32_t> clocks = {0};
  for (const int32_t size : BlockSizes()) {
    const auto b = static_cast<uint32_t>(size);
    clocks.insert({b, b + b / 2, 2 * b - 1});
  }
  return {clocks.begin(), clocks.end()};
}

float ProcessFormats::InputSample(int input, int32_t n) {
  // Two tones of their own per input and a little noise, the same at every rate.
  uint32_t noise = static_cast<uint32_t>(n) * 2654435761u + static_cast<uint32_t>(input) * 40503u;
  noise ^= noise >> 13;
  const double t = static_cast<double>(n);
  const double value = 0.45 * std::sin(0.0123 * (input + 1) * t + input) + 0.3 * std::sin(0.71 * t) +
                       0.05 * (static_cast<double>(noise % 2001u) / 1000.0 - 1.0);
  return static_cast<float>(value);
}

double ProcessFormats::ControlValue(int pin, size_t k) {
  static const double values[] = {1.0, 0.5, 2.0, 0.25, 4.0, 3.0};
  return values[(k + static_cast<size_t>(pin)) % (sizeof values / sizeof values[0])];
}

CheckResult ProcessFormats::Run(CheckContext& context) {
  CheckResult result;
  std::vector<CheckContext::Pin> pins;
  if (!context.Prepare(&pins, &result)) return result;
  const int32_t pin_count = PinDescription::DspCount(pins);
  size_t outputs = 0;
  for (const float rate : SampleRates()) {
    std::vector<std::vector<int32_t>> runs;
    for (const int32_t size : BlockSizes()) runs.push_back({size});
    runs.push_back(ChangingBlockSizes());
    std::vector<std::vector<float>> reference;
    std::string reference_name;
    for (const std::vector<int32_t>& sizes : runs) {
      RunOutcome run = OneRun(context, pin_count, rate, sizes);
      if (!run.usable) return CheckResult::Skip("makeModule(0, 1) gives no usable DSP instance");
      if (run.failure.Failed()) return run.failure;
      const std::vector<std::vector<float>>& got = run.outputs;
      const std::vector<int32_t>& ids = run.output_ids;
      if (reference_name.empty()) {
        reference = got;
        reference_name = Blocks(sizes);
        outputs = got.size();
        continue;
      }
      // Equal within rounding: a millionth of the signal's peak, far below
      // anything audible and far above what reordered arithmetic changes.
      for (size_t k = 0; k < got.size(); ++k) {
        float peak = 1.0f;
        for (const float sample : reference[k]) peak = std::max(peak, std::fabs(sample));
        for (size_t n = 0; n < got[k].size(); ++n) {
          if (std::fabs(got[k][n] - reference[k][n]) <= 1e-6f * peak) continue;
          return CheckResult::Fail("output pin " + std::to_string(ids[k]) + " sample " + std::to_string(n) +
                                       " " + Format(rate, Blocks(sizes)),
                                   TextFormat::Float(reference[k][n]) + " as with " + reference_name +
                                       " (the same output whatever the block size)",
                                   TextFormat::Float(got[k][n]));
        }
      }
    }
  }
  return CheckResult::Pass(std::to_string(outputs) + (outputs == 1 ? " output" : " outputs") + " compared, " +
                           std::to_string(EventClocks().size()) + " event clocks");
}
