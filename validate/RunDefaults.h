// What a run of child processes (the validator's checks, the fuzzer's
// episodes) takes where its user said nothing: a fresh seed, printed by the
// run so that it can be repeated; this program as the one started for each
// child; and one child per processor, at most eight.
#ifndef QX_VALIDATE_RUNDEFAULTS_H
#define QX_VALIDATE_RUNDEFAULTS_H

#include <cstdint>
#include <random>
#include <thread>

#include "ChildRunner.h"

struct RunDefaults {
  // Options: any options record with seed, seed_given, program and jobs.
  template <class Options>
  static void Fill(Options* options) {
    if (!options->seed_given) {
      std::random_device device;
      // Twelve decimal digits at most: short enough to read and type again.
      options->seed = (static_cast<uint64_t>(device()) << 32 | device()) % 1000000000000ull;
    }
    if (options->program.empty()) options->program = ChildRunner::SelfPath();
    if (options->jobs <= 0) {
      const unsigned processors = std::thread::hardware_concurrency();
      options->jobs = processors == 0 ? 1 : processors > 8 ? 8 : static_cast<int>(processors);
    }
  }
};

#endif  // QX_VALIDATE_RUNDEFAULTS_H
