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

class InstanceRun {
 public:
  // A described instance's audio pins and the control pins the host sets, by
  // DSP-side pin id.
  struct Layout {
    std::vector<int32_t> inputs, outputs, controls;
  };
  static Layout FindLayout(const DspHost& host);

  // Fills `host`'s input buffers for block `block` of `block_size` samples
  // with the signal of ProcessFormats::InputSample: the same for every
  // instance, so that what differs between instances is what they were told.
  static void FillInputs(DspHost& host, const Layout& layout, int block, int32_t block_size);
  // Keeps the calls `host` logged since the last block (then clears its log)
  // and the block's output samples.
  void Record(DspHost& host, const Layout& layout, int32_t block_size);
  size_t Blocks() const { return m_blocks.size(); }

  // "" if `beside` gave what `alone[instance]` gave; else the first place
  // they part, in words: "instance 2's output pin 1 from sample 1536 is what
  // instance 1's edit gives: state shared between instances?". Each record
  // holds the same number of blocks of the same size. `together` names the
  // way they ran ("interleaved", "at once").
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
    std::vector<int32_t> pins;                   // the output pins, in the order of `outputs`
    std::vector<std::vector<uint32_t>> outputs;  // each output's samples, as bits
  };
  static std::string CallText(const std::vector<Call>& calls, size_t k);

  int32_t m_block_size = 0;
  std::vector<Block> m_blocks;
};

#endif  // VALIDATE_CHECKS_INSTANCERUN_H
