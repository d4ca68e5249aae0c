// Run functions as a host with two threads sees them: its own thread announces
// sample rates and block sizes at any time while the audio thread posts many
// distinct run functions, by every road a module has, and delivers them. Every
// one runs once per post, with no allocation on the audio thread; under
// ThreadSanitizer (the tsan preset builds this program) a race is a report
// that fails it.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>
#include <utility>

#include "AllocationCounter.h"
#include "QXModule_base.h"

namespace {

constexpr int FUNCTIONS = 160;
constexpr int ROUNDS = 100;

class ManyFunctions : public QXModule_base {
 public:
  using QXModule_base::QXModule_base;

  template <int N>
  void Run() {
    ++runs[N];
  }
  // Run<0> .. Run<FUNCTIONS - 1> for `clock`, by RunDelayed, AddEvent and
  // CallHost in turn.
  void PostAll(uint32_t clock) { PostAll(clock, std::make_integer_sequence<int, FUNCTIONS>()); }

  std::array<int, FUNCTIONS> runs{};  // the audio thread's alone

 private:
  template <int... N>
  void PostAll(uint32_t clock, std::integer_sequence<int, N...>) {
    (Post<N>(clock), ...);
  }
  template <int N>
  void Post(uint32_t clock) {
    void (ManyFunctions::*f)() = &ManyFunctions::Run<N>;
    QXWord word;
    std::memcpy(&word, &f, sizeof word);
    switch (N % 3) {
      case 0:
        RunDelayed(clock, f);
        break;
      case 1:
        AddEvent(clock, ET_RUN_FUNCTION, 0, 0, word);
        break;
      default: {
        QXEvent e{clock, ET_RUN_FUNCTION, 0, 0, word, 0};
        CallHost(HOST_OP_ADD_EVENT, 0, 0, &e, 0.0f);
        break;
      }
    }
  }
};

// The host's audio side: the clock and a queue made before the run, so that
// the host allocates nothing on the audio thread either.
struct AudioSide {
  static QXWord QX_CALL Callback(void* record, int32_t opcode, int32_t, int32_t, void* ptr, float) {
    auto* self = reinterpret_cast<AudioSide*>(static_cast<QXModuleStruct*>(record)->host_data);
    switch (opcode) {
      case HOST_OP_GET_SAMPLE_CLOCK:
        return static_cast<QXWord>(self->clock);
      case HOST_OP_ADD_EVENT:
        if (self->count < self->queue.size()) {
          self->queue[self->count++] = *static_cast<const QXEvent*>(ptr);
        } else {
          ++self->overflow;
        }
        return 0;
      default:
        return 0;
    }
  }
  uint32_t clock = 0;
  std::array<QXEvent, FUNCTIONS> queue{};
  size_t count = 0;
  int overflow = 0;
};

TEST(RunFunctionThreads, EveryPostRunsWhileTheHostAnnouncesFormatsOnAnotherThread) {
  AudioSide audio;
  auto* module = new ManyFunctions(&AudioSide::Callback, reinterpret_cast<QXWord>(&audio));
  QXModuleStruct* record = module->ModuleStruct();
  record->dispatch_entry(record, DSP_OP_OPEN, 0, 0, nullptr, 0.0f);

  std::atomic<bool> stop{false};
  std::atomic<int> announcements{0};
  std::thread setup([&] {
    const float rates[] = {44100.0f, 48000.0f, 96000.0f};
    const int32_t blocks[] = {64, 256, 1024};
    for (int i = 0; !stop.load(); ++i) {
      record->dispatch_entry(record, DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, rates[i % 3]);
      record->dispatch_entry(record, DSP_OP_CHANGE_BLOCK_SIZE, 0, blocks[i % 3], nullptr, 0.0f);
      announcements.fetch_add(1);
    }
  });

  std::string why_not;
  const bool counting = AllocationCounter::Available(&why_not);
  const uint64_t allocations_before = AllocationCounter::Count();
  {
    const AllocationCounter::Scope module_code(true);
    for (int round = 0; round < ROUNDS; ++round) {
      // Each round overlaps announcements: wait for one more to begin.
      const int seen = announcements.load();
      while (announcements.load() == seen) std::this_thread::yield();
      audio.clock = static_cast<uint32_t>(round);
      module->PostAll(audio.clock);
      for (size_t i = 0; i < audio.count; ++i) record->event_entry(record->object, &audio.queue[i]);
      audio.count = 0;
    }
  }
  const uint64_t allocations = AllocationCounter::Count() - allocations_before;
  stop = true;
  setup.join();

  EXPECT_EQ(audio.overflow, 0);
  for (int n = 0; n < FUNCTIONS; ++n)
    EXPECT_EQ(module->runs[static_cast<size_t>(n)], ROUNDS) << "Run<" << n << ">";
  if (counting) {
    EXPECT_EQ(allocations, 0u) << "allocations on the audio thread";
  }
  EXPECT_EQ(record->dispatch_entry(record, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

}  // namespace
