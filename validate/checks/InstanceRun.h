// What one DSP instance gave, block by block: the host calls it made and its
// audio outputs. The checks that run instances side by side (interleaved on
// one thread, or each on a thread of its own) record each instance alone and
// beside the others, and say in words where the two records part.
#ifndef VALIDATE_CHECKS_INSTANCERUN_H
#define VALIDATE_CHECKS_INSTANCERUN_H

#include <cstdint>
#include <string>
#include <vector>

#include "DspHost.h"

class HostHarness;

class InstanceRun {
 public:
  // A described instance's audio pins and the control pins the host sets, by
  // DSP-side pin id.
  struct Layout {
    std::vector<int32_t> inputs, outputs, controls;
  };
  static Layout FindLayout(const DspHost& host);

  // A DSP instance as these checks run it: made with a host of `block_size`
  // samples' buffers that answers `pin_count`, described, opened, its calls
  // logged from then on; `layout` set. Its id, or -1 if makeModule gave no
  // usable record.
  static int OpenDsp(HostHarness& harness, int32_t pin_count, int32_t block_size, Layout* layout);
  // Block `block` of `block_size` samples: the input buffers filled with the
  // signal of ProcessFormats::InputSample (the same for every instance, so
  // that what differs between instances is what they were told), the block
  // run, and kept: the calls the instance made since the last block and the
  // block's output samples.
  void RunBlock(DspHost& host, const Layout& layout, int block, int32_t block_size);

  // "" if `beside` gave what `alone[instance]` gave; else the first place
  // they part, in words: "instance 2's output pin 1 from sample 1536,
  // interleaved, is what instance 1's edits give: state shared between
  // instances?". Each record holds blocks of the same size. `together` names
  // the way they ran ("interleaved", "on threads of their own").
  static std::string Difference(const std::vector<InstanceRun>& alone, const InstanceRun& beside,
                                size_t instance, const std::string& together);

 private:
  struct Call {
    int32_t opcode, index, value;
    uint32_t opt;  // the float's bits
    bool operator==(const Call& other) const {
      return opcode == other.opcode && index == other.index && value == other.value && opt == other.opt;
    }
  };
  struct Block {
    std::vector<Call> calls;
    std::vector<std::vector<uint32_t>> outputs;  // each output's samples, as bits
  };
  static std::string CallText(const std::vector<Call>& calls, size_t k);

  int32_t m_block_size = 0;
  std::vector<int32_t> m_output_pins;  // by DSP-side id, in the order of each block's `outputs`
  std::vector<Block> m_blocks;
};

#endif  // VALIDATE_CHECKS_INSTANCERUN_H
