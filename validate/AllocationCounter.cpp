#include "AllocationCounter.h"

thread_local bool AllocationCounter::t_module_running = false;
std::atomic<uint64_t> AllocationCounter::s_count{0};
std::atomic<uint64_t> AllocationCounter::s_bytes{0};
const char* AllocationCounter::s_installed = nullptr;

bool AllocationCounter::Available(std::string* why_not) {
#ifdef _WIN32
  // A Windows module allocates through its own C runtime (usually linked in),
  // whose heap calls this process cannot see.
  *why_not = "a Windows module allocates through its own C runtime, which the validator cannot observe";
  return false;
#else
  if (s_installed == nullptr) {
    *why_not = "this process has no allocation hooks (only the qxhost executable counts allocations)";
    return false;
  }
  return true;
#endif
}
