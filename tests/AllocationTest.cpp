// Nothing on the pin-change or process path may allocate: this binary counts
// every call of the global allocation functions while such a call runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "DescribedModule.h"
#include "DspHost.h"
#include "GuiHost.h"
#include "GuiModule.h"
#include "Module.h"
#include "QXGuiPin.h"

extern "C" void* QX_CALL makeModule(int32_t index, int32_t type, qxaudioMaster callback, QXWord host_data);

namespace {
long g_allocations = 0;
long g_releases = 0;
bool g_out_of_memory = false;  // every allocation fails while set

void* Allocate(std::size_t size) noexcept {
  ++g_allocations;
  return g_out_of_memory ? nullptr : std::malloc(size != 0 ? size : 1);
}

void* AllocateOrThrow(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}

void Release(void* p) noexcept {
  if (p != nullptr) ++g_releases;
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace {

// Allocations made while `f` runs.
template <class F>
long AllocationsDuring(F f) {
  const long before = g_allocations;
  f();
  return g_allocations - before;
}

TEST(Allocation, CountingSeesAnAllocation) {
  EXPECT_EQ(AllocationsDuring([] { delete new int(1); }), 1);
}

TEST(Allocation, GuiPinChangeAndPinAccessAllocateNothing) {
  GuiHost host(3);
  host.SetLogging(false);
  host.SetFloat(GuiModule::PIN_VREF, 1.0f);
  auto* module = new GuiModule(&GuiHost::Callback, host.HostData());
  host.Attach(module->GuiStruct());
  for (int32_t pin : {0, 2, 1}) {
    EXPECT_EQ(AllocationsDuring([&] { host.EditFloat(pin, 0.25f); }), 0) << "pin " << pin;
  }
  EXPECT_EQ(AllocationsDuring([&] { host.Report(5); }), 0) << "a pin the module does not have";
  EXPECT_EQ(AllocationsDuring([&] {
              QXGuiPin* pin = module->GetPin(GuiModule::PIN_DB);
              pin->SetValueFloat(pin->GetValueFloat() + 1.0f);
              pin->SetValueInt(pin->GetValueInt());
            }),
            0);
  // Construction 1, three edits 2 each, the unknown pin's rewrite 1, the handle 4.
  EXPECT_EQ(host.CallCount(), 12u) << "the calls did reach the host";
  host.Close();
}

TEST(Allocation, DspProcessCallAllocatesNothing) {
  DspHost host(0);
  host.SetLogging(false);
  host.Attach((new Module(&DspHost::Callback, host.HostData()))->ModuleStruct());
  host.Open();
  EXPECT_EQ(AllocationsDuring([&] {
              for (int block = 0; block < 16; ++block) host.Run(64);
            }),
            0);
  EXPECT_EQ(host.SleepRequests(), 16u);
  host.Close();
}

// Answers every DSP call with 0 and keeps nothing, so that only the instance
// could allocate.
QXWord QX_CALL SilentHost(void*, int32_t, int32_t, int32_t, void*, float) { return 0; }

TEST(Allocation, PostingRunFunctionsAllocatesNothing) {
  auto* module = new DescribedModule(&SilentHost, 0);
  QXModuleStruct* s = module->ModuleStruct();
  // As from a process call: more distinct functions than the table holds
  // before a set-up call, then after one.
  EXPECT_EQ(AllocationsDuring([&] { module->PostNumbered<0, 40>(0); }), 0);
  s->dispatch_entry(s, DSP_OP_OPEN, 0, 0, nullptr, 0.0f);
  EXPECT_EQ(AllocationsDuring([&] {
              module->PostNumbered<40, 30>(0);
              module->PostNumbered<0, 100>(0);
              module->AddEvent(0, ET_DATA, 1, 2, 3);
            }),
            0);
  EXPECT_EQ(s->dispatch_entry(s, DSP_OP_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

// ------------------------------------------------- when memory runs out

TEST(OutOfMemory, FactoryAnswersNullForBothTypes) {
  GuiHost host(3);
  g_out_of_memory = true;
  void* dsp = makeModule(0, QX_INSTANCE_DSP, &GuiHost::Callback, host.HostData());
  void* gui = makeModule(0, QX_INSTANCE_GUI, &GuiHost::Callback, host.HostData());
  g_out_of_memory = false;
  EXPECT_EQ(dsp, nullptr);
  EXPECT_EQ(gui, nullptr);
  EXPECT_TRUE(host.Log().empty()) << "no constructor ran";
}

QXWord QX_CALL ThrowingHost(void*, int32_t, int32_t, int32_t, void*, float) {
  throw std::runtime_error("the host failed");
}

TEST(OutOfMemory, ConstructorExceptionReleasesTheStorageAndAnswersNull) {
  const long allocations = g_allocations, releases = g_releases;
  EXPECT_EQ(makeModule(0, QX_INSTANCE_GUI, &ThrowingHost, 0), nullptr);
  EXPECT_EQ(g_allocations - allocations, g_releases - releases) << "everything allocated was released";
  EXPECT_GE(g_allocations - allocations, 1);
}

TEST(OutOfMemory, OpenWithoutMemoryForPinsRunsWithoutPins) {
  DspHost host(4);
  auto* module =
      new DescribedModule(&DspHost::Callback, host.HostData(), {Description(DT_FLOAT, IO_REPEATING)});
  host.Attach(module->ModuleStruct());
  host.SetLogging(false);    // the host's own log would fail first
  module->asked.reserve(8);  // and so would the test module's record of questions
  g_out_of_memory = true;
  host.Dispatch(DSP_OP_OPEN);
  g_out_of_memory = false;
  EXPECT_EQ(module->PinCount(), 0);
  EXPECT_EQ(module->asked, (std::vector<int32_t>{0, -1})) << "the open ran to its end";
  host.Open();  // a later open with memory builds them
  EXPECT_EQ(module->PinCount(), 4);
  EXPECT_EQ(host.Close(), 1);
}

}  // namespace
