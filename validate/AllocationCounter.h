// Counts the heap allocations that a module's own code makes while the
// validator has called into it. The counting itself lives in the executable
// (AllocationHooks.cpp replaces the allocator's entry points there); a process
// without those hooks reports counting as unavailable, never as "no
// allocation".
#ifndef VALIDATE_ALLOCATIONCOUNTER_H
#define VALIDATE_ALLOCATIONCOUNTER_H

#include <atomic>
#include <cstdint>
#include <string>

class AllocationCounter {
 public:
  // Called by the hooks for every allocation; counts it while module code runs
  // on this thread.
  static void Note(std::size_t size) noexcept {
    if (t_module_running) {
      s_count.fetch_add(1, std::memory_order_relaxed);
      s_bytes.fetch_add(size, std::memory_order_relaxed);
    }
  }
  // The hooks announce themselves at start-up, with what they can see.
  static void Install(const char* what) noexcept { s_installed = what; }
  // Whether this process counts a module's allocations; if not, why not.
  static bool Available(std::string* why_not);
  static const char* Mechanism() { return s_installed; }

  static uint64_t Count() { return s_count.load(std::memory_order_relaxed); }
  static uint64_t Bytes() { return s_bytes.load(std::memory_order_relaxed); }

  // Marks the stretch in which module code runs (a call into the module) or
  // host code runs (the module's call of the host), restoring the state before
  // on scope exit, so nested calls in both directions count only the module.
  class Scope {
   public:
    explicit Scope(bool module_running) noexcept : m_saved(t_module_running) {
      t_module_running = module_running;
    }
    ~Scope() { t_module_running = m_saved; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    bool m_saved;
  };

 private:
  static thread_local bool t_module_running;
  static std::atomic<uint64_t> s_count;
  static std::atomic<uint64_t> s_bytes;
  static const char* s_installed;
};

#endif  // VALIDATE_ALLOCATIONCOUNTER_H
