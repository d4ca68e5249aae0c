// Linked into executables that validate modules (qxhost and the validator's
// tests): routes every heap allocation of the process, a loaded module's
// included, through AllocationCounter::Note.
//
// - Under AddressSanitizer or ThreadSanitizer the sanitizer owns malloc; its
//   allocation hook sees malloc, calloc, realloc and operator new alike.
// - With glibc, malloc, calloc and realloc are replaced here and forward to
//   glibc's own allocator. A module's calls (and libstdc++'s operator new,
//   which calls malloc) resolve to the executable's definitions first.
// - Elsewhere nothing is installed and the counter reports itself unavailable.
#include <cstddef>
#include <cstdlib>

#include "AllocationCounter.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QX_HOOKS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QX_HOOKS_SANITIZER 1
#endif
#endif

#if defined(QX_HOOKS_SANITIZER)

// The sanitizers' own interface, hence the reserved name.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void OnMalloc(const volatile void*, std::size_t size) { AllocationCounter::Note(size); }
void OnFree(const volatile void*) {}
[[maybe_unused]] const bool INSTALLED = [] {
  if (__sanitizer_install_malloc_and_free_hooks(&OnMalloc, &OnFree) == 0) return false;
  AllocationCounter::Install("sanitizer allocation hook");
  return true;
}();
}  // namespace

#elif defined(__GLIBC__) || (defined(__linux__) && !defined(__ANDROID__))

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);

void* malloc(std::size_t size) noexcept {
  AllocationCounter::Note(size);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  AllocationCounter::Note(count * size);
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
  AllocationCounter::Note(size);
  return __libc_realloc(p, size);
}
}

namespace {
[[maybe_unused]] const bool INSTALLED = [] {
  AllocationCounter::Install("malloc, calloc and realloc replaced in the executable");
  return true;
}();
}  // namespace

#endif
