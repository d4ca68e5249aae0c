// The records as a host that knows them only as sequences of fields lays them
// out: each field a 32-bit word or an address-carrying word (pointer-sized),
// aligned to its own size, the record padded to its widest field. On the
// host's 32-bit target both kinds are 4 bytes and field i lies at 4·i; on
// 64-bit targets the same sequence gives the offsets our tools must use.
#ifndef TESTS_HOSTLAYOUT_H
#define TESTS_HOSTLAYOUT_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace host_layout {

constexpr size_t I = 4;              // a 32-bit word
constexpr size_t A = sizeof(void*);  // an address-carrying word

template <size_t N>
struct Layout {
  constexpr explicit Layout(const size_t (&fields)[N]) : offset{}, size(0) {
    size_t end = 0, widest = 1;
    for (size_t i = 0; i < N; ++i) {
      end = (end + fields[i] - 1) / fields[i] * fields[i];
      offset[i] = end;
      end += fields[i];
      if (fields[i] > widest) widest = fields[i];
    }
    size = (end + widest - 1) / widest * widest;
  }
  size_t offset[N];
  size_t size;
};

// Arrays appear as their words; a field's index is that of its first word.
constexpr size_t PROPERTIES_FIELDS[] = {A, A, A, I, I, I};
constexpr Layout<6> PROPERTIES(PROPERTIES_FIELDS);
constexpr size_t MODULE_FIELDS[] = {I, I, A, A, I, A, A, A, I, I, I, I};
constexpr Layout<12> MODULE(MODULE_FIELDS);
constexpr size_t PIN_FIELDS[] = {A, I, I, A, I, I, I, I};
constexpr Layout<8> PIN(PIN_FIELDS);
constexpr size_t PROCESS_INFO_FIELDS[] = {I, I, A, I};
constexpr Layout<4> PROCESS_INFO(PROCESS_INFO_FIELDS);
constexpr size_t EVENT_FIELDS[] = {I, I, A, A, A, A};
constexpr Layout<6> EVENT(EVENT_FIELDS);
constexpr size_t GUI_FIELDS[] = {I, I, A, A, A, I, I, I, I, I};
constexpr Layout<10> GUI(GUI_FIELDS);

// The word of `size` bytes at `offset` of a record, as the host reads it.
inline uint64_t WordAt(const void* record, size_t offset, size_t size) {
  if (size == 4) {
    uint32_t word;
    std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
    return word;
  }
  uint64_t word;
  std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
  return word;
}

// The i-th field of a record laid out as `fields`.
template <size_t N>
uint64_t FieldAt(const void* record, const size_t (&fields)[N], size_t i) {
  return WordAt(record, Layout<N>(fields).offset[i], fields[i]);
}

// An address as the host's word holds it.
inline uint64_t WordOf(const void* address) { return reinterpret_cast<uintptr_t>(address); }

}  // namespace host_layout

#endif  // TESTS_HOSTLAYOUT_H
