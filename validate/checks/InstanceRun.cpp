#include "InstanceRun.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "HostHarness.h"
#include "OpcodeNames.h"
#include "ProcessFormats.h"
#include "TextFormat.h"

namespace {

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float BitsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

InstanceRun::Layout InstanceRun::FindLayout(const DspHost& host) {
  Layout layout;
  for (int32_t id = 0; id < host.PinCount(); ++id) {
    const DspHost::DspPin& pin = host.Pin(id);
    if (pin.datatype == DT_FSAMPLE) {
      (pin.direction == DR_OUT ? layout.outputs : layout.inputs).push_back(id);
    } else if (pin.direction == DR_IN && host.TakesValue(id)) {
      layout.controls.push_back(id);
    }
  }
  return layout;
}

int InstanceRun::OpenDsp(HostHarness& harness, int32_t pin_count, int32_t block_size, Layout* layout) {
  const int id = harness.MakeDsp(pin_count, true, block_size);
  if (id < 0 || !harness.IsLive(id)) return -1;
  DspHost& host = harness.Dsp(id);
  host.Describe();
  host.Open();
  *layout = FindLayout(host);
  host.SetLogging(true);
  host.ClearLog();
  return id;
}

void InstanceRun::RunBlock(DspHost& host, const Layout& layout, int block, int32_t block_size) {
  for (size_t k = 0; k < layout.inputs.size(); ++k) {
    const AudioBuffer buffer = host.Buffer(layout.inputs[k]);
    for (int32_t n = 0; n < block_size && static_cast<size_t>(n) < buffer.size(); ++n)
      buffer[static_cast<size_t>(n)] =
          ProcessFormats::InputSample(static_cast<int>(k), block * block_size + n);
  }
  host.Run(block_size);
  m_block_size = block_size;
  m_output_pins = layout.outputs;
  Block kept;
  for (const HostCall& call : host.Log())
    kept.calls.push_back({call.opcode, call.index, call.value, FloatBits(call.opt)});
  host.ClearLog();
  for (const int32_t pin : layout.outputs) {
    const AudioBuffer buffer = host.Buffer(pin);
    std::vector<uint32_t> samples;
    for (size_t n = 0; n < static_cast<size_t>(block_size) && n < buffer.size(); ++n)
      samples.push_back(FloatBits(buffer[n]));
    kept.outputs.push_back(std::move(samples));
  }
  m_blocks.push_back(std::move(kept));
}

std::string InstanceRun::CallText(const std::vector<Call>& calls, size_t k) {
  if (k >= calls.size()) return "no call";
  const Call& call = calls[k];
  return OpcodeNames::Text(OpcodeFamily::HOST, call.opcode) + " (index " + std::to_string(call.index) +
         ", value " + std::to_string(call.value) + ", opt " + TextFormat::Float(BitsFloat(call.opt)) + ")";
}

std::string InstanceRun::Difference(const std::vector<InstanceRun>& alone, const InstanceRun& beside,
                                    size_t instance, const std::string& together) {
  const InstanceRun& own = alone[instance];
  // The first block where they part; in it, the first host call or output
  // sample that differs.
  size_t b = 0;
  size_t p = 0;
  std::vector<uint32_t>::const_iterator want, have;
  bool calls = false;
  for (; b < own.m_blocks.size() && b < beside.m_blocks.size(); ++b) {
    const Block& expected = own.m_blocks[b];
    const Block& got = beside.m_blocks[b];
    if (!(expected.calls == got.calls)) {
      calls = true;
      break;
    }
    for (p = 0; p < expected.outputs.size() && p < got.outputs.size(); ++p) {
      std::tie(want, have) = std::mismatch(expected.outputs[p].begin(), expected.outputs[p].end(),
                                           got.outputs[p].begin(), got.outputs[p].end());
      if (want != expected.outputs[p].end() || have != got.outputs[p].end()) break;
    }
    if (p < expected.outputs.size() && p < got.outputs.size()) break;
  }
  const std::string who = "instance " + std::to_string(instance + 1) + "'s ";
  const std::string hint = ": state shared between instances?";
  if (b >= own.m_blocks.size()) return "";
  if (b >= beside.m_blocks.size())
    return who + "run " + together + " ended after block " + std::to_string(b) + " of " +
           std::to_string(own.m_blocks.size());
  const Block& expected = own.m_blocks[b];
  const Block& got = beside.m_blocks[b];
  if (calls) {
    size_t k = 0;
    while (k < expected.calls.size() && k < got.calls.size() && expected.calls[k] == got.calls[k]) ++k;
    return who + "host call " + std::to_string(k + 1) + " in block " + std::to_string(b + 1) + ", " +
           together + ", is " + CallText(got.calls, k) + ", not " + CallText(expected.calls, k) +
           " as alone" + hint;
  }
  const std::vector<uint32_t>& wanted = expected.outputs[p];
  const std::vector<uint32_t>& had = got.outputs[p];
  const auto s = static_cast<size_t>(want - wanted.begin());
  const std::string where = who + "output pin " + std::to_string(own.m_output_pins[p]) + " from sample " +
                            std::to_string(b * static_cast<size_t>(own.m_block_size) + s) + ", " + together;
  // The rest of the block as another instance gives it alone: what that
  // instance was told reached this one.
  const auto theirs = std::find_if(alone.begin(), alone.end(), [&](const InstanceRun& other) {
    if (&other == &own || b >= other.m_blocks.size() || p >= other.m_blocks[b].outputs.size()) return false;
    const std::vector<uint32_t>& output = other.m_blocks[b].outputs[p];
    return output.size() == had.size() && s < had.size() &&
           std::equal(had.begin() + static_cast<long>(s), had.end(), output.begin() + static_cast<long>(s));
  });
  if (theirs != alone.end())
    return where + ", is what instance " + std::to_string(theirs - alone.begin() + 1) + "'s edits give" +
           hint;
  if (s >= had.size() || s >= wanted.size())
    return where + ", has " + std::to_string(had.size()) + " samples, not " + std::to_string(wanted.size()) +
           " as alone" + hint;
  return where + ", is " + TextFormat::Float(BitsFloat(had[s])) + ", not " +
         TextFormat::Float(BitsFloat(wanted[s])) + " as alone" + hint;
}
