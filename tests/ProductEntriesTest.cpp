// The product's DSP-side entries called as the host calls them: events through
// event_entry, processing through process_entry, a block split at an event.
// On 32-bit Windows also the stack effect of each entry's convention, which a
// mismatch between the module and the host header would break: process_entry
// is thiscall (object in ECX, the callee pops its arguments), event_entry is
// cdecl (the caller pops).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "DspHost.h"
#include "ModuleLibrary.h"

namespace {

class ProductEntries : public ::testing::Test {
 protected:
  void SetUp() override {
    ModuleLibrary::Error error;
    library = ModuleLibrary::Open(QX_PRODUCT, &error);
    ASSERT_TRUE(library.has_value()) << error.text;
    host.Attach(static_cast<QXModuleStruct*>(
        library->MakeModule(0, QX_INSTANCE_DSP, &DspHost::Callback, host.HostData())));
    ASSERT_NE(host.Record(), nullptr);
    host.Open();
    host.ClearLog();
  }
  void TearDown() override {
    if (host.Record() != nullptr) {
      EXPECT_EQ(host.Close(), 1);
    }
  }

  std::vector<int32_t> Opcodes() const {
    std::vector<int32_t> opcodes;
    for (const HostCall& call : host.Log()) opcodes.push_back(call.opcode);
    return opcodes;
  }

  DspHost host{0};
  std::optional<ModuleLibrary> library;
};

TEST_F(ProductEntries, EventsAtTheClockReachTheInstanceThroughEventEntry) {
  host.SetClock(1000);
  // The instance checks each event's time against the host's clock, so every
  // delivery shows as one clock question in its own record's name.
  for (int32_t kind : {int32_t{ET_DATA}, 1, 6, 22}) host.Deliver(QXEvent{1000, kind, 5, 6, 7, 0});
  ASSERT_EQ(host.Log().size(), 4u);
  for (const HostCall& call : host.Log()) {
    EXPECT_EQ(call.opcode, HOST_OP_GET_SAMPLE_CLOCK);
    EXPECT_EQ(call.record, host.Record());
  }
}

TEST_F(ProductEntries, BlockIsSplitAtAnEventAndProcessedAroundIt) {
  // An event queued for sample 10 of the next block, as if the instance had
  // posted it.
  QXEvent event{10, ET_DATA, 1, 2, 0, 0};
  DspHost::Callback(host.Record(), HOST_OP_ADD_EVENT, 0, 0, &event, 0.0f);
  host.ClearLog();
  host.Run(64);
  EXPECT_EQ(Opcodes(), (std::vector<int32_t>{HOST_OP_SLEEP, HOST_OP_GET_SAMPLE_CLOCK, HOST_OP_SLEEP}))
      << "process 0..10, the event at 10, process 10..64";
  EXPECT_EQ(host.SleepRequests(), 2u);
  EXPECT_TRUE(host.Pending().empty());
  EXPECT_EQ(host.LateEvents(), 0u);
  EXPECT_EQ(host.Clock(), 64u);
}

TEST_F(ProductEntries, ProcessEntryIsCalledForEveryBlock) {
  // Each run of 256 samples is four blocks of the 64 the host announced.
  for (int run = 0; run < 100; ++run) host.Run(256);
  EXPECT_EQ(host.SleepRequests(), 400u);
  EXPECT_EQ(host.Clock(), 25600u);
  for (const HostCall& call : host.Log()) EXPECT_EQ(call.record, host.Record());
}

#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)

template <class F>
uintptr_t CodeOf(F f) {
  static_assert(sizeof f == sizeof(uintptr_t), "a plain code address");
  uintptr_t word;
  std::memcpy(&word, &f, sizeof word);
  return word;
}

// Calls the code at `entry` with `ecx` in ECX and two stack arguments, `first`
// at the lower address, and answers how many of their 8 bytes are still on the
// stack when it returns: 0 if the callee popped them, 8 if it left them to the
// caller. The stack pointer is restored either way.
uint32_t StackBytesLeft(uintptr_t entry, uintptr_t ecx, uintptr_t first, uintptr_t second) {
  uintptr_t eax = entry, edx = first, edi = second;
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "pushl %%edi\n\t"
      "pushl %%edx\n\t"
      "call *%%eax\n\t"
      "movl %%esi, %%edi\n\t"
      "subl %%esp, %%edi\n\t"
      "movl %%esi, %%esp\n\t"
      : "+a"(eax), "+c"(ecx), "+d"(edx), "+D"(edi)
      :
      : "esi", "memory", "cc", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "st", "st(1)",
        "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
  return static_cast<uint32_t>(edi);
}

// Two functions of known conventions, to show that the probe tells them apart:
// a plain function and a member function, which is thiscall here.
uintptr_t g_seen[3];
void __cdecl CdeclReference(uintptr_t a, uintptr_t b) {
  g_seen[1] = a;
  g_seen[2] = b;
}
struct ThiscallReference {
  void Take(uintptr_t a, uintptr_t b) {
    g_seen[0] = reinterpret_cast<uintptr_t>(this);
    g_seen[1] = a;
    g_seen[2] = b;
  }
};

TEST(StackProbe, TellsCallerPopsFromCalleePops) {
  EXPECT_EQ(StackBytesLeft(CodeOf(&CdeclReference), 0, 11, 12), 8u);
  EXPECT_EQ(g_seen[1], 11u);
  EXPECT_EQ(g_seen[2], 12u);
  // A member-function pointer's first word is the code address.
  const auto take = &ThiscallReference::Take;
  uintptr_t words[2];
  static_assert(sizeof take == sizeof words, "two-word member-function pointer");
  std::memcpy(words, &take, sizeof words);
  ThiscallReference object;
  EXPECT_EQ(StackBytesLeft(words[0], reinterpret_cast<uintptr_t>(&object), 21, 22), 0u);
  EXPECT_EQ(g_seen[0], reinterpret_cast<uintptr_t>(&object));
  EXPECT_EQ(g_seen[1], 21u);
  EXPECT_EQ(g_seen[2], 22u);
}

TEST_F(ProductEntries, ProcessEntryTakesTheObjectInEcxAndPopsItsArguments) {
  const uintptr_t object = reinterpret_cast<uintptr_t>(host.Record()->object);
  EXPECT_EQ(StackBytesLeft(CodeOf(host.ProcessEntry()), object, 0, 64), 0u);
  ASSERT_EQ(host.SleepRequests(), 1u) << "the instance found itself through ECX";
  EXPECT_EQ(host.Log()[0].record, host.Record());
}

TEST_F(ProductEntries, EventEntryLeavesItsArgumentsToTheCaller) {
  host.SetClock(77);
  QXEvent event{77, ET_DATA, 1, 2, 0, 0};
  const uintptr_t object = reinterpret_cast<uintptr_t>(host.Record()->object);
  // ECX holds garbage: a cdecl entry must not read it.
  EXPECT_EQ(
      StackBytesLeft(CodeOf(host.Record()->event_entry), 0xDEAD, object, reinterpret_cast<uintptr_t>(&event)),
      8u);
  ASSERT_EQ(host.Log().size(), 1u);
  EXPECT_EQ(host.Log()[0].opcode, HOST_OP_GET_SAMPLE_CLOCK);
  EXPECT_EQ(host.Log()[0].record, host.Record());
}

#endif

}  // namespace
