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
#include <mutex>
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
  // A fresh instance each round, so that every round starts from what a new
  // instance holds. The lock only keeps the test from closing an instance the
  // other thread is calling: the audio thread takes it between rounds alone.
  AudioSide audio;
  std::mutex lifetime;
  QXModuleStruct* current = nullptr;
  std::atomic<bool> stop{false};
  std::atomic<int> announcements{0};
  std::thread setup([&] {
    const float rates[] = {44100.0f, 48000.0f, 96000.0f};
    const int32_t blocks[] = {64, 256, 1024};
    for (int i = 0; !stop.load(); ++i) {
      {
        const std::lock_guard<std::mutex> hold(lifetime);
        if (current != nullptr) {
          current->dispatch_entry(current, DSP_OP_CHANGE_SAMPLE_RATE, 0, 0, nullptr, rates[i % 3]);
          current->dispatch_entry(current, DSP_OP_CHANGE_BLOCK_SIZE, 0, blocks[i % 3], nullptr, 0.0f);
        }
      }
      announcements.fetch_add(1);
    }
  });

  std::string why_not;
  const bool counting = AllocationCounter::Available(&why_not);
  uint64_t allocations = 0;
  int lost = 0;
  for (int round = 0; round < ROUNDS; ++round) {
    auto* module = new ManyFunctions(&AudioSide::Callback, reinterpret_cast<QXWord>(&audio));
    QXModuleStruct* record = module->ModuleStruct();
    record->dispatch_entry(record, DSP_OP_OPEN, 0, 0, nullptr, 0.0f);
    {
      const std::lock_guard<std::mutex> hold(lifetime);
      current = record;
    }
    // Each round overlaps announcements to its instance: wait for one to begin.
    const int seen = announcements.load();
    while (announcements.load() < seen + 2) std::this_thread::yield();
    const uint64_t before = AllocationCounter::Count();
    {
      const AllocationCounter::Scope module_code(true);
      audio.clock = static_cast<uint32_t>(round);
      module->PostAll(audio.clock);
      for (size_t i = 0; i < audio.count; ++i) record->event_entry(record->object, &audio.queue[i]);
      audio.count = 0;
    }
    allocations += AllocationCounter::Count() - before;
    for (int n = 0; n < FUNCTIONS; ++n) lost += module->runs[static_cast<size_t>(n)] == 1 ? 0 : 1;
    {
      const std::lock_guard<std::mutex> hold(lifetime);
      current = nullptr;
    }
    EXPECT_EQ(record->dispatch_entry(record, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
  }
  stop = true;
  setup.join();

  EXPECT_EQ(audio.overflow, 0);
  EXPECT_EQ(lost, 0) << "functions that did not run exactly once, over " << ROUNDS << " rounds";
  if (counting) {
    EXPECT_EQ(allocations, 0u) << "allocations on the audio thread";
  }
}

}  // namespace
