// dsp.interleaved: two instances of a module, each a DSP side and a GUI side
// as a host pairs them, edited differently and run block by block in turn on
// one thread, every edit of a round made before either instance's block. Each
// must give what it gives alone. State the instances share (a global the GUI
// side writes and the DSP side reads) shows on every run, where
// threads.instances sees it only when the threads happen to meet.
#ifndef VALIDATE_CHECKS_DSPINTERLEAVED_H
#define VALIDATE_CHECKS_DSPINTERLEAVED_H

#include <cstdint>

#include "ValidationCheck.h"

class DspInterleaved {
 public:
  static ValidationCheck Check();

  static constexpr int INSTANCES = 2;
  static constexpr int32_t BLOCK = 64;
  // The host edits every control pin each EDIT_EVERY blocks from the first.
  static constexpr int EDIT_EVERY = 3;

 private:
  static CheckResult Run(CheckContext& context);
};

#endif  // VALIDATE_CHECKS_DSPINTERLEAVED_H
