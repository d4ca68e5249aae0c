// Nothing on the pin-change or process path may allocate: this binary counts
// every call of the global allocation functions while such a call runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "DspHost.h"
#include "GuiHost.h"
#include "GuiModule.h"
#include "Module.h"
#include "QXGuiPin.h"

namespace {
long g_allocations = 0;

void* Allocate(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size != 0 ? size : 1)) return p;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  ++g_allocations;
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

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

}  // namespace
