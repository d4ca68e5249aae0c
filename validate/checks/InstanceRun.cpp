#include "InstanceRun.h"

#include <algorithm>
#include <cstring>

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

void InstanceRun::FillInputs(DspHost& host, const Layout& layout, int block, int32_t block_size) {
  for (size_t k = 0; k < layout.inputs.size(); ++k) {
    const AudioBuffer buffer = host.Buffer(layout.inputs[k]);
    for (int32_t n = 0; n < block_size && static_cast<size_t>(n) < buffer.size(); ++n)
      buffer[static_cast<size_t>(n)] =
          ProcessFormats::InputSample(static_cast<int>(k), block * block_size + n);
  }
}

void InstanceRun::Record(DspHost& host, const Layout& layout, int32_t block_size) {
  m_block_size = block_size;
  Block block;
  for (const HostCall& call : host.Log())
    block.calls.push_back({call.opcode, call.index, call.value, FloatBits(call.opt)});
  host.ClearLog();
  block.pins = layout.outputs;
  for (const int32_t pin : layout.outputs) {
    const AudioBuffer buffer = host.Buffer(pin);
    std::vector<uint32_t> samples;
    for (size_t n = 0; n < static_cast<size_t>(block_size) && n < buffer.size(); ++n)
      samples.push_back(FloatBits(buffer[n]));
    block.outputs.push_back(std::move(samples));
  }
  m_blocks.push_back(std::move(block));
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
  const std::string who = "instance " + std::to_string(instance + 1) + "'s ";
  const std::string hint = ": state shared between instances?";
  for (size_t b = 0; b < own.m_blocks.size(); ++b) {
    if (b >= beside.m_blocks.size())
      return who + "run " + together + " ended after block " + std::to_string(b) + " of " +
             std::to_string(own.m_blocks.size());
    const Block& expected = own.m_blocks[b];
    const Block& got = beside.m_blocks[b];
    if (!(expected.calls == got.calls)) {
      size_t k = 0;
      while (k < expected.calls.size() && k < got.calls.size() && expected.calls[k] == got.calls[k]) ++k;
      return who + "host call " + std::to_string(k + 1) + " in block " + std::to_string(b + 1) + ", " +
             together + ", is " + CallText(got.calls, k) + ", not " + CallText(expected.calls, k) +
             " as alone" + hint;
    }
    for (size_t p = 0; p < expected.outputs.size() && p < got.outputs.size(); ++p) {
      const std::vector<uint32_t>& want = expected.outputs[p];
      const std::vector<uint32_t>& have = got.outputs[p];
      const auto parted = std::mismatch(want.begin(), want.end(), have.begin(), have.end());
      if (parted.first == want.end() && parted.second == have.end()) continue;
      const auto s = static_cast<size_t>(parted.first - want.begin());
      const std::string where = who + "output pin " + std::to_string(expected.pins[p]) + " from sample " +
                                std::to_string(b * static_cast<size_t>(own.m_block_size) + s) + ", " +
                                together;
      // The rest of the block as another instance gives it alone: what that
      // instance was told reached this one.
      for (size_t other = 0; other < alone.size(); ++other) {
        if (other == instance || b >= alone[other].m_blocks.size()) continue;
        const Block& theirs = alone[other].m_blocks[b];
        if (p < theirs.outputs.size() && theirs.outputs[p].size() == have.size() &&
            std::equal(have.begin() + static_cast<long>(s), have.end(),
                       theirs.outputs[p].begin() + static_cast<long>(s)))
          return where + ", is what instance " + std::to_string(other + 1) + "'s edits give" + hint;
      }
      if (s >= have.size() || s >= want.size())
        return where + ", has " + std::to_string(have.size()) + " samples, not " +
               std::to_string(want.size()) + " as alone" + hint;
      return where + ", is " + TextFormat::Float(BitsFloat(have[s])) + ", not " +
             TextFormat::Float(BitsFloat(want[s])) + " as alone" + hint;
    }
  }
  return "";
}
